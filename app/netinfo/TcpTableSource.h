// Where the connection table comes from. The Linux sources sit beside this header:
// SockDiagTcpTable (with owning processes) and ProcNetTcpTable (without).
#pragma once

#include "TcpConnection.h"

#include <cstdint>
#include <string>
#include <vector>

#include <arpa/inet.h>

namespace tavrin {

// How the kernel tells the socket behind a row apart, beyond its endpoints: what a
// cut needs to reach exactly that socket.
struct TcpSocketId {
    static constexpr uint64_t kNoCookie = ~uint64_t{0};
    // An IPv6 socket carrying IPv4: its endpoints are IPv4-mapped addresses (shown
    // by their IPv4 part), or it listens on :: for both families (shown as 0.0.0.0).
    bool ipv6 = false;
    uint32_t interface = 0;      // the device the socket is bound to; 0 for none
    uint64_t cookie = kNoCookie; // the kernel's number for the socket, where known
};

// An IPv6 address as the kernel stores its four 32-bit words (network order):
// ::ffff:a.b.c.d, an IPv4 address as an IPv6 socket holds it, and ::.
inline bool isIpv4Mapped(const uint32_t (&words)[4]) {
    return words[0] == 0 && words[1] == 0 && words[2] == htonl(0xFFFF);
}
inline bool isUnspecifiedIpv6(const uint32_t (&words)[4]) {
    return (words[0] | words[1] | words[2] | words[3]) == 0;
}

// One row of the system's IPv4 TCP table, endpoints as the kernel stores them.
struct TcpRow {
    uint32_t state = 0; // translated to the program's numbering (kTcpListening, ...)
    uint32_t localAddr = 0;
    uint32_t localPort = 0;
    uint32_t remoteAddr = 0;
    uint32_t remotePort = 0;
    int32_t processId = -1; // -1 where the source knows no owner
    uint64_t inode = 0;     // 0 when no process holds the socket
    TcpSocketId socket;
};

class TcpTableSource {
public:
    virtual ~TcpTableSource() = default;

    // Replaces `rows` with the current table, in the system's order. False when the
    // table could not be read; `error` then says why.
    virtual bool read(std::vector<TcpRow>& rows, std::string& error) = 0;

    // Whether the rows carry their owning processes.
    virtual bool hasOwners() const = 0;
};

// Ends a connection given its endpoints and, where the last table named it, its
// socket.
class ConnectionCutter {
public:
    virtual ~ConnectionCutter() = default;
    // 0 when the system ended the connection, else an errno value.
    virtual int cut(const TcpConnection& connection, const TcpSocketId& socket) = 0;
};

// The kernel's TCP state numbers (include/net/tcp_states.h) in the program's
// numbering; 0, which shows as "???", for a state the kernel may add later.
uint32_t translateKernelTcpState(unsigned kernelState);

} // namespace tavrin
