// The device as the Ovlank daemon offers it: a Unix stream socket speaking the
// framing of OvlankProtocol.h, one synchronous round trip per request.
#pragma once

#include "DeviceLink.h"

#include <chrono>

namespace tavrin::core {

class SocketDevice final : public DeviceLink {
public:
    // Takes ownership of a connected socket.
    SocketDevice(int fd, std::chrono::milliseconds timeout);
    ~SocketDevice() override;
    SocketDevice(const SocketDevice&) = delete;
    SocketDevice& operator=(const SocketDevice&) = delete;

    std::optional<ControlReply> control(uint32_t code, std::span<const uint8_t> input,
                                        std::span<uint8_t> output) override;
    void setStallHandler(std::chrono::milliseconds after, std::function<void()> handler) override;

private:
    void disconnect();
    // Reads exactly `length` bytes before `deadline`, calling the stall handler once
    // when `stallAt` passes first.
    bool readUntil(uint8_t* data, size_t length, std::chrono::steady_clock::time_point deadline,
                   std::chrono::steady_clock::time_point stallAt, bool& stalled);

    int m_fd;
    std::chrono::milliseconds m_timeout;
    std::chrono::milliseconds m_stallAfter{0};
    std::function<void()> m_stallHandler;
};

// Connects to the socket at a path. A daemon that does not answer within the
// timeout counts as gone, so a stuck daemon cannot hang the program.
class SocketDeviceOpener final : public DeviceOpener {
public:
    explicit SocketDeviceOpener(std::chrono::milliseconds timeout = std::chrono::seconds(5))
        : m_timeout(timeout) {}
    // The connection is made without waiting: a daemon that is frozen with its queue
    // of connections full is reported at once rather than hanging the caller.
    std::unique_ptr<DeviceLink> open(const std::string& path, std::string& error) override;
    bool refuses(const std::string& path) override;

private:
    std::chrono::milliseconds m_timeout;
};

} // namespace tavrin::core
