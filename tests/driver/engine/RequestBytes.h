// The bytes of the control requests, laid out as a client sends them.
#pragma once

#include "OvlankProtocol.h"

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace ovlank::test {

using Bytes = std::vector<uint8_t>;

inline uint16_t toNetwork16(uint16_t host) {
    const uint8_t bytes[2] = {static_cast<uint8_t>(host >> 8), static_cast<uint8_t>(host)};
    uint16_t stored;
    std::memcpy(&stored, bytes, sizeof stored);
    return stored;
}

template <class T> Bytes bytesOf(const T& record) {
    Bytes bytes(sizeof record);
    std::memcpy(bytes.data(), &record, sizeof record);
    return bytes;
}

inline void appendLittle(Bytes& bytes, uint32_t value, int width) {
    for (int i = 0; i < width; ++i)
        bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

inline uint32_t readLittle32(const Bytes& bytes, size_t at) {
    return uint32_t{bytes[at]} | (uint32_t{bytes[at + 1]} << 8) | (uint32_t{bytes[at + 2]} << 16) |
           (uint32_t{bytes[at + 3]} << 24);
}

using PortRanges = std::vector<std::pair<uint16_t, uint16_t>>; // host order

// A DriverRule filled field by field; everything not set is 0 ("any", "pass").
class RuleBuilder final {
public:
    RuleBuilder& protocol(uint16_t value) {
        m_rule.protocol = value;
        return *this;
    }
    RuleBuilder& tcp() { return protocol(kProtocolTcp); }
    RuleBuilder& udp() { return protocol(kProtocolUdp); }
    RuleBuilder& source(uint32_t address, uint32_t mask) {
        m_rule.sourceAddress = address;
        m_rule.sourceMask = mask;
        return *this;
    }
    RuleBuilder& destination(uint32_t address, uint32_t mask) {
        m_rule.destinationAddress = address;
        m_rule.destinationMask = mask;
        return *this;
    }
    RuleBuilder& sourcePorts(const PortRanges& ranges) {
        m_rule.sourceRangeCount = fill(m_rule.sourceRanges, ranges);
        return *this;
    }
    RuleBuilder& destinationPorts(const PortRanges& ranges) {
        m_rule.destinationRangeCount = fill(m_rule.destinationRanges, ranges);
        return *this;
    }
    RuleBuilder& rangeCounts(uint32_t source, uint32_t destination) {
        m_rule.sourceRangeCount = source;
        m_rule.destinationRangeCount = destination;
        return *this;
    }
    RuleBuilder& block(bool connectionRequestsOnly = false) {
        m_rule.block = 1;
        m_rule.connectionRequestsOnly = connectionRequestsOnly ? 1 : 0;
        return *this;
    }
    RuleBuilder& connectionRequestsOnlyFlag() {
        m_rule.connectionRequestsOnly = 1;
        return *this;
    }
    RuleBuilder& limit(uint32_t bytes, uint32_t minimumSize) {
        m_rule.limit = bytes;
        m_rule.minimumSize = minimumSize;
        return *this;
    }

    DriverRule build() const { return m_rule; }
    Bytes bytes() const { return bytesOf(m_rule); }

private:
    static uint32_t fill(DriverPortRange* table, const PortRanges& ranges) {
        uint32_t n = 0;
        for (const auto& [low, high] : ranges) {
            table[n].low = toNetwork16(low);
            table[n].high = toNetwork16(high);
            ++n;
        }
        return n;
    }

    DriverRule m_rule{};
};

inline Bytes changeFilterBytes(uint32_t index, const DriverRule& rule) {
    ChangeFilterRequest request{};
    request.ruleIndex = index;
    request.rule = rule;
    return bytesOf(request);
}

// SET_PORTS with the given ports; the count is their number.
inline Bytes portListBytes(uint16_t index, uint16_t selector, const std::vector<uint16_t>& ports) {
    Bytes bytes;
    appendLittle(bytes, index, 2);
    appendLittle(bytes, selector, 2);
    appendLittle(bytes, static_cast<uint32_t>(ports.size()), 2);
    for (uint16_t port : ports)
        appendLittle(bytes, port, 2);
    return bytes;
}

// SET_PORTS head alone, with any count (e.g. "matches nothing").
inline Bytes portListHead(uint16_t index, uint16_t selector, uint16_t count) {
    Bytes bytes;
    appendLittle(bytes, index, 2);
    appendLittle(bytes, selector, 2);
    appendLittle(bytes, count, 2);
    return bytes;
}

inline Bytes localAddressBytes(const std::vector<uint32_t>& addresses) {
    Bytes bytes;
    appendLittle(bytes, static_cast<uint32_t>(addresses.size()), 4);
    for (uint32_t address : addresses) {
        const size_t at = bytes.size();
        bytes.resize(at + 4);
        std::memcpy(bytes.data() + at, &address, 4);
    }
    return bytes;
}

} // namespace ovlank::test
