#include "PortRangeSet.h"

#include "ByteOrder.h"

namespace ovlank {

void PortRangeSet::assign(const DriverPortRange* ranges, uint32_t count) {
    m_count = count;
    for (uint32_t i = 0; i < kMaxPortRanges; ++i) {
        if (i < count) {
            m_low[i] = networkToHost16(ranges[i].low);
            m_high[i] = networkToHost16(ranges[i].high);
        } else {
            m_low[i] = 0xFFFF;
            m_high[i] = 0;
        }
    }
}

} // namespace ovlank
