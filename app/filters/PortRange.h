// One inclusive port range, both bounds in network order: the same 4 bytes as a
// range of a driver rule, so lists copy into rules as they stand.
#pragma once

#include "OvlankProtocol.h"

#include <arpa/inet.h>
#include <cstddef>
#include <cstdint>

namespace tavrin {

struct PortRange {
    uint16_t low = 0;  // network order
    uint16_t high = 0; // network order

    static PortRange fromHost(uint16_t lowPort, uint16_t highPort) {
        return PortRange{htons(lowPort), htons(highPort)};
    }
    static PortRange single(uint16_t hostPort) { return fromHost(hostPort, hostPort); }

    uint16_t hostLow() const { return ntohs(low); }
    uint16_t hostHigh() const { return ntohs(high); }
    bool contains(uint16_t hostPort) const {
        return hostLow() <= hostPort && hostPort <= hostHigh();
    }

    ovlank::DriverPortRange toDriver() const { return ovlank::DriverPortRange{low, high}; }

    bool operator==(const PortRange&) const = default;
};

static_assert(sizeof(PortRange) == sizeof(ovlank::DriverPortRange));
static_assert(offsetof(PortRange, low) == offsetof(ovlank::DriverPortRange, low));
static_assert(offsetof(PortRange, high) == offsetof(ovlank::DriverPortRange, high));
static_assert(alignof(PortRange) == alignof(ovlank::DriverPortRange));

} // namespace tavrin
