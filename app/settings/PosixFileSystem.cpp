#include "PosixFileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace tavrin::settings {

namespace {

std::error_code lastError() {
    return {errno, std::generic_category()};
}

// Files we read are small text files; anything larger is not ours.
constexpr off_t kMaxReadSize = 64 * 1024 * 1024;

class Descriptor final {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    // close() reports errors of delayed writes on some file systems.
    std::error_code close() {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0 ? std::error_code{} : lastError();
    }

private:
    int m_fd;
};

} // namespace

std::error_code PosixFileSystem::readFile(const std::string& path, std::string& bytes) {
    bytes.clear();
    // Without O_NONBLOCK, opening a FIFO would wait for a writer for ever; the check
    // below then refuses it. Reads of a regular file never block either way.
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0)
        return lastError();
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        return lastError();
    if (!S_ISREG(st.st_mode))
        return std::make_error_code(std::errc::invalid_argument);
    if (st.st_size > kMaxReadSize)
        return std::make_error_code(std::errc::file_too_large);
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return lastError();
        }
        if (n == 0)
            break;
        bytes.append(chunk, static_cast<size_t>(n));
        if (bytes.size() > static_cast<size_t>(kMaxReadSize))
            return std::make_error_code(std::errc::file_too_large);
    }
    return {};
}

std::error_code PosixFileSystem::writeNewFile(const std::string& path, std::string_view bytes,
                                              std::optional<FileOwner> owner) {
    // O_EXCL: never through a link or into a file someone else made.
    Descriptor fd(::open(path.c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0644));
    if (fd.get() < 0)
        return lastError();
    if (owner) {
        struct stat st {};
        if (::fstat(fd.get(), &st) != 0)
            return lastError();
        // Before the mode: a change of owner clears the set-ID bits.
        if ((st.st_uid != owner->uid || st.st_gid != owner->gid) &&
            ::fchown(fd.get(), owner->uid, owner->gid) != 0)
            return lastError();
        if (::fchmod(fd.get(), static_cast<mode_t>(owner->permissions & 07777)) != 0)
            return lastError();
    }
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd.get(), p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return lastError();
        }
        if (n == 0)
            return std::make_error_code(std::errc::no_space_on_device);
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (::fsync(fd.get()) != 0)
        return lastError();
    return fd.close();
}

std::error_code PosixFileSystem::rename(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0 ? std::error_code{} : lastError();
}

std::error_code PosixFileSystem::remove(const std::string& path) {
    return ::unlink(path.c_str()) == 0 ? std::error_code{} : lastError();
}

std::error_code PosixFileSystem::syncDirectory(const std::string& directory) {
    Descriptor fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0)
        return lastError();
    if (::fsync(fd.get()) != 0)
        return lastError();
    return {};
}

namespace {

FileStatus statusFrom(const struct stat& st, const std::string& path, bool follow) {
    FileStatus result;
    result.exists = true;
    result.regular = S_ISREG(st.st_mode);
    result.directory = S_ISDIR(st.st_mode);
    result.symlink = S_ISLNK(st.st_mode);
    result.readOnly = (st.st_mode & S_IWUSR) == 0;
    result.permissions = static_cast<unsigned>(st.st_mode & 07777);
    result.size = static_cast<unsigned long long>(st.st_size);
    result.uid = st.st_uid;
    result.gid = st.st_gid;
    if (result.directory) {
        // The ACL is stored only when it says more than the mode does.
        const char* name = "system.posix_acl_access";
        const ssize_t n = follow ? ::getxattr(path.c_str(), name, nullptr, 0)
                                 : ::lgetxattr(path.c_str(), name, nullptr, 0);
        result.extendedAcl = n > 0;
    }
    return result;
}

// The buffer size that the reentrant account functions want.
size_t accountBufferSize() {
    const long size = ::sysconf(_SC_GETGR_R_SIZE_MAX);
    return size > 0 ? static_cast<size_t>(size) : 16384;
}

} // namespace

FileStatus PosixFileSystem::status(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return {};
    return statusFrom(st, path, true);
}

FileStatus PosixFileSystem::linkStatus(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return {};
    return statusFrom(st, path, false);
}

std::error_code PosixFileSystem::readLink(const std::string& path, std::string& target) {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
        if (n < 0)
            return lastError();
        if (static_cast<size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<size_t>(n));
            target = std::move(buffer);
            return {};
        }
        // The text may have been cut: ask again with more room.
        buffer.assign(buffer.size() * 2, '\0');
    }
}

std::optional<std::vector<unsigned>> PosixFileSystem::groupMembers(unsigned gid) {
    std::vector<unsigned> members;
    std::vector<char> buffer(accountBufferSize());
    group grp{};
    group* found = nullptr;
    int rc;
    while ((rc = ::getgrgid_r(gid, &grp, buffer.data(), buffer.size(), &found)) == ERANGE)
        buffer.resize(buffer.size() * 2);
    if (rc != 0)
        return std::nullopt;
    std::vector<std::string> names;
    if (found != nullptr)
        for (char** member = grp.gr_mem; *member != nullptr; ++member)
            names.emplace_back(*member);
    for (const std::string& name : names) {
        passwd pw{};
        passwd* user = nullptr;
        std::vector<char> userBuffer(accountBufferSize());
        while ((rc = ::getpwnam_r(name.c_str(), &pw, userBuffer.data(), userBuffer.size(),
                                  &user)) == ERANGE)
            userBuffer.resize(userBuffer.size() * 2);
        // A member that names no user cannot log in as one; a failed look-up is not
        // known to be harmless.
        if (rc != 0)
            return std::nullopt;
        if (user != nullptr)
            members.push_back(pw.pw_uid);
    }
    // Users whose primary group it is are in it without being listed.
    std::vector<unsigned> primary;
    ::setpwent();
    for (;;) {
        passwd pw{};
        passwd* user = nullptr;
        rc = ::getpwent_r(&pw, buffer.data(), buffer.size(), &user);
        if (rc == ERANGE) {
            ::endpwent();
            buffer.resize(buffer.size() * 2);
            ::setpwent();
            primary.clear();
            continue;
        }
        if (rc != 0 || user == nullptr)
            break;
        if (pw.pw_gid == gid)
            primary.push_back(pw.pw_uid);
    }
    ::endpwent();
    members.insert(members.end(), primary.begin(), primary.end());
    std::sort(members.begin(), members.end());
    members.erase(std::unique(members.begin(), members.end()), members.end());
    return members;
}

} // namespace tavrin::settings
