// The source or destination port ranges of one rule, kept in host order. Slots past
// the count hold a range that contains nothing, so a lookup always runs over all 16
// slots without a branch and the compiler can do it in a few vector instructions.
#pragma once

#include "OvlankProtocol.h"

#include <cstdint>

namespace ovlank {

class PortRangeSet final {
public:
    // Takes the first `count` ranges (count at most 16) of a record in network order.
    void assign(const DriverPortRange* ranges, uint32_t count);

    // True when no range was given: every port matches.
    bool isAny() const { return m_count == 0; }
    uint32_t count() const { return m_count; }

    bool contains(uint16_t port) const {
        unsigned hit = 0;
        for (uint32_t i = 0; i < kMaxPortRanges; ++i)
            hit |=
                static_cast<unsigned>(m_low[i] <= port) & static_cast<unsigned>(port <= m_high[i]);
        return hit != 0;
    }

private:
    uint16_t m_low[kMaxPortRanges] = {};
    uint16_t m_high[kMaxPortRanges] = {};
    uint32_t m_count = 0;
};

} // namespace ovlank
