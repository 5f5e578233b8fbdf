#include "SockDiag.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
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
static_assert(static_cast<uint32_t>(TcpSocketId::kNoCookie) == INET_DIAG_NOCOOKIE &&
              static_cast<uint32_t>(TcpSocketId::kNoCookie >> 32) == INET_DIAG_NOCOOKIE);

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

// The IPv6 form of an IPv4 row's address: mapped, or :: for 0.
void toIpv6(uint32_t address, uint32_t (&out)[4]) {
    out[0] = 0;
    out[1] = 0;
    out[2] = address == 0 ? 0 : htonl(0xFFFF);
    out[3] = address;
}

// Reads INET_DIAG_SKV6ONLY from the attributes behind a socket record into
// `v6only`: 1 or 0, or -1 when the kernel did not send it. False when an attribute
// does not fit the bytes given.
bool readV6Only(std::span<const unsigned char> attributes, int& v6only) {
    v6only = -1;
    size_t offset = 0;
    while (attributes.size() - offset >= sizeof(rtattr)) {
        rtattr attribute;
        std::memcpy(&attribute, attributes.data() + offset, sizeof(attribute));
        if (attribute.rta_len < sizeof(rtattr) || attribute.rta_len > attributes.size() - offset)
            return false;
        if ((attribute.rta_type & NLA_TYPE_MASK) == INET_DIAG_SKV6ONLY) {
            if (attribute.rta_len < sizeof(rtattr) + 1)
                return false;
            v6only = attributes[offset + sizeof(rtattr)] != 0 ? 1 : 0;
        }
        offset += std::min(align4(attribute.rta_len), attributes.size() - offset);
    }
    return offset == attributes.size();
}

// Fills `socket` from a record of either family; false for an IPv6 socket that
// carries no IPv4. EPROTO in `error` when its attributes are malformed.
bool takeSocket(const inet_diag_msg& diag, std::span<const unsigned char> attributes,
                DiagTcpSocket& socket, int& error) {
    const inet_diag_sockid& id = diag.id;
    if (diag.idiag_family == AF_INET6) {
        if (isIpv4Mapped(id.idiag_src) &&
            (isIpv4Mapped(id.idiag_dst) || isUnspecifiedIpv6(id.idiag_dst))) {
            socket.localAddr = id.idiag_src[3];
            socket.remoteAddr = id.idiag_dst[3];
        } else if (isUnspecifiedIpv6(id.idiag_src) && isUnspecifiedIpv6(id.idiag_dst)) {
            // Listening on :: takes IPv4 too unless IPV6_V6ONLY is set.
            int v6only = -1;
            if (!readV6Only(attributes, v6only)) {
                error = EPROTO;
                return false;
            }
            if (v6only != 0)
                return false;
            socket.localAddr = 0;
            socket.remoteAddr = 0;
        } else {
            return false;
        }
        socket.id.ipv6 = true;
    } else if (diag.idiag_family == AF_INET) {
        socket.localAddr = id.idiag_src[0];
        socket.remoteAddr = id.idiag_dst[0];
    } else {
        return false;
    }
    socket.kernelState = diag.idiag_state;
    socket.localPort = id.idiag_sport;
    socket.remotePort = id.idiag_dport;
    socket.inode = diag.idiag_inode;
    socket.uid = diag.idiag_uid;
    socket.id.interface = id.idiag_if;
    socket.id.cookie = (static_cast<uint64_t>(id.idiag_cookie[1]) << 32) | id.idiag_cookie[0];
    return true;
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
            DiagTcpSocket socket;
            int error = 0;
            const auto attributes = payload.subspan(std::min(align4(sizeof(diag)), payload.size()));
            if (takeSocket(diag, attributes, socket, error))
                out.push_back(socket);
            return {error != 0, error};
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
    const auto parse = [&](std::span<const unsigned char> datagram, uint32_t sequence) {
        return parseTcpDumpBatch(datagram, sequence, out);
    };
    // One family per dump: the kernel has no request for both.
    int error = 0;
    for (const uint8_t family : {uint8_t{AF_INET}, uint8_t{AF_INET6}}) {
        request.sdiag_family = family;
        error = exchange(SOCK_DIAG_BY_FAMILY, NLM_F_DUMP, request, parse);
        if (error != 0)
            break;
    }
    if (error != 0)
        out.clear();
    return error;
}

int SockDiag::destroyTcp(const DiagTcpSocket& socket) {
    inet_diag_req_v2 request{};
    request.idiag_states = ~0u;
    request.id.idiag_sport = socket.localPort;
    request.id.idiag_dport = socket.remotePort;
    if (socket.id.ipv6) {
        request.sdiag_family = AF_INET6;
        toIpv6(socket.localAddr, request.id.idiag_src);
        toIpv6(socket.remoteAddr, request.id.idiag_dst);
    } else {
        request.sdiag_family = AF_INET;
        request.id.idiag_src[0] = socket.localAddr;
        request.id.idiag_dst[0] = socket.remoteAddr;
    }
    // A socket bound to a device is found only with that device; the cookie makes
    // sure it is the socket the table listed, not a later one on the same endpoints.
    request.id.idiag_if = socket.id.interface;
    request.id.idiag_cookie[0] = static_cast<uint32_t>(socket.id.cookie);
    request.id.idiag_cookie[1] = static_cast<uint32_t>(socket.id.cookie >> 32);
    return exchange(SOCK_DESTROY, NLM_F_ACK, request,
                    [](std::span<const unsigned char> datagram, uint32_t sequence) {
                        return parseAckBatch(datagram, sequence);
                    });
}

} // namespace tavrin
