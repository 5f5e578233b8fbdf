// Which process holds each socket: the socket inodes found in /proc/<pid>/fd.
//
// Reading every descriptor link of every process is what makes a full walk slow
// (one readlink per descriptor), so the index keeps what it learnt between updates
// and reads a process's descriptors again only when they may have changed: a new
// process, a changed descriptor count, or a socket of the table that nobody is known
// to hold (then every process is read once). A full walk also runs every
// kFullSweepInterval updates, for the rare hand-over that changes no count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace tavrin {

class SocketOwnerIndex final {
public:
    static constexpr unsigned kFullSweepInterval = 30;

    SocketOwnerIndex();

    // Brings the index up to date for a table holding the socket inodes `wanted`
    // (0 entries are ignored). False with an errno value when /proc cannot be listed.
    bool update(std::span<const uint64_t> wanted, int& error);

    // The lowest process id holding the socket, or -1.
    int32_t ownerOf(uint64_t inode) const;

    // Every known process in ascending id order with its socket inodes in descriptor
    // order, as read at the last update.
    struct Process {
        int64_t descriptorCount = -1; // as /proc reported it when last read; -1 unknown
        std::vector<uint64_t> sockets;
    };
    const std::map<int32_t, Process>& processes() const { return m_processes; }

    // What the last update did, for benchmarks and tests of the caching.
    struct Statistics {
        size_t processesListed = 0;
        size_t processesRead = 0;
        size_t linksRead = 0;
        bool fullSweep = false;
    };
    const Statistics& lastUpdate() const { return m_statistics; }

private:
    // Reads /proc/<pid>/fd into `process`; false when the process is gone.
    bool readProcess(int32_t pid, Process& process);
    void rebuildOwners();

    std::map<int32_t, Process> m_processes;
    std::unordered_map<uint64_t, int32_t> m_owners;
    std::unordered_set<uint64_t> m_ownerless; // unheld after the last full walk
    bool m_countsUsable;                      // /proc reports descriptor counts
    unsigned m_updatesSinceSweep = 0;
    Statistics m_statistics;
};

// The inode of a descriptor link's text "socket:[12345]"; 0 for anything else.
uint64_t socketInodeOfLink(const char* link, size_t length);

// The numeric entries of /proc (processes), ascending. False with errno on failure.
bool listProcessIds(std::vector<int32_t>& out, int& error);

} // namespace tavrin
