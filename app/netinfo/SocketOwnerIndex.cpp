#include "SocketOwnerIndex.h"

#include "NumberText.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrin {

namespace {

// Longest text of a socket link: "socket:[" + 20 digits + "]".
constexpr size_t kLinkBufferSize = 64;

// A process or descriptor number: a whole decimal that fits 32 bits; -1 otherwise.
int64_t parseProcessId(const char* name) {
    const std::optional<uint64_t> value = parseWholeDecimal(name);
    return value && *value <= INT32_MAX ? static_cast<int64_t>(*value) : -1;
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

bool SocketOwnerIndex::readProcess(int32_t pid, Process& process,
                                   const std::vector<uint64_t>* alive) {
    char path[40];
    descriptorFolder(pid, path);
    const int folder = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        // Gone, or not ours to read: known to have no sockets we can see.
        const bool gone = errno == ENOENT || errno == ESRCH;
        process.descriptors.clear();
        process.sockets.clear();
        return !gone;
    }
    DIR* dir = ::fdopendir(folder);
    if (dir == nullptr) {
        ::close(folder);
        process.descriptors.clear();
        process.sockets.clear();
        return true;
    }
    ++m_statistics.processesRead;
    std::vector<Descriptor> before;
    before.swap(process.descriptors);
    process.sockets.clear();
    auto known = before.begin();
    char link[kLinkBufferSize];
    while (const dirent* entry = ::readdir(dir)) {
        const int64_t number = parseProcessId(entry->d_name);
        if (number < 0)
            continue; // "." and ".."
        Descriptor descriptor{static_cast<int32_t>(number), 0};
        // The listing is in ascending order, like the kept descriptors.
        while (known != before.end() && known->number < descriptor.number)
            ++known;
        const bool kept = alive != nullptr && known != before.end() &&
                          known->number == descriptor.number && known->inode != 0 &&
                          std::binary_search(alive->begin(), alive->end(), known->inode);
        if (kept) {
            descriptor.inode = known->inode;
        } else {
            const ssize_t length = ::readlinkat(folder, entry->d_name, link, sizeof(link));
            ++m_statistics.linksRead;
            if (length <= 0 || static_cast<size_t>(length) >= sizeof(link))
                continue; // closed meanwhile, or a long path: not a socket
            descriptor.inode = socketInodeOfLink(link, static_cast<size_t>(length));
        }
        process.descriptors.push_back(descriptor);
        if (descriptor.inode != 0)
            process.sockets.push_back(descriptor.inode);
    }
    ::closedir(dir);
    // Numbers are listed in ascending order; keep it so even if a kernel did not.
    const auto byNumber = [](const Descriptor& a, const Descriptor& b) {
        return a.number < b.number;
    };
    if (!std::is_sorted(process.descriptors.begin(), process.descriptors.end(), byNumber))
        std::sort(process.descriptors.begin(), process.descriptors.end(), byNumber);
    return true;
}

std::vector<uint64_t> SocketOwnerIndex::unheld(std::span<const uint64_t> wanted) const {
    std::vector<uint64_t> out;
    for (const uint64_t inode : wanted) {
        if (inode != 0 && !m_owners.contains(inode) && !m_ownerless.contains(inode))
            out.push_back(inode);
    }
    std::sort(out.begin(), out.end());
    return out;
}

bool SocketOwnerIndex::anySeenUnheldBefore(const std::vector<uint64_t>& inodes) const {
    return std::any_of(inodes.begin(), inodes.end(), [&](uint64_t inode) {
        return std::binary_search(m_unheld.begin(), m_unheld.end(), inode);
    });
}

bool SocketOwnerIndex::update(std::span<const uint64_t> wanted, int& error) {
    m_statistics = {};
    std::vector<int32_t> pids;
    if (!listProcessIds(pids, error))
        return false;
    m_statistics.processesListed = pids.size();
    std::vector<uint64_t> alive(wanted.begin(), wanted.end());
    std::sort(alive.begin(), alive.end());

    bool changed = false;
    std::vector<int32_t> unread; // kept from the last update, not looked at now
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
        std::vector<uint64_t> socketsBefore;
        if (known != m_processes.end()) {
            process = std::move(known->second);
            socketsBefore = process.sockets;
        }
        process.descriptorCount = count;
        if (!readProcess(pid, process, &alive))
            continue; // ended between the listing and the read
        if (known == m_processes.end() || socketsBefore != process.sockets)
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

    auto readAll = [&](const std::vector<int32_t>& which, const std::vector<uint64_t>* keep) {
        for (const int32_t pid : which) {
            const auto it = m_processes.find(pid);
            if (it != m_processes.end() && !readProcess(pid, it->second, keep))
                m_processes.erase(it);
        }
        rebuildOwners();
    };
    // A socket nobody is known to hold, seen for the first time, is most often one
    // closed between the table and the walk, and gone by the next update. One still
    // unheld at the next update was opened by, or handed to, a process whose count did
    // not change: look at the others, then read every link.
    std::vector<uint64_t> nowUnheld = unheld(wanted);
    if (anySeenUnheldBefore(nowUnheld)) {
        m_statistics.sweep = true;
        readAll(unread, &alive);
        nowUnheld = unheld(wanted);
        if (anySeenUnheldBefore(nowUnheld)) {
            pids.clear();
            for (const auto& entry : m_processes)
                pids.push_back(entry.first);
            m_statistics.fullSweep = true;
            readAll(pids, nullptr);
        }
    }
    if (!m_statistics.fullSweep && !m_processes.empty()) {
        auto next = m_processes.upper_bound(m_lastRereadPid);
        if (next == m_processes.end())
            next = m_processes.begin();
        m_lastRereadPid = next->first;
        const std::vector<uint64_t> before = next->second.sockets;
        if (!readProcess(next->first, next->second, nullptr)) {
            m_processes.erase(next);
            rebuildOwners();
        } else if (next->second.sockets != before) {
            rebuildOwners();
        }
    }
    if (m_statistics.fullSweep) {
        // Sockets still unheld belong to no process we can see (kernel sockets, or
        // processes we may not read); asking again each second would only cost time.
        m_ownerless.clear();
        for (const uint64_t inode : wanted) {
            if (inode != 0 && !m_owners.contains(inode))
                m_ownerless.insert(inode);
        }
        m_unheld.clear();
    } else {
        m_unheld = unheld(wanted);
        std::erase_if(m_ownerless, [&](uint64_t inode) {
            return !std::binary_search(alive.begin(), alive.end(), inode);
        });
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
