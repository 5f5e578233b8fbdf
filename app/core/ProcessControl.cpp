#include "ProcessControl.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tavrin::core {

namespace {

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

std::vector<char*> argumentVector(const std::vector<std::string>& argv) {
    std::vector<char*> out;
    out.reserve(argv.size() + 1);
    for (const std::string& a : argv)
        out.push_back(const_cast<char*>(a.c_str()));
    out.push_back(nullptr);
    return out;
}

// Default dispositions and an empty mask, so that a caller that blocks or ignores
// signals for its own event loop does not hand that on.
bool resetSignals(posix_spawnattr_t& attr, short extraFlags) {
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGCHLD, SIGUSR1, SIGUSR2})
        sigaddset(&defaults, s);
    return posix_spawnattr_setsigmask(&attr, &none) == 0 &&
           posix_spawnattr_setsigdefault(&attr, &defaults) == 0 &&
           posix_spawnattr_setflags(&attr,
                                    static_cast<short>(POSIX_SPAWN_SETSIGMASK |
                                                       POSIX_SPAWN_SETSIGDEF | extraFlags)) == 0;
}

pid_t spawn(const std::vector<std::string>& argv, int outputFd, short extraFlags,
            std::string& error) {
    if (argv.empty()) {
        error = "no command";
        return -1;
    }
    const std::string path = findExecutable(argv[0]);
    if (path.empty()) {
        error = argv[0] + ": command not found";
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    bool ready = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0;
    if (outputFd >= 0) {
        ready = ready && posix_spawn_file_actions_adddup2(&actions, outputFd, 1) == 0 &&
                posix_spawn_file_actions_adddup2(&actions, outputFd, 2) == 0;
    } else {
        ready = ready &&
                posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0) == 0 &&
                posix_spawn_file_actions_adddup2(&actions, 1, 2) == 0;
    }
    ready = ready && posix_spawn_file_actions_addclosefrom_np(&actions, 3) == 0 &&
            resetSignals(attr, extraFlags);
    pid_t pid = -1;
    int rc = ready ? 0 : EINVAL;
    if (ready) {
        std::vector<char*> args = argumentVector(argv);
        rc = posix_spawn(&pid, path.c_str(), &actions, &attr, args.data(), environ);
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        error = path + ": " + std::strerror(rc);
        return -1;
    }
    return pid;
}

} // namespace

std::string findExecutable(const std::string& name) {
    if (name.empty())
        return {};
    if (name.find('/') != std::string::npos)
        return name;
    std::string folders;
    if (const char* path = std::getenv("PATH"))
        folders = path;
    folders += ":/usr/sbin:/sbin:/usr/bin:/bin";
    std::istringstream in(folders);
    std::string folder;
    while (std::getline(in, folder, ':')) {
        if (folder.empty())
            continue;
        const std::string candidate = folder + "/" + name;
        if (isExecutableFile(candidate))
            return candidate;
    }
    return {};
}

int runCommand(const std::vector<std::string>& argv, std::string& error) {
    return runCommand(argv, -1, error);
}

int runCommand(const std::vector<std::string>& argv, int outputFd, std::string& error) {
    const pid_t pid = spawn(argv, outputFd, 0, error);
    if (pid < 0)
        return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            error = std::strerror(errno);
            return -1;
        }
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    error = argv[0] + ": killed by signal " + std::to_string(WTERMSIG(status));
    return -1;
}

pid_t spawnDetached(const std::vector<std::string>& argv, int outputFd, std::string& error) {
    return spawn(argv, outputFd, POSIX_SPAWN_SETSID, error);
}

namespace {

// The state letter and start time of a process from /proc/<pid>/stat; false when
// there is no such process.
bool readStat(pid_t pid, char& state, uint64_t& start) {
    if (pid <= 0)
        return false;
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line))
        return false;
    // The name in parentheses may hold blanks and parentheses; fields follow the last ')'.
    const size_t close = line.rfind(')');
    if (close == std::string::npos)
        return false;
    std::istringstream fields(line.substr(close + 1));
    std::string letter;
    fields >> letter;
    // State is field 3; the start time is field 22.
    std::string skip;
    for (int field = 4; field < 22; ++field)
        fields >> skip;
    fields >> start;
    if (!fields || letter.size() != 1)
        return false;
    state = letter[0];
    return true;
}

} // namespace

uint64_t processStartTime(pid_t pid) {
    char state = 0;
    uint64_t start = 0;
    if (!readStat(pid, state, start) || state == 'Z' || state == 'X')
        return 0;
    return start;
}

bool processStopped(pid_t pid, uint64_t startTime) {
    char state = 0;
    uint64_t start = 0;
    // T: stopped by a signal; t: stopped by a tracer. Either way it answers nothing.
    return startTime != 0 && readStat(pid, state, start) && start == startTime &&
           (state == 'T' || state == 't');
}

bool processAlive(pid_t pid, uint64_t startTime) {
    if (pid <= 0 || startTime == 0)
        return false;
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid)
        return false;
    return processStartTime(pid) == startTime;
}

} // namespace tavrin::core
