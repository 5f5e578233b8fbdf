// What the kernel tests need: a network namespace of their own, sockets on its
// loopback, and peer processes that own sockets.
#pragma once

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tavrin::test {

// Moves the calling thread (the test's main thread) into a new, empty network
// namespace with its loopback up, and back on destruction. The namespace has no
// name and disappears with its last socket, so a failing test leaves nothing behind.
class NetnsScope {
public:
    NetnsScope() {
        m_original = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        if (m_original < 0 || ::unshare(CLONE_NEWNET) != 0) {
            m_error = std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno);
            return;
        }
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ifreq request{};
        std::strcpy(request.ifr_name, "lo");
        if (::ioctl(fd, SIOCGIFFLAGS, &request) == 0) {
            request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
            if (::ioctl(fd, SIOCSIFFLAGS, &request) != 0)
                m_error = std::string("lo up: ") + std::strerror(errno);
        }
        ::close(fd);
    }
    ~NetnsScope() {
        if (m_original >= 0) {
            ::setns(m_original, CLONE_NEWNET);
            ::close(m_original);
        }
    }
    NetnsScope(const NetnsScope&) = delete;
    NetnsScope& operator=(const NetnsScope&) = delete;

    // Empty when the namespace is ready.
    const std::string& error() const { return m_error; }

private:
    int m_original = -1;
    std::string m_error;
};

class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept : m_fd(other.release()) {}
    Fd& operator=(Fd&& other) noexcept {
        reset(other.release());
        return *this;
    }
    int get() const { return m_fd; }
    int release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

inline sockaddr_in loopbackAddress(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

// The local port of an IPv4 or IPv6 socket.
inline uint16_t boundPort(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    uint16_t port = 0;
    if (address.ss_family == AF_INET6)
        std::memcpy(&port,
                    reinterpret_cast<const char*>(&address) + offsetof(sockaddr_in6, sin6_port),
                    sizeof(port));
    else
        std::memcpy(&port,
                    reinterpret_cast<const char*>(&address) + offsetof(sockaddr_in, sin_port),
                    sizeof(port));
    return ntohs(port);
}

// A listening socket on 127.0.0.1 (any port when `port` is 0).
inline Fd listenOnLoopback(uint16_t port = 0) {
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    const sockaddr_in address = loopbackAddress(port);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(fd.get(), 16) != 0)
        throw std::runtime_error(std::string("listen: ") + std::strerror(errno));
    return fd;
}

inline Fd connectToLoopback(uint16_t port) {
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in address = loopbackAddress(port);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
        throw std::runtime_error(std::string("connect: ") + std::strerror(errno));
    return fd;
}

// A TCP connection over 127.0.0.1 with its listener, both ends held by this process.
struct LoopbackConnection {
    Fd listener = listenOnLoopback();
    uint16_t serverPort = boundPort(listener.get());
    Fd client = connectToLoopback(serverPort);
    Fd server{::accept(listener.get(), nullptr, nullptr)};
    uint16_t clientPort = boundPort(client.get());
};

// The kernel's stored forms, for comparing with table records.
inline uint32_t storedPort(uint16_t hostPort) {
    return htons(hostPort);
}
inline uint32_t storedLoopback() {
    return htonl(INADDR_LOOPBACK);
}

// A netinfo_peer process talking over pipes. Killed and reaped on destruction.
class Peer {
public:
    explicit Peer(const char* program) {
        int toChild[2];
        int fromChild[2];
        if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(toChild[0], STDIN_FILENO);
            ::dup2(fromChild[1], STDOUT_FILENO);
            ::execl(program, program, static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(toChild[0]);
        ::close(fromChild[1]);
        m_in = Fd(toChild[1]);
        m_out = Fd(fromChild[0]);
    }
    ~Peer() { end(); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    pid_t pid() const { return m_pid; }

    // Sends one command and returns the answer line; throws when none comes within
    // a generous bound, so that a broken peer fails the test instead of hanging it.
    std::string command(const std::string& line) {
        const std::string text = line + "\n";
        if (::write(m_in.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size()))
            throw std::runtime_error("peer: write");
        std::string answer;
        for (;;) {
            pollfd wait{m_out.get(), POLLIN, 0};
            if (::poll(&wait, 1, 10000) != 1)
                throw std::runtime_error("peer: no answer to " + line);
            char c;
            if (::read(m_out.get(), &c, 1) != 1)
                throw std::runtime_error("peer: ended during " + line);
            if (c == '\n')
                return answer;
            answer += c;
        }
    }

    // The number after the first word of the answer ("port 4711" gives 4711).
    int commandNumber(const std::string& line) {
        const std::string answer = command(line);
        const size_t blank = answer.find(' ');
        if (answer.rfind("error", 0) == 0 || blank == std::string::npos)
            throw std::runtime_error("peer: " + line + ": " + answer);
        return std::stoi(answer.substr(blank + 1));
    }

    // Ends the peer and waits for it.
    void end() {
        if (m_pid <= 0)
            return;
        m_in.reset();
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
    Fd m_in;
    Fd m_out;
};

// A process this test adopted (as child subreaper): killed and reaped when the
// scope ends, whether the test passed or not.
class Adopted {
public:
    explicit Adopted(pid_t pid) : m_pid(pid) {}
    ~Adopted() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    Adopted(const Adopted&) = delete;
    Adopted& operator=(const Adopted&) = delete;
    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid;
};

} // namespace tavrin::test
