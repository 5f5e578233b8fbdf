// Small text helpers that several modules share: names compared, file lines cut and
// checked, addresses written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tavrin {

// Equal without regard to ASCII case. Bytes of multi-byte UTF-8 characters are all
// above 0x7F and are compared exactly, so no character is matched by halves.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

// Takes the first line off `text`: up to its first LF, without the CR of a CR LF
// ending (files of the Windows version end their lines so). False once `text` is
// empty, so a final line break opens no further, empty line.
bool takeLine(std::string_view& text, std::string_view& line);

// Whether the text holds a CR, an LF or a NUL: written to a file it would not stay
// one line (or would be cut at the NUL).
bool hasLineBreakOrNul(std::string_view text);

// Whether the text can be one value of the settings and command files and read back
// the same: no line break, no NUL, and no "," (where reading ends a text). Editors
// refuse texts that fail it; the writers refuse to store them.
bool isStorableText(std::string_view text);

// The text with every control byte shown as \xNN, so that a file's contents cannot
// drive the terminal they are printed on; other bytes as they are.
std::string escapeControlBytes(std::string_view text);

// Length of the well-formed UTF-8 sequence at the start of `text` (1 to 4); 0 when
// it does not start with one: a stray or cut sequence, an overlong form, a surrogate.
size_t utf8SequenceLength(std::string_view text);

// The longest prefix of `text` of at most `maxBytes` bytes that does not end inside
// a UTF-8 character. Bytes that are not UTF-8 after all are cut at the limit, so a
// run of stray continuation bytes is never cut down to nothing.
std::string_view utf8Prefix(std::string_view text, size_t maxBytes);

// How long a text is for the limits of names, comments and other texts of the
// settings: the Windows version kept them in its code page and counted bytes, so
// ASCII and half-width katakana (U+FF61 to U+FF9F) count 1 and every other
// character 2. A byte that starts no well-formed UTF-8 sequence counts 2, as the
// replacement it would be shown as. Editors limit their input with it (a filter's
// name to 99, its comment to 127), so that a user has the room the Windows version
// gave: 99 ASCII letters, or 49 kanji.
size_t legacyTextWidth(std::string_view utf8);

// The longest prefix of `utf8` whose legacyTextWidth is at most `maxWidth`. It never
// ends inside a character: a kanji that would need the last column alone is left
// out, so the prefix may be one narrower than the limit.
std::string_view legacyTextPrefix(std::string_view utf8, size_t maxWidth);

// "192.168.0.2" for an address held in network order.
std::string dottedAddress(uint32_t networkOrder);

} // namespace tavrin
