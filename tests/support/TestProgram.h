// A program started by a test as a user would start it: its own process, standard
// output and error in two files, the signal mask cleared; killed if still running
// when the test ends.
#pragma once

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tavrin::test {

class TestProgram {
public:
    TestProgram(const std::vector<std::string>& argv, const std::string& folder,
                const std::vector<std::string>& environment = {})
        : m_out(folder + "/stdout." + std::to_string(++s_count)),
          m_err(folder + "/stderr." + std::to_string(s_count)) {
        m_pid = ::fork();
        if (m_pid == 0) {
            const int out = ::open(m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = ::open(m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, 1);
            ::dup2(err, 2);
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            for (const std::string& e : environment)
                ::putenv(const_cast<char*>(e.c_str()));
            std::vector<char*> args;
            for (const std::string& a : argv)
                args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            ::execvp(args[0], args.data());
            ::_exit(127);
        }
    }
    ~TestProgram() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    TestProgram(const TestProgram&) = delete;
    TestProgram& operator=(const TestProgram&) = delete;

    std::string out() const { return read(m_out); }
    std::string err() const { return read(m_err); }

    // Waits until standard output or error holds `text`; false when the program
    // ended or the wait ran out first.
    bool waitFor(const std::string& text, std::chrono::seconds limit = std::chrono::seconds(30)) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (out().find(text) != std::string::npos || err().find(text) != std::string::npos)
                return true;
            if (m_pid <= 0 || ::waitpid(m_pid, &m_status, WNOHANG) == m_pid) {
                m_pid = -1;
                return out().find(text) != std::string::npos ||
                       err().find(text) != std::string::npos;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    // Its exit status; -1 when it did not end within the limit or was killed.
    int wait(std::chrono::seconds limit = std::chrono::seconds(30)) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (m_pid > 0 && std::chrono::steady_clock::now() < end) {
            if (::waitpid(m_pid, &m_status, WNOHANG) == m_pid) {
                m_pid = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (m_pid > 0)
            return -1;
        return WIFEXITED(m_status) ? WEXITSTATUS(m_status) : -1;
    }
    int terminate(int signo = SIGTERM) {
        signal(signo);
        return wait();
    }
    void signal(int signo) {
        if (m_pid > 0)
            ::kill(m_pid, signo);
    }
    bool running() {
        if (m_pid > 0 && ::waitpid(m_pid, &m_status, WNOHANG) == m_pid)
            m_pid = -1;
        return m_pid > 0;
    }
    pid_t pid() const { return m_pid; }

private:
    static std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    static inline int s_count = 0;
    std::string m_out;
    std::string m_err;
    pid_t m_pid = -1;
    int m_status = 0;
};

} // namespace tavrin::test
