// One external command as a child process: no shell, the program looked up in
// PATH, its own session and process group, standard input from /dev/null, standard
// output and error into one pipe, no other descriptor of ours, the signal
// dispositions and mask back to their defaults, and, when a desktop user started
// the program through sudo or pkexec, that user's identity, groups, home and
// environment instead of root's.
#pragma once

#include "InvokingUser.h"

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::commands {

// Where `program` may be, in the order it is tried: itself when it holds a "/",
// else each folder of the colon-separated `path` (empty entries, which would mean
// the current folder, are skipped).
std::vector<std::string> programCandidates(std::string_view program, std::string_view path);

// The PATH for a child running as root when the program has none.
inline constexpr char kDefaultPath[] =
    "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

class CommandProcess final {
public:
    CommandProcess() = default;
    ~CommandProcess();
    CommandProcess(const CommandProcess&) = delete;
    CommandProcess& operator=(const CommandProcess&) = delete;

    // Starts `words` (words[0] is the program) as `user`, or as this process's user
    // when none. 0 once the program runs; otherwise the errno that kept it from
    // running (ENOENT when `words` is empty or the program is nowhere).
    int start(const std::vector<std::string>& words, const std::optional<InvokingUser>& user);

    // The read end of the output pipe, non-blocking; -1 before a start.
    int output() const { return m_output; }
    pid_t pid() const { return m_pid; }

    // Whether the child has ended. It stays unreaped until reap(), so its process
    // group id cannot go to another process meanwhile.
    bool ended();
    // Sends `signal` to the child's process group and to the child itself.
    void signalGroup(int signal);
    // Waits for the child's end and collects it; closes the pipe.
    void reap();

private:
    pid_t m_pid = -1;
    int m_output = -1;
};

} // namespace tavrin::commands
