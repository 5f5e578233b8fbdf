// The capture ring as GET_PACKET reads it: entry bytes, wrap-round and overwrite.
#include "EngineHarness.h"

#include <gtest/gtest.h>

namespace ovlank::test {
namespace {

constexpr uint32_t kHostA = ip(192, 168, 1, 5);
constexpr uint32_t kHostB = ip(10, 0, 0, 9);

// The entry GET_PACKET must return for a packet: head, 20 header bytes, up to 20 more.
Bytes expectedEntry(int32_t ruleIndex, const Bytes& packet, size_t headerLength) {
    const size_t n = std::min<size_t>(packet.size() - headerLength, 20);
    Bytes entry;
    appendLittle(entry, static_cast<uint32_t>(ruleIndex), 4);
    appendLittle(entry, static_cast<uint32_t>(20 + n), 4);
    entry.insert(entry.end(), packet.begin(), packet.begin() + 20);
    entry.insert(entry.end(), packet.begin() + static_cast<long>(headerLength),
                 packet.begin() + static_cast<long>(headerLength + n));
    return entry;
}

TEST(CaptureRing, EntriesHoldTheHeadersAsOnTheWire) {
    EngineHarness h;
    EXPECT_EQ(h.request(GET_PACKET, {}, 48).output.size(), 0u); // empty after load

    ASSERT_EQ(h.add(RuleBuilder().udp()), STATUS_SUCCESS);
    ASSERT_EQ(h.add(RuleBuilder().tcp()), STATUS_SUCCESS);
    const Bytes udp = PacketBuilder::udp(kHostA, 53, kHostB, 5353).payload(4).build();
    const Bytes tcp = PacketBuilder::tcp(kHostA, 40000, kHostB, 443, kTcpFlagSyn | kTcpFlagAck)
                          .window(0xBEEF)
                          .payload(100)
                          .build();
    // IP options are not kept; the transport bytes start behind them.
    const auto withOptions = PacketBuilder::tcp(kHostB, 22, kHostA, 50000).options(2);
    const Bytes optioned = withOptions.build();
    const Bytes icmp = PacketBuilder::icmp(kHostA, kHostB).build();
    h.engine.decidePacket(udp);
    h.engine.decidePacket(tcp);
    h.engine.decidePacket(optioned);
    h.engine.decidePacket(icmp);

    const Reply first = h.request(GET_PACKET, {}, 48);
    EXPECT_EQ(first.output.size(), 40u); // UDP with 4 bytes of payload: length 32
    EXPECT_EQ(first.output, expectedEntry(0, udp, 20));
    const Reply second = h.request(GET_PACKET, {}, 48);
    EXPECT_EQ(second.output.size(), 48u);
    EXPECT_EQ(second.output, expectedEntry(1, tcp, 20));
    EXPECT_EQ(second.output[28 + 13], kTcpFlagSyn | kTcpFlagAck);
    EXPECT_EQ(second.output[28 + 14], 0xBE);
    EXPECT_EQ(h.request(GET_PACKET, {}, 48).output, expectedEntry(1, optioned, 28));
    EXPECT_EQ(h.request(GET_PACKET, {}, 48).output, expectedEntry(-1, icmp, 20));
    EXPECT_EQ(h.request(GET_PACKET, {}, 48).output.size(), 0u);
}

TEST(CaptureRing, NeitherClearFilterNorStopHookEmptiesTheRing) {
    EngineHarness h;
    h.send(PacketBuilder::udp(kHostA, 1, kHostB, 2));
    ASSERT_EQ(h.status(CLEAR_FILTER), STATUS_SUCCESS);
    ASSERT_EQ(h.status(STOP_IP_HOOK), STATUS_SUCCESS);
    EXPECT_EQ(h.drainIndexes(), (std::vector<int32_t>{-1}));
}

// Sends `count` UDP packets numbered by their IP identification field from `first`.
void sendNumbered(EngineHarness& h, uint16_t first, int count) {
    for (int i = 0; i < count; ++i)
        h.send(PacketBuilder::udp(kHostA, 1, kHostB, 2).id(static_cast<uint16_t>(first + i)));
}

std::vector<uint16_t> drainNumbers(EngineHarness& h) {
    std::vector<uint16_t> numbers;
    while (auto capture = h.nextCapture())
        numbers.push_back(
            static_cast<uint16_t>((capture->captured[4] << 8) | capture->captured[5]));
    return numbers;
}

std::vector<uint16_t> range(uint16_t first, int count) {
    std::vector<uint16_t> numbers;
    for (int i = 0; i < count; ++i)
        numbers.push_back(static_cast<uint16_t>(first + i));
    return numbers;
}

TEST(CaptureRing, WrapsAndOverwritesSilently) {
    {
        EngineHarness h;
        sendNumbered(h, 0, 3999);
        EXPECT_EQ(drainNumbers(h), range(0, 3999));
    }
    {
        // Exactly 4000 writes bring the writer round to the reader: the ring reads empty.
        EngineHarness h;
        sendNumbered(h, 0, 4000);
        EXPECT_TRUE(drainNumbers(h).empty());
        // It keeps working: the next entries are read normally.
        sendNumbered(h, 5000, 2);
        EXPECT_EQ(drainNumbers(h), range(5000, 2));
    }
    {
        // 4001 writes: one lap is lost, only the newest entry is there.
        EngineHarness h;
        sendNumbered(h, 0, 4001);
        EXPECT_EQ(drainNumbers(h), range(4000, 1));
    }
    // Reader at 3, writer at 10, then more writes.
    const auto afterThreeRead = [](int moreWrites) {
        EngineHarness h;
        sendNumbered(h, 0, 10);
        for (int i = 0; i < 3; ++i)
            EXPECT_TRUE(h.nextCapture());
        sendNumbered(h, 10, moreWrites);
        return drainNumbers(h);
    };
    // 3999 unread entries fill the ring without loss.
    EXPECT_EQ(afterThreeRead(3992), range(3, 3999));
    // The writer lands on the reader: everything unread is lost.
    EXPECT_TRUE(afterThreeRead(3993).empty());
    // The writer overtakes the reader by two: the two newest entries sit in the two
    // slots from the reader on, and the rest of the lap is lost.
    EXPECT_EQ(afterThreeRead(3995), range(4003, 2));
}

TEST(CaptureRing, ShortTransportBytesAreCapturedAsGiven) {
    EngineHarness h;
    const auto cut = PacketBuilder::tcp(kHostA, 1, kHostB, 2).cutTransportTo(3);
    const Bytes packet = cut.build();
    h.engine.decidePacket(packet);
    const Reply reply = h.request(GET_PACKET, {}, 48);
    EXPECT_EQ(reply.output, expectedEntry(-1, packet, 20));
    EXPECT_EQ(reply.output.size(), 31u);
    // A bare header: length 20.
    h.engine.decide(std::span(packet).first(20), {});
    EXPECT_EQ(h.request(GET_PACKET, {}, 48).output.size(), 28u);
}

} // namespace
} // namespace ovlank::test
