#include "SocketDevice.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
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

bool readAll(int fd, uint8_t* data, size_t length) {
    while (length > 0) {
        const ssize_t got = ::recv(fd, data, length, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false; // closed, timed out or failed
        data += got;
        length -= static_cast<size_t>(got);
    }
    return true;
}

} // namespace

SocketDevice::SocketDevice(int fd, std::chrono::milliseconds timeout) : m_fd(fd) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
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

    ovlank::WireReplyHead reply{};
    if (!readAll(m_fd, reinterpret_cast<uint8_t*>(&reply), sizeof reply) ||
        reply.information > outputLength) {
        disconnect();
        return std::nullopt;
    }
    if (reply.information > 0 && !readAll(m_fd, output.data(), reply.information)) {
        disconnect();
        return std::nullopt;
    }
    return ControlReply{reply.status, reply.information};
}

std::unique_ptr<DeviceLink> SocketDeviceOpener::open(const std::string& path, std::string& error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        error = "invalid device path";
        return nullptr;
    }
    std::memcpy(address.sun_path, path.data(), path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) {
        error = std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<SocketDevice>(fd, m_timeout);
}

} // namespace tavrin::core
