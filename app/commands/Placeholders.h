// The placeholders of an external command line, and filling them with a row's
// values. Filling replaces every occurrence left to right and never looks at what
// it put in, so a value that holds a placeholder's text (a hostile host name, say)
// stays as it is.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tavrin::commands {

// In the order in which the open ones are asked before a run; %UserIn% comes last
// and is asked once per occurrence.
inline constexpr std::array<std::string_view, 14> kAskedPlaceholders = {
    "%LocalAddr%",    "%LocalPort%",   "%RemoteAddr%", "%RemotePort%",  "%RemoteHost%",
    "%RemoteDomain%", "%ProcessName%", "%ProcessID%",  "%ProcessPath%", "%ProcessDir%",
    "%SrcAddr%",      "%SrcPort%",     "%DestAddr%",   "%DestPort%"};
inline constexpr std::string_view kUserInput = "%UserIn%";

// Placeholder → value, for the placeholders a row knows.
using PlaceholderValues = std::vector<std::pair<std::string_view, std::string>>;

// Every occurrence of `placeholder` replaced by `value`.
std::string fillPlaceholder(std::string_view line, std::string_view placeholder,
                            std::string_view value);
// Only the first occurrence (for %UserIn%, asked once per occurrence).
std::string fillFirst(std::string_view line, std::string_view placeholder, std::string_view value);
// Every placeholder of `values`, in their order.
std::string fillRow(std::string_view line, const PlaceholderValues& values);

} // namespace tavrin::commands
