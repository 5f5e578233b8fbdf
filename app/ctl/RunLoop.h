// The event loop of the headless program: repeating timers that drive the core's
// ticks, descriptors to watch, and the signals that ask it to end taken as events. A tick that
// runs late delays the next one; missed expirations are not replayed.
#pragma once

#include <array>
#include <chrono>
#include <csignal>
#include <functional>
#include <map>
#include <vector>

namespace tavrin::ctl {

// The signals that ask the program to end.
inline constexpr std::array<int, 4> kLeaveSignals{SIGINT, SIGTERM, SIGHUP, SIGQUIT};

class RunLoop final {
public:
    // Blocks kLeaveSignals for the calling thread (and the threads it starts
    // afterwards) and takes them through a descriptor instead.
    RunLoop();
    ~RunLoop();
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    // Starts or restarts timer `id`; a tick may start and stop timers, its own too.
    void startTimer(int id, std::chrono::milliseconds period, std::function<void()> tick);
    void stopTimer(int id);
    bool timerRunning(int id) const { return m_timers.count(id) != 0; }

    void watchReadable(int fd, std::function<void()> ready);
    void onSignal(std::function<void(int)> handler) { m_signalHandler = std::move(handler); }

    // Runs until quit(). False when the loop could not wait (a system failure).
    bool run();
    void quit() { m_quit = true; }

private:
    struct Timer {
        int fd;
        std::function<void()> tick;
    };

    std::map<int, Timer> m_timers;
    std::vector<std::pair<int, std::function<void()>>> m_watched;
    std::function<void(int)> m_signalHandler;
    int m_signalFd = -1;
    bool m_quit = false;
};

} // namespace tavrin::ctl
