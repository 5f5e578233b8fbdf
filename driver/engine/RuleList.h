// The ordered list of at most 64 rules. Rules live in one array taken when the engine
// is made, so adding a rule never allocates and the hook never meets freed memory.
// Not synchronised: the engine calls it under its lock.
#pragma once

#include "OvlankProtocol.h"
#include "PacketFields.h"
#include "Rule.h"

#include <array>
#include <cstdint>
#include <span>

namespace ovlank {

class RuleList final {
public:
    uint32_t size() const { return m_count; }

    // STATUS_UNSUCCESSFUL when the list is full; the record must be valid.
    NtStatus add(const DriverRule& record);
    // Empties the list and zeroes every counter.
    void clear();
    // STATUS_INVALID_PARAMETER when the index is past the end.
    NtStatus change(uint32_t index, const DriverRule& record);
    // STATUS_INVALID_PARAMETER when the index is past the end or the count is above
    // 256 and not "matches nothing"; `ports` holds the count's entries.
    NtStatus setPorts(uint32_t index, uint16_t selector, uint16_t count,
                      std::span<const uint16_t> ports);

    // The index of the first rule that matches the packet, or -1.
    int32_t findMatch(const PacketFields& packet) const;

    Rule& at(uint32_t index) { return m_rules[index]; }
    const Rule& at(uint32_t index) const { return m_rules[index]; }

    void resetCounters();

private:
    std::array<Rule, kMaxRules> m_rules{};
    uint32_t m_count = 0;
};

} // namespace ovlank
