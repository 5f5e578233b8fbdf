#include "IniLine.h"

#include <algorithm>
#include <arpa/inet.h>
#include <climits>

namespace tavrin::settings {

IniLine IniLine::parse(std::string_view line) {
    IniLine result;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos)
        return result;
    result.key = std::string(line.substr(0, eq));
    std::string_view value = line.substr(eq + 1);
    for (;;) {
        const size_t comma = value.find(',');
        result.items.emplace_back(value.substr(0, comma));
        if (comma == std::string_view::npos)
            break;
        value.remove_prefix(comma + 1);
    }
    return result;
}

const std::string* IniLine::firstValue() const {
    // An item of blanks only counts as empty: the writer never writes one, and a
    // text read from it would be written back as an empty value that reads as the
    // default, so the file would not say what the model holds.
    for (const std::string& item : items)
        if (item.find_first_not_of(" \t") != std::string::npos)
            return &item;
    return nullptr;
}

bool iniBool(std::string_view item) {
    return item == "TRUE";
}

int32_t iniInt(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
        value = std::min<long long>(value * 10 + (s[i] - '0'), static_cast<long long>(INT_MAX) + 1);
    if (negative)
        value = -value;
    return static_cast<int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

uint32_t iniAddress(std::string_view item) {
    const std::string text(item);
    in_addr addr{};
    if (::inet_aton(text.c_str(), &addr) == 0)
        return 0xFFFFFFFFu;
    return addr.s_addr;
}

const char* iniBoolText(int32_t value) {
    return value == 1 ? "TRUE" : value == 0 ? "FALSE" : "";
}

std::string iniAddressText(uint32_t networkOrder) {
    in_addr addr{};
    addr.s_addr = networkOrder;
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &addr, text, sizeof text);
    return text;
}

std::string iniIntList(const int32_t* values, size_t count) {
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        if (i != 0)
            out.push_back(',');
        out.append(std::to_string(values[i]));
    }
    return out;
}

} // namespace tavrin::settings
