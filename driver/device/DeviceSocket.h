// The listening control socket at the device path. Creating it checks the folder,
// refuses when a live daemon answers there, removes a stale socket left by a
// crashed one, and never follows a symlink planted at the path.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

namespace ovlank {

class DeviceSocket final {
public:
    // Creates the folder if needed (mode 0755) and binds a socket of mode 0600. On
    // failure returns nullptr and sets `error` to one line.
    static std::unique_ptr<DeviceSocket> create(const std::string& path, std::string& error);

    ~DeviceSocket(); // closes and removes the socket file if it is still ours
    DeviceSocket(const DeviceSocket&) = delete;
    DeviceSocket& operator=(const DeviceSocket&) = delete;

    int fd() const { return m_fd; }
    const std::string& path() const { return m_path; }

private:
    DeviceSocket(std::string path, int fd, dev_t device, ino_t inode);

    std::string m_path;
    int m_fd;
    dev_t m_device;
    ino_t m_inode;
};

// True when something accepts connections on the Unix socket at `path`.
bool socketAnswers(const std::string& path);

enum class StaleSocket {
    Removed, // a socket nobody answers on was there and is gone
    Absent,  // nothing at the path
    Live,    // a daemon answers there; left alone
    Failed,  // not a socket, or it could not be removed: see `error`
};

// Removes the socket file a daemon that was killed left at `path`, under the same
// folder lock a starting daemon takes, so that a fresh socket is never mistaken
// for a stale one.
StaleSocket removeStaleSocket(const std::string& path, std::string& error);

} // namespace ovlank
