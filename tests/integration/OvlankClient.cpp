#include "OvlankClient.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace ovlank::test {
namespace {

void appendLe32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

uint32_t le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

} // namespace

OvlankClient::OvlankClient(const std::string& path) {
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(m_fd);
        m_fd = -1;
        return;
    }
    setReplyTimeout(20000); // a hung daemon fails the test rather than hanging it
}

void OvlankClient::setReplyTimeout(int milliseconds) {
    const timeval timeout{milliseconds / 1000, (milliseconds % 1000) * 1000};
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
}

OvlankClient::~OvlankClient() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool OvlankClient::sendRaw(std::span<const uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        bytes = bytes.subspan(static_cast<size_t>(n));
    }
    return true;
}

bool OvlankClient::receiveExactly(uint8_t* data, size_t size) {
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::recv(m_fd, data + got, size - got, 0);
        if (n <= 0) {
            return false;
        }
        got += static_cast<size_t>(n);
    }
    return true;
}

bool OvlankClient::closedByPeer() {
    uint8_t byte = 0;
    return ::recv(m_fd, &byte, 1, 0) == 0;
}

std::optional<Reply> OvlankClient::request(uint32_t code, std::span<const uint8_t> input,
                                           uint32_t outputLength) {
    if (m_fd < 0) {
        return std::nullopt;
    }
    std::vector<uint8_t> frame;
    appendLe32(frame, code);
    appendLe32(frame, static_cast<uint32_t>(input.size()));
    appendLe32(frame, outputLength);
    frame.insert(frame.end(), input.begin(), input.end());
    uint8_t head[8];
    if (!sendRaw(frame) || !receiveExactly(head, sizeof(head))) {
        return std::nullopt;
    }
    Reply reply;
    reply.status = le32(head);
    const uint32_t information = le32(head + 4);
    if (information > outputLength) {
        return std::nullopt; // the daemon broke the framing
    }
    reply.output.resize(information);
    if (!receiveExactly(reply.output.data(), information)) {
        return std::nullopt;
    }
    return reply;
}

std::optional<uint32_t> OvlankClient::version() {
    auto reply = request(GET_VERSION, {}, 4);
    if (!reply || reply->status != STATUS_SUCCESS || reply->output.size() != 4) {
        return std::nullopt;
    }
    return le32(reply->output.data());
}

NtStatus OvlankClient::simple(uint32_t code) {
    auto reply = request(code);
    return reply ? reply->status : STATUS_UNSUCCESSFUL;
}

NtStatus OvlankClient::addFilter(const DriverRule& rule) {
    auto reply =
        request(ADD_FILTER, std::span(reinterpret_cast<const uint8_t*>(&rule), sizeof(rule)));
    return reply ? reply->status : STATUS_UNSUCCESSFUL;
}

NtStatus OvlankClient::setLocalAddresses(const std::vector<uint32_t>& networkOrder) {
    std::vector<uint8_t> input;
    appendLe32(input, static_cast<uint32_t>(networkOrder.size()));
    for (uint32_t address : networkOrder) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(&address);
        input.insert(input.end(), bytes, bytes + 4);
    }
    auto reply = request(SET_LOCALIP, input);
    return reply ? reply->status : STATUS_UNSUCCESSFUL;
}

std::optional<std::vector<uint8_t>> OvlankClient::packet() {
    auto reply = request(GET_PACKET, {}, sizeof(CaptureEntry));
    if (!reply || reply->status != STATUS_SUCCESS) {
        return std::nullopt;
    }
    return reply->output;
}

std::optional<std::vector<uint32_t>> OvlankClient::clearBandwidth(uint32_t ruleCount) {
    auto reply = request(CLEAR_BANDWIDTH, {}, static_cast<uint32_t>(bandwidthReplySize(ruleCount)));
    if (!reply || reply->status != STATUS_SUCCESS ||
        reply->output.size() != bandwidthReplySize(ruleCount)) {
        return std::nullopt;
    }
    std::vector<uint32_t> values;
    for (size_t i = 0; i + 4 <= reply->output.size(); i += 4) {
        values.push_back(le32(reply->output.data() + i));
    }
    return values;
}

DriverRule makeRule(uint8_t protocol, uint16_t sourcePort, uint16_t destinationPort) {
    DriverRule rule{};
    rule.protocol = protocol;
    rule.sourceMask = 0xFFFFFFFFu;
    rule.destinationMask = 0xFFFFFFFFu;
    if (sourcePort != 0) {
        rule.sourceRangeCount = 1;
        rule.sourceRanges[0] = {htons(sourcePort), htons(sourcePort)};
    }
    if (destinationPort != 0) {
        rule.destinationRangeCount = 1;
        rule.destinationRanges[0] = {htons(destinationPort), htons(destinationPort)};
    }
    return rule;
}

} // namespace ovlank::test
