#include "PrivateFolder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrin::core {

namespace {

bool makeParents(const std::string& path, std::string& error) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            error = part + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

} // namespace

int openPrivateFolder(const std::string& path, std::string& error) {
    if (path.empty() || path.front() != '/') {
        error = path + ": not an absolute path";
        return -1;
    }
    std::string folder = path;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    if (!makeParents(folder, error))
        return -1;
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = folder + ": " + std::strerror(errno);
        return -1;
    }
    struct stat link {};
    if (::lstat(folder.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        error = folder + ": is a symbolic link";
        return -1;
    }
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        error = folder + ": " + std::strerror(errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = folder + ": not a folder";
    } else if (st.st_uid != ::geteuid()) {
        error = folder + ": owned by another user";
    } else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        error = folder + ": writable by others";
    } else {
        return fd;
    }
    ::close(fd);
    return -1;
}

std::string instanceFolderFor(const std::string& runtimeFolder) {
    if (::geteuid() == 0)
        return runtimeFolder;
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    if (xdg != nullptr && xdg[0] == '/')
        return std::string(xdg) + "/tavrin";
    return "/tmp/tavrin-" + std::to_string(::geteuid());
}

} // namespace tavrin::core
