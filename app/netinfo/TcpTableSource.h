// Where the connection table comes from. The Linux sources sit beside this header:
// SockDiagTcpTable (with owning processes) and ProcNetTcpTable (without).
#pragma once

#include "TcpConnection.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tavrin {

// One row of the system's IPv4 TCP table, endpoints as the kernel stores them.
struct TcpRow {
    uint32_t state = 0; // translated to the program's numbering (kTcpListening, ...)
    uint32_t localAddr = 0;
    uint32_t localPort = 0;
    uint32_t remoteAddr = 0;
    uint32_t remotePort = 0;
    int32_t processId = -1; // -1 where the source knows no owner
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

// Ends a connection given its endpoints.
class ConnectionCutter {
public:
    virtual ~ConnectionCutter() = default;
    // 0 when the system ended the connection, else an errno value.
    virtual int cut(const TcpConnection& connection) = 0;
};

// The kernel's TCP state numbers (include/net/tcp_states.h) in the program's
// numbering; 0, which shows as "???", for a state the kernel may add later.
uint32_t translateKernelTcpState(unsigned kernelState);

} // namespace tavrin
