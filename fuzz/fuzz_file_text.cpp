// The decoding of settings and command files, and the text widths, on arbitrary
// bytes. The decoded text is always UTF-8 and has the file's lines one for one; a
// document made from it and saved without a change gives back every line that was
// not UTF-8 byte for byte, and every other line as it was; width cuts never exceed
// their limit nor end inside a character.
#include "FuzzCheck.h"
#include "PlainText.h"
#include "ProfileDocument.h"
#include "TextEncoding.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace {

size_t lineCount(std::string_view text) {
    size_t lines = 0;
    for (std::string_view line; tavrin::takeLine(text, line);)
        ++lines;
    return lines;
}

// The file as a document writes it back: lines end in LF alone, the last one too.
std::string normalised(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF"))
        bytes.remove_prefix(3);
    std::string out;
    for (std::string_view line; tavrin::takeLine(bytes, line);)
        out.append(line).push_back('\n');
    return out;
}

void checkWidths(std::string_view text) {
    const size_t width = tavrin::legacyTextWidth(text);
    for (size_t limit : {size_t{0}, size_t{1}, size_t{2}, size_t{63}, size_t{100}, size_t{127}}) {
        const std::string_view prefix = tavrin::legacyTextPrefix(text, limit);
        FUZZ_CHECK(text.starts_with(prefix), "a cut is a prefix");
        FUZZ_CHECK(tavrin::legacyTextWidth(prefix) <= limit, "a cut fits its limit");
        if (prefix.size() < text.size()) {
            // The next character would not have fitted.
            const size_t next =
                std::max<size_t>(1, tavrin::utf8SequenceLength(text.substr(prefix.size())));
            FUZZ_CHECK(tavrin::legacyTextWidth(text.substr(0, prefix.size() + next)) > limit,
                       "a cut keeps every character that fits");
        } else {
            FUZZ_CHECK(width <= limit, "a whole text fits");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavrin::settings;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    DecodedText decoded = decodeFileText(bytes);
    FUZZ_CHECK(isValidUtf8(decoded.text), "the decoded text is UTF-8");
    std::string_view withoutMark = bytes;
    if (withoutMark.starts_with("\xEF\xBB\xBF"))
        withoutMark.remove_prefix(3);
    FUZZ_CHECK(lineCount(decoded.text) == lineCount(withoutMark), "lines stay lines");
    checkWidths(decoded.text.substr(0, 300));

    const bool lineByLine = !decoded.originalLines.empty();
    FUZZ_CHECK(lineByLine == (decoded.firstUncleanLine != 0), "a note exactly when lines differ");
    size_t previous = 0;
    for (const auto& original : decoded.originalLines) {
        FUZZ_CHECK(original.line >= previous, "kept lines in order");
        FUZZ_CHECK(original.bytes.find('\n') == std::string::npos, "a kept line is one line");
        previous = original.line + 1;
    }
    if (lineByLine)
        FUZZ_CHECK(decoded.firstUncleanLine == decoded.originalLines.front().line + 1,
                   "the note names the first kept line");

    // A file read as UTF-8 or line by line is written back as it was.
    const bool asRead = lineByLine || isValidUtf8(withoutMark);
    const std::string saved = ProfileDocument::parse(std::move(decoded)).serialize();
    if (asRead)
        FUZZ_CHECK(saved == normalised(bytes), "an unchanged document gives the file back");
    return 0;
}
