#include "NetworkConditions.h"

#include "PlainText.h"
#include "ProcessTable.h"
#include "TcpConnection.h"

namespace tavrin::core {

int32_t NetworkConditions::processIdByName(std::string_view name) const {
    for (const auto& [pid, path] : m_network.processTable().entries()) {
        if (path.starts_with("N/A"))
            continue;
        if (equalsIgnoringCase(fileNameOfPath(path), name))
            return static_cast<int32_t>(pid);
    }
    return -1;
}

bool NetworkConditions::hasOpenConnection(int32_t processId) const {
    for (const TcpConnection& c : m_network.connections()) {
        if (c.processId == processId &&
            (c.state == kTcpSynSent || c.state == kTcpSynReceived || c.state == kTcpEstablished))
            return true;
    }
    return false;
}

} // namespace tavrin::core
