#include "IniLine.h"

#include "NumberText.h"

#include <arpa/inet.h>

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
        std::string& item = result.items.emplace_back(value.substr(0, comma));
        // A lone CR (a hand-edited file) reads as a blank, so that every text read
        // can be written back.
        for (char& c : item)
            if (c == '\r')
                c = ' ';
        if (comma == std::string_view::npos)
            break;
        value.remove_prefix(comma + 1);
    }
    return result;
}

const std::string* IniLine::firstValue() const {
    // An item of blanks only counts as empty: the writer never writes one, and a
    // text read from it would be written back as an empty value that reads as the
    // default, so the file would not say what the model holds. Lists are different:
    // there a blank item is a number like any other and reads as 0, as the file
    // format always had it, and a column list keeps every item at its position.
    for (const std::string& item : items)
        if (!iniTextItem(item).empty())
            return &item;
    return nullptr;
}

std::string_view iniTextItem(std::string_view item) {
    const size_t first = item.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return item.substr(first, item.find_last_not_of(" \t") - first + 1);
}

bool iniBool(std::string_view item) {
    return item == "TRUE";
}

int32_t iniInt(std::string_view item) {
    return leadingInt32(item);
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
