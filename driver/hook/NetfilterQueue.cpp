#include "NetfilterQueue.h"

#include "QueueStatistics.h"
#include "VerdictBatch.h"

// netinet before the kernel headers, so that their shared definitions agree.
#include <arpa/inet.h>
#include <netinet/in.h>

extern "C" {
#include <libmnl/libmnl.h>
#include <libnetfilter_queue/libnetfilter_queue.h>
#include <linux/netfilter.h>
#include <linux/netfilter/nfnetlink_queue.h>
}

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace ovlank {
namespace {

constexpr size_t kDatagramRoom = 4096;
constexpr int kReceiveBufferBytes = 8 << 20;
// A stopping reader ends once its socket has been quiet this long and the kernel
// shows nothing waiting for a verdict, or at the deadline whatever still comes:
// traffic that keeps arriving (the chains could not be removed, or a host rule
// of its own feeds our queue) must not hold up the daemon.
constexpr int kDrainQuietMilliseconds = 10;
constexpr auto kDrainDeadline = std::chrono::milliseconds(1000);

std::string errnoText(int error) {
    return std::strerror(error);
}

} // namespace

NetfilterQueue::NetfilterQueue(uint16_t number, Decide decide)
    : m_number(number), m_decide(std::move(decide)) {}

NetfilterQueue::~NetfilterQueue() {
    drainAndStop();
    closeSocket();
}

void NetfilterQueue::closeSocket() {
    if (m_fd >= 0) {
        ::close(m_fd); // the kernel unbinds the queue with the socket
        m_fd = -1;
    }
    if (m_stopFd >= 0) {
        ::close(m_stopFd);
        m_stopFd = -1;
    }
}

int NetfilterQueue::sendAndAwaitAck(std::span<const uint8_t> message) {
    if (::send(m_fd, message.data(), message.size(), 0) < 0) {
        return errno;
    }
    std::array<uint8_t, 8192> reply{};
    for (;;) {
        const ssize_t got = ::recv(m_fd, reply.data(), reply.size(), 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        // An error reply sets errno to the kernel's answer.
        const int status = mnl_cb_run(reply.data(), static_cast<size_t>(got), m_sequence, m_portId,
                                      nullptr, nullptr);
        if (status < 0) {
            return errno;
        }
        if (status == MNL_CB_STOP) {
            return 0;
        }
    }
}

bool NetfilterQueue::configure(std::string& error) {
    std::array<char, 512> buffer{};

    nlmsghdr* bind = nfq_nlmsg_put(buffer.data(), NFQNL_MSG_CONFIG, m_number);
    nfq_nlmsg_cfg_put_cmd(bind, AF_INET, NFQNL_CFG_CMD_BIND);
    bind->nlmsg_flags |= NLM_F_ACK;
    bind->nlmsg_seq = ++m_sequence;
    if (const int failure = sendAndAwaitAck(
            std::span(reinterpret_cast<const uint8_t*>(buffer.data()), bind->nlmsg_len))) {
        // The kernel answers EPERM both for a queue bound by another socket and for a
        // missing capability; the queue's statistics tell the two apart.
        const auto stats = readQueueStatistics(m_number);
        error = failure == EPERM && stats && stats->peerPortId != m_portId
                    ? "queue " + std::to_string(m_number) + " is already in use by another program"
                    : "cannot bind queue " + std::to_string(m_number) + ": " + errnoText(failure);
        return false;
    }

    buffer.fill(0);
    nlmsghdr* params = nfq_nlmsg_put(buffer.data(), NFQNL_MSG_CONFIG, m_number);
    nfq_nlmsg_cfg_put_params(params, NFQNL_COPY_PACKET, kQueueCopyRange);
    nfq_nlmsg_cfg_put_qmaxlen(params, kQueueMaxLength);
    // GSO: take large packets whole instead of having the kernel cut them up for us.
    // Fail open: when we cannot keep up, traffic passes rather than stalls.
    const uint32_t flags = NFQA_CFG_F_GSO | NFQA_CFG_F_FAIL_OPEN;
    mnl_attr_put_u32(params, NFQA_CFG_FLAGS, htonl(flags));
    mnl_attr_put_u32(params, NFQA_CFG_MASK, htonl(flags));
    params->nlmsg_flags |= NLM_F_ACK;
    params->nlmsg_seq = ++m_sequence;
    if (const int failure = sendAndAwaitAck(
            std::span(reinterpret_cast<const uint8_t*>(buffer.data()), params->nlmsg_len))) {
        error = "cannot configure queue " + std::to_string(m_number) + ": " + errnoText(failure);
        return false;
    }
    return true;
}

bool NetfilterQueue::open(std::string& error) {
    m_fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_NETFILTER);
    m_stopFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_fd < 0 || m_stopFd < 0) {
        error = "cannot open a netfilter socket: " + errnoText(errno);
        closeSocket();
        return false;
    }
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    socklen_t length = sizeof(address);
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error = "cannot bind a netfilter socket: " + errnoText(errno);
        closeSocket();
        return false;
    }
    m_portId = address.nl_pid;
    // A deep socket buffer absorbs bursts; past it the kernel lets packets pass.
    const int bytes = kReceiveBufferBytes;
    if (::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof(bytes)) != 0) {
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes));
    }
    if (!configure(error)) {
        closeSocket();
        return false;
    }
    return true;
}

void NetfilterQueue::start(Fatal onFatal) {
    m_onFatal = std::move(onFatal);
    m_thread = std::thread([this] { run(); });
}

void NetfilterQueue::beginDrain() {
    if (m_thread.joinable()) {
        const uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(m_stopFd, &one, sizeof(one));
    }
}

void NetfilterQueue::drainAndStop() {
    if (!m_thread.joinable()) {
        return;
    }
    beginDrain();
    m_thread.join();
}

void NetfilterQueue::handleDatagram(std::span<const uint8_t> datagram, VerdictBatch& batch) {
    const void* data = datagram.data();
    int remaining = static_cast<int>(datagram.size());
    for (auto* nlh = static_cast<const nlmsghdr*>(data); mnl_nlmsg_ok(nlh, remaining);
         nlh = mnl_nlmsg_next(nlh, &remaining)) {
        if (nlh->nlmsg_type != ((NFNL_SUBSYS_QUEUE << 8) | NFQNL_MSG_PACKET)) {
            continue; // error replies to verdicts for packets that are gone, and the like
        }
        std::array<nlattr*, NFQA_MAX + 1> attributes{};
        if (nfq_nlmsg_parse(nlh, attributes.data()) < 0 || !attributes[NFQA_PACKET_HDR]) {
            continue;
        }
        if (mnl_attr_get_payload_len(attributes[NFQA_PACKET_HDR]) < sizeof(nfqnl_msg_packet_hdr)) {
            continue;
        }
        nfqnl_msg_packet_hdr header{};
        std::memcpy(&header, mnl_attr_get_payload(attributes[NFQA_PACKET_HDR]), sizeof(header));
        const uint32_t id = ntohl(header.packet_id);
        // Ids start at 1, so a gap before the first packet read counts as well.
        if (id > m_lastId + 1) {
            m_bypassed.fetch_add(id - m_lastId - 1, std::memory_order_relaxed);
        }
        m_lastId = id;

        Verdict verdict = Verdict::Forward;
        if (const nlattr* payload = attributes[NFQA_PAYLOAD]) {
            const std::span packet(static_cast<const uint8_t*>(mnl_attr_get_payload(payload)),
                                   mnl_attr_get_payload_len(payload));
            // The packet's own length: the kernel reports it when the copy was cut.
            uint32_t length = static_cast<uint32_t>(packet.size());
            if (const nlattr* captured = attributes[NFQA_CAP_LEN];
                captured && mnl_attr_get_payload_len(captured) >= sizeof(uint32_t)) {
                length = ntohl(mnl_attr_get_u32(captured));
            }
            verdict = m_decide(packet, length);
        }
        batch.add(id, verdict);
        m_packets.fetch_add(1, std::memory_order_relaxed);
    }
}

bool NetfilterQueue::sendVerdicts(VerdictBatch& batch) {
    if (batch.empty()) {
        return true;
    }
    m_drops.fetch_add(batch.dropCount(), std::memory_order_relaxed);
    const auto messages = batch.messages();
    while (::send(m_fd, messages.data(), messages.size(), 0) < 0) {
        if (errno != EINTR) {
            m_onFatal("queue " + std::to_string(m_number) +
                      ": cannot send verdicts: " + errnoText(errno));
            return false;
        }
    }
    batch.clear();
    return true;
}

void NetfilterQueue::run() {
    constexpr size_t kBatch = VerdictBatch::kMaxPackets;
    std::vector<uint8_t> storage(kBatch * kDatagramRoom);
    std::array<iovec, kBatch> vectors{};
    std::array<mmsghdr, kBatch> headers{};
    for (size_t i = 0; i < kBatch; ++i) {
        vectors[i] = {storage.data() + i * kDatagramRoom, kDatagramRoom};
        headers[i].msg_hdr.msg_iov = &vectors[i];
        headers[i].msg_hdr.msg_iovlen = 1;
    }
    VerdictBatch batch(m_number);
    bool stopping = false;
    std::chrono::steady_clock::time_point deadline{};
    for (;;) {
        int timeout = -1;
        if (stopping) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                return; // what still waits is dropped by the kernel as the queue goes
            }
            timeout = static_cast<int>(std::min<int64_t>(left.count(), kDrainQuietMilliseconds));
        }
        std::array<pollfd, 2> fds{{{m_fd, POLLIN, 0}, {m_stopFd, POLLIN, 0}}};
        const int ready = ::poll(fds.data(), stopping ? 1 : 2, timeout);
        if (ready < 0 && errno != EINTR) {
            m_onFatal("queue " + std::to_string(m_number) + ": poll failed: " + errnoText(errno));
            return;
        }
        if (ready == 0) {
            // Quiet: done when every packet handed to us has its verdict.
            const auto stats = readQueueStatistics(m_number);
            if (!stats || stats->waiting == 0) {
                return;
            }
            continue;
        }
        if (!stopping && (fds[1].revents & POLLIN) != 0) {
            stopping = true;
            deadline = std::chrono::steady_clock::now() + kDrainDeadline;
        }
        if ((fds[0].revents & POLLIN) == 0) {
            continue;
        }
        const int count = ::recvmmsg(m_fd, headers.data(), kBatch, MSG_DONTWAIT, nullptr);
        if (count < 0) {
            if (errno == ENOBUFS) {
                continue; // the kernel let packets pass meanwhile; they are counted
            }
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) {
                continue;
            }
            m_onFatal("queue " + std::to_string(m_number) +
                      ": receive failed: " + errnoText(errno));
            return;
        }
        for (int i = 0; i < count; ++i) {
            handleDatagram(std::span(storage.data() + static_cast<size_t>(i) * kDatagramRoom,
                                     headers[static_cast<size_t>(i)].msg_len),
                           batch);
        }
        // One send for the whole read: the verdicts are what the queue waits on.
        if (!sendVerdicts(batch)) {
            return;
        }
    }
}

} // namespace ovlank
