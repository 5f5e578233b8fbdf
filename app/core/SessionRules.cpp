#include "SessionRules.h"

#include <algorithm>

namespace tavrin::core {

uint32_t limitFactor(int32_t periodMs) {
    if (periodMs <= 0)
        return 0;
    return static_cast<uint32_t>(static_cast<int64_t>(periodMs) * 1024 / 1000);
}

ovlank::DriverRule driverRuleFor(const PacketFilter& filter, int32_t periodMs) {
    ovlank::DriverRule rule{};
    filter.ToDriverRule(rule);
    const uint64_t scaled = static_cast<uint64_t>(rule.limit) * limitFactor(periodMs);
    rule.limit = static_cast<uint32_t>(std::min<uint64_t>(scaled, UINT32_MAX));
    return rule;
}

} // namespace tavrin::core
