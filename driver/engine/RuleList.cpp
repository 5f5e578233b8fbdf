#include "RuleList.h"

namespace ovlank {

NtStatus RuleList::add(const DriverRule& record) {
    if (m_count >= kMaxRules)
        return STATUS_UNSUCCESSFUL;
    Rule& rule = m_rules[m_count];
    rule.setMatchAndAction(record);
    rule.resetRuntime();
    ++m_count;
    return STATUS_SUCCESS;
}

void RuleList::clear() {
    resetCounters();
    m_count = 0;
}

NtStatus RuleList::change(uint32_t index, const DriverRule& record) {
    if (index >= m_count)
        return STATUS_INVALID_PARAMETER;
    m_rules[index].setMatchAndAction(record);
    return STATUS_SUCCESS;
}

NtStatus RuleList::setPorts(uint32_t index, uint16_t selector, uint16_t count,
                            std::span<const uint16_t> ports) {
    if (index >= m_count)
        return STATUS_INVALID_PARAMETER;
    if (count > kMaxPortListEntries && count != kPortListMatchesNothing)
        return STATUS_INVALID_PARAMETER;
    m_rules[index].portList().set(selector, count, ports);
    return STATUS_SUCCESS;
}

int32_t RuleList::findMatch(const PacketFields& packet) const {
    const bool tcp = packet.isTcp();
    const bool udp = packet.isUdp();
    for (uint32_t i = 0; i < m_count; ++i) {
        const Rule& rule = m_rules[i];
        if (!rule.matchesProtocolAndAddresses(packet))
            continue;
        if ((tcp || udp) && !rule.portRangesMatch(packet))
            continue;
        // UDP is matched on ranges alone.
        if (tcp && !rule.portListMatches(packet))
            continue;
        return static_cast<int32_t>(i);
    }
    return -1;
}

void RuleList::resetCounters() {
    for (Rule& rule : m_rules)
        rule.resetCounter();
}

} // namespace ovlank
