// Which process holds each socket: the socket inodes found in /proc/<pid>/fd.
//
// Reading every descriptor link of every process is what makes a full walk slow
// (one readlink per descriptor), so the index keeps each process's descriptors
// between updates and looks at a process again only when they may have changed: a
// new process, or a changed descriptor count. Even then it lists the descriptors
// and reads only the links that may have changed: new descriptor numbers, sockets
// that have left the table, and descriptors that were no socket. A socket of the
// table that nobody is known to hold, and that nobody held at the update before
// either, makes it look at every process that way, and if that does not find it,
// read every link of every process. Waiting for the second sighting spares the
// sweep for sockets closed between the table and the walk, which under ordinary
// connection turnover is nearly every update; a socket handed to a process whose
// count did not change gets its owner one update later. Besides, each update
// reads every link of one process, taking them in turn, for the rare hand-over that
// none of this notices (a shared socket's descriptor closed and its number reused
// at once); the cost stays spread out instead of landing on one refresh.
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
    SocketOwnerIndex();

    // Brings the index up to date for a table holding the socket inodes `wanted`
    // (0 entries are ignored). False with an errno value when /proc cannot be listed.
    bool update(std::span<const uint64_t> wanted, int& error);

    // The lowest process id holding the socket, or -1.
    int32_t ownerOf(uint64_t inode) const;

    // Every known process in ascending id order with its socket inodes in descriptor
    // order, as read at the last update.
    struct Descriptor {
        int32_t number;
        uint64_t inode; // 0: not a socket
    };
    struct Process {
        int64_t descriptorCount = -1;        // as /proc reported it when last read; -1 unknown
        std::vector<Descriptor> descriptors; // ascending numbers
        std::vector<uint64_t> sockets;       // the socket inodes, in descriptor order
    };
    const std::map<int32_t, Process>& processes() const { return m_processes; }

    // What the last update did, for benchmarks and tests of the caching.
    struct Statistics {
        size_t processesListed = 0;
        size_t processesRead = 0; // descriptor folders listed
        size_t linksRead = 0;
        bool sweep = false;     // every process looked at
        bool fullSweep = false; // every link read
    };
    const Statistics& lastUpdate() const { return m_statistics; }

private:
    // Reads /proc/<pid>/fd into `process`; false when the process is gone. With
    // `alive` (sorted inodes of the table) a descriptor whose socket is still in the
    // table keeps what was read before; without it every link is read.
    bool readProcess(int32_t pid, Process& process, const std::vector<uint64_t>* alive);
    void rebuildOwners();
    // The inodes of `wanted` nobody is known to hold, sorted.
    std::vector<uint64_t> unheld(std::span<const uint64_t> wanted) const;
    bool anySeenUnheldBefore(const std::vector<uint64_t>& inodes) const;

    std::map<int32_t, Process> m_processes;
    std::unordered_map<uint64_t, int32_t> m_owners;
    std::unordered_set<uint64_t> m_ownerless; // unheld after the last full walk
    std::vector<uint64_t> m_unheld;           // unheld at the last update, sorted
    bool m_countsUsable;                      // /proc reports descriptor counts
    int32_t m_lastRereadPid = 0;              // the process read in full last, in turn
    Statistics m_statistics;
};

// The inode of a descriptor link's text "socket:[12345]"; 0 for anything else.
uint64_t socketInodeOfLink(const char* link, size_t length);

// The numeric entries of /proc (processes), ascending. False with errno on failure.
bool listProcessIds(std::vector<int32_t>& out, int& error);

} // namespace tavrin
