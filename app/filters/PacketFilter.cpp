#include "PacketFilter.h"

#include "PlainText.h"
#include "PortSpec.h"

#include <algorithm>

namespace tavrin {
namespace {

// Copies a port list into a rule's range table; returns the count to store.
uint32_t copyRanges(const std::vector<PortRange>& ranges, int32_t allPorts,
                    ovlank::DriverPortRange (&table)[ovlank::kMaxPortRanges]) {
    if (allPorts != 0)
        return 0;
    const size_t count = std::min<size_t>(ranges.size(), ovlank::kMaxPortRanges);
    for (size_t i = 0; i < count; ++i)
        table[i] = ranges[i].toDriver();
    return static_cast<uint32_t>(count);
}

} // namespace

void PacketFilter::ToDriverRule(ovlank::DriverRule& rule) const {
    fillAction(rule);
    if (direction == kDirectionUp) {
        rule.sourceAddress = myIp;
        rule.destinationAddress = otherIp;
        rule.sourceMask = myIpMask;
        rule.destinationMask = otherIpMask;
        rule.sourceRangeCount = copyRanges(myPorts, isMyAllPort, rule.sourceRanges);
        rule.destinationRangeCount = copyRanges(otherPorts, isOtherAllPort, rule.destinationRanges);
    } else {
        rule.sourceAddress = otherIp;
        rule.destinationAddress = myIp;
        rule.sourceMask = otherIpMask;
        rule.destinationMask = myIpMask;
        rule.sourceRangeCount = copyRanges(otherPorts, isOtherAllPort, rule.sourceRanges);
        rule.destinationRangeCount = copyRanges(myPorts, isMyAllPort, rule.destinationRanges);
    }
}

std::unique_ptr<Filter> PacketFilter::Clone() const {
    return std::make_unique<PacketFilter>(*this);
}

std::string PacketFilter::GetDescription() const {
    std::string localPorts;
    if (isMyAllPort != 0) {
        localPorts = appName.empty() ? std::string(kAllPortsText) : appName;
    } else {
        localPorts = FormatPortList(myPorts);
        if (!appName.empty())
            localPorts += "かつ" + appName;
    }
    std::string out = "<";
    out.append(ProtocolText(protocol));
    out.push_back(' ');
    out.append(myIpMask != 0 ? dottedAddress(myIp) : std::string(kAllAddressesText));
    out.push_back(':');
    out.append(localPorts);
    out.append(direction == kDirectionUp ? " → " : " ← ");
    out.append(otherIpMask != 0 ? dottedAddress(otherIp) : std::string(kAllAddressesText));
    out.push_back(':');
    out.append(isOtherAllPort != 0 ? std::string(kAllPortsText) : FormatPortList(otherPorts));
    out.push_back('>');
    return out;
}

uint16_t PacketFilter::GetProcessPortSelector() const {
    return direction == kDirectionUp ? 0 : 1;
}

std::string PacketFilter::GetProcessPortText() const {
    if (processPortCount == 0 || processPortCount == kNoProcessPorts)
        return std::string(kNoProcessPortText);
    const size_t count = std::min<size_t>(processPortCount, processPorts.size());
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        const uint16_t port = processPorts[i];
        const bool kept =
            isMyAllPort != 0 || std::any_of(myPorts.begin(), myPorts.end(),
                                            [port](PortRange r) { return r.contains(port); });
        if (!kept)
            continue;
        if (!out.empty())
            out.push_back(',');
        out.append(std::to_string(port));
    }
    return out.empty() ? std::string(kNoProcessPortText) : out;
}

void PacketFilter::SetProcessPorts(std::span<const uint16_t> ports, uint16_t count) {
    if (count == kNoProcessPorts) {
        processPortCount = kNoProcessPorts;
        return;
    }
    const size_t n = std::min({static_cast<size_t>(count), ports.size(), kMaxProcessPorts});
    processPorts.assign(ports.begin(), ports.begin() + static_cast<std::ptrdiff_t>(n));
    processPortCount = static_cast<uint16_t>(n);
}

} // namespace tavrin
