#include "NetworkConditions.h"

#include "ProcessTable.h"
#include "TcpConnection.h"

namespace tavrin::core {

int32_t NetworkConditions::processIdByName(std::string_view name) const {
    return m_network.processTable().processIdByName(name);
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
