// Small text helpers for names and file lines that several modules compare and cut.
#pragma once

#include <string_view>

namespace tavrin {

// Equal without regard to ASCII case. Bytes of multi-byte UTF-8 characters are all
// above 0x7F and are compared exactly, so no character is matched by halves.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

} // namespace tavrin
