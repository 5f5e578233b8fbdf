#include "PacketInfo.h"

#include "PlainText.h"

#include <algorithm>
#include <cstring>
#include <ctime>

namespace tavrin::ui {

const std::array<PacketHeading, kTcpPacketColumns> kPacketHeadings = {{
    {"No.", false, "1000000"},
    {"取得時間", true, "00:00:00"},
    {"プロトコル", false, "その他"},
    {"パケット長", true, "65549"},
    {"IP識別子", true, "65535"},
    {"TTL", true, "255"},
    {"送信元IPアドレス", false, "255.255.255.255"},
    {"送信先IPアドレス", false, "255.255.255.255"},
    {"送信元ポート番号", true, "65535"},
    {"送信先ポート番号", true, "65535"},
    {"シーケンス番号", true, "4294967295"},
    {"応答番号", true, "4294967295"},
    {"TCPフラグ", false, "ACK,PSH,FIN"},
    {"ウィンドウサイズ", true, "65535"},
}};

namespace {

constexpr size_t kIp = ovlank::kCaptureIpHeaderSize;

uint16_t read16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

uint32_t read32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

bool carriesPorts(const PacketInfo& p) {
    return (p.protocol() == ovlank::kProtocolTcp || p.protocol() == ovlank::kProtocolUdp) &&
           p.hasTransport(0, 4);
}

std::string timeText(int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    char text[16] = "";
    if (::localtime_r(&t, &local) != nullptr)
        std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

std::string protocolText(uint8_t protocol) {
    switch (protocol) {
    case ovlank::kProtocolIcmp: return "ICMP";
    case ovlank::kProtocolTcp: return "TCP";
    case ovlank::kProtocolUdp: return "UDP";
    default: return "その他";
    }
}

} // namespace

PacketInfo PacketInfo::fromEntry(const ovlank::CaptureEntry& entry, int64_t captureTime) {
    PacketInfo p;
    std::memcpy(p.header.data(), entry.ipHeader, kIp);
    std::memcpy(p.header.data() + kIp, entry.transport, ovlank::kCaptureTransportSize);
    p.captureTime = captureTime;
    const uint32_t length = std::min<uint32_t>(entry.length, kIp + ovlank::kCaptureTransportSize);
    p.transportBytes = static_cast<uint8_t>(length > kIp ? length - kIp : 0);
    return p;
}

uint16_t PacketInfo::totalLength() const {
    return read16(&header[2]);
}

uint16_t PacketInfo::identification() const {
    return read16(&header[4]);
}

uint32_t PacketInfo::source() const {
    uint32_t a = 0;
    std::memcpy(&a, &header[12], 4);
    return a;
}

uint32_t PacketInfo::destination() const {
    uint32_t a = 0;
    std::memcpy(&a, &header[16], 4);
    return a;
}

bool PacketInfo::laterFragment() const {
    return (read16(&header[6]) & 0x1FFF) != 0;
}

bool PacketInfo::hasTransport(size_t offset, size_t count) const {
    return !laterFragment() && offset + count <= transportBytes;
}

uint16_t PacketInfo::transport16(size_t offset) const {
    return read16(&header[kIp + offset]);
}

uint32_t PacketInfo::transport32(size_t offset) const {
    return read32(&header[kIp + offset]);
}

std::string tcpFlagsText(uint8_t flags) {
    static constexpr std::pair<uint8_t, const char*> kFlags[] = {
        {0x20, "URG"}, {0x10, "ACK"}, {0x08, "PSH"}, {0x04, "RST"}, {0x02, "SYN"}, {0x01, "FIN"}};
    std::string text;
    for (const auto& [bit, name] : kFlags) {
        if ((flags & bit) == 0)
            continue;
        if (!text.empty())
            text += ',';
        text += name;
    }
    return text;
}

std::string packetCellText(const PacketInfo& p, uint32_t number, int column, PacketListKind kind) {
    const bool tcp = p.protocol() == ovlank::kProtocolTcp;
    // A UDP list holds UDP packets only; it reads its columns as UDP's.
    const bool ports = kind == PacketListKind::Udp ? p.hasTransport(0, 4) : carriesPorts(p);
    switch (column) {
    case 0: return std::to_string(number);
    case 1: return timeText(p.captureTime);
    case 2: return kind == PacketListKind::Udp ? std::string("UDP") : protocolText(p.protocol());
    case 3: return std::to_string(uint32_t{p.totalLength()} + 14);
    case 4: return std::to_string(p.identification());
    case 5: return std::to_string(p.ttl());
    case 6: return dottedAddress(p.source());
    case 7: return dottedAddress(p.destination());
    case 8: return ports ? std::to_string(p.transport16(0)) : std::string();
    case 9: return ports ? std::to_string(p.transport16(2)) : std::string();
    }
    if (kind == PacketListKind::Udp || !tcp)
        return {};
    switch (column) {
    case 10: return p.hasTransport(4, 4) ? std::to_string(p.transport32(4)) : std::string();
    case 11: return p.hasTransport(8, 4) ? std::to_string(p.transport32(8)) : std::string();
    case 12: return p.hasTransport(13, 1) ? tcpFlagsText(p.header[kIp + 13]) : std::string();
    case 13: return p.hasTransport(14, 2) ? std::to_string(p.transport16(14)) : std::string();
    default: return {};
    }
}

commands::PlaceholderValues packetPlaceholders(const PacketInfo& p) {
    commands::PlaceholderValues values = {
        {"%SrcAddr%", dottedAddress(p.source())},
        {"%DestAddr%", dottedAddress(p.destination())},
    };
    if (carriesPorts(p)) {
        values.emplace_back("%SrcPort%", std::to_string(p.transport16(0)));
        values.emplace_back("%DestPort%", std::to_string(p.transport16(2)));
    }
    return values;
}

} // namespace tavrin::ui
