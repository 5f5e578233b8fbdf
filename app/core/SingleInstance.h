// One running instance per machine: a lock file named after the program, and a
// local socket on which a second start asks the first to show its window. The
// socket exists only once the first instance has a window to show.
#pragma once

#include <string>

namespace tavrin::core {

class SingleInstance final {
public:
    enum class Result {
        First,         // this is the only instance; keep the object for the process's life
        OtherRestored, // another instance runs and was asked to show its window
        OtherNotReady, // another instance runs but has no window yet
        Failed,        // the lock could not be made; see error()
    };

    // Lock "<folder>/<name>.lock", socket "<folder>/<name>.sock".
    SingleInstance(std::string folder, std::string name);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    Result acquire();
    const std::string& error() const { return m_error; }

    // The first instance's window exists: open the socket for later starts. False
    // (and error() set) when the socket cannot be made; the instance still runs.
    bool announceWindow();
    // A descriptor that becomes readable when a later start knocks; -1 before
    // announceWindow().
    int knockFd() const { return m_listenFd; }
    // Answers every pending knock; returns how many asked to show the window.
    int takeShowRequests();

private:
    std::string socketPath() const;

    std::string m_folder;
    std::string m_name;
    std::string m_error;
    int m_lockFd = -1;
    int m_listenFd = -1;
};

} // namespace tavrin::core
