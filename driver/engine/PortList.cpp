#include "PortList.h"

namespace ovlank {

void PortList::unmarkEntries() {
    for (uint16_t i = 0; i < m_marked; ++i)
        m_bits[m_entries[i] >> 6] &= ~(uint64_t{1} << (m_entries[i] & 63));
    m_marked = 0;
}

void PortList::reset() {
    unmarkEntries();
    m_count = 0;
    m_selector = 0;
}

void PortList::set(uint16_t selector, uint16_t count, std::span<const uint16_t> ports) {
    m_selector = selector;
    if (count == kPortListMatchesNothing) {
        m_count = count;
        return;
    }
    unmarkEntries();
    for (uint16_t i = 0; i < count && i < ports.size() && i < kMaxPortListEntries; ++i) {
        m_entries[i] = ports[i];
        m_bits[ports[i] >> 6] |= uint64_t{1} << (ports[i] & 63);
        m_marked = static_cast<uint16_t>(i + 1);
    }
    m_count = m_marked;
}

} // namespace ovlank
