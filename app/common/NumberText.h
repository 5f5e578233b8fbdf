// Numbers read from text the way the settings, command and port texts have always
// been read.
#pragma once

#include <cstdint>
#include <string_view>

namespace tavrin {

// A number as C's atoi finds one: leading white space (space, \t to \r), an optional
// sign, then decimal digits up to the first other character.
struct LeadingNumber {
    bool negative = false;
    bool hasDigits = false;
    // The digits' value, saturated at the ceiling it was read with, so that a long run
    // of digits stays past any bound the caller checks and never wraps.
    uint64_t magnitude = 0;
};
LeadingNumber readLeadingNumber(std::string_view text, uint64_t ceiling);

// readLeadingNumber as a 32-bit value: no digits give 0, values past the range stop
// at its ends.
int32_t leadingInt32(std::string_view text);

} // namespace tavrin
