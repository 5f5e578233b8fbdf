// Records and packets that do not hold what they claim: the engine refuses or decides
// them in a defined way and never reads beyond the bytes it was given.
#include "EngineHarness.h"

#include <gtest/gtest.h>

#include <memory_resource>

namespace ovlank::test {
namespace {

constexpr uint32_t kHostA = ip(192, 168, 1, 5);
constexpr uint32_t kHostB = ip(10, 0, 0, 9);

TEST(HostileInput, RangeCountsAboveSixteenAreRefused) {
    EngineHarness h;
    ASSERT_EQ(h.add(RuleBuilder().tcp().rangeCounts(16, 16)), STATUS_SUCCESS);
    for (const auto& [source, destination] :
         {std::pair<uint32_t, uint32_t>{17, 0}, {0, 17}, {0xFFFFFFFF, 1}, {1, 0x80000000}}) {
        EXPECT_EQ(h.add(RuleBuilder().rangeCounts(source, destination)), STATUS_INVALID_PARAMETER);
        EXPECT_EQ(h.change(0, RuleBuilder().rangeCounts(source, destination)),
                  STATUS_INVALID_PARAMETER);
    }
    EXPECT_EQ(h.bandwidth().size(), 3u);
    // Rule 0 is unchanged: a TCP rule whose 16 + 16 ranges are all 0-0.
    EXPECT_EQ(matchIndex(h, PacketBuilder::tcp(kHostA, 0, kHostB, 0)), 0);
    EXPECT_EQ(matchIndex(h, PacketBuilder::tcp(kHostA, 0, kHostB, 1)), -1);
    EXPECT_EQ(matchIndex(h, PacketBuilder::udp(kHostA, 0, kHostB, 0)), -1);
}

TEST(HostileInput, PacketsWithoutTheirPortsMatchOnlyRulesWithoutPortConditions) {
    EngineHarness h;
    ASSERT_EQ(h.add(RuleBuilder().tcp().destinationPorts({{0, 65535}})), STATUS_SUCCESS);
    ASSERT_EQ(h.add(RuleBuilder().tcp().sourcePorts({{0, 65535}})), STATUS_SUCCESS);
    ASSERT_EQ(h.add(RuleBuilder().tcp()), STATUS_SUCCESS); // port list set below
    ASSERT_EQ(h.add(RuleBuilder().protocol(kProtocolUdp).destinationPorts({{0, 65535}})),
              STATUS_SUCCESS);
    ASSERT_EQ(h.add(RuleBuilder().block(true)), STATUS_SUCCESS);
    ASSERT_EQ(h.setPorts(2, 1, {80}), STATUS_SUCCESS);
    h.filtering(true);

    // Three bytes behind the header: not even the ports. The catch-all decides.
    const auto shortTcp =
        PacketBuilder::tcp(kHostA, 1000, kHostB, 80, kTcpFlagSyn).cutTransportTo(3);
    EXPECT_EQ(matchIndex(h, shortTcp), 4);
    EXPECT_EQ(matchIndex(h, PacketBuilder::udp(kHostA, 1, kHostB, 80).cutTransportTo(3)), 4);
    EXPECT_EQ(matchIndex(h, PacketBuilder::tcp(kHostA, 1000, kHostB, 80).cutTransportTo(0)), 4);

    // Ports but no flags (4 to 13 bytes): a SYN cannot be told apart, so the
    // connection-requests-only rule lets it through and counts it.
    auto noFlags = PacketBuilder::tcp(kHostA, 1000, kHostB, 80, kTcpFlagSyn).cutTransportTo(13);
    EXPECT_EQ(matchIndex(h, noFlags), 0);
    ASSERT_EQ(h.change(0, RuleBuilder().udp()), STATUS_SUCCESS);
    ASSERT_EQ(h.change(1, RuleBuilder().udp()), STATUS_SUCCESS);
    ASSERT_EQ(h.change(2, RuleBuilder().udp()), STATUS_SUCCESS);
    EXPECT_EQ(h.send(noFlags), Verdict::Forward);
    EXPECT_EQ(h.send(noFlags.cutTransportTo(14)), Verdict::Drop); // the flags are there now
}

TEST(HostileInput, LaterFragmentsCarryNoPorts) {
    EngineHarness h;
    ASSERT_EQ(h.add(RuleBuilder().tcp().destinationPorts({{80, 80}}).block()), STATUS_SUCCESS);
    ASSERT_EQ(h.add(RuleBuilder().tcp().block(true)), STATUS_SUCCESS);
    h.filtering(true);
    // The first fragment has the TCP header and is matched on it.
    const auto first = PacketBuilder::tcp(kHostA, 1000, kHostB, 80).fragment(0, true);
    EXPECT_EQ(matchIndex(h, first), 0);
    EXPECT_EQ(h.send(first), Verdict::Drop);
    // A later fragment whose payload happens to look like port 80 and a SYN is not
    // taken for one: no port rule matches, and it is no connection request.
    const auto later =
        PacketBuilder::tcp(kHostA, 1000, kHostB, 80, kTcpFlagSyn).fragment(185, false);
    EXPECT_EQ(matchIndex(h, later), 1);
    EXPECT_EQ(h.send(later), Verdict::Forward);
}

TEST(HostileInput, HeadersTooShortOrInconsistentAreForwardedUntouched) {
    EngineHarness h;
    ASSERT_EQ(h.add(RuleBuilder().block()), STATUS_SUCCESS);
    ASSERT_EQ(h.setLocal({kHostA, kHostB}), STATUS_SUCCESS);
    h.filtering(true);
    const Bytes good = PacketBuilder::udp(kHostA, 1, kHostB, 2).build();
    ASSERT_EQ(h.engine.decidePacket(good), Verdict::Drop);
    h.bandwidth();
    h.drainIndexes();

    Bytes ihlFour = good;
    ihlFour[0] = 0x44;
    Bytes ihlBeyond = good;
    ihlBeyond[0] = 0x4F; // 60 bytes of header in a 28-byte packet
    const Bytes truncated(good.begin(), good.begin() + 19);
    for (const Bytes* packet : std::vector<const Bytes*>{&ihlFour, &ihlBeyond, &truncated}) {
        // Exactly sized copies, so a read past the end is caught under ASan.
        const auto copy = std::make_unique<uint8_t[]>(packet->size());
        std::copy(packet->begin(), packet->end(), copy.get());
        EXPECT_EQ(h.engine.decidePacket(std::span(copy.get(), packet->size())), Verdict::Forward);
    }
    EXPECT_EQ(h.engine.decidePacket({}), Verdict::Forward);
    EXPECT_EQ(h.engine.decide(std::span(good).first(19), std::span(good).subspan(20)),
              Verdict::Forward);
    EXPECT_TRUE(h.drainIndexes().empty());
    EXPECT_EQ(h.bandwidth(), (std::vector<uint32_t>{0, 0, 0}));

    // A header with options is split where its length field says.
    const Bytes optioned = PacketBuilder::tcp(kHostA, 1, kHostB, 2).options(10).build();
    EXPECT_EQ(h.engine.decidePacket(optioned), Verdict::Drop);
    EXPECT_EQ(h.drainIndexes(), (std::vector<int32_t>{0}));
}

TEST(HostileInput, LocalAddressCountsThatWrapAreRefused) {
    EngineHarness h;
    ASSERT_EQ(h.setLocal({kHostA}), STATUS_SUCCESS);
    // 4 × count + 4 wraps to a small length in 32 bits for these counts.
    for (uint32_t count : {0x40000000u, 0x40000001u, 0xC0000002u}) {
        Bytes input;
        appendLittle(input, count, 4);
        const uint32_t wrapped = count * 4u + 4u;
        input.resize(wrapped, 0);
        EXPECT_EQ(h.status(SET_LOCALIP, input), STATUS_INVALID_PARAMETER) << count;
    }
    // The list in force is untouched.
    h.send(PacketBuilder::udp(kHostA, 1, kHostB, 2));
    EXPECT_EQ(h.bandwidth()[0], 42u);
}

TEST(HostileInput, LocalAddressListWithoutMemoryIsRefusedAndLeftAbsent) {
    // A resource that hands out a fixed amount once and then nothing, like memory
    // running out between two requests.
    std::array<std::byte, 64> arena;
    std::pmr::monotonic_buffer_resource memory(arena.data(), arena.size(),
                                               std::pmr::null_memory_resource());
    EngineHarness h(memory);
    ASSERT_EQ(h.setLocal({kHostA, kHostB}), STATUS_SUCCESS);
    h.send(PacketBuilder::udp(kHostA, 1, kHostB, 2));
    EXPECT_EQ(h.bandwidth(), (std::vector<uint32_t>{42, 42}));

    std::vector<uint32_t> many(64, kHostB);
    EXPECT_EQ(h.setLocal(many), STATUS_INSUFFICIENT_RESOURCES);
    h.send(PacketBuilder::udp(kHostA, 1, kHostB, 2));
    EXPECT_EQ(h.bandwidth(), (std::vector<uint32_t>{0, 0}));
}

} // namespace
} // namespace ovlank::test
