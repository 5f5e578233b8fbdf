// The decision for one packet: which rule matches, the verdict, and what is counted
// and recorded. Observed through decidePacket's verdict, GET_PACKET and
// CLEAR_BANDWIDTH.
#include "EngineHarness.h"

#include <gtest/gtest.h>

namespace ovlank::test {
namespace {

constexpr uint32_t kHostA = ip(192, 168, 1, 5);
constexpr uint32_t kHostB = ip(10, 0, 0, 9);
constexpr uint32_t kMask24 = ip(255, 255, 255, 0);
constexpr uint32_t kMask32 = ip(255, 255, 255, 255);

PacketBuilder tcpAB(uint16_t sourcePort = 40000, uint16_t destinationPort = 80,
                    uint8_t flags = kTcpFlagAck) {
    return PacketBuilder::tcp(kHostA, sourcePort, kHostB, destinationPort, flags);
}

TEST(Decision, EmptyListForwardsAndRecordsEveryPacketWithoutARule) {
    EngineHarness h;
    h.filtering(true);
    EXPECT_EQ(h.send(tcpAB()), Verdict::Forward);
    EXPECT_EQ(h.send(PacketBuilder::udp(kHostA, 53, kHostB, 53)), Verdict::Forward);
    EXPECT_EQ(h.send(PacketBuilder::icmp(kHostA, kHostB)), Verdict::Forward);
    EXPECT_EQ(h.send(PacketBuilder::other(47, kHostA, kHostB)), Verdict::Forward);
    EXPECT_EQ(h.drainIndexes(), (std::vector<int32_t>{-1, -1, -1, -1}));
    EXPECT_EQ(h.bandwidth(), (std::vector<uint32_t>{0, 0}));
}

TEST(Decision, OtherProtocolsAreDecidedByTheFirstAddressMatchWithoutCounting) {
    EngineHarness h;
    // Port ranges play no part for ICMP: protocol and addresses decide alone.
    ASSERT_EQ(h.add(RuleBuilder().tcp().block()), STATUS_SUCCESS);
    ASSERT_EQ(h.add(RuleBuilder().protocol(kProtocolIcmp).destinationPorts({{1, 1}})),
              STATUS_SUCCESS);
    ASSERT_EQ(h.add(RuleBuilder().protocol(0).block()), STATUS_SUCCESS);
    h.filtering(true);

    EXPECT_EQ(h.send(PacketBuilder::icmp(kHostA, kHostB)), Verdict::Forward);   // rule 1 passes
    EXPECT_EQ(h.send(PacketBuilder::other(47, kHostA, kHostB)), Verdict::Drop); // rule 2 blocks
    EXPECT_TRUE(h.drainIndexes().empty());
    EXPECT_EQ(h.bandwidth(), (std::vector<uint32_t>{0, 0, 0, 0, 0}));

    // A blocking protocol-0 rule drops ICMP only while filtering is on.
    h.filtering(false);
    EXPECT_EQ(h.send(PacketBuilder::other(47, kHostA, kHostB)), Verdict::Forward);
    EXPECT_TRUE(h.drainIndexes().empty());

    // The same rule counts and records a TCP packet it drops.
    EngineHarness any;
    ASSERT_EQ(any.add(RuleBuilder().block()), STATUS_SUCCESS);
    any.filtering(true);
    EXPECT_EQ(any.send(PacketBuilder::icmp(kHostA, kHostB)), Verdict::Drop);
    EXPECT_EQ(any.send(tcpAB()), Verdict::Drop);
    EXPECT_EQ(any.drainIndexes(), (std::vector<int32_t>{0}));
    EXPECT_EQ(any.bandwidth(), (std::vector<uint32_t>{wireSize(tcpAB().build()), 0, 0}));
}

TEST(Decision, ProtocolAndMaskedAddressesPickTheRule) {
    EngineHarness h;
    ASSERT_EQ(h.add(RuleBuilder().udp()), STATUS_SUCCESS);
    // 192.168.1.5/24 is kept as 192.168.1.0: every source of that network matches.
    ASSERT_EQ(h.add(RuleBuilder().tcp().source(kHostA, kMask24).destination(kHostB, kMask32)),
              STATUS_SUCCESS);
    ASSERT_EQ(h.add(RuleBuilder()), STATUS_SUCCESS);

    const auto from = [](uint32_t source, uint32_t destination) {
        return PacketBuilder::tcp(source, 1000, destination, 80);
    };
    EXPECT_EQ(matchIndex(h, from(ip(192, 168, 1, 77), kHostB)), 1);
    EXPECT_EQ(matchIndex(h, from(ip(192, 168, 1, 0), kHostB)), 1);
    EXPECT_EQ(matchIndex(h, from(ip(192, 168, 2, 5), kHostB)), 2);
    EXPECT_EQ(matchIndex(h, from(kHostA, ip(10, 0, 0, 8))), 2);
    EXPECT_EQ(matchIndex(h, PacketBuilder::udp(ip(1, 2, 3, 4), 1, kHostB, 2)), 0);

    // CHANGE_FILTER stores the address ANDed as well.
    ASSERT_EQ(h.change(1, RuleBuilder().tcp().source(ip(172, 16, 9, 9), ip(255, 255, 0, 0))),
              STATUS_SUCCESS);
    EXPECT_EQ(matchIndex(h, from(ip(172, 16, 200, 1), ip(8, 8, 8, 8))), 1);
    EXPECT_EQ(matchIndex(h, from(ip(192, 168, 1, 77), kHostB)), 2);

    // An address under a zero mask becomes 0 and matches everything.
    ASSERT_EQ(h.change(1, RuleBuilder().tcp().destination(kHostB, 0)), STATUS_SUCCESS);
    EXPECT_EQ(matchIndex(h, from(kHostA, ip(8, 8, 4, 4))), 1);
}

struct RangeCase {
    const char* name;
    PortRanges source;
    PortRanges destination;
    uint16_t sourcePort;
    uint16_t destinationPort;
    bool matches;
};

TEST(Decision, PortRangesInAllFourCombinations) {
    const RangeCase cases[] = {
        {"no ranges", {}, {}, 1, 65535, true},
        {"source only, inside", {{1000, 2000}}, {}, 1000, 9, true},
        {"source only, upper bound", {{1000, 2000}}, {}, 2000, 9, true},
        {"source only, outside", {{1000, 2000}}, {}, 2001, 9, false},
        {"source only, second range", {{1, 2}, {5000, 5000}}, {}, 5000, 9, true},
        {"destination only, inside", {}, {{80, 80}, {443, 443}}, 9, 443, true},
        {"destination only, outside", {}, {{80, 80}, {443, 443}}, 443, 444, false},
        {"both, both inside", {{1000, 2000}}, {{80, 80}}, 1500, 80, true},
        {"both, destination outside", {{1000, 2000}}, {{80, 80}}, 1500, 81, false},
        {"both, source outside", {{1000, 2000}}, {{80, 80}}, 3000, 80, false},
        // Bounds are compared in host order: 0x0102 is not 0x0201.
        {"byte order", {}, {{0x0102, 0x0102}}, 9, 0x0201, false},
        {"byte order, same port", {}, {{0x0102, 0x0102}}, 9, 0x0102, true},
        {"reversed range", {}, {{2000, 1000}}, 9, 1500, false},
        {"full range", {{0, 65535}}, {{0, 65535}}, 0, 65535, true},
    };
    for (const RangeCase& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool tcp : {true, false}) {
            EngineHarness h;
            RuleBuilder rule;
            rule.protocol(tcp ? kProtocolTcp : kProtocolUdp)
                .sourcePorts(c.source)
                .destinationPorts(c.destination);
            ASSERT_EQ(h.add(rule), STATUS_SUCCESS);
            ASSERT_EQ(h.add(RuleBuilder()), STATUS_SUCCESS);
            const PacketBuilder packet =
                tcp ? PacketBuilder::tcp(kHostA, c.sourcePort, kHostB, c.destinationPort)
                    : PacketBuilder::udp(kHostA, c.sourcePort, kHostB, c.destinationPort);
            EXPECT_EQ(matchIndex(h, packet), c.matches ? 0 : 1) << (tcp ? "TCP" : "UDP");
        }
    }
}

TEST(Decision, OnlyTheCountedRangesAreConsulted) {
    EngineHarness h;
    // Ranges 2 and 3 are filled in but the counts say 1: port 443 must not match.
    DriverRule record = RuleBuilder()
                            .tcp()
                            .sourcePorts({{1, 1}, {443, 443}})
                            .destinationPorts({{80, 80}, {443, 443}})
                            .build();
    record.sourceRangeCount = 0;
    record.destinationRangeCount = 1;
    ASSERT_EQ(h.status(ADD_FILTER, bytesOf(record)), STATUS_SUCCESS);
    ASSERT_EQ(h.add(RuleBuilder()), STATUS_SUCCESS);
    EXPECT_EQ(matchIndex(h, tcpAB(5, 80)), 0);
    EXPECT_EQ(matchIndex(h, tcpAB(5, 443)), 1);
}

TEST(Decision, PortListFollowsItsCountAndSelector) {
    EngineHarness h;
    ASSERT_EQ(h.add(RuleBuilder().tcp()), STATUS_SUCCESS);
    ASSERT_EQ(h.add(RuleBuilder()), STATUS_SUCCESS);

    ASSERT_EQ(h.setPorts(0, 0, {5000, 6000}), STATUS_SUCCESS); // source ports
    EXPECT_EQ(matchIndex(h, tcpAB(6000, 1)), 0);
    EXPECT_EQ(matchIndex(h, tcpAB(6001, 1)), 1);
    EXPECT_EQ(matchIndex(h, tcpAB(1, 6000)), 1);
    // UDP never looks at the list.
    EXPECT_EQ(matchIndex(h, PacketBuilder::udp(kHostA, 1, kHostB, 2)), 1); // rule 0 is TCP
    ASSERT_EQ(h.change(0, RuleBuilder()), STATUS_SUCCESS);
    EXPECT_EQ(matchIndex(h, PacketBuilder::udp(kHostA, 1, kHostB, 2)), 0);

    ASSERT_EQ(h.setPorts(0, 7, {6000}), STATUS_SUCCESS); // any nonzero selector: destination
    EXPECT_EQ(matchIndex(h, tcpAB(1, 6000)), 0);
    EXPECT_EQ(matchIndex(h, tcpAB(6000, 1)), 1);

    // "Matches nothing", even for a port of the list; the next rule decides.
    ASSERT_EQ(h.status(SET_PORTS, portListHead(0, 1, kPortListMatchesNothing)), STATUS_SUCCESS);
    EXPECT_EQ(matchIndex(h, tcpAB(1, 6000)), 1);
    // A new list replaces the old one completely.
    ASSERT_EQ(h.setPorts(0, 1, {7000}), STATUS_SUCCESS);
    EXPECT_EQ(matchIndex(h, tcpAB(1, 7000)), 0);
    EXPECT_EQ(matchIndex(h, tcpAB(1, 6000)), 1);
    EXPECT_EQ(matchIndex(h, tcpAB(1, 5000)), 1);
    // Count 0 lifts the restriction.
    ASSERT_EQ(h.setPorts(0, 1, {}), STATUS_SUCCESS);
    EXPECT_EQ(matchIndex(h, tcpAB(1, 6000)), 0);

    // A full list of 256 ports, in host order, including 0 and 65535.
    std::vector<uint16_t> ports;
    for (uint16_t i = 0; i < 255; ++i)
        ports.push_back(static_cast<uint16_t>(i * 257));
    ports.push_back(65535);
    ASSERT_EQ(h.setPorts(0, 0, ports), STATUS_SUCCESS);
    EXPECT_EQ(matchIndex(h, tcpAB(0, 1)), 0);
    EXPECT_EQ(matchIndex(h, tcpAB(65535, 1)), 0);
    EXPECT_EQ(matchIndex(h, tcpAB(257 * 200, 1)), 0);
    EXPECT_EQ(matchIndex(h, tcpAB(257 * 200 + 1, 1)), 1);
}

TEST(Decision, ConnectionRequestsOnlyDropsBareSynWithoutCountingIt) {
    EngineHarness h;
    ASSERT_EQ(h.add(RuleBuilder().tcp().block(true)), STATUS_SUCCESS);
    h.filtering(true);
    const auto syn = tcpAB(40000, 80, kTcpFlagSyn);
    const auto synAck = tcpAB(40000, 80, kTcpFlagSyn | kTcpFlagAck);
    const auto ack = tcpAB(40000, 80, kTcpFlagAck);

    EXPECT_EQ(h.send(syn), Verdict::Drop);
    EXPECT_TRUE(h.drainIndexes().empty());
    EXPECT_EQ(h.bandwidth(), (std::vector<uint32_t>{0, 0, 0}));

    EXPECT_EQ(h.send(synAck), Verdict::Forward);
    EXPECT_EQ(h.send(ack), Verdict::Forward);
    EXPECT_EQ(h.drainIndexes(), (std::vector<int32_t>{0, 0}));
    EXPECT_EQ(h.bandwidth()[0], wireSize(synAck.build()) + wireSize(ack.build()));

    // With filtering off even the bare SYN is only counted.
    h.filtering(false);
    EXPECT_EQ(h.send(syn), Verdict::Forward);
    EXPECT_EQ(h.drainIndexes(), (std::vector<int32_t>{0}));

    // For UDP the flag means nothing: every matching packet is dropped and counted.
    EngineHarness u;
    ASSERT_EQ(u.add(RuleBuilder().udp().block(true)), STATUS_SUCCESS);
    u.filtering(true);
    const auto datagram = PacketBuilder::udp(kHostA, 53, kHostB, 53).payload(4);
    EXPECT_EQ(u.send(datagram), Verdict::Drop);
    EXPECT_EQ(u.drainIndexes(), (std::vector<int32_t>{0}));
    EXPECT_EQ(u.bandwidth()[0], wireSize(datagram.build()));

    // A plain block rule drops TCP of every kind and counts it.
    EngineHarness b;
    ASSERT_EQ(b.add(RuleBuilder().tcp().block()), STATUS_SUCCESS);
    b.filtering(true);
    EXPECT_EQ(b.send(synAck), Verdict::Drop);
    EXPECT_EQ(b.drainIndexes(), (std::vector<int32_t>{0}));
}

TEST(Decision, LimitHoldsBackLargePacketsOnceTheBudgetIsSpent) {
    EngineHarness h;
    ASSERT_EQ(h.add(RuleBuilder().udp().limit(300, 100)), STATUS_SUCCESS);
    h.filtering(true);
    // UDP header 8 + payload p, IP 20, Ethernet 14: wire size 42 + p.
    const auto ofWireSize = [](size_t bytes) {
        return PacketBuilder::udp(kHostA, 1, kHostB, 2).payload(bytes - 42);
    };
    EXPECT_EQ(h.send(ofWireSize(150)), Verdict::Forward); // 0 -> 150
    EXPECT_EQ(h.send(ofWireSize(149)), Verdict::Forward); // 150 -> 299, still below
    EXPECT_EQ(h.send(ofWireSize(150)), Verdict::Forward); // 299 -> 449: crosses, still passes
    EXPECT_EQ(h.send(ofWireSize(101)), Verdict::Drop);    // spent, above the minimum
    EXPECT_EQ(h.send(ofWireSize(100)), Verdict::Forward); // at the minimum: never held back
    EXPECT_EQ(h.send(ofWireSize(60)), Verdict::Forward);
    EXPECT_EQ(h.drainIndexes().size(), 5u);
    EXPECT_EQ(h.bandwidth()[0], 150u + 149 + 150 + 100 + 60);

    // The counter read resets the budget.
    EXPECT_EQ(h.send(ofWireSize(300)), Verdict::Forward); // 0 -> 300: exactly the limit
    EXPECT_EQ(h.send(ofWireSize(101)), Verdict::Drop);
    // Filtering off: the limit is not applied, the packet is counted.
    h.filtering(false);
    EXPECT_EQ(h.send(ofWireSize(101)), Verdict::Forward);
    EXPECT_EQ(h.bandwidth()[0], 401u);

    // A connection-requests-only rule applies the limit to everything but the SYN.
    EngineHarness s;
    ASSERT_EQ(s.add(RuleBuilder().tcp().block(true).limit(100, 0)), STATUS_SUCCESS);
    s.filtering(true);
    EXPECT_EQ(s.send(tcpAB().payload(100)), Verdict::Forward);
    EXPECT_EQ(s.send(tcpAB()), Verdict::Drop);
    EXPECT_EQ(s.bandwidth()[0], 154u);
}

TEST(Decision, FilteringOffCountsRecordsAndForwardsWhatABlockRuleMatches) {
    EngineHarness h;
    ASSERT_EQ(h.add(RuleBuilder().tcp().block()), STATUS_SUCCESS);
    ASSERT_EQ(h.setLocal({kHostA}), STATUS_SUCCESS);
    const auto packet = tcpAB().payload(10);
    const uint32_t size = wireSize(packet.build());

    EXPECT_EQ(h.send(packet), Verdict::Forward);
    EXPECT_EQ(h.drainIndexes(), (std::vector<int32_t>{0}));
    EXPECT_EQ(h.bandwidth(), (std::vector<uint32_t>{size, size, 0}));

    // Switched on, the packet is dropped: still counted and recorded, but not totalled.
    h.filtering(true);
    EXPECT_EQ(h.send(packet), Verdict::Drop);
    EXPECT_EQ(h.drainIndexes(), (std::vector<int32_t>{0}));
    EXPECT_EQ(h.bandwidth(), (std::vector<uint32_t>{size, 0, 0}));
}

TEST(Decision, TotalsCountForwardedTrafficOfLocalAddresses) {
    EngineHarness h;
    const uint32_t other = ip(8, 8, 8, 8);
    const auto udp = [](uint32_t source, uint32_t destination) {
        return PacketBuilder::udp(source, 1, destination, 2);
    };
    const uint32_t size = wireSize(udp(kHostA, kHostB).build());

    // No list yet: nothing is totalled.
    h.send(udp(kHostA, kHostB));
    EXPECT_EQ(h.bandwidth(), (std::vector<uint32_t>{0, 0}));

    ASSERT_EQ(h.setLocal({kHostB, kHostA}), STATUS_SUCCESS);
    h.send(udp(kHostA, kHostB)); // both ends local: both totals
    h.send(udp(kHostA, other));
    h.send(udp(other, kHostB));
    h.send(udp(other, other));
    h.send(PacketBuilder::icmp(other, kHostA).totalLength(100)); // unmatched ICMP too
    EXPECT_EQ(h.bandwidth(), (std::vector<uint32_t>{2 * size, 2 * size + 114}));

    // STOP_IP_HOOK discards the list: totals stay 0 until the next SET_LOCALIP.
    ASSERT_EQ(h.status(STOP_IP_HOOK), STATUS_SUCCESS);
    h.send(udp(kHostA, kHostB));
    EXPECT_EQ(h.bandwidth(), (std::vector<uint32_t>{0, 0}));

    // An empty list is a list: still nothing to total.
    ASSERT_EQ(h.setLocal({}), STATUS_SUCCESS);
    h.send(udp(kHostA, kHostB));
    EXPECT_EQ(h.bandwidth(), (std::vector<uint32_t>{0, 0}));
}

TEST(Decision, WireSizeComesFromTheTotalLengthField) {
    EngineHarness h;
    ASSERT_EQ(h.add(RuleBuilder()), STATUS_SUCCESS);
    // The hook may be handed only the headers of a large packet.
    h.send(tcpAB().totalLength(1500));
    h.send(tcpAB().totalLength(65535));
    EXPECT_EQ(h.bandwidth(), (std::vector<uint32_t>{1514 + 65549, 0, 0}));

    // The whole packet's length, when the hook knows it, stands in for a total length
    // of 0 only (the kernel writes 0 into packets above 64 KiB), never for a real one.
    h.engine.decidePacket(tcpAB().totalLength(0).build(), 185000);
    h.engine.decidePacket(tcpAB().totalLength(1500).build(), 185000);
    h.engine.decidePacket(tcpAB().totalLength(0).build());
    EXPECT_EQ(h.bandwidth(), (std::vector<uint32_t>{185014 + 1514 + 14, 0, 0}));
}

} // namespace
} // namespace ovlank::test
