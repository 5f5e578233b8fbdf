// The conditions of dynamic filters read from the real machine: the process and
// connection tables of the network information, and the bandwidth monitor's
// total rates.
#pragma once

#include "BandwidthMonitor.h"
#include "DynamicFilterPass.h"
#include "NetworkInfo.h"

namespace tavrin::core {

class NetworkConditions final : public ConditionSource {
public:
    NetworkConditions(const NetworkInfo& network, const BandwidthMonitor& bandwidth)
        : m_network(network), m_bandwidth(bandwidth) {}

    // The first process in the table whose executable's file name matches without
    // regard to case; processes without a readable path ("N/A ...") are skipped.
    int32_t processIdByName(std::string_view name) const override;
    bool hasOpenConnection(int32_t processId) const override;
    int32_t totalUpRate() const override { return m_bandwidth.sentAverage(); }
    int32_t totalDownRate() const override { return m_bandwidth.receivedAverage(); }

private:
    const NetworkInfo& m_network;
    const BandwidthMonitor& m_bandwidth;
};

} // namespace tavrin::core
