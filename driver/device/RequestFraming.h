// Splitting the control socket's byte stream into requests and building replies.
// Pure functions over buffers, so the framing rules are tested without a socket.
#pragma once

#include "OvlankProtocol.h"

#include <cstdint>
#include <span>
#include <vector>

namespace ovlank {

enum class FrameState {
    Incomplete, // more bytes are needed
    Complete,   // `head` and `input` describe one request
    TooLarge,   // a length exceeds kMaxFrameLength: the connection must be closed
};

struct ParsedRequest {
    FrameState state = FrameState::Incomplete;
    WireRequestHead head{};
    std::span<const uint8_t> input; // points into the buffer that was parsed
    size_t consumed = 0;            // bytes of the buffer this request occupies
};

// Looks at the start of `buffered` for one whole request. Oversized lengths are
// reported as soon as the head is complete, before any input is awaited.
ParsedRequest parseRequest(std::span<const uint8_t> buffered);

// Appends a reply frame: status, information, then `information` bytes of `output`.
// A failed status carries no output, whatever the handler wrote.
void appendReply(std::vector<uint8_t>& out, NtStatus status, std::span<const uint8_t> output);

// The client's side of the same framing: one request frame.
std::vector<uint8_t> encodeRequest(uint32_t code, std::span<const uint8_t> input,
                                   uint32_t outputLength);

} // namespace ovlank
