// Long random sessions of requests and packets, run on the engine and on the plain
// reference model side by side: every status, reply byte and verdict must agree.
// This is what checks the engine's shortcuts (padded range tables, port bitmaps,
// sorted address lists) against the rules as written.
#include "EngineHarness.h"
#include "ReferenceEngine.h"
#include "Scenario.h"

#include <gtest/gtest.h>

namespace ovlank::test {
namespace {

TEST(AgainstReference, RandomSessionsAgreeByteForByte) {
    size_t matchedPackets = 0;
    size_t droppedPackets = 0;
    for (uint32_t seed = 1; seed <= 60; ++seed) {
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        SeededChoices choices(seed);
        Scenario scenario(choices);
        EngineHarness h;
        ReferenceEngine reference;
        for (int step = 0; step < 3000; ++step) {
            if (choices.below(3) == 0) {
                const Request q = scenario.request(static_cast<uint32_t>(reference.ruleCount()));
                h.registrar.registerStatus = choices.below(4) == 0 ? 0xC0000034 : STATUS_SUCCESS;
                const Reply got = h.request(q.code, q.input, q.outputSize);
                const auto want =
                    reference.dispatch(q.code, q.input, q.outputSize, h.registrar.registerStatus);
                ASSERT_EQ(got.status, want.status)
                    << "step " << step << std::hex << " code " << q.code;
                ASSERT_EQ(got.output, want.output)
                    << "step " << step << std::hex << " code " << q.code;
            } else {
                const Bytes packet = scenario.packet();
                const bool drop = reference.decidePacket(packet);
                ASSERT_EQ(h.engine.decidePacket(packet), drop ? Verdict::Drop : Verdict::Forward)
                    << "step " << step;
                droppedPackets += drop;
            }
        }
        // Whatever is left in the ring and the counters agrees as well.
        for (int i = 0; i < 4000; ++i) {
            const Reply got = h.request(GET_PACKET, {}, 48);
            ASSERT_EQ(got.output, reference.dispatch(GET_PACKET, {}, 48).output);
            if (got.output.empty())
                break;
            matchedPackets += readLittle32(got.output, 0) != 0xFFFFFFFF;
        }
        ASSERT_EQ(h.request(CLEAR_BANDWIDTH, {}, 264).output,
                  reference.dispatch(CLEAR_BANDWIDTH, {}, 264).output);
    }
    // The sessions must really exercise matching and dropping, not just empty lists.
    EXPECT_GT(matchedPackets, 1000u);
    EXPECT_GT(droppedPackets, 1000u);
}

} // namespace
} // namespace ovlank::test
