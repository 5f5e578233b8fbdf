// The runner driven as the window drives it: every notification is answered with a
// take(), and the texts are gathered until the end. Waits have a generous guard
// against a hang; nothing is timed.
#pragma once

#include "CommandRunner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <unistd.h>

namespace tavrin::commands::test {

inline const std::string kChild = COMMAND_CHILD;

struct RunResult {
    std::string text;
    bool ended = false;
    bool completed = false;
};

class RunnerProbe final {
public:
    explicit RunnerProbe(
        CommandRunner::Limits limits = {},
        CommandRunner::UserSource user = [] { return std::nullopt; })
        : runner([this] { told(); }, limits, std::move(user)) {}

    bool start(const std::string& line) {
        result = {};
        return runner.start(line);
    }

    // Takes updates until `until` holds for the text gathered, or the end.
    void waitFor(const std::function<bool(const RunResult&)>& until) {
        const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!until(result)) {
            std::unique_lock lock(m_mutex);
            if (!m_cv.wait_until(lock, guard, [this] { return m_told; })) {
                ADD_FAILURE() << "no update within the guard; text so far: " << result.text;
                return;
            }
            m_told = false;
            lock.unlock();
            RunUpdate update = runner.take();
            result.text += update.text;
            if (update.ended) {
                result.ended = true;
                result.completed = update.completed;
            }
        }
    }
    RunResult waitEnd() {
        waitFor([](const RunResult& r) { return r.ended; });
        return result;
    }
    // Waits for the next notification without taking.
    bool waitTold() {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::seconds(60), [this] { return m_told; });
    }

    RunResult result;

private:
    void told() {
        std::lock_guard lock(m_mutex);
        m_told = true;
        m_cv.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_told = false;

public:
    CommandRunner runner; // last: its worker may still tell while it stops
};

// Whether the process is gone: no such process, or a zombie nobody reaps.
inline bool processGone(pid_t pid) {
    if (::kill(pid, 0) != 0)
        return errno == ESRCH;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');
    return close != std::string::npos && line.substr(close + 2, 1) == "Z";
}

inline bool waitGone(pid_t pid) {
    for (int i = 0; i < 6000; ++i) {
        if (processGone(pid))
            return true;
        ::usleep(10 * 1000);
    }
    return false;
}

} // namespace tavrin::commands::test
