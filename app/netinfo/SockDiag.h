// The kernel's socket diagnostics over netlink (NETLINK_SOCK_DIAG): the list of IPv4
// TCP sockets and SOCK_DESTROY, which aborts one of them. Every reply is checked
// against the bytes actually received; a malformed one fails the request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

struct inet_diag_req_v2;

namespace tavrin {

// One socket of a dump, endpoints as the kernel stores them (network order).
struct DiagTcpSocket {
    uint8_t kernelState = 0;
    uint16_t localPort = 0;
    uint16_t remotePort = 0;
    uint32_t localAddr = 0;
    uint32_t remoteAddr = 0;
    uint32_t inode = 0; // 0 when no process holds the socket (TIME_WAIT, orphans)
    uint32_t uid = 0;
};

// What one received datagram of a reply means.
struct DiagBatchResult {
    bool done = false; // the reply is complete (or failed)
    int error = 0;     // errno value when it failed
};

// Parses one datagram of a dump reply to request `sequence`, appending its IPv4
// sockets to `out`. Messages of other requests are skipped. A message that claims
// more bytes than the datagram holds, or a payload too short for its type, fails
// with EPROTO.
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

    // Replaces `out` with the IPv4 TCP sockets whose kernel state is in `stateMask`
    // (bit n for state n), in the kernel's order. 0, or an errno value.
    int dumpTcp(uint32_t stateMask, std::vector<DiagTcpSocket>& out);

    // Aborts the IPv4 TCP socket with these endpoints (network order); the peer gets a
    // reset and the holder ECONNABORTED. 0, or an errno value (ENOENT: no such
    // socket, EPERM: not allowed).
    int destroyTcp(uint32_t localAddr, uint16_t localPort, uint32_t remoteAddr,
                   uint16_t remotePort);

private:
    int ensureOpen();
    void close();
    int send(const void* message, size_t length);
    // Receives datagrams until `parse` reports the reply done.
    template <typename Parse> int receive(Parse&& parse);
    // Sends `request` (for IPv4 TCP sockets) as a message of `type` and receives the
    // reply, handing each datagram to `parse(datagram, sequence)`. 0, or an errno value.
    template <typename Parse>
    int exchange(uint16_t type, uint16_t flags, const inet_diag_req_v2& request, Parse&& parse);

    int m_fd = -1;
    uint32_t m_sequence = 0;
    std::vector<unsigned char> m_buffer;
};

} // namespace tavrin
