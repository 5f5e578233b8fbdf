// The ring of the most recent packet headers. The writer never looks at the reader:
// an unread entry is overwritten silently, and when the writer comes round to exactly
// the read position the ring reads as empty. Not synchronised: the engine calls it
// under its lock.
#pragma once

#include "OvlankProtocol.h"

#include <array>
#include <cstdint>

namespace ovlank {

class CaptureRing final {
public:
    void record(const CaptureEntry& entry, int32_t ruleIndex) {
        CaptureEntry& slot = m_slots[m_write];
        slot = entry;
        slot.ruleIndex = ruleIndex;
        m_write = next(m_write);
    }

    // Copies the oldest unread entry and advances past it; false when there is none.
    bool read(CaptureEntry& out) {
        if (m_read == m_write)
            return false;
        out = m_slots[m_read];
        m_read = next(m_read);
        return true;
    }

    // Empty, both positions at the start.
    void reset() { m_read = m_write = 0; }

private:
    static uint32_t next(uint32_t position) {
        return position + 1 == kCaptureRingSlots ? 0 : position + 1;
    }

    std::array<CaptureEntry, kCaptureRingSlots> m_slots{};
    uint32_t m_write = 0;
    uint32_t m_read = 0;
};

} // namespace ovlank
