#include "DynamicFilterPass.h"

#include "SessionRules.h"

#include <boost/make_shared.hpp>

#include <algorithm>
#include <cstring>

namespace tavrin::core {

namespace {

// A band given in KB/s; 0 is no bound. Compared in 64 bits so that no threshold
// overflows.
bool inBand(int32_t rate, int32_t lowKb, int32_t highKb) {
    if (lowKb != 0 && static_cast<int64_t>(rate) < static_cast<int64_t>(lowKb) * 1024)
        return false;
    if (highKb != 0 && static_cast<int64_t>(rate) > static_cast<int64_t>(highKb) * 1024)
        return false;
    return true;
}

void sendChange(uint32_t ruleIndex, const PacketFilter& filter, int32_t periodMs,
                DriverService& driver, FailureEpisodes& failures) {
    ovlank::ChangeFilterRequest request{};
    request.ruleIndex = ruleIndex;
    request.rule = driverRuleFor(filter, periodMs);
    uint8_t bytes[sizeof request];
    std::memcpy(bytes, &request, sizeof request);
    if (driver.Send(ovlank::CHANGE_FILTER, bytes) == kServiceOk)
        failures.succeeded(ovlank::CHANGE_FILTER);
    else if (driver.deviceOpen()) // one lost with the link is the link keeper's to report
        failures.failed(ovlank::CHANGE_FILTER);
}

} // namespace

bool Evaluate(const DynamicFilter& dynamic, const PacketFilter& packet, PacketFilter& out,
              const DynamicFilter::PacketFilterLookup& inForce, const ConditionSource& conditions) {
    // A filter without an ID (all 63 were taken) cannot be named as a target.
    const auto& targets = dynamic.targetFilterIds;
    if (packet.id == 0 || std::find(targets.begin(), targets.end(), packet.id) == targets.end())
        return false;
    if (!dynamic.runningProcessName.empty() &&
        conditions.processIdByName(dynamic.runningProcessName) == -1)
        return false;
    if (!dynamic.connectingProcessName.empty()) {
        const int32_t process = conditions.processIdByName(dynamic.connectingProcessName);
        if (process == -1 || !conditions.hasOpenConnection(process))
            return false;
    }
    if (dynamic.triggerFilterId != 0) {
        const PacketFilter* trigger = inForce ? inForce(dynamic.triggerFilterId) : nullptr;
        if (trigger == nullptr)
            return false;
        if (!inBand(static_cast<int32_t>(trigger->averageBandwidth), dynamic.filterBandwidthLow,
                    dynamic.filterBandwidthHigh))
            return false;
    }
    if (!inBand(conditions.totalUpRate(), dynamic.totalUpLow, dynamic.totalUpHigh))
        return false;
    if (!inBand(conditions.totalDownRate(), dynamic.totalDownLow, dynamic.totalDownHigh))
        return false;
    out = packet;
    out.drop = dynamic.drop;
    out.dropSynOnly = dynamic.dropSynOnly;
    out.doBand = dynamic.doBand;
    out.bandwidth = dynamic.bandwidth;
    out.minimumPacketSize = dynamic.minimumPacketSize;
    out.appliedDynamicFilterId = dynamic.id;
    return true;
}

void DynamicFilterPass::run(const Inputs& inputs, const ConditionSource& conditions,
                            DriverService& driver, FailureEpisodes& failures) {
    std::vector<uint32_t> previous;
    for (const auto& [rule, filter] : m_overrides)
        previous.push_back(rule);
    m_overrides.clear();

    // Enabled filters by rule index; rules past the driver's table were never sent.
    std::vector<const PacketFilter*> rules;
    for (const PacketFilter* f : inputs.packetFilters) {
        if (f != nullptr && f->available == 1 && rules.size() < ovlank::kMaxRules)
            rules.push_back(f);
    }

    if (inputs.filtering && inputs.dynamicFiltering) {
        const DynamicFilter::PacketFilterLookup inForce = [&](int32_t id) -> const PacketFilter* {
            if (id == 0)
                return nullptr;
            for (const PacketFilter* f : inputs.packetFilters) {
                if (f != nullptr && f->id == id)
                    return f;
            }
            return nullptr;
        };
        for (const DynamicFilter* dynamic : inputs.dynamicFilters) {
            if (dynamic == nullptr || dynamic->available != 1)
                continue;
            for (uint32_t rule = 0; rule < rules.size(); ++rule) {
                PacketFilter changed;
                if (Evaluate(*dynamic, *rules[rule], changed, inForce, conditions)) {
                    // Later dynamic filters replace earlier ones: the last in the list wins.
                    m_overrides[rule] = boost::make_shared<PacketFilter>(changed);
                }
            }
        }
        for (const auto& [rule, filter] : m_overrides) {
            sendChange(rule, *filter, inputs.periodMs, driver, failures);
            previous.erase(std::remove(previous.begin(), previous.end(), rule), previous.end());
        }
    }
    for (uint32_t rule : previous) {
        if (rule < rules.size())
            sendChange(rule, *rules[rule], inputs.periodMs, driver, failures);
    }
}

std::vector<int32_t> DynamicFilterPass::overriddenRules() const {
    std::vector<int32_t> out;
    for (const auto& [rule, filter] : m_overrides)
        out.push_back(static_cast<int32_t>(rule));
    return out;
}

} // namespace tavrin::core
