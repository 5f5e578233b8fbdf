// Numbers read from text: leniently, the way the settings, command and port texts
// have always been read, and strictly, for the system's tables and our own records.
#pragma once

#include <cstdint>
#include <optional>
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

// A text of 1 to 19 decimal digits and nothing else (no blanks, no sign); nullopt for
// any other text. 19 digits always fit 64 bits.
std::optional<uint64_t> parseWholeDecimal(std::string_view text);

} // namespace tavrin
