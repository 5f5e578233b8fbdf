#include "SockDiagTcpTable.h"

#include <cstring>

namespace tavrin {

bool SockDiagTcpTable::available() {
    // Listening sockets only: the smallest dump that proves the kernel answers.
    return m_diag.dumpTcp(1u << 10, m_sockets) == 0;
}

bool SockDiagTcpTable::read(std::vector<TcpRow>& rows, std::string& error) {
    rows.clear();
    if (const int status = m_diag.dumpTcp(SockDiag::kAllTableStates, m_sockets); status != 0) {
        error = std::string("socket list: ") + std::strerror(status);
        return false;
    }
    m_inodes.clear();
    m_inodes.reserve(m_sockets.size());
    for (const DiagTcpSocket& socket : m_sockets)
        m_inodes.push_back(socket.inode);
    int status = 0;
    // Without the process list the rows are still right, only without owners.
    const bool owned = m_owners.update(m_inodes, status);

    rows.reserve(m_sockets.size());
    for (const DiagTcpSocket& socket : m_sockets) {
        TcpRow row;
        row.state = translateKernelTcpState(socket.kernelState);
        row.localAddr = socket.localAddr;
        row.localPort = socket.localPort;
        row.remoteAddr = socket.remoteAddr;
        row.remotePort = socket.remotePort;
        row.processId = owned ? m_owners.ownerOf(socket.inode) : -1;
        row.inode = socket.inode;
        row.socket = socket.id;
        rows.push_back(row);
    }
    return true;
}

int SockDiagCutter::cut(const TcpConnection& connection, const TcpSocketId& socket) {
    DiagTcpSocket target;
    target.localAddr = connection.localAddr;
    target.localPort = static_cast<uint16_t>(connection.localPort);
    target.remoteAddr = connection.remoteAddr;
    target.remotePort = static_cast<uint16_t>(connection.remotePort);
    target.id = socket;
    return m_diag.destroyTcp(target);
}

} // namespace tavrin
