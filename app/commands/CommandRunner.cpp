#include "CommandRunner.h"

#include "CommandLine.h"
#include "CommandProcess.h"
#include "OutputText.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace tavrin::commands {

namespace {

// After the child ended, a descendant that keeps the pipe open and writes on
// cannot hold the run open: at most this many more passes drain what is left.
constexpr int kPassesAfterEnd = 16;

} // namespace

CommandRunner::CommandRunner(Notify notify, Limits limits, UserSource user)
    : m_notify(std::move(notify)), m_limits(limits), m_user(std::move(user)) {}

CommandRunner::~CommandRunner() {
    stop();
}

bool CommandRunner::start(const std::string& commandLine) {
    if (busy())
        return false;
    {
        std::lock_guard lock(m_mutex);
        m_abort = false;
        m_closing = false;
        m_pending = {};
        m_notified = false;
    }
    std::optional<InvokingUser> user = m_user ? m_user() : std::nullopt;
    m_worker = std::thread(&CommandRunner::work, this, commandLine, std::move(user));
    return true;
}

void CommandRunner::abort() {
    if (!busy())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_abort = true;
    }
    m_wake.notify_all();
}

RunUpdate CommandRunner::take() {
    RunUpdate out;
    {
        std::lock_guard lock(m_mutex);
        out = std::move(m_pending);
        m_pending = {};
        m_notified = false;
    }
    m_wake.notify_all();
    // The end is the worker's last word: it is about to return.
    if (out.ended && m_worker.joinable())
        m_worker.join();
    return out;
}

void CommandRunner::stop() {
    if (!busy())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_closing = true;
        m_abort = true;
    }
    m_wake.notify_all();
    m_worker.join();
}

void CommandRunner::queue(std::string_view text) {
    if (text.empty())
        return;
    bool tell = false;
    {
        std::lock_guard lock(m_mutex);
        // Nobody takes while the program ends; what does not fit then is dropped.
        if (m_closing && m_pending.text.size() >= m_limits.queued)
            return;
        m_pending.text.append(text);
        tell = !m_notified;
        m_notified = true;
    }
    if (tell && m_notify)
        m_notify();
}

bool CommandRunner::queueFull() {
    std::lock_guard lock(m_mutex);
    return !m_closing && m_pending.text.size() >= m_limits.queued;
}

void CommandRunner::finish(bool completed) {
    bool tell = false;
    {
        std::lock_guard lock(m_mutex);
        m_pending.ended = true;
        m_pending.completed = completed;
        tell = !m_notified;
        m_notified = true;
    }
    if (tell && m_notify)
        m_notify();
}

void CommandRunner::wait(bool terminated) {
    std::unique_lock lock(m_mutex);
    m_wake.wait_for(lock, m_limits.pass, [&] { return m_abort && !terminated; });
}

void CommandRunner::work(std::string commandLine, std::optional<InvokingUser> user) {
    CommandProcess process;
    if (process.start(splitCommandLine(commandLine), user) != 0) {
        queue(kInvalidCommand);
        finish(false);
        return;
    }
    OutputText decoder;
    std::array<char, 16384> buffer{};
    bool terminated = false;
    bool killed = false;
    bool readError = false;
    int passesAfterEnd = 0;
    for (;;) {
        bool abort = false;
        {
            std::lock_guard lock(m_mutex);
            abort = m_abort;
        }
        if (abort && !terminated) {
            process.signalGroup(SIGTERM);
            terminated = true;
        } else if (terminated && !killed) {
            // A pass later, whatever of the group ignored SIGTERM goes for good.
            process.signalGroup(SIGKILL);
            killed = true;
        }
        // Looked at before reading: what the child wrote before it ended is then in
        // the pipe and read in this pass.
        const bool ended = process.ended();
        bool drained = false;
        bool exhausted = false; // read a whole pass's worth, and there may be more
        for (size_t budget = m_limits.readPerPass; !queueFull();) {
            if (budget == 0) {
                exhausted = true;
                break;
            }
            const ssize_t n =
                ::read(process.output(), buffer.data(), std::min(buffer.size(), budget));
            if (n > 0) {
                queue(decoder.decode(std::string_view(buffer.data(), static_cast<size_t>(n))));
                budget -= static_cast<size_t>(n);
            } else if (n == 0 || errno == EAGAIN) {
                drained = true; // for now (EAGAIN) or for good (every writer gone)
                break;
            } else if (errno != EINTR) {
                readError = true;
                break;
            }
        }
        if (readError)
            break;
        // Passes held back by a full queue do not count: what is left is still read.
        if (ended && (drained || (exhausted && ++passesAfterEnd > kPassesAfterEnd)))
            break;
        wait(terminated);
    }
    if ((terminated && !killed) || readError)
        process.signalGroup(SIGKILL);
    process.reap();
    queue(decoder.finish());
    if (readError)
        queue(kReadError);
    bool closing = false;
    {
        std::lock_guard lock(m_mutex);
        closing = m_closing;
    }
    if (terminated && !closing)
        queue(kAborted);
    finish(!terminated && !readError);
}

} // namespace tavrin::commands
