// Packets decided on two threads while a third thread sends control requests. Run
// under ThreadSanitizer as well; the checks are on what the requests return.
#include "EngineHarness.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <random>
#include <thread>

namespace ovlank::test {
namespace {

// Packets per hook thread; the control thread sends requests for as long as they
// run. Two threads' worth is not a whole number of ring laps, so even a run in which
// no read came between the writes leaves entries to check afterwards.
constexpr int kPacketsPerThread = 30001;

struct Template {
    Bytes bytes;
    uint32_t wire = 0;
};

// TCP and UDP packets from local addresses to remote ones, of several sizes.
std::vector<Template> makeTemplates() {
    std::vector<Template> templates;
    for (uint8_t host = 1; host <= 4; ++host) {
        const uint32_t local = ip(192, 168, 1, host);
        const uint32_t remote = ip(10, 9, 8, host);
        templates.push_back({PacketBuilder::tcp(local, 40000, remote, 80).payload(host).build()});
        templates.push_back(
            {PacketBuilder::tcp(local, 40001, remote, 443, kTcpFlagSyn).payload(0).build()});
        templates.push_back(
            {PacketBuilder::udp(local, 5353, remote, 53).payload(3 * host).build()});
    }
    for (Template& t : templates)
        t.wire = wireSize(t.bytes);
    return templates;
}

// A GET_PACKET reply must be one of the packets sent, whole, with a rule index in range.
void expectWellFormed(const Bytes& reply, const std::vector<Template>& templates,
                      int32_t maxIndex) {
    ASSERT_GE(reply.size(), 28u);
    const auto index = static_cast<int32_t>(readLittle32(reply, 0));
    const uint32_t length = readLittle32(reply, 4);
    EXPECT_GE(index, -1);
    EXPECT_LT(index, maxIndex);
    ASSERT_EQ(reply.size(), 8u + length);
    bool found = false;
    for (const Template& t : templates) {
        const size_t n = std::min<size_t>(t.bytes.size() - 20, 20);
        if (length == 20 + n && std::equal(reply.begin() + 8, reply.end(), t.bytes.begin()))
            found = true;
    }
    EXPECT_TRUE(found) << "a captured entry is not one of the packets sent";
}

TEST(Concurrency, CountersAddUpWhileRulesAndSwitchChange) {
    const std::vector<Template> templates = makeTemplates();
    EngineHarness h;
    // Rules 0 to 3 change; rule 4 catches whatever they let through, so every packet
    // is counted against exactly one rule.
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(h.add(RuleBuilder().tcp()), STATUS_SUCCESS);
    ASSERT_EQ(h.add(RuleBuilder()), STATUS_SUCCESS);
    std::vector<uint32_t> locals;
    for (uint8_t host = 1; host <= 4; ++host)
        locals.push_back(ip(192, 168, 1, host));
    ASSERT_EQ(h.setLocal(locals), STATUS_SUCCESS);

    std::atomic<int> running{2};
    std::latch start(3);
    uint64_t sentBytes[2] = {};
    uint64_t forwardedBytes[2] = {};
    std::vector<std::thread> hooks;
    for (int t = 0; t < 2; ++t) {
        hooks.emplace_back([&, t] {
            start.arrive_and_wait();
            for (int i = 0; i < kPacketsPerThread; ++i) {
                const Template& p =
                    templates[(static_cast<size_t>(i) * 7 + static_cast<size_t>(t)) %
                              templates.size()];
                sentBytes[t] += p.wire;
                if (h.engine.decidePacket(p.bytes) == Verdict::Forward)
                    forwardedBytes[t] += p.wire;
            }
            running.fetch_sub(1);
        });
    }

    uint64_t ruleSum = 0;
    uint64_t sentTotal = 0;
    int captures = 0;
    const auto readCounters = [&] {
        const Reply reply = h.request(CLEAR_BANDWIDTH, {}, 264);
        if (reply.output.size() != 28u) {
            ADD_FAILURE() << "reply of " << reply.output.size() << " bytes";
            return;
        }
        for (size_t i = 0; i < 5; ++i)
            ruleSum += readLittle32(reply.output, 4 * i);
        sentTotal += readLittle32(reply.output, 20);
        EXPECT_EQ(readLittle32(reply.output, 24), 0u); // nothing goes to a local address
    };
    std::mt19937 random(7);
    start.arrive_and_wait();
    while (running.load() > 0) {
        const uint16_t rule = static_cast<uint16_t>(random() % 4);
        switch (random() % 6) {
        case 0: {
            RuleBuilder changed;
            changed.protocol(random() % 2 ? kProtocolTcp : kProtocolUdp)
                .destinationPorts({{80, 80}, {53, 53}});
            if (random() % 2)
                changed.block();
            EXPECT_EQ(h.change(rule, changed), STATUS_SUCCESS);
            break;
        }
        case 1:
            EXPECT_EQ(h.setPorts(rule, static_cast<uint16_t>(random() % 2),
                                 {static_cast<uint16_t>(random() % 2 ? 40000 : 443)}),
                      STATUS_SUCCESS);
            break;
        case 2: h.filtering(random() % 2 == 0); break;
        case 3: readCounters(); break;
        default: {
            const Reply reply = h.request(GET_PACKET, {}, 48);
            if (!reply.output.empty()) {
                expectWellFormed(reply.output, templates, 5);
                ++captures;
            }
        }
        }
    }
    for (std::thread& t : hooks)
        t.join();
    readCounters();
    while (true) {
        const Reply reply = h.request(GET_PACKET, {}, 48);
        if (reply.output.empty())
            break;
        expectWellFormed(reply.output, templates, 5);
        ++captures;
    }

    EXPECT_EQ(ruleSum, sentBytes[0] + sentBytes[1]);
    EXPECT_EQ(sentTotal, forwardedBytes[0] + forwardedBytes[1]);
    EXPECT_GT(captures, 0);
}

TEST(Concurrency, RuleListAndAddressListReplacedUnderTheHook) {
    const std::vector<Template> templates = makeTemplates();
    // Both hook threads send this one packet, so every count is a multiple of its size.
    const uint32_t wire = templates[0].wire;
    EngineHarness h;
    std::atomic<int> running{2};
    std::atomic<int> dropped{0};
    std::latch start(3);
    std::vector<std::thread> hooks;
    for (int t = 0; t < 2; ++t) {
        hooks.emplace_back([&] {
            start.arrive_and_wait();
            for (int i = 0; i < kPacketsPerThread; ++i)
                if (h.engine.decidePacket(templates[0].bytes) == Verdict::Drop)
                    dropped.fetch_add(1);
            running.fetch_sub(1);
        });
    }

    // Only this thread changes the list, so it knows the rule count at every moment.
    uint32_t rules = 0;
    std::mt19937 random(11);
    start.arrive_and_wait();
    while (running.load() > 0) {
        switch (random() % 7) {
        case 0:
            if (rules == kMaxRules) {
                EXPECT_EQ(h.status(CLEAR_FILTER), STATUS_SUCCESS);
                rules = 0;
            } else {
                // Blocking rules, but filtering stays off: nothing may be dropped.
                EXPECT_EQ(h.add(RuleBuilder().tcp().block()), STATUS_SUCCESS);
                ++rules;
            }
            break;
        case 1: {
            std::vector<uint32_t> locals(random() % 300, ip(10, 0, 0, 1));
            locals.push_back(ip(192, 168, 1, 1));
            EXPECT_EQ(h.setLocal(locals), STATUS_SUCCESS);
            break;
        }
        case 2: EXPECT_EQ(h.status(STOP_IP_HOOK), STATUS_SUCCESS); break;
        case 3:
            if (rules > 0) {
                EXPECT_EQ(h.setPorts(static_cast<uint16_t>(random() % rules), 1, {80}),
                          STATUS_SUCCESS);
            }
            break;
        case 4: {
            const Reply reply = h.request(CLEAR_BANDWIDTH, {}, 264);
            EXPECT_EQ(reply.output.size(), 4 * rules + 8);
            // Every packet has the same wire size: a torn count would not be a multiple.
            for (size_t at = 0; at < reply.output.size(); at += 4)
                EXPECT_EQ(readLittle32(reply.output, at) % wire, 0u);
            break;
        }
        default: {
            const Reply reply = h.request(GET_PACKET, {}, 48);
            if (!reply.output.empty())
                expectWellFormed(reply.output, templates, static_cast<int32_t>(kMaxRules));
        }
        }
    }
    for (std::thread& t : hooks)
        t.join();
    EXPECT_EQ(dropped.load(), 0);
}

} // namespace
} // namespace ovlank::test
