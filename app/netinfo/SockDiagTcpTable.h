// The connection table with owners: the kernel's socket list over sock_diag, joined
// with the processes that hold each socket (SocketOwnerIndex). Also the cut.
#pragma once

#include "SockDiag.h"
#include "SocketOwnerIndex.h"
#include "TcpTableSource.h"

namespace tavrin {

class SockDiagTcpTable final : public TcpTableSource {
public:
    // Whether the kernel answers a socket dump here (sock_diag built in or loadable).
    bool available();

    bool read(std::vector<TcpRow>& rows, std::string& error) override;
    bool hasOwners() const override { return true; }

    const SocketOwnerIndex& owners() const { return m_owners; }

private:
    SockDiag m_diag;
    SocketOwnerIndex m_owners;
    std::vector<DiagTcpSocket> m_sockets;
    std::vector<uint64_t> m_inodes;
};

// Ends a connection with SOCK_DESTROY: the holder's calls fail with ECONNABORTED and
// the peer gets a reset. Needs CAP_NET_ADMIN.
class SockDiagCutter final : public ConnectionCutter {
public:
    int cut(const TcpConnection& connection, const TcpSocketId& socket) override;

private:
    SockDiag m_diag;
};

} // namespace tavrin
