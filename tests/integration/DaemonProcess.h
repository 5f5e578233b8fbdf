// One Ovlank daemon started inside a test namespace with its own device path,
// queue numbers and chain prefix, and stopped (or killed) by the test.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace ovlank::test {

class DaemonProcess final {
public:
    DaemonProcess(std::string ns, std::vector<std::string> arguments, std::string logPath);
    ~DaemonProcess(); // kills it if it still runs

    // Starts and waits until the device answers GET_VERSION (false: it did not).
    bool start(const std::string& devicePath);
    // SIGTERM (or another signal that ends it) and wait; returns the exit code (-1
    // if it did not exit normally).
    int terminate(int signal = SIGTERM);
    void kill9();
    // Sends a signal that does not end it, such as SIGSTOP or SIGCONT.
    void signal(int signal);
    // SIGSTOP, then waits until every thread of the daemon shows it is stopped, so
    // that none decides another packet afterwards. False if that did not happen.
    bool freeze();
    pid_t pid() const { return m_pid; }
    // Waits for the process to end by itself; its exit code.
    int wait();
    bool running() const { return m_pid > 0; }
    std::string log() const;

private:
    std::string m_ns;
    std::vector<std::string> m_arguments;
    std::string m_logPath;
    pid_t m_pid = -1;
};

} // namespace ovlank::test
