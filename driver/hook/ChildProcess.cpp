#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

extern char** environ;

namespace ovlank {
namespace {

struct Pipe {
    int read = -1;
    int write = -1;
    bool open() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            return false;
        }
        read = fds[0];
        write = fds[1];
        return true;
    }
    static void closeEnd(int& fd) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ~Pipe() {
        closeEnd(read);
        closeEnd(write);
    }
};

} // namespace

std::string toolPath(const std::string& name) {
    for (const char* folder : {"/usr/sbin/", "/sbin/", "/usr/bin/", "/bin/"}) {
        std::string candidate = folder + name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return "/usr/sbin/" + name;
}

ChildResult runChild(const std::vector<std::string>& argv, const std::string& input) {
    ChildResult result;
    Pipe in, out, err;
    if (argv.empty() || !in.open() || !out.open() || !err.open()) {
        result.errors = "cannot create pipes: " + std::string(std::strerror(errno));
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in.read, 0);
    posix_spawn_file_actions_adddup2(&actions, out.write, 1);
    posix_spawn_file_actions_adddup2(&actions, err.write, 2);
    // The daemon blocks its termination signals; the child must not inherit that.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> args;
    for (const auto& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    const int spawned =
        ::posix_spawn(&pid, argv[0].c_str(), &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) {
        result.errors = "cannot run " + argv[0] + ": " + std::strerror(spawned);
        return result;
    }
    result.started = true;
    Pipe::closeEnd(in.read);
    Pipe::closeEnd(out.write);
    Pipe::closeEnd(err.write);

    size_t written = 0;
    if (input.empty()) {
        Pipe::closeEnd(in.write);
    } else {
        ::fcntl(in.write, F_SETFL, O_NONBLOCK);
    }
    std::array<char, 4096> chunk{};
    while (out.read >= 0 || err.read >= 0) {
        std::array<pollfd, 3> fds{
            {{out.read, POLLIN, 0}, {err.read, POLLIN, 0}, {in.write, POLLOUT, 0}}};
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (in.write >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
            const ssize_t n = ::write(in.write, input.data() + written, input.size() - written);
            if (n > 0) {
                written += static_cast<size_t>(n);
            }
            if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == input.size()) {
                Pipe::closeEnd(in.write);
            }
        }
        for (int i = 0; i < 2; ++i) {
            int& fd = i == 0 ? out.read : err.read;
            std::string& sink = i == 0 ? result.output : result.errors;
            if (fd >= 0 &&
                (fds[static_cast<size_t>(i)].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                const ssize_t n = ::read(fd, chunk.data(), chunk.size());
                if (n > 0) {
                    sink.append(chunk.data(), static_cast<size_t>(n));
                } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                    Pipe::closeEnd(fd);
                }
            }
        }
    }
    Pipe::closeEnd(in.write);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace ovlank
