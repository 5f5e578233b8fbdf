#include "RequestFraming.h"

#include <cstring>

namespace ovlank {
namespace {

uint32_t readLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void appendLe32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

} // namespace

ParsedRequest parseRequest(std::span<const uint8_t> buffered) {
    ParsedRequest result;
    if (buffered.size() < sizeof(WireRequestHead)) {
        return result;
    }
    result.head.code = readLe32(buffered.data());
    result.head.inputLength = readLe32(buffered.data() + 4);
    result.head.outputLength = readLe32(buffered.data() + 8);
    if (result.head.inputLength > kMaxFrameLength || result.head.outputLength > kMaxFrameLength) {
        result.state = FrameState::TooLarge;
        return result;
    }
    const size_t total = sizeof(WireRequestHead) + result.head.inputLength;
    if (buffered.size() < total) {
        return result;
    }
    result.state = FrameState::Complete;
    result.input = buffered.subspan(sizeof(WireRequestHead), result.head.inputLength);
    result.consumed = total;
    return result;
}

void appendReply(std::vector<uint8_t>& out, NtStatus status, std::span<const uint8_t> output) {
    if (!ntSuccess(status)) {
        output = {};
    }
    appendLe32(out, status);
    appendLe32(out, static_cast<uint32_t>(output.size()));
    out.insert(out.end(), output.begin(), output.end());
}

std::vector<uint8_t> encodeRequest(uint32_t code, std::span<const uint8_t> input,
                                   uint32_t outputLength) {
    std::vector<uint8_t> frame;
    frame.reserve(sizeof(WireRequestHead) + input.size());
    appendLe32(frame, code);
    appendLe32(frame, static_cast<uint32_t>(input.size()));
    appendLe32(frame, outputLength);
    frame.insert(frame.end(), input.begin(), input.end());
    return frame;
}

} // namespace ovlank
