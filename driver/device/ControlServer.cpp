#include "ControlServer.h"

#include "Engine.h"
#include "RequestFraming.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace ovlank {

using tavrin::journal::Priority;
namespace {

// Tags in the epoll data that are not file descriptors.
constexpr uint64_t kListenTag = 1ull << 40;
constexpr uint64_t kWakeTag = 2ull << 40;
constexpr uint64_t kWatchTag = 4ull << 40;

[[noreturn]] void fail(const char* what) {
    throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

} // namespace

ControlServer::ControlServer(int listenFd, Handler handler, Log log)
    : m_listenFd(listenFd), m_epollFd(::epoll_create1(EPOLL_CLOEXEC)),
      m_wakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), m_handler(std::move(handler)),
      m_log(std::move(log)), m_scratch(kMaxFrameLength) {
    if (m_epollFd < 0 || m_wakeFd < 0) {
        fail("cannot set up the control loop");
    }
    epoll_event listenEvent{EPOLLIN, {.u64 = kListenTag}};
    epoll_event wakeEvent{EPOLLIN, {.u64 = kWakeTag}};
    if (::epoll_ctl(m_epollFd, EPOLL_CTL_ADD, m_listenFd, &listenEvent) != 0 ||
        ::epoll_ctl(m_epollFd, EPOLL_CTL_ADD, m_wakeFd, &wakeEvent) != 0) {
        fail("cannot watch the control socket");
    }
}

ControlServer::~ControlServer() {
    for (auto& [fd, client] : m_clients) {
        ::close(fd);
    }
    ::close(m_wakeFd);
    ::close(m_epollFd);
}

void ControlServer::watch(int fd, std::function<void()> onReadable) {
    epoll_event event{EPOLLIN, {.u64 = kWatchTag | static_cast<uint32_t>(fd)}};
    if (::epoll_ctl(m_epollFd, EPOLL_CTL_ADD, fd, &event) != 0) {
        fail("cannot watch a descriptor");
    }
    m_watches[fd] = std::move(onReadable);
}

void ControlServer::stop() {
    const uint64_t one = 1;
    // Nothing to do on failure: the counter is already non-zero then.
    [[maybe_unused]] const auto written = ::write(m_wakeFd, &one, sizeof(one));
}

void ControlServer::run() {
    std::array<epoll_event, 64> events{};
    while (!m_stopping) {
        const int count = ::epoll_wait(m_epollFd, events.data(), events.size(), -1);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("waiting for control requests failed");
        }
        for (int i = 0; i < count && !m_stopping; ++i) {
            const uint64_t tag = events[i].data.u64;
            if (tag == kListenTag) {
                acceptClients();
            } else if (tag == kWakeTag) {
                m_stopping = true;
            } else if ((tag & kWatchTag) != 0) {
                const int fd = static_cast<int>(tag & 0xFFFFFFFFu);
                if (auto it = m_watches.find(fd); it != m_watches.end()) {
                    it->second();
                }
            } else {
                onClientEvent(static_cast<int>(tag), events[i].events);
            }
        }
    }
}

bool ControlServer::peerAllowed(int fd) {
    ucred credentials{};
    socklen_t length = sizeof(credentials);
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
        m_log(Priority::Warning, "refused a client whose credentials cannot be read: " +
                                     std::string(std::strerror(errno)));
        return false;
    }
    if (credentials.uid != 0 && credentials.uid != ::geteuid()) {
        m_log(Priority::Warning, "refused a client running as uid " +
                                     std::to_string(credentials.uid) + " (pid " +
                                     std::to_string(credentials.pid) + ")");
        return false;
    }
    return true;
}

void ControlServer::acceptClients() {
    for (;;) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR &&
                errno != ECONNABORTED) {
                m_log(Priority::Error,
                      "cannot accept a client: " + std::string(std::strerror(errno)));
            }
            return;
        }
        if (!peerAllowed(fd)) {
            ::close(fd);
            continue;
        }
        if (m_clients.size() >= kMaxClients) {
            m_log(Priority::Warning,
                  "refused a client: " + std::to_string(kMaxClients) + " clients are connected");
            ::close(fd);
            continue;
        }
        epoll_event event{EPOLLIN, {.u64 = static_cast<uint32_t>(fd)}};
        if (::epoll_ctl(m_epollFd, EPOLL_CTL_ADD, fd, &event) != 0) {
            ::close(fd);
            continue;
        }
        m_clients[fd].fd = fd;
    }
}

void ControlServer::onClientEvent(int fd, uint32_t events) {
    auto it = m_clients.find(fd);
    if (it == m_clients.end()) {
        return;
    }
    Client& client = it->second;
    bool keep = (events & EPOLLERR) == 0;
    if (keep && (events & EPOLLOUT) != 0) {
        keep = flush(client) && serveBuffered(client);
    }
    if (keep && (events & (EPOLLIN | EPOLLHUP)) != 0) {
        // A hang-up while the client's requests wait on its unread replies ends it.
        keep = client.readingPaused ? (events & EPOLLHUP) == 0 : readFrom(client);
    }
    if (!keep) {
        closeClient(fd);
        return;
    }
    updateInterest(client);
}

bool ControlServer::readFrom(Client& client) {
    std::array<uint8_t, 65536> chunk{};
    // Bounded per event so that one busy client cannot starve the others.
    for (int round = 0; round < 16 && !client.readingPaused; ++round) {
        const ssize_t got = ::read(client.fd, chunk.data(), chunk.size());
        if (got == 0) {
            return false; // the client is gone; a request cut short dies with it
        }
        if (got < 0) {
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        }
        client.input.insert(client.input.end(), chunk.begin(), chunk.begin() + got);
        if (!serveBuffered(client)) {
            return false;
        }
    }
    return true;
}

bool ControlServer::serveBuffered(Client& client) {
    size_t offset = 0;
    bool keep = true;
    for (;;) {
        if (client.output.size() - client.outputSent > kMaxPendingReplyBytes) {
            client.readingPaused = true; // resumes once the client reads its replies
            break;
        }
        client.readingPaused = false;
        const auto parsed = parseRequest(std::span(client.input).subspan(offset));
        if (parsed.state == FrameState::TooLarge) {
            m_log(Priority::Warning, "closed a client that sent a request of " +
                                         std::to_string(parsed.head.inputLength) + " input and " +
                                         std::to_string(parsed.head.outputLength) +
                                         " output bytes");
            keep = false;
            break;
        }
        if (parsed.state == FrameState::Incomplete) {
            break;
        }
        // The handler writes the first `information` bytes of its output; only those
        // are sent, so the buffer needs no clearing between requests.
        const auto output = std::span(m_scratch).first(parsed.head.outputLength);
        RequestResult result = m_handler(parsed.head.code, parsed.input, output);
        const size_t information = std::min<size_t>(result.information, output.size());
        appendReply(client.output, result.status, output.first(information));
        offset += parsed.consumed;
    }
    client.input.erase(client.input.begin(),
                       client.input.begin() + static_cast<std::ptrdiff_t>(offset));
    return keep && flush(client);
}

bool ControlServer::flush(Client& client) {
    while (client.outputSent < client.output.size()) {
        const ssize_t sent = ::send(client.fd, client.output.data() + client.outputSent,
                                    client.output.size() - client.outputSent, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                break;
            }
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        client.outputSent += static_cast<size_t>(sent);
    }
    if (client.outputSent == client.output.size()) {
        client.output.clear();
        client.outputSent = 0;
    }
    return true;
}

void ControlServer::updateInterest(Client& client) {
    uint32_t wanted = 0;
    if (!client.readingPaused) {
        wanted |= EPOLLIN;
    }
    if (client.outputSent < client.output.size()) {
        wanted |= EPOLLOUT;
    }
    epoll_event event{wanted, {.u64 = static_cast<uint32_t>(client.fd)}};
    ::epoll_ctl(m_epollFd, EPOLL_CTL_MOD, client.fd, &event);
}

void ControlServer::closeClient(int fd) {
    ::epoll_ctl(m_epollFd, EPOLL_CTL_DEL, fd, nullptr);
    ::close(fd);
    m_clients.erase(fd);
}

} // namespace ovlank
