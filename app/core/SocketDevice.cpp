#include "SocketDevice.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

namespace tavrin::core {

namespace {

bool writeAll(int fd, iovec* vec, int count) {
    while (count > 0) {
        msghdr msg{};
        msg.msg_iov = vec;
        msg.msg_iovlen = static_cast<size_t>(count);
        const ssize_t sent = ::sendmsg(fd, &msg, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        auto left = static_cast<size_t>(sent);
        while (count > 0 && left >= vec->iov_len) {
            left -= vec->iov_len;
            ++vec;
            --count;
        }
        if (count > 0) {
            vec->iov_base = static_cast<uint8_t*>(vec->iov_base) + left;
            vec->iov_len -= left;
        }
    }
    return true;
}

using Clock = std::chrono::steady_clock;

int millisecondsUntil(Clock::time_point when) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(std::min<long long>(left, 60000));
}

bool fillAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

// A connected socket, or -1 with errno set. Never waits: a Unix socket whose
// listener has a full backlog answers EAGAIN instead of blocking.
int connectNow(const sockaddr_un& address) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

} // namespace

SocketDevice::SocketDevice(int fd, std::chrono::milliseconds timeout)
    : m_fd(fd), m_timeout(timeout) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

void SocketDevice::setStallHandler(std::chrono::milliseconds after, std::function<void()> handler) {
    m_stallAfter = after;
    m_stallHandler = std::move(handler);
}

bool SocketDevice::readUntil(uint8_t* data, size_t length, Clock::time_point deadline,
                             Clock::time_point stallAt, bool& stalled) {
    while (length > 0) {
        const bool stallFirst = m_stallHandler && !stalled && stallAt < deadline;
        pollfd ready{m_fd, POLLIN, 0};
        const int rc = ::poll(&ready, 1, millisecondsUntil(stallFirst ? stallAt : deadline));
        if (rc < 0 && errno != EINTR)
            return false;
        if (rc <= 0) {
            if (stallFirst && Clock::now() >= stallAt) {
                stalled = true;
                m_stallHandler();
            } else if (Clock::now() >= deadline) {
                return false; // no complete answer in time
            }
            continue;
        }
        const ssize_t got = ::recv(m_fd, data, length, MSG_DONTWAIT);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0)
            return false; // closed or failed
        data += got;
        length -= static_cast<size_t>(got);
    }
    return true;
}

SocketDevice::~SocketDevice() {
    disconnect();
}

void SocketDevice::disconnect() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

std::optional<ControlReply> SocketDevice::control(uint32_t code, std::span<const uint8_t> input,
                                                  std::span<uint8_t> output) {
    if (m_fd < 0)
        return std::nullopt;
    // The daemon drops a connection that announces more than a frame may hold; refuse
    // such a request here as the device would, and keep the connection.
    if (input.size() > ovlank::kMaxFrameLength)
        return ControlReply{ovlank::STATUS_INVALID_PARAMETER, 0};
    const size_t outputLength = std::min<size_t>(output.size(), ovlank::kMaxFrameLength);

    ovlank::WireRequestHead head{code, static_cast<uint32_t>(input.size()),
                                 static_cast<uint32_t>(outputLength)};
    iovec vec[2];
    vec[0].iov_base = &head;
    vec[0].iov_len = sizeof head;
    vec[1].iov_base = const_cast<uint8_t*>(input.data());
    vec[1].iov_len = input.size();
    if (!writeAll(m_fd, vec, input.empty() ? 1 : 2)) {
        disconnect();
        return std::nullopt;
    }

    // One time limit for the whole answer, and one stall mark.
    const auto begin = Clock::now();
    const auto deadline = begin + m_timeout;
    const auto stallAt = begin + m_stallAfter;
    bool stalled = false;
    ovlank::WireReplyHead reply{};
    if (!readUntil(reinterpret_cast<uint8_t*>(&reply), sizeof reply, deadline, stallAt, stalled) ||
        reply.information > outputLength) {
        disconnect();
        return std::nullopt;
    }
    if (reply.information > 0 &&
        !readUntil(output.data(), reply.information, deadline, stallAt, stalled)) {
        disconnect();
        return std::nullopt;
    }
    return ControlReply{reply.status, reply.information};
}

std::unique_ptr<DeviceLink> SocketDeviceOpener::open(const std::string& path, std::string& error) {
    sockaddr_un address;
    if (!fillAddress(path, address)) {
        error = "invalid device path";
        return nullptr;
    }
    const int fd = connectNow(address);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    return std::make_unique<SocketDevice>(fd, m_timeout);
}

bool SocketDeviceOpener::refuses(const std::string& path) {
    sockaddr_un address;
    if (!fillAddress(path, address))
        return true;
    const int fd = connectNow(address);
    if (fd >= 0) {
        ::close(fd);
        return false;
    }
    // Missing, or a socket file nobody listens on; EAGAIN is a listener that is
    // there but does not take connections now.
    return errno == ENOENT || errno == ECONNREFUSED || errno == ENOTSOCK;
}

} // namespace tavrin::core
