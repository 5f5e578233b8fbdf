// The port list of one rule (SET_PORTS): a count, a selector and up to 256 host-order
// ports. Besides the entries it keeps a bitmap of them, so a packet is checked with
// one bit test instead of a walk over 256 entries.
#pragma once

#include "OvlankProtocol.h"

#include <cstdint>
#include <span>

namespace ovlank {

class PortList final {
public:
    // No restriction (a freshly added rule).
    void reset();

    // `count` is 0 to 256, or kPortListMatchesNothing, in which case the entries are
    // left as they are. `ports` holds at least `count` entries otherwise.
    void set(uint16_t selector, uint16_t count, std::span<const uint16_t> ports);

    bool matches(uint16_t sourcePort, uint16_t destinationPort) const {
        if (m_count == 0)
            return true;
        if (m_count == kPortListMatchesNothing)
            return false;
        const uint16_t port = m_selector == 0 ? sourcePort : destinationPort;
        return (m_bits[port >> 6] >> (port & 63)) & 1u;
    }

    // A list that restricts ports cannot match a packet whose ports are unknown.
    bool restricts() const { return m_count != 0; }

    uint16_t count() const { return m_count; }

private:
    void unmarkEntries();

    uint16_t m_count = 0;
    uint16_t m_selector = 0;
    // How many of m_entries are marked in m_bits; may differ from m_count after a
    // "matches nothing" count, which leaves the entries in place.
    uint16_t m_marked = 0;
    uint16_t m_entries[kMaxPortListEntries] = {};
    uint64_t m_bits[65536 / 64] = {};
};

} // namespace ovlank
