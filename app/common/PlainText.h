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

// "192.168.0.2" for an address held in network order.
std::string dottedAddress(uint32_t networkOrder);

} // namespace tavrin
