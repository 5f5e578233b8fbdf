#include "DeviceSocket.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ovlank {
namespace {

std::string errnoText(int error) {
    return std::strerror(error);
}

sockaddr_un addressOf(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), std::min(path.size(), sizeof(address.sun_path) - 1));
    return address;
}

// Creates missing folders of `folder` one by one with mode 0755.
bool makeFolders(const std::string& folder, std::string& error) {
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), 0755) == 0) {
            ::chmod(part.c_str(), 0755); // whatever the umask, others may look in
        } else if (errno != EEXIST) {
            error = "cannot create the device folder " + part + ": " + errnoText(errno);
            return false;
        }
        if (slash == std::string::npos) {
            return true;
        }
    }
}

// Only the owner may change what is in the folder, or another user could swap the
// socket for one of their own.
bool checkFolder(const std::string& folder, std::string& error) {
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) {
        error = "cannot inspect the device folder " + folder + ": " + errnoText(errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        error = "the device folder " + folder + " is not a folder (or is a symlink)";
        return false;
    }
    if (info.st_uid != 0 && info.st_uid != ::geteuid()) {
        error = "the device folder " + folder + " belongs to another user";
        return false;
    }
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        error = "the device folder " + folder + " is writable by other users";
        return false;
    }
    return true;
}

// Holds the folder's lock while a socket there is judged stale and replaced.
class FolderLock final {
public:
    explicit FolderLock(const std::string& folder)
        : m_fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)) {
        if (m_fd >= 0 && ::flock(m_fd, LOCK_EX) != 0) {
            const int error = errno;
            ::close(m_fd);
            m_fd = -1;
            errno = error;
        }
    }
    ~FolderLock() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool held() const { return m_fd >= 0; }

private:
    int m_fd;
};

std::string folderOf(const std::string& path) {
    return path.substr(0, std::max<size_t>(path.rfind('/'), 1));
}

// With the folder's lock held.
StaleSocket removeStaleLocked(const std::string& path, std::string& error) {
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) != 0) {
        if (errno == ENOENT) {
            return StaleSocket::Absent;
        }
        error = "cannot inspect " + path + ": " + errnoText(errno);
        return StaleSocket::Failed;
    }
    if (!S_ISSOCK(existing.st_mode)) {
        error = path + " exists and is not a socket; remove it first";
        return StaleSocket::Failed;
    }
    if (socketAnswers(path)) {
        error = "another daemon already serves " + path;
        return StaleSocket::Live;
    }
    if (::unlink(path.c_str()) != 0) {
        error = "cannot remove the stale socket " + path + ": " + errnoText(errno);
        return StaleSocket::Failed;
    }
    return StaleSocket::Removed;
}

} // namespace

StaleSocket removeStaleSocket(const std::string& path, std::string& error) {
    const std::string folder = folderOf(path);
    FolderLock lock(folder);
    if (!lock.held()) {
        if (errno == ENOENT) {
            return StaleSocket::Absent;
        }
        error = "cannot lock the device folder " + folder + ": " + errnoText(errno);
        return StaleSocket::Failed;
    }
    return removeStaleLocked(path, error);
}

bool socketAnswers(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const sockaddr_un address = addressOf(path);
    const bool answers =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return answers;
}

std::unique_ptr<DeviceSocket> DeviceSocket::create(const std::string& path, std::string& error) {
    if (path.size() >= sizeof(sockaddr_un::sun_path) || path.empty() || path.front() != '/') {
        error = "invalid device path " + path;
        return nullptr;
    }
    const std::string folder = folderOf(path);
    if (!makeFolders(folder, error) || !checkFolder(folder, error)) {
        return nullptr;
    }

    // Two daemons starting at once must not both judge the same socket stale.
    FolderLock lock(folder);
    if (!lock.held()) {
        error = "cannot lock the device folder " + folder + ": " + errnoText(errno);
        return nullptr;
    }
    const StaleSocket stale = removeStaleLocked(path, error);
    if (stale == StaleSocket::Live || stale == StaleSocket::Failed) {
        return nullptr;
    }

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = "cannot create the control socket: " + errnoText(errno);
        return nullptr;
    }
    const sockaddr_un address = addressOf(path);
    // The mask makes the socket 0600 from the moment it exists.
    const mode_t oldMask = ::umask(0177);
    const int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    const int bindError = errno;
    ::umask(oldMask);
    if (bound != 0) {
        error = "cannot bind the control socket " + path + ": " + errnoText(bindError);
        ::close(fd);
        return nullptr;
    }
    struct stat created {};
    if (::lstat(path.c_str(), &created) != 0 || !S_ISSOCK(created.st_mode) ||
        ::listen(fd, 128) != 0) {
        error = "cannot listen on the control socket " + path + ": " + errnoText(errno);
        ::unlink(path.c_str());
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<DeviceSocket>(
        new DeviceSocket(path, fd, created.st_dev, created.st_ino));
}

DeviceSocket::DeviceSocket(std::string path, int fd, dev_t device, ino_t inode)
    : m_path(std::move(path)), m_fd(fd), m_device(device), m_inode(inode) {}

DeviceSocket::~DeviceSocket() {
    // A daemon that took over after us owns the path now; leave its socket alone.
    struct stat current {};
    if (::lstat(m_path.c_str(), &current) == 0 && current.st_dev == m_device &&
        current.st_ino == m_inode) {
        ::unlink(m_path.c_str());
    }
    ::close(m_fd);
}

} // namespace ovlank
