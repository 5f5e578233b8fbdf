#include "ServiceNotify.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tavrin {

bool notifyServiceManager(std::string_view state) {
    return notifyServiceManager(state, std::getenv("NOTIFY_SOCKET"));
}

bool notifyServiceManager(std::string_view state, const char* socketName) {
    if (socketName == nullptr)
        return false;
    const std::string_view name(socketName);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (name.size() < 2 || name.size() >= sizeof address.sun_path ||
        (name.front() != '/' && name.front() != '@'))
        return false;
    std::memcpy(address.sun_path, name.data(), name.size());
    if (name.front() == '@')
        address.sun_path[0] = '\0'; // an abstract socket
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const ssize_t sent = ::sendto(fd, state.data(), state.size(), MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&address), length);
    ::close(fd);
    return sent == static_cast<ssize_t>(state.size());
}

} // namespace tavrin
