#include "RequestFraming.h"

#include <gtest/gtest.h>

#include <vector>

namespace ovlank {
namespace {

std::vector<uint8_t> bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values) {
        out.push_back(static_cast<uint8_t>(v));
    }
    return out;
}

TEST(RequestFraming, RequestIsLittleEndianHeadThenInput) {
    const std::vector<uint8_t> input = bytes({0xAA, 0xBB, 0xCC});
    const auto frame = encodeRequest(ADD_FILTER, input, 0x00010203);
    EXPECT_EQ(frame, bytes({0xC8, 0xA0, 0x22, 0x43, 3, 0, 0, 0, 3, 2, 1, 0, 0xAA, 0xBB, 0xCC}));

    const auto parsed = parseRequest(frame);
    ASSERT_EQ(parsed.state, FrameState::Complete);
    EXPECT_EQ(parsed.head.code, ADD_FILTER);
    EXPECT_EQ(parsed.head.outputLength, 0x00010203u);
    EXPECT_EQ(std::vector<uint8_t>(parsed.input.begin(), parsed.input.end()), input);
    EXPECT_EQ(parsed.consumed, frame.size());
}

TEST(RequestFraming, PartialFramesWaitAndBackToBackFramesSplit) {
    auto first = encodeRequest(GET_VERSION, {}, 4);
    const auto second = encodeRequest(SET_LOCALIP, bytes({1, 0, 0, 0, 10, 0, 0, 1}), 0);
    std::vector<uint8_t> stream = first;
    stream.insert(stream.end(), second.begin(), second.end());

    for (size_t cut = 0; cut < first.size(); ++cut) {
        EXPECT_EQ(parseRequest(std::span(stream).first(cut)).state, FrameState::Incomplete);
    }
    auto one = parseRequest(stream);
    ASSERT_EQ(one.state, FrameState::Complete);
    EXPECT_EQ(one.consumed, 12u);
    auto rest = std::span<const uint8_t>(stream).subspan(one.consumed);
    EXPECT_EQ(parseRequest(rest.first(rest.size() - 1)).state, FrameState::Incomplete);
    auto two = parseRequest(rest);
    ASSERT_EQ(two.state, FrameState::Complete);
    EXPECT_EQ(two.head.code, SET_LOCALIP);
    EXPECT_EQ(two.input.size(), 8u);
}

TEST(RequestFraming, LengthsAboveOneMebibyteAreRejectedFromTheHeadAlone) {
    auto atLimit = encodeRequest(GET_PACKET, {}, kMaxFrameLength);
    EXPECT_EQ(parseRequest(atLimit).state, FrameState::Complete);

    auto bigOutput = encodeRequest(GET_PACKET, {}, kMaxFrameLength + 1);
    EXPECT_EQ(parseRequest(bigOutput).state, FrameState::TooLarge);

    // Only the head is present: the oversized input is refused without waiting for it.
    auto bigInput = bytes({0xC8, 0xA0, 0x22, 0x43, 1, 0, 0x10, 0, 0, 0, 0, 0});
    EXPECT_EQ(parseRequest(bigInput).state, FrameState::TooLarge);
    auto huge = bytes({0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0});
    EXPECT_EQ(parseRequest(huge).state, FrameState::TooLarge);
}

TEST(RequestFraming, RepliesCarryOutputOnlyOnSuccess) {
    std::vector<uint8_t> out;
    const auto version = bytes({0x14, 0x05, 0, 0});
    appendReply(out, STATUS_SUCCESS, version);
    EXPECT_EQ(out, bytes({0, 0, 0, 0, 4, 0, 0, 0, 0x14, 0x05, 0, 0}));

    out.clear();
    appendReply(out, STATUS_INVALID_PARAMETER, version);
    EXPECT_EQ(out, bytes({0x0D, 0, 0, 0xC0, 0, 0, 0, 0}));
}

} // namespace
} // namespace ovlank
