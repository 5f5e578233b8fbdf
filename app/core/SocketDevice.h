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

private:
    void disconnect();

    int m_fd;
};

// Connects to the socket at a path. A daemon that does not answer within the
// timeout counts as gone, so a stuck daemon cannot hang the program.
class SocketDeviceOpener final : public DeviceOpener {
public:
    explicit SocketDeviceOpener(std::chrono::milliseconds timeout = std::chrono::seconds(5))
        : m_timeout(timeout) {}
    std::unique_ptr<DeviceLink> open(const std::string& path, std::string& error) override;

private:
    std::chrono::milliseconds m_timeout;
};

} // namespace tavrin::core
