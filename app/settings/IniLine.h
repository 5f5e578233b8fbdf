// One "KEY=value" line of the settings file cut into its key and items, and the
// conversions of an item into the kinds of value the file holds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::settings {

struct IniLine {
    std::string key;
    // Every item of the value in order, empty ones included, so that items that map to
    // positions keep their place.
    std::vector<std::string> items;

    // The key runs to the first "=" (a value may itself hold "="), the items are the
    // rest cut at every "," (a CR in them reads as a blank). A line without "=" has no
    // key.
    static IniLine parse(std::string_view line);

    // The first item holding more than blanks, or nullptr when there is none.
    const std::string* firstValue() const;
};

// A text item without the blanks at either end: the writer drops them, so a text
// read with them (an item after a ",") would not read back as it was read.
std::string_view iniTextItem(std::string_view item);
// "TRUE" exactly is true.
bool iniBool(std::string_view item);
// Leading blanks, an optional sign, then decimal digits up to the first other
// character; no digits give 0; values past the 32-bit range stop at its ends.
int32_t iniInt(std::string_view item);
// Dotted decimal as the system's address parser reads it; text that is no address
// gives 255.255.255.255. Network order.
uint32_t iniAddress(std::string_view item);

const char* iniBoolText(int32_t value); // "TRUE", "FALSE", or "" for anything else
std::string iniIntList(const int32_t* values, size_t count);

} // namespace tavrin::settings
