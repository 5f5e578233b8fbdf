#include "Traffic.h"

#include "TestHosts.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace ovlank::test {
namespace {

sockaddr_in socketAddress(const std::string& address, uint16_t port) {
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = htons(port);
    in.sin_addr.s_addr = ::inet_addr(address.c_str());
    return in;
}

int boundSocket(const std::string& ns, int type, const std::string& address, uint16_t port) {
    int fd = -1;
    TestHosts::inNamespace(ns, [&] {
        fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
        const int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
        const sockaddr_in in = socketAddress(address, port);
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&in), sizeof(in)) != 0) {
            ::close(fd);
            fd = -1;
        }
    });
    return fd;
}

} // namespace

int udpSocket(const std::string& ns, const std::string& address, uint16_t port) {
    return boundSocket(ns, SOCK_DGRAM, address, port);
}

int tcpListener(const std::string& ns, const std::string& address, uint16_t port) {
    const int fd = boundSocket(ns, SOCK_STREAM, address, port);
    if (fd >= 0 && ::listen(fd, 16) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int tcpConnect(const std::string& ns, const std::string& address, uint16_t port,
               int timeoutMilliseconds) {
    int fd = -1;
    TestHosts::inNamespace(ns, [&] { fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); });
    if (fd < 0) {
        return -1;
    }
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    const sockaddr_in in = socketAddress(address, port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&in), sizeof(in)) != 0 &&
        errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    pollfd wait{fd, POLLOUT, 0};
    int error = 0;
    socklen_t length = sizeof(error);
    if (::poll(&wait, 1, timeoutMilliseconds) != 1 ||
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, 0);
    return fd;
}

uint16_t localPort(int fd) {
    sockaddr_in in{};
    socklen_t length = sizeof(in);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&in), &length);
    return ntohs(in.sin_port);
}

bool sendDatagram(int fd, const std::string& address, uint16_t port, size_t payloadSize) {
    std::vector<uint8_t> payload(payloadSize, 0x42);
    const sockaddr_in in = socketAddress(address, port);
    return ::sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<const sockaddr*>(&in),
                    sizeof(in)) == static_cast<ssize_t>(payloadSize);
}

size_t receiveDatagrams(int fd, size_t expected, int quietMilliseconds) {
    std::vector<uint8_t> buffer(65536);
    size_t count = 0;
    while (count < expected) {
        pollfd wait{fd, POLLIN, 0};
        if (::poll(&wait, 1, quietMilliseconds) != 1) {
            break;
        }
        if (::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT) >= 0) {
            ++count;
        }
    }
    return count;
}

bool sendAll(int fd, const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::send(fd, bytes, size, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

size_t receiveBytes(int fd, size_t size, int timeoutMilliseconds) {
    std::vector<uint8_t> buffer(1 << 16);
    size_t got = 0;
    while (got < size) {
        pollfd wait{fd, POLLIN, 0};
        if (::poll(&wait, 1, timeoutMilliseconds) != 1) {
            break;
        }
        const ssize_t n = ::recv(fd, buffer.data(), std::min(buffer.size(), size - got), 0);
        if (n <= 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    return got;
}

int acceptWithin(int listener, int timeoutMilliseconds) {
    pollfd wait{listener, POLLIN, 0};
    if (::poll(&wait, 1, timeoutMilliseconds) != 1) {
        return -1;
    }
    return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

} // namespace ovlank::test
