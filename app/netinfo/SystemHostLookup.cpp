#include "HostLookup.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tavrin {

std::optional<std::string> SystemHostLookup::localHostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof(name) - 1) != 0 || name[0] == '\0')
        return std::nullopt;
    return std::string(name);
}

bool SystemHostLookup::resolvesToAddress(const std::string& name) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* result = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &result) != 0)
        return false;
    const bool found = result != nullptr;
    ::freeaddrinfo(result);
    return found;
}

std::optional<HostEntry> SystemHostLookup::reverse(uint32_t address) {
    in_addr in{};
    in.s_addr = address;
    std::vector<char> buffer(1024);
    hostent entry{};
    hostent* result = nullptr;
    int hostError = 0;
    for (;;) {
        const int status = ::gethostbyaddr_r(&in, sizeof(in), AF_INET, &entry, buffer.data(),
                                             buffer.size(), &result, &hostError);
        if (status == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (status != 0 || result == nullptr)
            return std::nullopt;
        break;
    }
    HostEntry host;
    if (result->h_name != nullptr)
        host.officialName = result->h_name;
    for (char** alias = result->h_aliases; alias != nullptr && *alias != nullptr; ++alias)
        host.aliases.emplace_back(*alias);
    return host;
}

} // namespace tavrin
