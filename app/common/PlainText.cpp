#include "PlainText.h"

#include <cstdio>
#include <cstring>

namespace tavrin {

namespace {

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    }
    return true;
}

size_t utf8SequenceLength(std::string_view s) {
    if (s.empty())
        return 0;
    const auto b0 = static_cast<unsigned char>(s[0]);
    if (b0 < 0x80)
        return 1;
    size_t len = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        if (b0 == 0xE0)
            lo = 0xA0; // overlong
        if (b0 == 0xED)
            hi = 0x9F; // surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        if (b0 == 0xF0)
            lo = 0x90;
        if (b0 == 0xF4)
            hi = 0x8F;
    } else {
        return 0;
    }
    if (s.size() < len)
        return 0;
    const auto b1 = static_cast<unsigned char>(s[1]);
    if (b1 < lo || b1 > hi)
        return 0;
    for (size_t i = 2; i < len; ++i)
        if ((static_cast<unsigned char>(s[i]) & 0xC0u) != 0x80u)
            return 0;
    return len;
}

std::string_view utf8Prefix(std::string_view text, size_t maxBytes) {
    if (text.size() <= maxBytes)
        return text;
    const auto continuation = [&](size_t i) {
        return (static_cast<unsigned char>(text[i]) & 0xC0u) == 0x80u;
    };
    size_t end = maxBytes;
    // A UTF-8 character has at most three continuation bytes.
    for (int step = 0; step < 3 && end > 0 && continuation(end); ++step)
        --end;
    if (continuation(end))
        end = maxBytes;
    return text.substr(0, end);
}

namespace {

// The width of the character at the start of `text` and its length in bytes.
struct LegacyCharacter {
    size_t width;
    size_t bytes;
};

LegacyCharacter legacyCharacterAt(std::string_view text) {
    const size_t len = utf8SequenceLength(text);
    if (len == 0)
        return {2, 1};
    if (len == 1)
        return {1, 1};
    // U+FF61 to U+FF9F: EF BD A1 to EF BD BF and EF BE 80 to EF BE 9F.
    const auto b1 = static_cast<unsigned char>(text[1]);
    const auto b2 = static_cast<unsigned char>(len == 3 ? text[2] : 0);
    const bool halfWidthKatakana = len == 3 && static_cast<unsigned char>(text[0]) == 0xEF &&
                                   ((b1 == 0xBD && b2 >= 0xA1) || (b1 == 0xBE && b2 <= 0x9F));
    return {halfWidthKatakana ? size_t{1} : size_t{2}, len};
}

} // namespace

size_t legacyTextWidth(std::string_view utf8) {
    size_t width = 0;
    while (!utf8.empty()) {
        const LegacyCharacter c = legacyCharacterAt(utf8);
        width += c.width;
        utf8.remove_prefix(c.bytes);
    }
    return width;
}

std::string_view legacyTextPrefix(std::string_view utf8, size_t maxWidth) {
    size_t width = 0;
    size_t end = 0;
    while (end < utf8.size()) {
        const LegacyCharacter c = legacyCharacterAt(utf8.substr(end));
        if (width + c.width > maxWidth)
            break;
        width += c.width;
        end += c.bytes;
    }
    return utf8.substr(0, end);
}

bool takeLine(std::string_view& text, std::string_view& line) {
    if (text.empty())
        return false;
    const size_t end = text.find('\n');
    line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return true;
}

bool hasLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool isStorableText(std::string_view text) {
    return text.find(',') == std::string_view::npos && !hasLineBreakOrNul(text);
}

std::string escapeControlBytes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", u);
            out += buf;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string dottedAddress(uint32_t networkOrder) {
    unsigned char b[4];
    std::memcpy(b, &networkOrder, sizeof b);
    char text[16]; // "255.255.255.255" and its NUL
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return text;
}

} // namespace tavrin
