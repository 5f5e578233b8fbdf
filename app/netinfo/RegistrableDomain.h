// Cuts a resolved host name down to the domain an organisation registered, for the
// %RemoteDomain% placeholder of external commands.
#pragma once

#include <string>
#include <string_view>

namespace tavrin {

// Labels are compared without regard to ASCII case; the result keeps the case of
// the input. Empty when the name is a dotted address, has fewer than three labels,
// or has an empty label. One trailing dot (the absolute form) is ignored.
std::string registrableDomain(std::string_view hostName);

} // namespace tavrin
