#include "FilterFromConnection.h"

#include "PlainText.h"
#include "ProcessTable.h"

namespace tavrin::ui {

namespace {

// The local end: the adapter that has the connection's local address, if any.
void bindLocalEnd(PacketFilter& filter, const TcpConnection& c, const AdapterList& adapters) {
    filter.adapterIndex = adapters.indexByAddress(c.localAddr);
    const bool found = filter.adapterIndex != AdapterList::kNoAdapterIndex;
    filter.adapterName = found ? adapters.nameByIndex(filter.adapterIndex) : std::string();
    filter.isMyIp = found ? 1 : 0;
    filter.myIp = c.localAddr;
    filter.myIpMask = 0xFFFFFFFFu;
}

} // namespace

PacketFilter filterFromAddressAndPort(const TcpConnection& c, const AdapterList& adapters) {
    PacketFilter filter;
    bindLocalEnd(filter, c, adapters);
    // The record's ports are in network order, as a port range keeps them.
    const auto localPort = static_cast<uint16_t>(c.localPort);
    filter.myPorts = {PortRange{localPort, localPort}};
    filter.isMyAllPort = 0;
    filter.otherIp = c.remoteAddr;
    filter.otherIpMask = c.remoteAddr != 0 ? 0xFFFFFFFFu : 0;
    const auto remotePort = static_cast<uint16_t>(c.remotePort);
    if (remotePort != 0) {
        filter.otherPorts = {PortRange{remotePort, remotePort}};
        filter.isOtherAllPort = 0;
    } else {
        filter.isOtherAllPort = 1;
    }
    return filter;
}

ProcessFilter filterFromProcess(const TcpConnection& c, std::string_view processName,
                                const AdapterList& adapters) {
    if (processName == kUnknownProcess)
        return {std::nullopt, kUnknownProcessRefused};
    if (processName == kSystemProcess || equalsIgnoringCase(processName, "System"))
        return {std::nullopt, kSystemProcessRefused};
    PacketFilter filter;
    filter.appName = std::string(processName);
    bindLocalEnd(filter, c, adapters);
    filter.isMyAllPort = 1;
    filter.otherIpMask = 0;
    filter.isOtherAllPort = 1;
    return {std::move(filter), {}};
}

} // namespace tavrin::ui
