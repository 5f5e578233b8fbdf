// Runs a program as a child process, without a shell, and collects its exit
// status and both output streams. For tests that drive real executables.
#pragma once

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace tavrin::test {

struct ProcessResult {
    using Clock = std::chrono::steady_clock;
    int exitStatus = -1; // -1 when the program could not be started or was killed
    std::string out;
    std::string err;
    // When its first standard output byte came, and when it ended.
    std::optional<Clock::time_point> firstOutput;
    Clock::time_point ended;

    // Seconds from its first output to its end; -1 when it printed nothing.
    double secondsAfterPrinting() const {
        return firstOutput ? std::chrono::duration<double>(ended - *firstOutput).count() : -1;
    }
};

// `limit`: a program still running after it is killed (exit status -1).
inline ProcessResult runProcess(const std::vector<std::string>& args,
                                std::optional<std::chrono::milliseconds> limit = std::nullopt) {
    using Clock = ProcessResult::Clock;
    ProcessResult result;
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0)
        return result;
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (spawned == 0) {
        const Clock::time_point deadline = limit ? Clock::now() + *limit : Clock::time_point::max();
        bool killed = false;
        pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
        std::string* sinks[2] = {&result.out, &result.err};
        int open = 2;
        while (open > 0) {
            if (limit && !killed && Clock::now() >= deadline) {
                ::kill(pid, SIGKILL);
                killed = true;
            }
            if (::poll(fds, 2, limit ? 100 : -1) < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
            for (int i = 0; i < 2; ++i) {
                if (fds[i].fd < 0 || fds[i].revents == 0)
                    continue;
                char buffer[4096];
                const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
                if (n > 0) {
                    if (i == 0 && !result.firstOutput)
                        result.firstOutput = Clock::now();
                    sinks[i]->append(buffer, static_cast<size_t>(n));
                } else if (n == 0 || errno != EINTR) {
                    fds[i].fd = -1;
                    --open;
                }
            }
        }
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        result.ended = Clock::now();
        if (!killed && WIFEXITED(status))
            result.exitStatus = WEXITSTATUS(status);
    }
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    return result;
}

} // namespace tavrin::test
