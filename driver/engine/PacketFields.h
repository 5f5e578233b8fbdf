// What the decision needs to know of one IPv4 packet, read once before the rule walk.
#pragma once

#include "OvlankProtocol.h"

#include <cstdint>
#include <span>

namespace ovlank {

inline constexpr size_t kMinIpHeaderSize = 20;
// Bytes behind the IP header that the decision reads: the two ports, then the TCP flags.
inline constexpr size_t kPortBytes = 4;
inline constexpr size_t kTcpFlagsOffset = 13;

struct PacketFields {
    uint8_t protocol = 0;
    uint32_t sourceAddress = 0;      // network order, as it stands in the header
    uint32_t destinationAddress = 0; // network order
    uint32_t wireSize = 0;           // IP total length + 14 (see parse)
    // False when the bytes behind the header do not start with a transport header
    // this packet really carries: too few bytes, or a fragment other than the first.
    bool portsKnown = false;
    bool tcpFlagsKnown = false;
    uint16_t sourcePort = 0; // host order
    uint16_t destinationPort = 0;
    uint8_t tcpFlags = 0;

    // Reads the fields of a packet given as its IP header and the bytes behind it.
    // False when the header is too short to be an IPv4 header. `packetLength`, when
    // known (not 0), is the whole packet's length: it stands in for a total length
    // field of 0, which the kernel writes into packets larger than 64 KiB.
    static bool parse(std::span<const uint8_t> ipHeader, std::span<const uint8_t> data,
                      PacketFields& out, uint32_t packetLength = 0);

    bool isTcp() const { return protocol == kProtocolTcp; }
    bool isUdp() const { return protocol == kProtocolUdp; }
    bool isConnectionRequest() const {
        return tcpFlagsKnown && (tcpFlags & kTcpFlagAck) == 0 && (tcpFlags & kTcpFlagSyn) != 0;
    }
};

// The capture ring's copy of a packet: the first 20 header bytes and up to 20 bytes
// behind the header. Bytes past the captured length are zero, never stale.
CaptureEntry captureOf(std::span<const uint8_t> ipHeader, std::span<const uint8_t> data);

} // namespace ovlank
