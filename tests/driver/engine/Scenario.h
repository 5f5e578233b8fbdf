// Random but pointed rule sets, packets and requests: addresses, ports and protocols
// come mostly from small pools so that rules and packets meet often. The choices come
// from a seeded generator in tests and from the fuzz input in fuzzers.
#pragma once

#include "OvlankProtocol.h"
#include "PacketBuilder.h"
#include "RequestBytes.h"

#include <cstdint>
#include <random>
#include <span>
#include <vector>

namespace ovlank::test {

// Choices from a seeded generator.
class SeededChoices final {
public:
    explicit SeededChoices(uint32_t seed) : m_engine(seed) {}
    uint32_t below(uint32_t bound) {
        return bound == 0 ? 0 : std::uniform_int_distribution<uint32_t>(0, bound - 1)(m_engine);
    }
    bool exhausted() const { return false; }

private:
    std::mt19937 m_engine;
};

// Choices read from fuzz input, a little-endian byte at a time; 0 once it runs out.
class ByteChoices final {
public:
    explicit ByteChoices(std::span<const uint8_t> bytes) : m_bytes(bytes) {}
    uint32_t below(uint32_t bound) {
        if (bound <= 1)
            return 0;
        uint64_t value = 0;
        for (uint64_t span = 1; span < bound && m_at < m_bytes.size(); span <<= 8)
            value = (value << 8) | m_bytes[m_at++];
        return static_cast<uint32_t>(value % bound);
    }
    // Raw bytes for a packet or a request body: up to `most`, as many as remain.
    std::vector<uint8_t> take(size_t most) {
        const size_t n = std::min(most, m_bytes.size() - m_at);
        std::vector<uint8_t> out(m_bytes.begin() + static_cast<long>(m_at),
                                 m_bytes.begin() + static_cast<long>(m_at + n));
        m_at += n;
        return out;
    }
    bool exhausted() const { return m_at >= m_bytes.size(); }

private:
    std::span<const uint8_t> m_bytes;
    size_t m_at = 0;
};

struct Request {
    uint32_t code = 0;
    Bytes input;
    size_t outputSize = 0;
};

template <class Choices> class Scenario final {
public:
    explicit Scenario(Choices& choices) : m_c(choices) {}

    uint32_t address() {
        static constexpr uint32_t kPool[] = {ip(10, 0, 0, 1), ip(10, 0, 0, 2), ip(10, 0, 1, 1),
                                             ip(192, 168, 7, 7), 0};
        return m_c.below(8) < 7 ? kPool[m_c.below(5)] : m_c.below(0xFFFFFFFF);
    }
    uint32_t mask() {
        static constexpr uint32_t kPool[] = {ip(255, 255, 255, 255), ip(255, 255, 255, 0),
                                             ip(255, 255, 0, 0), 0};
        return m_c.below(8) < 7 ? kPool[m_c.below(4)] : m_c.below(0xFFFFFFFF);
    }
    uint16_t port() {
        static constexpr uint16_t kPool[] = {0, 1, 22, 53, 80, 443, 1000, 0x0102, 0x0201, 65535};
        return m_c.below(4) < 3 ? kPool[m_c.below(10)] : static_cast<uint16_t>(m_c.below(65536));
    }
    uint8_t protocol() {
        static constexpr uint8_t kPool[] = {kProtocolTcp, kProtocolUdp, kProtocolIcmp, 47};
        return kPool[m_c.below(4)];
    }

    DriverRule rule() {
        DriverRule r{};
        r.protocol = m_c.below(3) == 0 ? 0 : protocol();
        if (m_c.below(2)) {
            r.sourceAddress = address();
            r.sourceMask = mask();
        }
        if (m_c.below(2)) {
            r.destinationAddress = address();
            r.destinationMask = mask();
        }
        r.sourceRangeCount = rangeCount();
        r.destinationRangeCount = rangeCount();
        // Fill all 16 slots so that a read past the count would show.
        for (uint32_t i = 0; i < kMaxPortRanges; ++i) {
            r.sourceRanges[i] = range();
            r.destinationRanges[i] = range();
        }
        r.block = static_cast<uint8_t>(m_c.below(2));
        r.connectionRequestsOnly = static_cast<uint8_t>(m_c.below(3) == 0);
        if (m_c.below(3) == 0) {
            r.limit = m_c.below(400);
            r.minimumSize = m_c.below(120);
        }
        return r;
    }

    Bytes packet() {
        const uint32_t source = address();
        const uint32_t destination = address();
        const uint8_t proto = protocol();
        PacketBuilder p =
            proto == kProtocolTcp ? PacketBuilder::tcp(source, port(), destination, port(), flags())
            : proto == kProtocolUdp ? PacketBuilder::udp(source, port(), destination, port())
                                    : PacketBuilder::other(proto, source, destination);
        p.payload(m_c.below(30))
            .options(static_cast<uint8_t>(m_c.below(4) == 0 ? m_c.below(11) : 0));
        if (m_c.below(10) == 0)
            p.fragment(static_cast<uint16_t>(m_c.below(3)), m_c.below(2) != 0);
        if (m_c.below(10) == 0)
            p.cutTransportTo(m_c.below(20));
        if (m_c.below(4) == 0)
            p.totalLength(static_cast<uint16_t>(m_c.below(65536)));
        return p.build();
    }

    Request request(uint32_t ruleCount) {
        Request q;
        q.code = m_c.below(20) == 0 ? m_c.below(0xFFFFFFFF)
                                    : kControlCodes[m_c.below(kControlCodeCount)];
        q.outputSize = m_c.below(4) == 0 ? m_c.below(300) : sizeof(BandwidthReply);
        const uint32_t index = m_c.below(ruleCount + 2);
        switch (q.code) {
        case ADD_FILTER: q.input = bytesOf(rule()); break;
        case CHANGE_FILTER: q.input = changeFilterBytes(index, rule()); break;
        case SET_PORTS: {
            const uint32_t kind = m_c.below(6);
            if (kind == 0) {
                q.input =
                    portListHead(static_cast<uint16_t>(index), port(), kPortListMatchesNothing);
            } else {
                std::vector<uint16_t> ports(kind == 1 ? 257 : m_c.below(kind == 2 ? 257 : 6));
                for (uint16_t& p : ports)
                    p = port();
                q.input = portListBytes(static_cast<uint16_t>(index),
                                        static_cast<uint16_t>(m_c.below(2)), ports);
            }
            break;
        }
        case SET_LOCALIP: {
            std::vector<uint32_t> addresses(m_c.below(6));
            for (uint32_t& a : addresses)
                a = address();
            q.input = localAddressBytes(addresses);
            break;
        }
        default: break;
        }
        // Now and then a length that is off by a little.
        if (m_c.below(12) == 0 && !q.input.empty())
            q.input.resize(q.input.size() + m_c.below(3) - 1);
        return q;
    }

private:
    uint32_t rangeCount() {
        const uint32_t kind = m_c.below(8);
        return kind < 4 ? 0 : kind < 7 ? 1 + m_c.below(3) : m_c.below(18);
    }
    DriverPortRange range() {
        uint16_t a = port();
        uint16_t b = m_c.below(4) == 0 ? port() : static_cast<uint16_t>(a + m_c.below(100));
        return {toNetwork16(a), toNetwork16(b)};
    }
    uint8_t flags() {
        static constexpr uint8_t kPool[] = {kTcpFlagSyn, kTcpFlagSyn | kTcpFlagAck, kTcpFlagAck,
                                            0x11, 0x04};
        return kPool[m_c.below(5)];
    }

    Choices& m_c;
};

} // namespace ovlank::test
