#include "SocketOwnerIndex.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrin {

namespace {

// Longest text of a socket link: "socket:[" + 20 digits + "]".
constexpr size_t kLinkBufferSize = 64;

// Parses a whole decimal number of at most 10 digits that fits 32 bits; -1 otherwise.
int64_t parseProcessId(const char* name) {
    int64_t value = 0;
    size_t digits = 0;
    for (; name[digits] != '\0'; ++digits) {
        if (name[digits] < '0' || name[digits] > '9' || digits >= 10)
            return -1;
        value = value * 10 + (name[digits] - '0');
    }
    return digits == 0 || value > INT32_MAX ? -1 : value;
}

void descriptorFolder(int32_t pid, char (&path)[40]) {
    std::snprintf(path, sizeof(path), "/proc/%d/fd", static_cast<int>(pid));
}

} // namespace

uint64_t socketInodeOfLink(const char* link, size_t length) {
    static constexpr char kPrefix[] = "socket:[";
    constexpr size_t kPrefixLength = sizeof(kPrefix) - 1;
    if (length < kPrefixLength + 2 || std::memcmp(link, kPrefix, kPrefixLength) != 0 ||
        link[length - 1] != ']')
        return 0;
    uint64_t value = 0;
    for (size_t i = kPrefixLength; i + 1 < length; ++i) {
        const char c = link[i];
        if (c < '0' || c > '9' || value > (UINT64_MAX - 9) / 10)
            return 0;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value;
}

bool listProcessIds(std::vector<int32_t>& out, int& error) {
    out.clear();
    DIR* dir = ::opendir("/proc");
    if (dir == nullptr) {
        error = errno;
        return false;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const int64_t pid = parseProcessId(entry->d_name);
        if (pid > 0)
            out.push_back(static_cast<int32_t>(pid));
    }
    ::closedir(dir);
    std::sort(out.begin(), out.end());
    return true;
}

SocketOwnerIndex::SocketOwnerIndex() {
    // Kernels from 6.2 on report the number of open descriptors as the size of
    // /proc/<pid>/fd; older ones report 0, and then every process is read each time.
    struct stat info {};
    m_countsUsable = ::stat("/proc/self/fd", &info) == 0 && info.st_size > 0;
}

bool SocketOwnerIndex::readProcess(int32_t pid, Process& process) {
    char path[40];
    descriptorFolder(pid, path);
    const int folder = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        // Gone, or not ours to read: known to have no sockets we can see.
        process.sockets.clear();
        return errno != ENOENT && errno != ESRCH;
    }
    DIR* dir = ::fdopendir(folder);
    if (dir == nullptr) {
        ::close(folder);
        process.sockets.clear();
        return true;
    }
    ++m_statistics.processesRead;
    process.sockets.clear();
    char link[kLinkBufferSize];
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        const ssize_t length = ::readlinkat(folder, entry->d_name, link, sizeof(link));
        ++m_statistics.linksRead;
        if (length <= 0 || static_cast<size_t>(length) >= sizeof(link))
            continue; // closed meanwhile, or a long path: not a socket
        if (const uint64_t inode = socketInodeOfLink(link, static_cast<size_t>(length)))
            process.sockets.push_back(inode);
    }
    ::closedir(dir);
    return true;
}

bool SocketOwnerIndex::update(std::span<const uint64_t> wanted, int& error) {
    m_statistics = {};
    std::vector<int32_t> pids;
    if (!listProcessIds(pids, error))
        return false;
    m_statistics.processesListed = pids.size();

    bool changed = false;
    std::vector<int32_t> unread; // kept from the last update, not read now
    std::map<int32_t, Process> current;
    char path[40];
    for (const int32_t pid : pids) {
        int64_t count = -1;
        if (m_countsUsable) {
            descriptorFolder(pid, path);
            struct stat info {};
            if (::stat(path, &info) == 0)
                count = info.st_size;
        }
        auto known = m_processes.find(pid);
        if (known != m_processes.end() && count >= 0 && known->second.descriptorCount == count) {
            current.emplace(pid, std::move(known->second));
            unread.push_back(pid);
            continue;
        }
        Process process;
        process.descriptorCount = count;
        if (!readProcess(pid, process))
            continue; // ended between the listing and the read
        if (known == m_processes.end() || known->second.sockets != process.sockets)
            changed = true;
        current.emplace(pid, std::move(process));
    }
    // A process that ended drops out of `current`; that changes the owners too.
    for (const auto& [pid, process] : m_processes) {
        if (!process.sockets.empty() && !current.contains(pid)) {
            changed = true;
            break;
        }
    }
    m_processes = std::move(current);
    if (changed)
        rebuildOwners();

    // A socket nobody is known to hold may have been handed over or opened by a
    // process whose count did not change: read every process not read just now.
    auto unheld = [&](uint64_t inode) {
        return inode != 0 && !m_owners.contains(inode) && !m_ownerless.contains(inode);
    };
    const bool sweepDue = ++m_updatesSinceSweep >= kFullSweepInterval;
    if (sweepDue || std::any_of(wanted.begin(), wanted.end(), unheld)) {
        m_statistics.fullSweep = true;
        m_updatesSinceSweep = 0;
        for (const int32_t pid : unread) {
            Process& process = m_processes[pid];
            if (!readProcess(pid, process))
                m_processes.erase(pid);
        }
        rebuildOwners();
        // Sockets still unheld belong to no process we can see (kernel sockets, or
        // processes we may not read); asking again each second would only cost time.
        m_ownerless.clear();
        for (const uint64_t inode : wanted) {
            if (inode != 0 && !m_owners.contains(inode))
                m_ownerless.insert(inode);
        }
    } else if (!m_ownerless.empty()) {
        std::unordered_set<uint64_t> still;
        for (const uint64_t inode : wanted) {
            if (m_ownerless.contains(inode))
                still.insert(inode);
        }
        m_ownerless = std::move(still);
    }
    return true;
}

void SocketOwnerIndex::rebuildOwners() {
    m_owners.clear();
    // Ascending ids: the first holder met is the lowest id, which keeps the owner.
    for (const auto& [pid, process] : m_processes) {
        for (const uint64_t inode : process.sockets)
            m_owners.try_emplace(inode, pid);
    }
}

int32_t SocketOwnerIndex::ownerOf(uint64_t inode) const {
    if (inode == 0)
        return -1;
    const auto it = m_owners.find(inode);
    return it == m_owners.end() ? -1 : it->second;
}

} // namespace tavrin
