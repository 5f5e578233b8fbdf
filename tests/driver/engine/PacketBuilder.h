// Builds real IPv4 packets (TCP, UDP, ICMP, any protocol) byte by byte for the engine
// tests, fuzzers and benchmark.
#pragma once

#include "OvlankProtocol.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace ovlank::test {

// An IPv4 address as it stands in a header and in the records: network order.
constexpr uint32_t ip(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return uint32_t{a} | (uint32_t{b} << 8) | (uint32_t{c} << 16) | (uint32_t{d} << 24);
}

class PacketBuilder final {
public:
    static PacketBuilder tcp(uint32_t source, uint16_t sourcePort, uint32_t destination,
                             uint16_t destinationPort, uint8_t flags = kTcpFlagAck) {
        PacketBuilder p(kProtocolTcp, source, destination);
        p.m_sourcePort = sourcePort;
        p.m_destinationPort = destinationPort;
        p.m_tcpFlags = flags;
        return p;
    }
    static PacketBuilder udp(uint32_t source, uint16_t sourcePort, uint32_t destination,
                             uint16_t destinationPort) {
        PacketBuilder p(kProtocolUdp, source, destination);
        p.m_sourcePort = sourcePort;
        p.m_destinationPort = destinationPort;
        return p;
    }
    static PacketBuilder icmp(uint32_t source, uint32_t destination) {
        return PacketBuilder(kProtocolIcmp, source, destination);
    }
    // A protocol the engine knows no transport header for (GRE, ESP, ...).
    static PacketBuilder other(uint8_t protocol, uint32_t source, uint32_t destination) {
        return PacketBuilder(protocol, source, destination);
    }

    PacketBuilder& payload(size_t bytes) {
        m_payload = bytes;
        return *this;
    }
    // IP options, in 4-byte words (IHL = 5 + words).
    PacketBuilder& options(uint8_t words) {
        m_optionWords = words;
        return *this;
    }
    PacketBuilder& fragment(uint16_t offsetUnits, bool moreFragments) {
        m_fragmentOffset = offsetUnits;
        m_moreFragments = moreFragments;
        return *this;
    }
    PacketBuilder& window(uint16_t value) {
        m_window = value;
        return *this;
    }
    PacketBuilder& id(uint16_t value) {
        m_id = value;
        return *this;
    }
    // Overrides the IP total length field (by default the real length).
    PacketBuilder& totalLength(uint16_t value) {
        m_totalLength = value;
        return *this;
    }
    // Cuts the bytes behind the IP header to this many, as a short copy would.
    PacketBuilder& cutTransportTo(size_t bytes) {
        m_cutTo = bytes;
        return *this;
    }

    size_t headerLength() const { return 20u + 4u * m_optionWords; }

    std::vector<uint8_t> build() const {
        std::vector<uint8_t> transport;
        if (m_protocol == kProtocolTcp) {
            transport.assign(20, 0);
            put16(transport, 0, m_sourcePort);
            put16(transport, 2, m_destinationPort);
            put16(transport, 4, 0x1234); // sequence number, high half
            transport[12] = 5 << 4;      // data offset: 20 bytes
            transport[13] = m_tcpFlags;
            put16(transport, 14, m_window);
        } else if (m_protocol == kProtocolUdp) {
            transport.assign(8, 0);
            put16(transport, 0, m_sourcePort);
            put16(transport, 2, m_destinationPort);
            put16(transport, 4, static_cast<uint16_t>(8 + m_payload));
        } else if (m_protocol == kProtocolIcmp) {
            transport = {8, 0, 0, 0, 0, 1, 0, 1}; // echo request
        }
        for (size_t i = 0; i < m_payload; ++i)
            transport.push_back(static_cast<uint8_t>(0xA0 + i % 16));

        std::vector<uint8_t> packet(headerLength(), 0);
        packet[0] = static_cast<uint8_t>(0x40 | (5 + m_optionWords));
        put16(packet, 2,
              m_totalLength.value_or(static_cast<uint16_t>(packet.size() + transport.size())));
        put16(packet, 4, m_id);
        put16(packet, 6,
              static_cast<uint16_t>((m_moreFragments ? 0x2000 : 0) | (m_fragmentOffset & 0x1FFF)));
        packet[8] = 64;
        packet[9] = m_protocol;
        for (int i = 0; i < 4; ++i) {
            packet[12 + i] = static_cast<uint8_t>(m_source >> (8 * i));
            packet[16 + i] = static_cast<uint8_t>(m_destination >> (8 * i));
        }
        for (size_t i = 20; i < packet.size(); ++i)
            packet[i] = 1; // NOP options
        if (m_cutTo && *m_cutTo < transport.size())
            transport.resize(*m_cutTo);
        packet.insert(packet.end(), transport.begin(), transport.end());
        return packet;
    }

private:
    PacketBuilder(uint8_t protocol, uint32_t source, uint32_t destination)
        : m_protocol(protocol), m_source(source), m_destination(destination) {}

    static void put16(std::vector<uint8_t>& bytes, size_t at, uint16_t value) {
        bytes[at] = static_cast<uint8_t>(value >> 8);
        bytes[at + 1] = static_cast<uint8_t>(value);
    }

    uint8_t m_protocol;
    uint32_t m_source;
    uint32_t m_destination;
    uint16_t m_sourcePort = 0;
    uint16_t m_destinationPort = 0;
    uint8_t m_tcpFlags = 0;
    uint16_t m_window = 0x7210;
    uint16_t m_id = 0x0101;
    size_t m_payload = 0;
    uint8_t m_optionWords = 0;
    uint16_t m_fragmentOffset = 0;
    bool m_moreFragments = false;
    std::optional<uint16_t> m_totalLength;
    std::optional<size_t> m_cutTo;
};

// The wire size the engine counts for a packet: IP total length + 14.
inline uint32_t wireSize(const std::vector<uint8_t>& packet) {
    return ((uint32_t{packet[2]} << 8) | packet[3]) + kEthernetHeaderSize;
}

} // namespace ovlank::test
