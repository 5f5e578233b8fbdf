#include "SockDiag.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace tavrin {

namespace {

// Larger than any datagram the kernel builds for a dump, so nothing is ever cut.
constexpr size_t kReceiveBufferSize = 64 * 1024;
constexpr size_t kHeaderSize = sizeof(nlmsghdr);

struct DiagRequest {
    nlmsghdr head;
    inet_diag_req_v2 request;
};
static_assert(sizeof(DiagRequest) == kHeaderSize + sizeof(inet_diag_req_v2));

constexpr size_t align4(size_t n) {
    return (n + 3) & ~size_t{3};
}

// Walks the messages of one datagram. `visit(head, payload)` returns true to stop.
// Fails with EPROTO when a message's length does not fit the datagram.
template <typename Visit>
DiagBatchResult forEachMessage(std::span<const unsigned char> datagram, Visit&& visit) {
    size_t offset = 0;
    while (datagram.size() - offset >= kHeaderSize) {
        nlmsghdr head;
        std::memcpy(&head, datagram.data() + offset, kHeaderSize);
        if (head.nlmsg_len < kHeaderSize || head.nlmsg_len > datagram.size() - offset)
            return {true, EPROTO};
        const auto payload = datagram.subspan(offset + kHeaderSize, head.nlmsg_len - kHeaderSize);
        if (auto result = visit(head, payload); result.done)
            return result;
        offset += std::min(align4(head.nlmsg_len), datagram.size() - offset);
    }
    if (offset != datagram.size())
        return {true, EPROTO}; // trailing bytes that do not make a message
    return {false, 0};
}

template <typename T> bool readPayload(std::span<const unsigned char> payload, T& out) {
    if (payload.size() < sizeof(T))
        return false;
    std::memcpy(&out, payload.data(), sizeof(T));
    return true;
}

// The kernel reports failures as negated errno values; anything outside that range
// is not something it sends.
constexpr int kMaxErrno = 4095;

DiagBatchResult errorMessage(std::span<const unsigned char> payload) {
    nlmsgerr error{};
    if (!readPayload(payload, error))
        return {true, EPROTO};
    if (error.error == 0)
        return {true, 0};
    return {true, error.error < 0 && error.error >= -kMaxErrno ? -error.error : EPROTO};
}

} // namespace

DiagBatchResult parseTcpDumpBatch(std::span<const unsigned char> datagram, uint32_t sequence,
                                  std::vector<DiagTcpSocket>& out) {
    return forEachMessage(
        datagram,
        [&](const nlmsghdr& head, std::span<const unsigned char> payload) -> DiagBatchResult {
            if (head.nlmsg_seq != sequence)
                return {false, 0}; // left over from a request given up earlier
            if (head.nlmsg_type == NLMSG_DONE) {
                // Kernels put the dump's own status here; older ones may leave it out.
                int status = 0;
                readPayload(payload, status);
                if (status >= 0)
                    return {true, 0};
                return {true, status >= -kMaxErrno ? -status : EPROTO};
            }
            if (head.nlmsg_type == NLMSG_ERROR)
                return errorMessage(payload);
            if (head.nlmsg_type != SOCK_DIAG_BY_FAMILY)
                return {false, 0};
            inet_diag_msg diag{};
            if (!readPayload(payload, diag))
                return {true, EPROTO};
            if (diag.idiag_family == AF_INET) {
                DiagTcpSocket socket;
                socket.kernelState = diag.idiag_state;
                socket.localPort = diag.id.idiag_sport;
                socket.remotePort = diag.id.idiag_dport;
                socket.localAddr = diag.id.idiag_src[0];
                socket.remoteAddr = diag.id.idiag_dst[0];
                socket.inode = diag.idiag_inode;
                socket.uid = diag.idiag_uid;
                out.push_back(socket);
            }
            return {false, 0};
        });
}

DiagBatchResult parseAckBatch(std::span<const unsigned char> datagram, uint32_t sequence) {
    return forEachMessage(
        datagram,
        [&](const nlmsghdr& head, std::span<const unsigned char> payload) -> DiagBatchResult {
            if (head.nlmsg_seq != sequence || head.nlmsg_type != NLMSG_ERROR)
                return {false, 0};
            return errorMessage(payload);
        });
}

SockDiag::~SockDiag() {
    close();
}

void SockDiag::close() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

int SockDiag::ensureOpen() {
    if (m_fd >= 0)
        return 0;
    m_fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (m_fd < 0) {
        const int error = errno;
        m_fd = -1;
        return error;
    }
    // The kernel answers at once; the bound only guards against a wedged socket.
    timeval timeout{5, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    m_buffer.resize(kReceiveBufferSize);
    return 0;
}

int SockDiag::send(const void* message, size_t length) {
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    for (;;) {
        const ssize_t sent = ::sendto(m_fd, message, length, 0,
                                      reinterpret_cast<const sockaddr*>(&kernel), sizeof(kernel));
        if (sent == static_cast<ssize_t>(length))
            return 0;
        if (sent < 0 && errno == EINTR)
            continue;
        return sent < 0 ? errno : EIO;
    }
}

template <typename Parse> int SockDiag::receive(Parse&& parse) {
    for (;;) {
        const ssize_t received = ::recv(m_fd, m_buffer.data(), m_buffer.size(), MSG_TRUNC);
        if (received < 0 && errno == EINTR)
            continue;
        if (received <= 0 || static_cast<size_t>(received) > m_buffer.size()) {
            // A cut datagram leaves the rest of the reply unreadable: start afresh.
            const int error = received < 0 ? errno : EPROTO;
            close();
            return error;
        }
        const DiagBatchResult result =
            parse(std::span<const unsigned char>(m_buffer.data(), static_cast<size_t>(received)));
        if (!result.done)
            continue;
        // A malformed reply may have more of itself queued behind it.
        if (result.error == EPROTO)
            close();
        return result.error;
    }
}

template <typename Parse>
int SockDiag::exchange(uint16_t type, uint16_t flags, const inet_diag_req_v2& request,
                       Parse&& parse) {
    if (const int error = ensureOpen(); error != 0)
        return error;

    DiagRequest message{};
    message.head.nlmsg_len = sizeof(message);
    message.head.nlmsg_type = type;
    message.head.nlmsg_flags = static_cast<uint16_t>(NLM_F_REQUEST | flags);
    message.head.nlmsg_seq = ++m_sequence;
    message.request = request;
    message.request.sdiag_family = AF_INET;
    message.request.sdiag_protocol = IPPROTO_TCP;
    if (const int error = send(&message, sizeof(message)); error != 0) {
        close();
        return error;
    }
    const uint32_t sequence = m_sequence;
    return receive(
        [&](std::span<const unsigned char> datagram) { return parse(datagram, sequence); });
}

int SockDiag::dumpTcp(uint32_t stateMask, std::vector<DiagTcpSocket>& out) {
    out.clear();
    inet_diag_req_v2 request{};
    request.idiag_states = stateMask;
    const int error = exchange(SOCK_DIAG_BY_FAMILY, NLM_F_DUMP, request,
                               [&](std::span<const unsigned char> datagram, uint32_t sequence) {
                                   return parseTcpDumpBatch(datagram, sequence, out);
                               });
    if (error != 0)
        out.clear();
    return error;
}

int SockDiag::destroyTcp(uint32_t localAddr, uint16_t localPort, uint32_t remoteAddr,
                         uint16_t remotePort) {
    inet_diag_req_v2 request{};
    request.idiag_states = ~0u;
    request.id.idiag_sport = localPort;
    request.id.idiag_dport = remotePort;
    request.id.idiag_src[0] = localAddr;
    request.id.idiag_dst[0] = remoteAddr;
    request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    return exchange(SOCK_DESTROY, NLM_F_ACK, request,
                    [](std::span<const unsigned char> datagram, uint32_t sequence) {
                        return parseAckBatch(datagram, sequence);
                    });
}

} // namespace tavrin
