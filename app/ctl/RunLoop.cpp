#include "RunLoop.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <stdexcept>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace tavrin::ctl {

RunLoop::RunLoop() {
    sigset_t set;
    sigemptyset(&set);
    // A closed terminal (SIGHUP) or Ctrl-\ (SIGQUIT) must not end the program past its
    // exit path: the daemon runs in a session of its own and would filter on unattended.
    for (int signo : kLeaveSignals)
        sigaddset(&set, signo);
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0)
        throw std::runtime_error("cannot block the signals that end the program");
    m_signalFd = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (m_signalFd < 0)
        throw std::runtime_error("cannot make a signal descriptor");
}

RunLoop::~RunLoop() {
    for (auto& [id, timer] : m_timers)
        ::close(timer.fd);
    if (m_signalFd >= 0)
        ::close(m_signalFd);
}

void RunLoop::startTimer(int id, std::chrono::milliseconds period, std::function<void()> tick) {
    stopTimer(id);
    const int fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (fd < 0)
        throw std::runtime_error("cannot make a timer");
    const auto ms = period.count() < 1 ? 1 : period.count();
    itimerspec spec{};
    spec.it_interval.tv_sec = static_cast<time_t>(ms / 1000);
    spec.it_interval.tv_nsec = static_cast<long>((ms % 1000) * 1000000);
    spec.it_value = spec.it_interval;
    ::timerfd_settime(fd, 0, &spec, nullptr);
    m_timers[id] = Timer{fd, std::move(tick)};
}

void RunLoop::stopTimer(int id) {
    if (auto it = m_timers.find(id); it != m_timers.end()) {
        ::close(it->second.fd);
        m_timers.erase(it);
    }
}

void RunLoop::watchReadable(int fd, std::function<void()> ready) {
    m_watched.emplace_back(fd, std::move(ready));
}

bool RunLoop::run() {
    m_quit = false;
    while (!m_quit) {
        // Rebuilt every round: ticks start and stop timers.
        std::vector<pollfd> fds;
        std::vector<int> timerIds;
        fds.push_back({m_signalFd, POLLIN, 0});
        for (const auto& [fd, ready] : m_watched)
            fds.push_back({fd, POLLIN, 0});
        for (const auto& [id, timer] : m_timers) {
            fds.push_back({timer.fd, POLLIN, 0});
            timerIds.push_back(id);
        }
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            signalfd_siginfo info{};
            while (::read(m_signalFd, &info, sizeof info) == sizeof info) {
                if (m_signalHandler)
                    m_signalHandler(static_cast<int>(info.ssi_signo));
            }
        }
        const size_t watchedEnd = 1 + m_watched.size();
        for (size_t i = 1; i < watchedEnd && !m_quit; ++i) {
            if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0)
                m_watched[i - 1].second();
        }
        for (size_t i = watchedEnd; i < fds.size() && !m_quit; ++i) {
            if ((fds[i].revents & POLLIN) == 0)
                continue;
            // The timer may have been stopped or restarted by an earlier tick.
            auto it = m_timers.find(timerIds[i - watchedEnd]);
            if (it == m_timers.end() || it->second.fd != fds[i].fd)
                continue;
            uint64_t expirations = 0;
            if (::read(it->second.fd, &expirations, sizeof expirations) != sizeof expirations)
                continue;
            auto tick = it->second.tick; // the tick may replace its own timer
            tick();
        }
    }
    return true;
}

} // namespace tavrin::ctl
