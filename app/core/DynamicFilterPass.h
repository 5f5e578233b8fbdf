// Dynamic filters applied to the driver: the test of one dynamic filter against one
// packet filter, and the pass that sends every override and puts back the rules
// whose override ended.
#pragma once

#include "DriverService.h"
#include "DynamicFilter.h"
#include "FailureEpisodes.h"
#include "PacketFilter.h"

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string_view>
#include <vector>

namespace tavrin::core {

// What the conditions of dynamic filters read from the machine.
class ConditionSource {
public:
    virtual ~ConditionSource() = default;
    // The process of a running executable with this file name, -1 when none runs.
    virtual int32_t processIdByName(std::string_view name) const = 0;
    // Whether the process has a TCP connection being set up or established.
    virtual bool hasOpenConnection(int32_t processId) const = 0;
    // The machine's total upload and download, bytes per second.
    virtual int32_t totalUpRate() const = 0;
    virtual int32_t totalDownRate() const = 0;
};

// Whether `dynamic` holds for `packet`; on true `out` is a copy of `packet` with the
// dynamic filter's action. `inForce` finds a packet filter of the settings in force
// by its ID (for the trigger filter).
bool Evaluate(const DynamicFilter& dynamic, const PacketFilter& packet, PacketFilter& out,
              const DynamicFilter::PacketFilterLookup& inForce, const ConditionSource& conditions);

class DynamicFilterPass final {
public:
    // Rule index → the overriding copy last sent to the driver.
    using OverrideMap = std::map<uint32_t, boost::shared_ptr<PacketFilter>>;

    struct Inputs {
        std::span<const PacketFilter* const> packetFilters;   // the settings in force
        std::span<const DynamicFilter* const> dynamicFilters; // the settings being edited
        bool filtering = false;
        bool dynamicFiltering = false;
        int32_t periodMs = 250; // the bandwidth control period in force
    };

    // One pass: CHANGE_FILTER for every override in ascending rule index, then the
    // own rule of every filter whose override ended. A refused request is shown once
    // per episode; one lost with the link is left to whoever keeps the link.
    void run(const Inputs& inputs, const ConditionSource& conditions, DriverService& driver,
             FailureEpisodes& failures);

    const OverrideMap& overrides() const { return m_overrides; }
    std::vector<int32_t> overriddenRules() const;

private:
    OverrideMap m_overrides;
};

} // namespace tavrin::core
