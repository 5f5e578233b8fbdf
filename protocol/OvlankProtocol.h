// The contract between Tavrin and Ovlank: control codes, status codes, the device
// name and every record that crosses the control socket. Both deliverables include
// this header and nothing else of each other.
//
// Records are plain fixed-layout structs. Fields marked "network order" hold the
// bytes exactly as they stand in an IPv4 or TCP/UDP header; every other multi-byte
// field is little-endian, which is the native order of every platform we build for.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

static_assert(std::endian::native == std::endian::little,
              "the control records are little-endian and are used in place");

namespace ovlank {

// ---------------------------------------------------------------------------
// Device and version

inline constexpr char kDeviceName[] = "Ovlank";
// Where the device of a name lives: "\\.\NAME" maps to kDeviceFolder + NAME.
inline constexpr char kDeviceFolder[] = "/run/tavrin/";
inline constexpr char kDefaultDevicePath[] = "/run/tavrin/Ovlank";
inline constexpr uint32_t kDriverVersion = 1300;

// Device type given when the device is created. Only the control codes carry 0x4322.
inline constexpr uint32_t kDeviceType = 0x654322;
inline constexpr uint32_t kControlDeviceType = 0x4322;

// ---------------------------------------------------------------------------
// Control codes

inline constexpr uint32_t kMethodBuffered = 0;
inline constexpr uint32_t kAccessAny = 0;
inline constexpr uint32_t kAccessRead = 1;
inline constexpr uint32_t kAccessWrite = 2;

constexpr uint32_t controlCode(uint32_t deviceType, uint32_t function, uint32_t method,
                               uint32_t access) {
    return (deviceType << 16) | (access << 14) | (function << 2) | method;
}

inline constexpr uint32_t START_IP_HOOK =
    controlCode(kControlDeviceType, 0x830, kMethodBuffered, kAccessAny);
inline constexpr uint32_t STOP_IP_HOOK =
    controlCode(kControlDeviceType, 0x831, kMethodBuffered, kAccessAny);
inline constexpr uint32_t ADD_FILTER =
    controlCode(kControlDeviceType, 0x832, kMethodBuffered, kAccessWrite);
inline constexpr uint32_t CLEAR_FILTER =
    controlCode(kControlDeviceType, 0x833, kMethodBuffered, kAccessAny);
inline constexpr uint32_t GET_PACKET =
    controlCode(kControlDeviceType, 0x834, kMethodBuffered, kAccessRead);
inline constexpr uint32_t CLEAR_BANDWIDTH =
    controlCode(kControlDeviceType, 0x835, kMethodBuffered, kAccessRead);
inline constexpr uint32_t SET_PORTS =
    controlCode(kControlDeviceType, 0x836, kMethodBuffered, kAccessWrite);
inline constexpr uint32_t SET_LOCALIP =
    controlCode(kControlDeviceType, 0x837, kMethodBuffered, kAccessWrite);
inline constexpr uint32_t START_FILTERING =
    controlCode(kControlDeviceType, 0x838, kMethodBuffered, kAccessAny);
inline constexpr uint32_t STOP_FILTERING =
    controlCode(kControlDeviceType, 0x839, kMethodBuffered, kAccessAny);
inline constexpr uint32_t GET_VERSION =
    controlCode(kControlDeviceType, 0x83A, kMethodBuffered, kAccessRead);
inline constexpr uint32_t CHANGE_FILTER =
    controlCode(kControlDeviceType, 0x83B, kMethodBuffered, kAccessWrite);

static_assert(START_IP_HOOK == 0x432220C0);
static_assert(STOP_IP_HOOK == 0x432220C4);
static_assert(ADD_FILTER == 0x4322A0C8);
static_assert(CLEAR_FILTER == 0x432220CC);
static_assert(GET_PACKET == 0x432260D0);
static_assert(CLEAR_BANDWIDTH == 0x432260D4);
static_assert(SET_PORTS == 0x4322A0D8);
static_assert(SET_LOCALIP == 0x4322A0DC);
static_assert(START_FILTERING == 0x432220E0);
static_assert(STOP_FILTERING == 0x432220E4);
static_assert(GET_VERSION == 0x432260E8);
static_assert(CHANGE_FILTER == 0x4322A0EC);

// The twelve requests in the order of their function numbers.
inline constexpr uint32_t kControlCodeCount = 12;
inline constexpr uint32_t kControlCodes[kControlCodeCount] = {
    START_IP_HOOK, STOP_IP_HOOK, ADD_FILTER,      CLEAR_FILTER,   GET_PACKET,  CLEAR_BANDWIDTH,
    SET_PORTS,     SET_LOCALIP,  START_FILTERING, STOP_FILTERING, GET_VERSION, CHANGE_FILTER};

// The request's name as the program shows it in "FAILED: DeviceIoControl NAME";
// nullptr for a code that is not one of the twelve.
constexpr const char* controlCodeName(uint32_t code) {
    switch (code) {
    case START_IP_HOOK: return "START_IP_HOOK";
    case STOP_IP_HOOK: return "STOP_IP_HOOK";
    case ADD_FILTER: return "ADD_FILTER";
    case CLEAR_FILTER: return "CLEAR_FILTER";
    case GET_PACKET: return "GET_PACKET";
    case CLEAR_BANDWIDTH: return "CLEAR_BANDWIDTH";
    case SET_PORTS: return "SET_PORTS";
    case SET_LOCALIP: return "SET_LOCALIP";
    case START_FILTERING: return "START_FILTERING";
    case STOP_FILTERING: return "STOP_FILTERING";
    case GET_VERSION: return "GET_VERSION";
    case CHANGE_FILTER: return "CHANGE_FILTER";
    default: return nullptr;
    }
}

// ---------------------------------------------------------------------------
// Status codes (NTSTATUS values)

using NtStatus = uint32_t;
inline constexpr NtStatus STATUS_SUCCESS = 0x00000000;
inline constexpr NtStatus STATUS_PENDING = 0x00000103;
inline constexpr NtStatus STATUS_UNSUCCESSFUL = 0xC0000001;
inline constexpr NtStatus STATUS_INVALID_PARAMETER = 0xC000000D;
inline constexpr NtStatus STATUS_INSUFFICIENT_RESOURCES = 0xC000009A;

constexpr bool ntSuccess(NtStatus status) {
    return (status & 0xC0000000u) != 0xC0000000u;
}

// ---------------------------------------------------------------------------
// Limits

inline constexpr uint32_t kMaxRules = 64;
inline constexpr uint32_t kMaxPortRanges = 16;
inline constexpr uint32_t kMaxPortListEntries = 256;
inline constexpr uint16_t kPortListMatchesNothing = 0xFFFF;
inline constexpr uint32_t kCaptureRingSlots = 4000;
inline constexpr uint32_t kEthernetHeaderSize = 14; // added to the IP total length
inline constexpr uint8_t kProtocolIcmp = 1;
inline constexpr uint8_t kProtocolTcp = 6;
inline constexpr uint8_t kProtocolUdp = 17;
inline constexpr uint8_t kTcpFlagSyn = 0x02;
inline constexpr uint8_t kTcpFlagAck = 0x10;

// ---------------------------------------------------------------------------
// Records

// One inclusive port range; both bounds in network order.
struct DriverPortRange {
    uint16_t low;
    uint16_t high;
};
static_assert(sizeof(DriverPortRange) == 4);
static_assert(offsetof(DriverPortRange, low) == 0);
static_assert(offsetof(DriverPortRange, high) == 2);

// The record of ADD_FILTER and the body of CHANGE_FILTER.
struct DriverRule {
    uint16_t protocol; // 0 matches every protocol
    uint8_t reserved1[2];
    uint32_t sourceAddress;      // network order; 0 matches every source
    uint32_t destinationAddress; // network order; 0 matches every destination
    uint32_t sourceMask;         // network order
    uint32_t destinationMask;    // network order
    uint32_t sourceRangeCount;   // 0 matches every source port
    uint32_t destinationRangeCount;
    DriverPortRange sourceRanges[kMaxPortRanges];
    DriverPortRange destinationRanges[kMaxPortRanges];
    uint8_t block;
    uint8_t connectionRequestsOnly; // with block: for TCP only SYN without ACK is dropped
    uint8_t reserved2[2];
    uint32_t limit;       // bytes per counter period; 0 means no limit
    uint32_t minimumSize; // packets of at most this wire size are never throttled
};
static_assert(sizeof(DriverRule) == 168);
static_assert(offsetof(DriverRule, protocol) == 0);
static_assert(offsetof(DriverRule, reserved1) == 2);
static_assert(offsetof(DriverRule, sourceAddress) == 4);
static_assert(offsetof(DriverRule, destinationAddress) == 8);
static_assert(offsetof(DriverRule, sourceMask) == 12);
static_assert(offsetof(DriverRule, destinationMask) == 16);
static_assert(offsetof(DriverRule, sourceRangeCount) == 20);
static_assert(offsetof(DriverRule, destinationRangeCount) == 24);
static_assert(offsetof(DriverRule, sourceRanges) == 28);
static_assert(offsetof(DriverRule, destinationRanges) == 92);
static_assert(offsetof(DriverRule, block) == 156);
static_assert(offsetof(DriverRule, connectionRequestsOnly) == 157);
static_assert(offsetof(DriverRule, reserved2) == 158);
static_assert(offsetof(DriverRule, limit) == 160);
static_assert(offsetof(DriverRule, minimumSize) == 164);

struct ChangeFilterRequest {
    uint32_t ruleIndex; // 0-based position in the rule list
    DriverRule rule;
};
static_assert(sizeof(ChangeFilterRequest) == 172);
static_assert(offsetof(ChangeFilterRequest, ruleIndex) == 0);
static_assert(offsetof(ChangeFilterRequest, rule) == 4);

// SET_PORTS: a 6-byte head followed by `portCount` host-order ports (none when the
// count is kPortListMatchesNothing). Sent as 6 + 2 × n bytes, never as the whole struct.
struct PortListRequest {
    uint16_t ruleIndex;
    uint16_t portSelector; // 0: the packet's source port; nonzero: its destination port
    uint16_t portCount;    // 0 to 256, or kPortListMatchesNothing
    uint16_t ports[kMaxPortListEntries];
};
inline constexpr size_t kPortListRequestHeadSize = 6;
static_assert(offsetof(PortListRequest, ruleIndex) == 0);
static_assert(offsetof(PortListRequest, portSelector) == 2);
static_assert(offsetof(PortListRequest, portCount) == 4);
static_assert(offsetof(PortListRequest, ports) == kPortListRequestHeadSize);
static_assert(sizeof(PortListRequest) == kPortListRequestHeadSize + 2 * kMaxPortListEntries);

constexpr size_t portListRequestSize(uint16_t portCount) {
    return portCount == kPortListMatchesNothing ? kPortListRequestHeadSize
                                                : kPortListRequestHeadSize + 2u * portCount;
}

// SET_LOCALIP: a 32-bit count followed by that many network-order addresses,
// 4 + 4 × n bytes. The head alone is a struct; the addresses follow it on the wire.
struct LocalAddressList {
    uint32_t count;
};
inline constexpr size_t kLocalAddressListHeadSize = 4;
static_assert(sizeof(LocalAddressList) == kLocalAddressListHeadSize);
static_assert(offsetof(LocalAddressList, count) == 0);

constexpr size_t localAddressListSize(uint32_t count) {
    return kLocalAddressListHeadSize + 4u * static_cast<size_t>(count);
}

// CLEAR_BANDWIDTH reply: one 32-bit byte count per rule in list order, then the sent
// total and the received total, 4 × r + 8 bytes. The tail is the fixed part.
struct BandwidthReplyTotals {
    uint32_t sentBytes;     // from local addresses
    uint32_t receivedBytes; // to local addresses
};
static_assert(sizeof(BandwidthReplyTotals) == 8);
static_assert(offsetof(BandwidthReplyTotals, sentBytes) == 0);
static_assert(offsetof(BandwidthReplyTotals, receivedBytes) == 4);

// The largest reply, for callers that keep one buffer for every period.
struct BandwidthReply {
    uint32_t ruleBytes[kMaxRules];
    BandwidthReplyTotals totals; // only here when all 64 rules are present
};
static_assert(sizeof(BandwidthReply) == 4 * kMaxRules + 8);

constexpr size_t bandwidthReplySize(uint32_t ruleCount) {
    return 4u * static_cast<size_t>(ruleCount) + sizeof(BandwidthReplyTotals);
}

inline constexpr size_t kCaptureHeadSize = 8;
inline constexpr size_t kCaptureIpHeaderSize = 20;
inline constexpr size_t kCaptureTransportSize = 20;

struct CaptureEntry {
    int32_t ruleIndex; // -1 when no rule matched
    uint32_t length;   // 20 + n, n = min(bytes behind the IP header, 20)
    uint8_t ipHeader[kCaptureIpHeaderSize];
    uint8_t transport[kCaptureTransportSize]; // bytes past n are undefined
};
static_assert(sizeof(CaptureEntry) == 48);
static_assert(offsetof(CaptureEntry, ruleIndex) == 0);
static_assert(offsetof(CaptureEntry, length) == 4);
static_assert(offsetof(CaptureEntry, ipHeader) == kCaptureHeadSize);
static_assert(offsetof(CaptureEntry, transport) == 28);

// ---------------------------------------------------------------------------
// The daemon's iptables chains are named PREFIX_IN and PREFIX_OUT. The program
// may hand the daemon a prefix, so both check it by the same rule: iptables takes
// 28 characters in a chain name ("_OUT" is the longest suffix), and a leading '-'
// would be read as an option.

inline constexpr size_t kMaxChainPrefixLength = 24;
inline constexpr char kChainPrefixRule[] =
    "1 to 24 letters, digits, '_' or '-', not starting with '-'";

constexpr bool isValidChainPrefix(std::string_view prefix) {
    if (prefix.empty() || prefix.size() > kMaxChainPrefixLength || prefix.front() == '-')
        return false;
    for (char c : prefix) {
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              c == '_' || c == '-'))
            return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Framing on the device socket. One request is one round trip: the head and
// `inputLength` bytes go in; the reply head and exactly `information` bytes come
// back (none when the request failed). A length above kMaxFrameLength, or a frame
// cut short, closes that connection.

inline constexpr uint32_t kMaxFrameLength = 1u << 20;

struct WireRequestHead {
    uint32_t code;
    uint32_t inputLength;
    uint32_t outputLength; // the caller's output buffer size
};
static_assert(sizeof(WireRequestHead) == 12);
static_assert(offsetof(WireRequestHead, code) == 0);
static_assert(offsetof(WireRequestHead, inputLength) == 4);
static_assert(offsetof(WireRequestHead, outputLength) == 8);

struct WireReplyHead {
    NtStatus status;
    uint32_t information; // number of output bytes that follow
};
static_assert(sizeof(WireReplyHead) == 8);
static_assert(offsetof(WireReplyHead, status) == 0);
static_assert(offsetof(WireReplyHead, information) == 4);

} // namespace ovlank
