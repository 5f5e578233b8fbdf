// Text of the settings and command files: UTF-8 here, CP932 (Shift JIS with the
// Windows extensions) in files that come from the Windows version.
#pragma once

#include <string>
#include <string_view>

namespace tavrin::settings {

bool isValidUtf8(std::string_view bytes);

// The file's text as UTF-8: valid UTF-8 stays as it is (a leading byte-order mark is
// dropped); anything else is read as CP932. Bytes that are not CP932 either become
// U+FFFD, so a damaged file still reads as far as it can.
std::string decodeFileText(std::string_view bytes);

} // namespace tavrin::settings
