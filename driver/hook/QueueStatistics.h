// The kernel's per-queue statistics from /proc/net/netfilter/nfnetlink_queue
// (per network namespace: the file shows the queues of the reader's namespace).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace ovlank {

struct QueueStatistics {
    uint32_t queue = 0;
    uint32_t peerPortId = 0;
    uint32_t waiting = 0; // packets queued and awaiting a verdict
    // Both stay 0 with the fail-open flag: the kernel then lets such packets pass.
    uint32_t kernelDropped = 0; // dropped because the queue was full
    uint32_t userDropped = 0;   // dropped because the reader's socket was full
    uint32_t lastPacketId = 0;  // the id given to the latest queued packet
};

// Parses the whole file's text; lines that do not have the expected columns are skipped.
std::vector<QueueStatistics> parseQueueStatistics(std::string_view text);

// Reads the file and picks one queue; empty when the queue is not bound.
std::optional<QueueStatistics> readQueueStatistics(uint32_t queue);

} // namespace ovlank
