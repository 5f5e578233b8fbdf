// The control requests: size rules, statuses, the rule-list operations behind them
// and the hook registration, all through dispatch() with real request bytes.
#include "EngineHarness.h"

#include <gtest/gtest.h>

#include <memory_resource>

namespace ovlank::test {
namespace {

constexpr uint32_t kHostA = ip(192, 168, 1, 5);
constexpr uint32_t kHostB = ip(10, 0, 0, 9);

uint32_t ruleCount(EngineHarness& h) {
    return static_cast<uint32_t>(h.bandwidth().size() - 2);
}

TEST(Requests, InputSizesAreExactWhereTheRecordIsFixed) {
    EngineHarness h;
    const Bytes rule = RuleBuilder().tcp().bytes();
    for (size_t size : {0, 1, 167, 169, 172}) {
        Bytes input = rule;
        input.resize(size, 0);
        EXPECT_EQ(h.status(ADD_FILTER, input), STATUS_INVALID_PARAMETER) << size;
    }
    EXPECT_EQ(ruleCount(h), 0u);
    ASSERT_EQ(h.status(ADD_FILTER, rule), STATUS_SUCCESS);

    const Bytes change = changeFilterBytes(0, RuleBuilder().udp().build());
    for (size_t size : {0, 168, 171, 173}) {
        Bytes input = change;
        input.resize(size, 0);
        EXPECT_EQ(h.status(CHANGE_FILTER, input), STATUS_INVALID_PARAMETER) << size;
    }
    // The rule is still the TCP rule.
    EXPECT_EQ(matchIndex(h, PacketBuilder::udp(kHostA, 1, kHostB, 2)), -1);
    ASSERT_EQ(h.status(CHANGE_FILTER, change), STATUS_SUCCESS);
    EXPECT_EQ(matchIndex(h, PacketBuilder::udp(kHostA, 1, kHostB, 2)), 0);

    // SET_PORTS: exactly 6 + 2 × count, or 6 alone with "matches nothing".
    const Bytes twoPorts = portListBytes(0, 0, {5000, 6000});
    EXPECT_EQ(h.status(SET_PORTS, Bytes(twoPorts.begin(), twoPorts.begin() + 5)),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(h.status(SET_PORTS, Bytes(twoPorts.begin(), twoPorts.end() - 1)),
              STATUS_INVALID_PARAMETER);
    Bytes longer = twoPorts;
    longer.push_back(0);
    longer.push_back(0);
    EXPECT_EQ(h.status(SET_PORTS, longer), STATUS_INVALID_PARAMETER);
    Bytes nothingWithPorts = portListHead(0, 0, kPortListMatchesNothing);
    nothingWithPorts.resize(8, 0);
    EXPECT_EQ(h.status(SET_PORTS, nothingWithPorts), STATUS_INVALID_PARAMETER);
    Bytes zeroWithPorts = portListHead(0, 0, 0);
    zeroWithPorts.resize(8, 0);
    EXPECT_EQ(h.status(SET_PORTS, zeroWithPorts), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(h.status(SET_PORTS, twoPorts), STATUS_SUCCESS);

    // SET_LOCALIP: exactly 4 + 4 × count.
    const Bytes two = localAddressBytes({kHostA, kHostB});
    EXPECT_EQ(h.status(SET_LOCALIP, Bytes(two.begin(), two.begin() + 3)), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(h.status(SET_LOCALIP, Bytes(two.begin(), two.end() - 1)), STATUS_INVALID_PARAMETER);
    Bytes three = two;
    three.resize(16, 0);
    EXPECT_EQ(h.status(SET_LOCALIP, three), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(h.status(SET_LOCALIP, two), STATUS_SUCCESS);
}

TEST(Requests, OutputSizesAreLowerBounds) {
    EngineHarness h;
    // GET_VERSION answers 1300 in 4 bytes whatever the state.
    EXPECT_EQ(h.request(GET_VERSION, {}, 3).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(h.request(GET_VERSION, {}, 4).output, (Bytes{0x14, 0x05, 0, 0}));
    ASSERT_EQ(h.add(RuleBuilder().block()), STATUS_SUCCESS);
    h.filtering(true);
    EXPECT_EQ(h.request(GET_VERSION, {}, 64).output, (Bytes{0x14, 0x05, 0, 0}));

    // GET_PACKET needs 48 bytes even for an empty ring, and a refusal leaves the entry.
    EngineHarness g;
    EXPECT_EQ(g.request(GET_PACKET, {}, 47).status, STATUS_INVALID_PARAMETER);
    g.send(PacketBuilder::udp(kHostA, 1, kHostB, 2));
    EXPECT_EQ(g.request(GET_PACKET, {}, 47).status, STATUS_INVALID_PARAMETER);
    const Reply big = g.request(GET_PACKET, {}, 4096);
    EXPECT_EQ(big.status, STATUS_SUCCESS);
    EXPECT_EQ(big.output.size(), 36u);
    EXPECT_EQ(g.request(GET_PACKET, {}, 48).output.size(), 0u);

    // CLEAR_BANDWIDTH needs 4 × rules + 8.
    EngineHarness c;
    const Reply empty = c.request(CLEAR_BANDWIDTH, {}, 8);
    EXPECT_EQ(empty.status, STATUS_SUCCESS);
    EXPECT_EQ(empty.output, Bytes(8, 0));
    ASSERT_EQ(c.add(RuleBuilder()), STATUS_SUCCESS);
    ASSERT_EQ(c.add(RuleBuilder()), STATUS_SUCCESS);
    EXPECT_EQ(c.request(CLEAR_BANDWIDTH, {}, 15).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(c.request(CLEAR_BANDWIDTH, {}, 16).output.size(), 16u);
    EXPECT_EQ(c.request(CLEAR_BANDWIDTH, {}, 1000).output.size(), 16u);
}

TEST(Requests, RequestsWithoutBuffersIgnoreThemAndUnknownCodesAreRefused) {
    EngineHarness h;
    const Bytes junk(40, 0x5A);
    for (uint32_t code :
         {START_IP_HOOK, STOP_IP_HOOK, CLEAR_FILTER, START_FILTERING, STOP_FILTERING}) {
        const Reply reply = h.request(code, junk, 40);
        EXPECT_EQ(reply.status, STATUS_SUCCESS) << std::hex << code;
        EXPECT_TRUE(reply.output.empty());
    }
    // Output requests ignore input; input requests write no output.
    EXPECT_EQ(h.request(GET_VERSION, junk, 4).output.size(), 4u);
    EXPECT_TRUE(h.request(ADD_FILTER, RuleBuilder().bytes(), 48).output.empty());

    for (uint32_t code : {0u, 0xFFFFFFFFu, 0x432220BCu, 0x432220F0u, ADD_FILTER & ~(3u << 14),
                          GET_VERSION | 3u, 0x00220000u | (0x834u << 2)}) {
        const Reply reply = h.request(code, RuleBuilder().bytes(), 300);
        EXPECT_EQ(reply.status, STATUS_INVALID_PARAMETER) << std::hex << code;
        EXPECT_TRUE(reply.output.empty());
    }
    EXPECT_EQ(ruleCount(h), 1u);
}

TEST(Requests, TheSixtyFifthRuleIsRefusedAndTheFirstSixtyFourKeepWorking) {
    EngineHarness h;
    for (uint16_t i = 0; i < kMaxRules; ++i)
        ASSERT_EQ(h.add(RuleBuilder().tcp().destinationPorts(
                      {{static_cast<uint16_t>(i + 1), static_cast<uint16_t>(i + 1)}})),
                  STATUS_SUCCESS)
            << i;
    EXPECT_EQ(h.add(RuleBuilder()), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(ruleCount(h), 64u);
    EXPECT_EQ(matchIndex(h, PacketBuilder::tcp(kHostA, 9, kHostB, 64)), 63);
    EXPECT_EQ(matchIndex(h, PacketBuilder::tcp(kHostA, 9, kHostB, 65)), -1);
    EXPECT_EQ(h.setPorts(63, 0, {9}), STATUS_SUCCESS);
    EXPECT_EQ(h.setPorts(64, 0, {9}), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(h.change(63, RuleBuilder().udp()), STATUS_SUCCESS);
    EXPECT_EQ(h.change(64, RuleBuilder().udp()), STATUS_INVALID_PARAMETER);

    // After CLEAR_FILTER the list takes 64 fresh rules again, with no old port lists.
    ASSERT_EQ(h.status(CLEAR_FILTER), STATUS_SUCCESS);
    EXPECT_EQ(ruleCount(h), 0u);
    for (uint32_t i = 0; i < kMaxRules; ++i)
        ASSERT_EQ(h.add(RuleBuilder().tcp()), STATUS_SUCCESS);
    EXPECT_EQ(matchIndex(h, PacketBuilder::tcp(kHostA, 1, kHostB, 2)), 0);
}

TEST(Requests, ChangeFilterReplacesOnlyTheMatchAndActionOfOneRule) {
    EngineHarness h;
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(h.add(RuleBuilder().tcp().source(ip(10, 0, 0, static_cast<uint8_t>(i)),
                                                   ip(255, 255, 255, 255))),
                  STATUS_SUCCESS);
    ASSERT_EQ(h.setPorts(2, 1, {80}), STATUS_SUCCESS);
    const auto from = [](uint8_t host, uint16_t port) {
        return PacketBuilder::tcp(ip(10, 0, 0, host), 1000, kHostB, port).payload(6);
    };
    h.send(from(2, 80));
    h.send(from(3, 80));

    ASSERT_EQ(h.change(2, RuleBuilder().tcp().source(ip(10, 0, 0, 7), ip(255, 255, 255, 255))),
              STATUS_SUCCESS);
    h.send(from(7, 80));
    // Counter kept (two packets), port list kept (port 81 does not match).
    EXPECT_EQ(matchIndex(h, from(7, 81)), -1);
    EXPECT_EQ(matchIndex(h, from(2, 80)), -1);
    EXPECT_EQ(matchIndex(h, from(1, 80)), 1);
    const uint32_t size = wireSize(from(7, 80).build());
    EXPECT_EQ(h.bandwidth(), (std::vector<uint32_t>{0, size, 2 * size, size, 0, 0}));

    EXPECT_EQ(h.change(4, RuleBuilder()), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(h.change(0xFFFFFFFF, RuleBuilder()), STATUS_INVALID_PARAMETER);
}

TEST(Requests, SetPortsAcceptsItsSpecialCountsAndRefusesTheRest) {
    EngineHarness h;
    ASSERT_EQ(h.add(RuleBuilder().tcp()), STATUS_SUCCESS);
    ASSERT_EQ(h.setPorts(0, 1, {443}), STATUS_SUCCESS);

    // 257 ports with a matching length: refused, the list of 443 stays.
    std::vector<uint16_t> tooMany(257, 80);
    EXPECT_EQ(h.setPorts(0, 1, tooMany), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(matchIndex(h, PacketBuilder::tcp(kHostA, 1, kHostB, 443)), 0);
    EXPECT_EQ(matchIndex(h, PacketBuilder::tcp(kHostA, 1, kHostB, 80)), -1);
    // Past the end of the list.
    EXPECT_EQ(h.setPorts(1, 1, {80}), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(h.status(SET_PORTS, portListHead(1, 1, kPortListMatchesNothing)),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(matchIndex(h, PacketBuilder::tcp(kHostA, 1, kHostB, 443)), 0);

    // 6 bytes with "matches nothing", then 6 bytes with count 0.
    EXPECT_EQ(h.status(SET_PORTS, portListHead(0, 1, kPortListMatchesNothing)), STATUS_SUCCESS);
    EXPECT_EQ(matchIndex(h, PacketBuilder::tcp(kHostA, 1, kHostB, 443)), -1);
    EXPECT_EQ(h.status(SET_PORTS, portListHead(0, 1, 0)), STATUS_SUCCESS);
    EXPECT_EQ(matchIndex(h, PacketBuilder::tcp(kHostA, 1, kHostB, 80)), 0);
}

TEST(Requests, ClearBandwidthReadsInRuleOrderAndResetsEvenWhenRefused) {
    EngineHarness h;
    ASSERT_EQ(h.add(RuleBuilder().udp()), STATUS_SUCCESS);
    ASSERT_EQ(h.add(RuleBuilder().tcp()), STATUS_SUCCESS);
    ASSERT_EQ(h.setLocal({kHostA}), STATUS_SUCCESS);
    const auto tcp = PacketBuilder::tcp(kHostA, 1, kHostB, 2).totalLength(0x0102);
    const auto udp = PacketBuilder::udp(kHostB, 1, kHostA, 2).totalLength(0x0304);
    h.send(tcp);
    h.send(udp);
    const Reply reply = h.request(CLEAR_BANDWIDTH, {}, 16);
    ASSERT_EQ(reply.status, STATUS_SUCCESS);
    // Little-endian counts: UDP rule 0x312, TCP rule 0x110, sent 0x110, received 0x312.
    EXPECT_EQ(reply.output,
              (Bytes{0x12, 0x03, 0, 0, 0x10, 0x01, 0, 0, 0x10, 0x01, 0, 0, 0x12, 0x03, 0, 0}));
    EXPECT_EQ(h.request(CLEAR_BANDWIDTH, {}, 16).output, Bytes(16, 0));

    h.send(tcp);
    EXPECT_EQ(h.request(CLEAR_BANDWIDTH, {}, 15).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(h.request(CLEAR_BANDWIDTH, {}, 16).output, Bytes(16, 0));

    // STOP_IP_HOOK and CLEAR_FILTER reset the counters too.
    h.send(tcp);
    ASSERT_EQ(h.status(STOP_IP_HOOK), STATUS_SUCCESS);
    EXPECT_EQ(h.bandwidth(), (std::vector<uint32_t>{0, 0, 0, 0}));
    ASSERT_EQ(h.setLocal({kHostA}), STATUS_SUCCESS);
    h.send(tcp);
    ASSERT_EQ(h.status(CLEAR_FILTER), STATUS_SUCCESS);
    EXPECT_EQ(h.bandwidth(), (std::vector<uint32_t>{0, 0}));
}

TEST(Requests, HookRegistrationGoesThroughTheRegistrar) {
    EngineHarness h;
    ASSERT_EQ(h.add(RuleBuilder().tcp()), STATUS_SUCCESS);
    EXPECT_EQ(h.status(START_IP_HOOK), STATUS_SUCCESS);
    h.registrar.registerStatus = 0xC0000034; // object name not found
    EXPECT_EQ(h.status(START_IP_HOOK), 0xC0000034u);
    // STOP_IP_HOOK always succeeds and keeps the rules.
    EXPECT_EQ(h.status(STOP_IP_HOOK), STATUS_SUCCESS);
    EXPECT_EQ(h.registrar.calls, (std::vector<std::string>{"register", "register", "unregister"}));
    EXPECT_EQ(ruleCount(h), 1u);

    // Unload: unregister, and back to the state after load.
    h.registrar.registerStatus = STATUS_SUCCESS;
    ASSERT_EQ(h.status(START_IP_HOOK), STATUS_SUCCESS);
    h.filtering(true);
    h.send(PacketBuilder::udp(kHostA, 1, kHostB, 2));
    h.engine.unload();
    EXPECT_EQ(h.registrar.calls.back(), "unregister");
    EXPECT_EQ(h.bandwidth(), (std::vector<uint32_t>{0, 0}));
    EXPECT_FALSE(h.nextCapture());
    ASSERT_EQ(h.add(RuleBuilder().block()), STATUS_SUCCESS);
    EXPECT_EQ(h.send(PacketBuilder::udp(kHostA, 1, kHostB, 2)), Verdict::Forward);
}

TEST(Requests, DestroyingTheEngineUnregistersAHookLeftRegistered) {
    RecordingRegistrar registrar;
    {
        Engine engine(registrar);
        EXPECT_EQ(engine.dispatch(START_IP_HOOK, {}, {}).status, STATUS_SUCCESS);
    }
    EXPECT_EQ(registrar.calls, (std::vector<std::string>{"register", "unregister"}));

    registrar.calls.clear();
    {
        Engine engine(registrar);
        registrar.registerStatus = STATUS_UNSUCCESSFUL;
        EXPECT_EQ(engine.dispatch(START_IP_HOOK, {}, {}).status, STATUS_UNSUCCESSFUL);
    }
    EXPECT_EQ(registrar.calls, (std::vector<std::string>{"register"}));
}

} // namespace
} // namespace ovlank::test
