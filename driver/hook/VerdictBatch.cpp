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

namespace ovlank {
namespace {

// One verdict message: header, nfgenmsg and the verdict attribute, rounded up.
constexpr size_t kVerdictMessageRoom = 64;

} // namespace

VerdictBatch::VerdictBatch(uint16_t queue) : m_queue(queue) {
    m_drops.reserve(kMaxPackets);
    m_buffer.resize((kMaxPackets + 1) * kVerdictMessageRoom);
}

void VerdictBatch::add(uint32_t packetId, Verdict verdict) {
    if (verdict == Verdict::Drop) {
        m_drops.push_back(packetId);
    } else {
        m_highestAccepted = packetId;
        m_anyAccepted = true;
    }
}

std::span<const uint8_t> VerdictBatch::messages() {
    const size_t needed = (m_drops.size() + 1) * kVerdictMessageRoom;
    if (m_buffer.size() < needed) {
        m_buffer.resize(needed);
    }
    auto* base = reinterpret_cast<char*>(m_buffer.data());
    size_t used = 0;
    // Drops go first: the batch verdict after them accepts only what is still queued.
    for (uint32_t id : m_drops) {
        nlmsghdr* nlh = nfq_nlmsg_put(base + used, NFQNL_MSG_VERDICT, m_queue);
        nfq_nlmsg_verdict_put(nlh, static_cast<int>(id), NF_DROP);
        used += NLMSG_ALIGN(nlh->nlmsg_len);
    }
    if (m_anyAccepted) {
        nlmsghdr* nlh = nfq_nlmsg_put(base + used, NFQNL_MSG_VERDICT_BATCH, m_queue);
        nfq_nlmsg_verdict_put(nlh, static_cast<int>(m_highestAccepted), NF_ACCEPT);
        used += NLMSG_ALIGN(nlh->nlmsg_len);
    }
    return std::span<const uint8_t>(m_buffer.data(), used);
}

void VerdictBatch::clear() {
    m_drops.clear();
    m_anyAccepted = false;
}

} // namespace ovlank
