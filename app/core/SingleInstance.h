// One running instance per machine: a lock file named after the program, and a
// local socket on which a second start asks the first to show its window. The
// socket exists only once the first instance is up. The window and the run without
// a window (tavrinctl run, the service) share the lock; the knock says which kind
// knocks, and the answer which kind runs, so that each start can tell its user.
#pragma once

#include <string>

namespace tavrin::core {

class SingleInstance final {
public:
    enum class Kind { Window, Headless };

    enum class Result {
        First,         // this is the only instance; keep the object for the process's life
        OtherRestored, // another instance runs with its window and was asked to show it
        OtherHeadless, // another instance runs without a window and was told of this start
        OtherNotReady, // another instance runs but is not up yet
        Failed,        // the lock could not be made; see error()
    };

    // Later starts that knocked, by their kind.
    struct Knocks {
        int windows = 0;
        int headless = 0;
        int total() const { return windows + headless; }
    };

    // Lock "<folder>/<name>.lock", socket "<folder>/<name>.sock".
    SingleInstance(std::string folder, std::string name, Kind kind = Kind::Window);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    Result acquire();
    const std::string& error() const { return m_error; }

    // The first instance is up (its window exists): open the socket for later
    // starts. False (and error() set) when the socket cannot be made; the instance
    // still runs.
    bool announce();
    // A descriptor that becomes readable when a later start knocks; -1 before
    // announce().
    int knockFd() const { return m_listenFd; }
    // Answers every pending knock with this instance's kind; returns who knocked.
    Knocks takeShowRequests();

private:
    std::string socketPath() const;

    std::string m_folder;
    std::string m_name;
    Kind m_kind;
    std::string m_error;
    int m_lockFd = -1;
    int m_listenFd = -1;
};

} // namespace tavrin::core
