// The JSON that tavrinctl prints (`show --json`, `connections --json`): one
// document per line, keys in the order they were added.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace tavrin::ctl {

using Json = nlohmann::ordered_json;

// The document on one line, ending in a line break. It is valid JSON for any text
// it holds: control characters are escaped, and each byte that belongs to no
// well-formed UTF-8 character (a file name or a settings text in another encoding)
// becomes U+FFFD, as JSON has no way to carry a raw byte.
std::string jsonLine(const Json& document);

// A text, or null for an empty one (a host name that is not known).
Json textOrNull(std::string_view text);

} // namespace tavrin::ctl
