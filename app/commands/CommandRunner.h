// Runs one external command at a time on a worker thread and hands its output to
// the window. The command line is split into words (CommandLine.h) and started
// without a shell (CommandProcess). Every 50 ms the worker reads what the child
// wrote, decodes it (OutputText) and queues it; `notify` then tells the owner, on
// the worker's thread, that take() has something. At most one notification is
// outstanding, and a queue the owner does not empty stops the reading, so a child
// that writes without end is held up by its pipe instead of growing our memory.
#pragma once

#include "InvokingUser.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace tavrin::commands {

inline constexpr char kAlreadyRunning[] = "まだ前回のプロセスが起動中です。";
inline constexpr char kInvalidCommand[] = "エラー：無効なコマンドです";
inline constexpr char kReadError[] = "エラー：IOエラー";
inline constexpr char kAborted[] = "\n中止されました\n";

struct RunUpdate {
    std::string text;       // to append, in order
    bool ended = false;     // the run is over after `text`
    bool completed = false; // it ended by itself, without an abort or an error
};

class CommandRunner final {
public:
    struct Limits {
        std::chrono::milliseconds pass{50};
        size_t readPerPass = 64 * 1024; // bytes
        size_t queued = 256 * 1024;     // bytes of text waiting for take()
    };
    using Notify = std::function<void()>;
    // Who runs the command; by default the invoking user, asked at each start.
    using UserSource = std::function<std::optional<InvokingUser>()>;

    explicit CommandRunner(Notify notify) : CommandRunner(std::move(notify), Limits{}) {}
    CommandRunner(Notify notify, Limits limits, UserSource user = invokingUser);
    // Stops a running command and waits for it.
    ~CommandRunner();
    CommandRunner(const CommandRunner&) = delete;
    CommandRunner& operator=(const CommandRunner&) = delete;

    // Starts `commandLine`; false, and nothing started, while a run is not over (its
    // end not yet taken). The owner's thread calls start, abort, take and stop.
    bool start(const std::string& commandLine);
    bool busy() const { return m_worker.joinable(); }
    // Ends the child and its process group: SIGTERM at once, SIGKILL one pass later.
    // The output read so far is kept and followed by kAborted.
    void abort();
    // What the worker queued since the last take. Once `ended` has been taken the
    // runner is free for the next start.
    RunUpdate take();
    // The program is ending: abort without kAborted, and wait until the worker is gone.
    void stop();

private:
    void work(std::string commandLine, std::optional<InvokingUser> user);
    // Queues text and tells the owner, unless it was told and has not taken yet.
    void queue(std::string_view text);
    bool queueFull();
    void finish(bool completed);
    void wait(bool terminated);

    Notify m_notify;
    Limits m_limits;
    UserSource m_user;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_abort = false;
    bool m_closing = false;
    RunUpdate m_pending;
    bool m_notified = false;
    std::thread m_worker;
};

} // namespace tavrin::commands
