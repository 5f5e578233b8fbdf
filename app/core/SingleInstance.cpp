#include "SingleInstance.h"

#include "PrivateFolder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace tavrin::core {

namespace {

constexpr char kShowRequest[] = "show\n";
constexpr char kShowAnswer[] = "ok\n";
constexpr int kAnswerWaitMs = 2000;

bool socketAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

// Reads until `expected` arrived, the peer closed, or the wait ran out.
bool receiveText(int fd, const char* expected, int waitMs) {
    const size_t length = std::strlen(expected);
    std::string got;
    while (got.size() < length) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, waitMs) <= 0)
            return false;
        char buffer[16];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0)
            return false;
        got.append(buffer, static_cast<size_t>(n));
    }
    return got.compare(0, length, expected) == 0;
}

} // namespace

SingleInstance::SingleInstance(std::string folder, std::string name)
    : m_folder(std::move(folder)), m_name(std::move(name)) {}

SingleInstance::~SingleInstance() {
    if (m_listenFd >= 0) {
        ::close(m_listenFd);
        ::unlink(socketPath().c_str());
    }
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

std::string SingleInstance::socketPath() const {
    return m_folder + "/" + m_name + ".sock";
}

SingleInstance::Result SingleInstance::acquire() {
    const int folder = openPrivateFolder(m_folder, m_error);
    if (folder < 0)
        return Result::Failed;
    const std::string lockName = m_name + ".lock";
    m_lockFd = ::openat(folder, lockName.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    ::close(folder);
    if (m_lockFd < 0) {
        m_error = m_folder + "/" + lockName + ": " + std::strerror(errno);
        return Result::Failed;
    }
    if (::flock(m_lockFd, LOCK_EX | LOCK_NB) == 0)
        return Result::First;
    if (errno != EWOULDBLOCK) {
        m_error = m_folder + "/" + lockName + ": " + std::strerror(errno);
        return Result::Failed;
    }
    ::close(m_lockFd);
    m_lockFd = -1;

    sockaddr_un address{};
    if (!socketAddress(socketPath(), address))
        return Result::OtherNotReady;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Result::OtherNotReady;
    bool restored = false;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, kShowRequest, std::strlen(kShowRequest), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(std::strlen(kShowRequest))) {
        restored = receiveText(fd, kShowAnswer, kAnswerWaitMs);
    }
    ::close(fd);
    return restored ? Result::OtherRestored : Result::OtherNotReady;
}

bool SingleInstance::announceWindow() {
    if (m_lockFd < 0 || m_listenFd >= 0)
        return m_listenFd >= 0;
    sockaddr_un address{};
    const std::string path = socketPath();
    if (!socketAddress(path, address)) {
        m_error = path + ": path too long";
        return false;
    }
    // Only the lock holder gets here, so a socket file left behind is stale.
    ::unlink(path.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::chmod(path.c_str(), 0600) != 0 || ::listen(fd, 8) != 0) {
        m_error = path + ": " + std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    m_listenFd = fd;
    return true;
}

int SingleInstance::takeShowRequests() {
    if (m_listenFd < 0)
        return 0;
    int requests = 0;
    while (true) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            break;
        // A knock that says nothing recognisable within a short wait is dropped.
        if (receiveText(fd, kShowRequest, 200)) {
            ::send(fd, kShowAnswer, std::strlen(kShowAnswer), MSG_NOSIGNAL);
            ++requests;
        }
        ::close(fd);
    }
    return requests;
}

} // namespace tavrin::core
