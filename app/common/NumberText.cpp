#include "NumberText.h"

#include <algorithm>

namespace tavrin {

namespace {

bool isCSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

LeadingNumber readLeadingNumber(std::string_view text, uint64_t ceiling) {
    size_t i = 0;
    while (i < text.size() && isCSpace(text[i]))
        ++i;
    LeadingNumber n;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        n.negative = text[i] == '-';
        ++i;
    }
    for (; i < text.size() && isDigit(text[i]); ++i) {
        n.hasDigits = true;
        const auto digit = static_cast<uint64_t>(text[i] - '0');
        // magnitude * 10 + digit > ceiling, asked without computing it.
        if (ceiling < digit || n.magnitude > (ceiling - digit) / 10)
            n.magnitude = ceiling;
        else
            n.magnitude = n.magnitude * 10 + digit;
    }
    return n;
}

int32_t leadingInt32(std::string_view text) {
    // One past INT32_MAX, so that the lowest value is reached exactly and anything
    // larger still clamps.
    constexpr uint64_t kCeiling = uint64_t{INT32_MAX} + 1;
    const LeadingNumber n = readLeadingNumber(text, kCeiling);
    const int64_t value =
        n.negative ? -static_cast<int64_t>(n.magnitude) : static_cast<int64_t>(n.magnitude);
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

std::optional<uint64_t> parseWholeDecimal(std::string_view text) {
    if (text.empty() || text.size() > 19)
        return std::nullopt;
    uint64_t value = 0;
    for (const char c : text) {
        if (!isDigit(c))
            return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value;
}

} // namespace tavrin
