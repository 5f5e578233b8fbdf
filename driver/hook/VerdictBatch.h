// Collects the verdicts for one read of the queue and writes them as netlink
// messages for a single send: every drop on its own, then one batch verdict that
// accepts all remaining packets up to the highest accepted id.
#pragma once

#include "Engine.h"

#include <cstdint>
#include <span>
#include <vector>

namespace ovlank {

class VerdictBatch final {
public:
    static constexpr size_t kMaxPackets = 64;

    explicit VerdictBatch(uint16_t queue);

    // Ids must come in the order the kernel handed the packets over.
    void add(uint32_t packetId, Verdict verdict);
    bool empty() const { return m_drops.empty() && !m_anyAccepted; }
    size_t dropCount() const { return m_drops.size(); }

    // The messages for everything added since the last clear().
    std::span<const uint8_t> messages();
    void clear();

private:
    uint16_t m_queue;
    std::vector<uint32_t> m_drops;
    uint32_t m_highestAccepted = 0;
    bool m_anyAccepted = false;
    std::vector<uint8_t> m_buffer;
};

} // namespace ovlank
