// One captured packet on the program's side: the 40 header bytes of a capture entry
// and the time it was fetched, shared by every packet list that shows it. Also the
// lists' columns and row texts, without Qt.
#pragma once

#include "ColumnHeading.h"
#include "OvlankProtocol.h"
#include "Placeholders.h"

#include <boost/shared_ptr.hpp>

#include <array>
#include <cstdint>
#include <string>

namespace tavrin::ui {

struct PacketInfo {
    // The IP header's first 20 bytes, then 20 transport bytes.
    std::array<uint8_t, ovlank::kCaptureIpHeaderSize + ovlank::kCaptureTransportSize> header{};
    int64_t captureTime = 0; // seconds since 1970 (UTC)
    // How many of the transport bytes the daemon captured: the rest are not the
    // packet's, and no column reads them.
    uint8_t transportBytes = 0;

    static PacketInfo fromEntry(const ovlank::CaptureEntry& entry, int64_t captureTime);

    uint8_t protocol() const { return header[9]; }
    uint16_t totalLength() const;
    uint16_t identification() const;
    uint8_t ttl() const { return header[8]; }
    uint32_t source() const;      // network order
    uint32_t destination() const; // network order
    // A fragment other than the first carries no transport header.
    bool laterFragment() const;
    // Whether `count` transport bytes from `offset` were captured and are a header's.
    bool hasTransport(size_t offset, size_t count) const;
    uint16_t transport16(size_t offset) const; // host order
    uint32_t transport32(size_t offset) const; // host order
};

using PacketRef = boost::shared_ptr<const PacketInfo>;

enum class PacketListKind { Tcp, Udp };

using PacketHeading = ColumnHeading;

inline constexpr int kTcpPacketColumns = 14;
inline constexpr int kUdpPacketColumns = 10;
extern const std::array<PacketHeading, kTcpPacketColumns> kPacketHeadings;

inline int packetColumnCount(PacketListKind kind) {
    return kind == PacketListKind::Tcp ? kTcpPacketColumns : kUdpPacketColumns;
}

// The text of a row's cell: `number` is the list's running number of the packet.
std::string packetCellText(const PacketInfo& packet, uint32_t number, int column,
                           PacketListKind kind);

// "ACK,PSH" for 0x18: URG, ACK, PSH, RST, SYN, FIN in that order, "" for none.
std::string tcpFlagsText(uint8_t flags);

// %SrcAddr% and %DestAddr%, and the ports for TCP and UDP; the rest stay open.
commands::PlaceholderValues packetPlaceholders(const PacketInfo& packet);

} // namespace tavrin::ui
