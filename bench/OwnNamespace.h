// Moves the calling process into a network namespace of its own with loopback up,
// so that the connections a benchmark makes are the only ones the kernel lists.
// Returns nullptr, or the step that failed (errno tells why).
#pragma once

#include <cstring>

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

inline const char* enterOwnNamespace() {
    if (::unshare(CLONE_NEWNET) != 0)
        return "unshare(CLONE_NEWNET) (run as root)";
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request{};
    std::strcpy(request.ifr_name, "lo");
    ::ioctl(fd, SIOCGIFFLAGS, &request);
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    const bool up = ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    ::close(fd);
    return up ? nullptr : "lo up";
}
