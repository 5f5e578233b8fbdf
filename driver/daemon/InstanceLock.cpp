#include "InstanceLock.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace ovlank {

std::unique_ptr<InstanceLock> InstanceLock::claim(const std::string& name, std::string& error) {
    // Abstract socket names belong to the network namespace, as queues and chains do.
    const std::string full = "tavrin-ovlank/" + name;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (full.size() + 1 > sizeof(address.sun_path)) {
        error = "the name " + name + " is too long";
        return nullptr;
    }
    std::memcpy(address.sun_path + 1, full.data(), full.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + full.size());

    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = "cannot create a socket: " + std::string(std::strerror(errno));
        return nullptr;
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        const int bindError = errno;
        ::close(fd);
        error = bindError == EADDRINUSE ? std::string()
                                        : "cannot claim " + name + ": " + std::strerror(bindError);
        return nullptr;
    }
    return std::unique_ptr<InstanceLock>(new InstanceLock(fd));
}

InstanceLock::~InstanceLock() {
    ::close(m_fd);
}

} // namespace ovlank
