// The kernel's socket diagnostics over netlink (NETLINK_SOCK_DIAG): the list of TCP
// sockets that carry IPv4 and SOCK_DESTROY, which aborts one of them. Every reply is
// checked against the bytes actually received; a malformed one fails the request.
#pragma once

#include "TcpTableSource.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

struct inet_diag_req_v2;

namespace tavrin {

// One socket of a dump, endpoints as the kernel stores them (network order). For an
// IPv6 socket carrying IPv4 (id.ipv6) the addresses are the IPv4 parts of its mapped
// addresses, 0 for ::.
struct DiagTcpSocket {
    uint8_t kernelState = 0;
    uint16_t localPort = 0;
    uint16_t remotePort = 0;
    uint32_t localAddr = 0;
    uint32_t remoteAddr = 0;
    uint32_t inode = 0; // 0 when no process holds the socket (TIME_WAIT, orphans)
    uint32_t uid = 0;
    TcpSocketId id;
};

// What one received datagram of a reply means.
struct DiagBatchResult {
    bool done = false; // the reply is complete (or failed)
    int error = 0;     // errno value when it failed
};

// Parses one datagram of a dump reply to request `sequence`, appending to `out` its
// sockets that carry IPv4: IPv4 ones, and IPv6 ones whose local and remote addresses
// are IPv4-mapped (the remote one may be :: while listening) or that listen on ::
// without IPV6_V6ONLY. Other IPv6 sockets and messages of other requests are
// skipped. A message that claims more bytes than the datagram holds, a payload too
// short for its type, or attributes of a listener on :: that do not fit its message
// fail with EPROTO.
DiagBatchResult parseTcpDumpBatch(std::span<const unsigned char> datagram, uint32_t sequence,
                                  std::vector<DiagTcpSocket>& out);

// Parses one datagram of the reply to an acknowledged request: done with the
// acknowledged status (0 or an errno value) once the acknowledgement is seen.
DiagBatchResult parseAckBatch(std::span<const unsigned char> datagram, uint32_t sequence);

class SockDiag final {
public:
    // Every kernel state from ESTABLISHED to NEW_SYN_RECV: what /proc/net/tcp lists.
    static constexpr uint32_t kAllTableStates = (1u << 13) - 2;

    SockDiag() = default;
    ~SockDiag();
    SockDiag(const SockDiag&) = delete;
    SockDiag& operator=(const SockDiag&) = delete;

    // Replaces `out` with the TCP sockets carrying IPv4 whose kernel state is in
    // `stateMask` (bit n for state n): the IPv4 ones in the kernel's order, then the
    // IPv6 ones. 0, or an errno value.
    int dumpTcp(uint32_t stateMask, std::vector<DiagTcpSocket>& out);

    // Aborts the TCP socket `socket` describes: its endpoints, family, device and,
    // when known, cookie; the peer gets a reset and the holder ECONNABORTED. 0, or an
    // errno value (ENOENT: no such socket, EPERM: not allowed).
    int destroyTcp(const DiagTcpSocket& socket);

private:
    int ensureOpen();
    void close();
    int send(const void* message, size_t length);
    // Receives datagrams until `parse` reports the reply done.
    template <typename Parse> int receive(Parse&& parse);
    // Sends `request` (for TCP sockets of its sdiag_family) as a message of `type` and
    // receives the reply, handing each datagram to `parse(datagram, sequence)`. 0, or
    // an errno value.
    template <typename Parse>
    int exchange(uint16_t type, uint16_t flags, const inet_diag_req_v2& request, Parse&& parse);

    int m_fd = -1;
    uint32_t m_sequence = 0;
    std::vector<unsigned char> m_buffer;
};

} // namespace tavrin
