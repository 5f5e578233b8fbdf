#include "CommandProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tavrin::commands {

namespace {

// Everything the child needs, made before the fork: after it only
// async-signal-safe calls are allowed.
struct ChildPlan {
    std::vector<char*> argv;
    std::vector<char*> envp;
    std::vector<const char*> candidates;
    const InvokingUser* user = nullptr;
    const char* home = nullptr;
    pid_t parent = 0;
    int input = -1;
    int output = -1;
    int status = -1;
    int maxFd = 1024;
};

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> out;
    out.reserve(texts.size() + 1);
    for (std::string& t : texts)
        out.push_back(t.data());
    out.push_back(nullptr);
    return out;
}

// The descriptor moved to 3 or above, so that placing the standard streams in the
// child never overwrites it. Close-on-exec in any case.
int aboveStandard(int fd) {
    if (fd < 0 || fd > 2)
        return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

void closeIfOpen(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

[[noreturn]] void fail(int statusFd, int error) noexcept {
    ssize_t written = 0;
    do {
        written = ::write(statusFd, &error, sizeof error);
    } while (written < 0 && errno == EINTR);
    ::_exit(127);
}

[[noreturn]] void runChild(const ChildPlan& plan) noexcept {
    ::setsid();
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    sigemptyset(&defaults.sa_mask);
    for (int s = 1; s < NSIG; ++s)
        if (s != SIGKILL && s != SIGSTOP)
            ::sigaction(s, &defaults, nullptr);
    if (::dup2(plan.input, STDIN_FILENO) < 0 || ::dup2(plan.output, STDOUT_FILENO) < 0 ||
        ::dup2(plan.output, STDERR_FILENO) < 0)
        fail(plan.status, errno);
    if (plan.user != nullptr) {
        if (!becomeUser(*plan.user))
            fail(plan.status, EPERM);
        // A user without a home (nobody) starts in the root folder.
        if (::chdir(plan.home) != 0 && ::chdir("/") != 0)
            fail(plan.status, errno);
    }
    // Taking another user's identity clears the parent-death signal; set it after.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != plan.parent)
        ::_exit(127);
    // Nothing of ours but the three streams may reach the program: not the daemon's
    // socket, not the instance lock, not a file of the settings.
    if (::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
        for (int fd = 3; fd < plan.maxFd; ++fd)
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    int error = ENOENT;
    for (const char* candidate : plan.candidates) {
        ::execve(candidate, plan.argv.data(), plan.envp.data());
        // A later folder may still hold the program; the most telling failure is kept.
        if (errno != ENOENT && errno != ENOTDIR && (error == ENOENT || errno != EACCES))
            error = errno;
    }
    fail(plan.status, error);
}

} // namespace

std::vector<std::string> programCandidates(std::string_view program, std::string_view path) {
    if (program.empty())
        return {};
    if (program.find('/') != std::string_view::npos)
        return {std::string(program)};
    std::vector<std::string> out;
    while (true) {
        const size_t colon = path.find(':');
        const std::string_view folder = path.substr(0, colon);
        if (!folder.empty()) {
            std::string candidate(folder);
            if (candidate.back() != '/')
                candidate += '/';
            out.push_back(candidate.append(program));
        }
        if (colon == std::string_view::npos)
            break;
        path.remove_prefix(colon + 1);
    }
    return out;
}

CommandProcess::~CommandProcess() {
    if (m_pid > 0) {
        signalGroup(SIGKILL);
        reap();
    }
    closeIfOpen(m_output);
}

int CommandProcess::start(const std::vector<std::string>& words,
                          const std::optional<InvokingUser>& user) {
    if (m_pid > 0 || words.empty())
        return words.empty() ? ENOENT : EBUSY;
    std::vector<std::string> environment;
    if (user) {
        environment = userEnvironment(*user, environ);
    } else {
        for (char** e = environ; e != nullptr && *e != nullptr; ++e)
            environment.emplace_back(*e);
    }
    std::string_view path = kDefaultPath;
    for (const std::string& e : environment)
        if (e.starts_with("PATH="))
            path = std::string_view(e).substr(5);
    std::vector<std::string> candidates = programCandidates(words.front(), path);
    if (candidates.empty())
        return ENOENT;

    std::vector<std::string> args = words;
    ChildPlan plan;
    plan.argv = pointers(args);
    plan.envp = pointers(environment);
    for (const std::string& c : candidates)
        plan.candidates.push_back(c.c_str());
    plan.user = user ? &*user : nullptr;
    plan.home = user ? user->home.c_str() : nullptr;
    plan.parent = ::getpid();
    struct rlimit files {};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY)
        plan.maxFd = static_cast<int>(files.rlim_cur < 1048576 ? files.rlim_cur : 1048576);

    int outputPipe[2] = {-1, -1};
    int statusPipe[2] = {-1, -1};
    if (::pipe2(outputPipe, O_CLOEXEC) != 0)
        return errno;
    if (::pipe2(statusPipe, O_CLOEXEC) != 0) {
        const int error = errno;
        closeIfOpen(outputPipe[0]);
        closeIfOpen(outputPipe[1]);
        return error;
    }
    int input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    for (int* fd : {&outputPipe[0], &outputPipe[1], &statusPipe[0], &statusPipe[1], &input})
        *fd = aboveStandard(*fd);
    const auto closeAll = [&] {
        for (int* fd : {&outputPipe[0], &outputPipe[1], &statusPipe[0], &statusPipe[1], &input})
            closeIfOpen(*fd);
    };
    if (outputPipe[0] < 0 || outputPipe[1] < 0 || statusPipe[0] < 0 || statusPipe[1] < 0 ||
        input < 0) {
        const int error = errno ? errno : EMFILE;
        closeAll();
        return error;
    }
    plan.input = input;
    plan.output = outputPipe[1];
    plan.status = statusPipe[1];

    // No signal handler of ours may run in the child before its dispositions are
    // back to the defaults.
    sigset_t all;
    sigset_t old;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &old);
    const pid_t pid = ::fork();
    if (pid == 0)
        runChild(plan);
    const int forkError = errno;
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    closeIfOpen(outputPipe[1]);
    closeIfOpen(statusPipe[1]);
    closeIfOpen(input);
    if (pid < 0) {
        closeAll();
        return forkError;
    }

    // The status pipe closes at a successful exec; before that, the child writes
    // why it could not run the program.
    int childError = 0;
    ssize_t got = 0;
    do {
        got = ::read(statusPipe[0], &childError, sizeof childError);
    } while (got < 0 && errno == EINTR);
    closeIfOpen(statusPipe[0]);
    if (got != 0) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        closeAll();
        return got == static_cast<ssize_t>(sizeof childError) && childError != 0 ? childError
                                                                                 : ENOEXEC;
    }
    ::fcntl(outputPipe[0], F_SETFL, ::fcntl(outputPipe[0], F_GETFL) | O_NONBLOCK);
    m_pid = pid;
    m_output = outputPipe[0];
    return 0;
}

bool CommandProcess::ended() {
    if (m_pid <= 0)
        return true;
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
        return errno == ECHILD;
    return info.si_pid == m_pid;
}

void CommandProcess::signalGroup(int signal) {
    if (m_pid <= 0)
        return;
    ::kill(-m_pid, signal);
    ::kill(m_pid, signal);
}

void CommandProcess::reap() {
    if (m_pid > 0) {
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
    }
    closeIfOpen(m_output);
}

} // namespace tavrin::commands
