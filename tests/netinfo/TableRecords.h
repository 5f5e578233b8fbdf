// Connection table records for the tests, written with dotted addresses and host
// order ports and stored as the kernel's tables store them.
#pragma once

#include "TcpConnection.h"
#include "TcpTableSource.h"

#include <arpa/inet.h>

#include <cstdint>

namespace tavrin::test {

// A dotted address in network order.
inline uint32_t ip(const char* dotted) {
    return inet_addr(dotted);
}

// A record of either kind the tables hold, with these endpoints, state and owner.
template <typename Record>
Record withEndpoints(const char* local, uint16_t localPort, const char* remote, uint16_t remotePort,
                     uint32_t state, int32_t pid) {
    Record r;
    r.state = state;
    r.localAddr = ip(local);
    r.localPort = htons(localPort);
    r.remoteAddr = ip(remote);
    r.remotePort = htons(remotePort);
    r.processId = pid;
    return r;
}

// A connection as the connection set keeps it.
inline TcpConnection record(const char* local, uint16_t localPort, const char* remote,
                            uint16_t remotePort, uint32_t state = kTcpEstablished,
                            int32_t pid = -1) {
    return withEndpoints<TcpConnection>(local, localPort, remote, remotePort, state, pid);
}

// A row as a table source delivers it.
inline TcpRow row(const char* local, uint16_t localPort, const char* remote, uint16_t remotePort,
                  uint32_t state = kTcpEstablished, int32_t pid = -1) {
    return withEndpoints<TcpRow>(local, localPort, remote, remotePort, state, pid);
}

} // namespace tavrin::test
