// A small client for the control socket's wire format, as the program will speak
// it: one request, one reply, nothing hidden.
#pragma once

#include "OvlankProtocol.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ovlank::test {

struct Reply {
    NtStatus status = STATUS_UNSUCCESSFUL;
    std::vector<uint8_t> output;
};

class OvlankClient final {
public:
    explicit OvlankClient(const std::string& path);
    ~OvlankClient();
    OvlankClient(const OvlankClient&) = delete;
    OvlankClient& operator=(const OvlankClient&) = delete;

    bool connected() const { return m_fd >= 0; }
    // How long a request waits for its reply before it counts as unanswered.
    void setReplyTimeout(int milliseconds);
    int fd() const { return m_fd; }

    // Empty when the connection failed or was closed by the daemon.
    std::optional<Reply> request(uint32_t code, std::span<const uint8_t> input = {},
                                 uint32_t outputLength = 0);
    bool sendRaw(std::span<const uint8_t> bytes);
    // True when the daemon closed the connection (reads end of stream).
    bool closedByPeer();

    // Typed helpers that fail the caller's expectations through their results.
    std::optional<uint32_t> version();
    NtStatus simple(uint32_t code);
    NtStatus addFilter(const DriverRule& rule);
    NtStatus setLocalAddresses(const std::vector<uint32_t>& networkOrder);
    std::optional<std::vector<uint8_t>> packet(); // empty vector: ring empty
    std::optional<std::vector<uint32_t>> clearBandwidth(uint32_t ruleCount);

private:
    bool receiveExactly(uint8_t* data, size_t size);
    int m_fd = -1;
};

// A rule that matches one protocol and optional source/destination port (0: any).
DriverRule makeRule(uint8_t protocol, uint16_t sourcePort, uint16_t destinationPort);

} // namespace ovlank::test
