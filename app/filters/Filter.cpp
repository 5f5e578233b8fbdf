#include "Filter.h"

#include <cstdint>
#include <limits>

namespace tavrin {

std::string_view ProtocolText(uint16_t protocol) {
    switch (protocol) {
    case ovlank::kProtocolIcmp: return "ICMP";
    case ovlank::kProtocolTcp: return "TCP";
    case ovlank::kProtocolUdp: return "UDP";
    default: return kOtherProtocolText;
    }
}

void Filter::AddBandwidthSample(int32_t bytesPerSecond, int32_t windowLength) {
    const int64_t mean = bandwidthSamples.append(bytesPerSecond, windowLength);
    // A negative sample (which no counter produces) cannot make the mean wrap around.
    averageBandwidth = mean < 0 ? 0 : static_cast<uint32_t>(mean);
    currentBandwidth = bytesPerSecond;
}

void CommonFilter::fillAction(ovlank::DriverRule& rule) const {
    rule.protocol = protocol;
    rule.block = drop != 0 ? 1 : 0;
    rule.connectionRequestsOnly = dropSynOnly != 0 ? 1 : 0;
    // A negative limit is no limit (0), as the driver reads 0; a negative minimum size
    // becomes 0, which exempts no packet from the limit.
    rule.limit = (doBand != 0 && bandwidth > 0) ? static_cast<uint32_t>(bandwidth) : 0;
    rule.minimumSize = minimumPacketSize > 0 ? static_cast<uint32_t>(minimumPacketSize) : 0;
}

} // namespace tavrin
