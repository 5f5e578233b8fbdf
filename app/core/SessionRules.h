// The driver rule the session sends for a packet filter: its own conversion with
// the limit turned from KB/s into bytes per bandwidth control period.
#pragma once

#include "OvlankProtocol.h"
#include "PacketFilter.h"

#include <cstdint>

namespace tavrin::core {

// trunc(period × 1.024): 250 ms gives 256, 100 ms gives 102, 300 ms gives 307.
uint32_t limitFactor(int32_t periodMs);

// The filter's rule with its limit scaled for the period; a limit that would not fit
// the rule's 32 bits becomes the largest it can hold rather than wrapping to a small one.
ovlank::DriverRule driverRuleFor(const PacketFilter& filter, int32_t periodMs);

} // namespace tavrin::core
