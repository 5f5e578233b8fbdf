#include "DaemonProcess.h"

#include "ChildProcess.h"
#include "OvlankClient.h"
#include "TestPaths.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace ovlank::test {

DaemonProcess::DaemonProcess(std::string ns, std::vector<std::string> arguments,
                             std::string logPath)
    : m_ns(std::move(ns)), m_arguments(std::move(arguments)), m_logPath(std::move(logPath)) {}

DaemonProcess::~DaemonProcess() {
    if (m_pid > 0) {
        kill9();
    }
}

bool DaemonProcess::start(const std::string& devicePath) {
    std::vector<std::string> argv = {toolPath("ip"), "netns", "exec", m_ns,
                                     std::string(tavrin::test::kBinDir) + "/Ovlank"};
    argv.insert(argv.end(), m_arguments.begin(), m_arguments.end());
    std::vector<char*> args;
    for (auto& arg : argv) {
        args.push_back(arg.data());
    }
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, m_logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const int spawned =
        ::posix_spawn(&m_pid, argv[0].c_str(), &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        m_pid = -1;
        return false;
    }
    // Ready means the device answers GET_VERSION.
    for (int attempt = 0; attempt < 200; ++attempt) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return false;
        }
        OvlankClient client(devicePath);
        if (client.connected() && client.version() == kDriverVersion) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

int DaemonProcess::wait() {
    if (m_pid <= 0) {
        return -1;
    }
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int DaemonProcess::terminate(int signal) {
    if (m_pid <= 0) {
        return -1;
    }
    ::kill(m_pid, signal);
    return wait();
}

void DaemonProcess::signal(int signal) {
    if (m_pid > 0) {
        ::kill(m_pid, signal);
    }
}

namespace {

// The state letter of one thread from its /proc stat line; 0 when unreadable.
char threadState(const std::filesystem::path& stat) {
    std::ifstream file(stat);
    std::string line;
    std::getline(file, line);
    const auto close = line.rfind(')'); // the name may hold blanks and brackets
    return close != std::string::npos && close + 2 < line.size() ? line[close + 2] : '\0';
}

} // namespace

bool DaemonProcess::freeze() {
    if (m_pid <= 0) {
        return false;
    }
    ::kill(m_pid, SIGSTOP);
    const std::filesystem::path tasks = "/proc/" + std::to_string(m_pid) + "/task";
    for (int attempt = 0; attempt < 500; ++attempt) {
        std::error_code error;
        size_t threads = 0, stopped = 0;
        for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
            ++threads;
            stopped += threadState(task.path() / "stat") == 'T' ? 1 : 0;
        }
        if (threads > 0 && stopped == threads) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

void DaemonProcess::kill9() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        wait();
    }
}

std::string DaemonProcess::log() const {
    std::ifstream file(m_logPath);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace ovlank::test
