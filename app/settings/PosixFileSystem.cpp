#include "PosixFileSystem.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
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
                                              std::optional<unsigned> permissions) {
    // O_EXCL: never through a link or into a file someone else made.
    Descriptor fd(::open(path.c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0644));
    if (fd.get() < 0)
        return lastError();
    if (permissions && ::fchmod(fd.get(), static_cast<mode_t>(*permissions & 0777)) != 0)
        return lastError();
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

FileStatus PosixFileSystem::status(const std::string& path) {
    FileStatus result;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return result;
    result.exists = true;
    result.regular = S_ISREG(st.st_mode);
    result.readOnly = (st.st_mode & S_IWUSR) == 0;
    result.permissions = static_cast<unsigned>(st.st_mode & 0777);
    result.size = static_cast<unsigned long long>(st.st_size);
    return result;
}

} // namespace tavrin::settings
