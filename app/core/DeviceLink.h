// One open device: the channel every control request of the program goes through.
// The real link is a Unix socket to the Ovlank daemon; tests may put an in-process
// engine behind the same interface.
#pragma once

#include "OvlankProtocol.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace tavrin::core {

// What came back for one request whose round trip completed.
struct ControlReply {
    ovlank::NtStatus status = ovlank::STATUS_UNSUCCESSFUL;
    uint32_t information = 0; // bytes written to the caller's output buffer
};

class DeviceLink {
public:
    virtual ~DeviceLink() = default;

    // One synchronous control request. The size of `output` is the output length the
    // device checks its size rules against; on return its first `information` bytes
    // hold the reply. std::nullopt means the request never completed (the device is
    // gone, or it answered with a malformed frame); the link is unusable afterwards.
    virtual std::optional<ControlReply> control(uint32_t code, std::span<const uint8_t> input,
                                                std::span<uint8_t> output) = 0;

    // `handler` is called once in every request whose answer has been awaited for
    // `after`; the request then goes on waiting for its answer or its own time limit.
    // A link that never waits (an in-process device) ignores it.
    virtual void setStallHandler(std::chrono::milliseconds /*after*/,
                                 std::function<void()> /*handler*/) {}
};

// Opens the device at a path. On failure returns nullptr and a readable reason.
class DeviceOpener {
public:
    virtual ~DeviceOpener() = default;
    virtual std::unique_ptr<DeviceLink> open(const std::string& path, std::string& error) = 0;
    // True when nothing serves `path` at all (no device there, or nobody taking
    // connections on it), as against a device that is there but busy or frozen.
    virtual bool refuses(const std::string& /*path*/) { return false; }
};

} // namespace tavrin::core
