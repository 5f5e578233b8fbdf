#include "PacketFields.h"

#include "ByteOrder.h"

#include <algorithm>
#include <cstring>

namespace ovlank {

namespace {

constexpr size_t kTotalLengthOffset = 2;
constexpr size_t kFragmentOffset = 6;
constexpr size_t kProtocolOffset = 9;
constexpr size_t kSourceOffset = 12;
constexpr size_t kDestinationOffset = 16;
constexpr uint16_t kFragmentOffsetMask = 0x1FFF;

} // namespace

bool PacketFields::parse(std::span<const uint8_t> ipHeader, std::span<const uint8_t> data,
                         PacketFields& out, uint32_t packetLength) {
    if (ipHeader.size() < kMinIpHeaderSize)
        return false;
    const uint8_t* h = ipHeader.data();
    out.protocol = h[kProtocolOffset];
    out.sourceAddress = loadRaw32(h + kSourceOffset);
    out.destinationAddress = loadRaw32(h + kDestinationOffset);
    uint32_t totalLength = loadBig16(h + kTotalLengthOffset);
    if (totalLength == 0) {
        totalLength = std::min<uint32_t>(packetLength, UINT32_MAX - kEthernetHeaderSize);
    }
    out.wireSize = totalLength + kEthernetHeaderSize;

    // A later fragment carries payload where the first one had the ports and flags.
    const bool laterFragment = (loadBig16(h + kFragmentOffset) & kFragmentOffsetMask) != 0;
    out.portsKnown = !laterFragment && data.size() >= kPortBytes;
    out.tcpFlagsKnown = !laterFragment && data.size() > kTcpFlagsOffset;
    out.sourcePort = out.portsKnown ? loadBig16(data.data()) : 0;
    out.destinationPort = out.portsKnown ? loadBig16(data.data() + 2) : 0;
    out.tcpFlags = out.tcpFlagsKnown ? data[kTcpFlagsOffset] : 0;
    return true;
}

CaptureEntry captureOf(std::span<const uint8_t> ipHeader, std::span<const uint8_t> data) {
    CaptureEntry entry{};
    const size_t n = std::min(data.size(), kCaptureTransportSize);
    entry.length = static_cast<uint32_t>(kCaptureIpHeaderSize + n);
    std::memcpy(entry.ipHeader, ipHeader.data(), std::min(ipHeader.size(), kCaptureIpHeaderSize));
    if (n != 0)
        std::memcpy(entry.transport, data.data(), n);
    return entry;
}

} // namespace ovlank
