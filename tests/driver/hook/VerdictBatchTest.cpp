#include "VerdictBatch.h"

#include <arpa/inet.h>
#include <netinet/in.h>

extern "C" {
#include <libmnl/libmnl.h>
#include <libnetfilter_queue/libnetfilter_queue.h>
#include <linux/netfilter.h>
#include <linux/netfilter/nfnetlink_queue.h>
}

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace ovlank {
namespace {

struct SentVerdict {
    int type;
    uint16_t queue;
    uint32_t verdict;
    uint32_t id;
    bool operator==(const SentVerdict&) const = default;
};

// Reads the messages back the way the kernel would.
std::vector<SentVerdict> decode(std::span<const uint8_t> bytes) {
    std::vector<SentVerdict> result;
    int remaining = static_cast<int>(bytes.size());
    for (auto* nlh = reinterpret_cast<const nlmsghdr*>(bytes.data()); mnl_nlmsg_ok(nlh, remaining);
         nlh = mnl_nlmsg_next(nlh, &remaining)) {
        const auto* gen = static_cast<const nfgenmsg*>(mnl_nlmsg_get_payload(nlh));
        auto* attribute =
            static_cast<const nlattr*>(mnl_nlmsg_get_payload_offset(nlh, sizeof(nfgenmsg)));
        const auto* end = static_cast<const char*>(mnl_nlmsg_get_payload_tail(nlh));
        for (; mnl_attr_ok(attribute,
                           static_cast<int>(end - reinterpret_cast<const char*>(attribute)));
             attribute = mnl_attr_next(attribute)) {
            if (mnl_attr_get_type(attribute) == NFQA_VERDICT_HDR) {
                nfqnl_msg_verdict_hdr header{};
                std::memcpy(&header, mnl_attr_get_payload(attribute), sizeof(header));
                result.push_back({nlh->nlmsg_type & 0xFF, ntohs(gen->res_id), ntohl(header.verdict),
                                  ntohl(header.id)});
            }
        }
    }
    EXPECT_EQ(remaining, 0);
    return result;
}

TEST(VerdictBatch, AllAcceptedIsOneBatchVerdictForTheHighestId) {
    VerdictBatch batch(4322);
    EXPECT_TRUE(batch.empty());
    EXPECT_TRUE(batch.messages().empty());
    for (uint32_t id = 5; id <= 9; ++id) {
        batch.add(id, Verdict::Forward);
    }
    EXPECT_EQ(decode(batch.messages()),
              (std::vector<SentVerdict>{{NFQNL_MSG_VERDICT_BATCH, 4322, NF_ACCEPT, 9}}));
}

TEST(VerdictBatch, DropsGoFirstOneByOneThenTheBatchAccept) {
    VerdictBatch batch(7);
    batch.add(1, Verdict::Forward);
    batch.add(2, Verdict::Drop);
    batch.add(3, Verdict::Forward);
    batch.add(4, Verdict::Drop);
    EXPECT_EQ(batch.dropCount(), 2u);
    EXPECT_EQ(decode(batch.messages()), (std::vector<SentVerdict>{
                                            {NFQNL_MSG_VERDICT, 7, NF_DROP, 2},
                                            {NFQNL_MSG_VERDICT, 7, NF_DROP, 4},
                                            {NFQNL_MSG_VERDICT_BATCH, 7, NF_ACCEPT, 3},
                                        }));
    batch.clear();
    EXPECT_TRUE(batch.empty());
    batch.add(10, Verdict::Drop);
    EXPECT_EQ(decode(batch.messages()),
              (std::vector<SentVerdict>{{NFQNL_MSG_VERDICT, 7, NF_DROP, 10}}));
}

TEST(VerdictBatch, GrowsPastItsUsualSizeWithoutOverrunning) {
    VerdictBatch batch(1);
    const uint32_t count = 3 * VerdictBatch::kMaxPackets;
    for (uint32_t id = 1; id <= count; ++id) {
        batch.add(id, Verdict::Drop);
    }
    const auto sent = decode(batch.messages());
    ASSERT_EQ(sent.size(), count);
    EXPECT_EQ(sent.back(), (SentVerdict{NFQNL_MSG_VERDICT, 1, NF_DROP, count}));
}

} // namespace
} // namespace ovlank
