#include "FilterColumns.h"

#include "PlainText.h"
#include "PortSpec.h"

#include <cstdio>

namespace tavrin::ui {

namespace {

std::string numberedName(int position, std::string_view name) {
    return std::to_string(position + 1) + " " + std::string(name);
}

std::string_view directionText(int32_t direction) {
    switch (direction) {
    case kDirectionUp: return "UP";
    case kDirectionDown: return "DOWN";
    default: return "OTHER";
    }
}

std::string bandwidthText(const PacketFilter& shown, const PacketFilter* measured) {
    // A filter that is off, or that no rule of the running session stands for,
    // has nothing measured.
    if (shown.available != 1 || measured == nullptr || measured->currentBandwidth < 0)
        return std::string(kNotMeasuredText);
    char text[32];
    std::snprintf(text, sizeof text, "%.1f KB/s", measured->currentBandwidth / 1024.0);
    return text;
}

std::string localPortText(const PacketFilter& shown, const PacketFilter* measured) {
    if (!shown.appName.empty())
        return (measured != nullptr ? *measured : shown).GetProcessPortText();
    if (shown.isMyAllPort != 0)
        return std::string(kAllText);
    return FormatPortList(shown.myPorts);
}

std::string remotePortText(const PacketFilter& shown) {
    if (shown.isOtherAllPort != 0)
        return std::string(kAllText);
    std::string text;
    for (const PortRange& range : shown.otherPorts) {
        if (!text.empty())
            text.push_back(',');
        text += FormatPortLabel(range);
    }
    return text;
}

std::string addressText(uint32_t address, uint32_t mask) {
    return mask != 0 ? dottedAddress(address) : std::string(kAllText);
}

std::string byteText(int32_t bytes) {
    return std::to_string(bytes) + " Byte";
}

} // namespace

std::string_view firewallText(const CommonFilter& filter) {
    if (filter.drop == 0)
        return "通過";
    return filter.dropSynOnly != 0 ? "接続要求のみ遮断" : "遮断";
}

std::string limitText(const CommonFilter& filter) {
    if (filter.drop != 0 && filter.dropSynOnly == 0)
        return {};
    if (filter.bandwidth > 0 && filter.doBand != 0)
        return std::to_string(filter.bandwidth) + " KB/s";
    return "無制限";
}

std::array<std::string, kFilterColumnCount> filterRowTexts(const PacketFilter& shown, int position,
                                                           const settings::IniFileObject& edited,
                                                           const settings::IniFileObject& inForce) {
    const PacketFilter* measured = inForce.FindPacketFilterById(shown.id);
    const DynamicFilter* applied = edited.FindDynamicFilterById(shown.appliedDynamicFilterId);
    return {
        numberedName(position, shown.filterName),
        std::string(ProtocolText(shown.protocol)),
        std::string(firewallText(shown)),
        bandwidthText(shown, measured),
        limitText(shown),
        std::string(directionText(shown.direction)),
        shown.appName,
        applied != nullptr ? applied->filterName.str() : std::string(kNoDynamicFilterText),
        addressText(shown.myIp, shown.myIpMask),
        addressText(shown.otherIp, shown.otherIpMask),
        localPortText(shown, measured),
        remotePortText(shown),
        dottedAddress(shown.myIpMask),
        dottedAddress(shown.otherIpMask),
        byteText(shown.minimumPacketSize),
        shown.comment.str(),
    };
}

std::array<std::string, kDynamicFilterColumnCount>
dynamicFilterRowTexts(const DynamicFilter& filter, int position,
                      const settings::IniFileObject& edited) {
    std::string targets;
    for (int32_t id : filter.targetFilterIds) {
        const PacketFilter* target = edited.FindPacketFilterById(id);
        if (target == nullptr)
            continue;
        if (!targets.empty())
            targets += ", ";
        targets += target->filterName.str();
    }
    return {
        numberedName(position, filter.filterName),
        targets,
        filter.GetConditionText(edited.PacketFilters()),
        std::string(firewallText(filter)),
        limitText(filter),
        byteText(filter.minimumPacketSize),
        filter.comment.str(),
    };
}

} // namespace tavrin::ui
