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

// A later start knocks with "show KIND\n"; the first answers with its own "KIND\n".
constexpr char kWindowRequest[] = "show window\n";
constexpr char kHeadlessRequest[] = "show headless\n";
constexpr char kWindowAnswer[] = "window\n";
constexpr char kHeadlessAnswer[] = "headless\n";
constexpr size_t kLongestText = sizeof kHeadlessRequest - 1;
constexpr int kAnswerWaitMs = 2000;

bool socketAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

// Reads one line (up to kLongestText bytes and its line break) until it arrived,
// the peer closed, or the wait ran out; empty when no whole line came.
std::string receiveLine(int fd, int waitMs) {
    std::string got;
    while (got.find('\n') == std::string::npos) {
        if (got.size() > kLongestText)
            return {};
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, waitMs) <= 0)
            return {};
        char buffer[16];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0)
            return {};
        got.append(buffer, static_cast<size_t>(n));
    }
    return got.substr(0, got.find('\n') + 1);
}

bool sendText(int fd, const char* text) {
    const size_t length = std::strlen(text);
    return ::send(fd, text, length, MSG_NOSIGNAL) == static_cast<ssize_t>(length);
}

} // namespace

SingleInstance::SingleInstance(std::string folder, std::string name, Kind kind)
    : m_folder(std::move(folder)), m_name(std::move(name)), m_kind(kind) {}

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
    std::string answer;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        sendText(fd, m_kind == Kind::Window ? kWindowRequest : kHeadlessRequest)) {
        answer = receiveLine(fd, kAnswerWaitMs);
    }
    ::close(fd);
    if (answer == kWindowAnswer)
        return Result::OtherRestored;
    if (answer == kHeadlessAnswer)
        return Result::OtherHeadless;
    return Result::OtherNotReady;
}

bool SingleInstance::announce() {
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

SingleInstance::Knocks SingleInstance::takeShowRequests() {
    Knocks knocks;
    if (m_listenFd < 0)
        return knocks;
    while (true) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            break;
        // A knock that says nothing recognisable within a short wait is dropped.
        const std::string request = receiveLine(fd, 200);
        const bool window = request == kWindowRequest;
        if (window || request == kHeadlessRequest) {
            sendText(fd, m_kind == Kind::Window ? kWindowAnswer : kHeadlessAnswer);
            ++(window ? knocks.windows : knocks.headless);
        }
        ::close(fd);
    }
    return knocks;
}

} // namespace tavrin::core
