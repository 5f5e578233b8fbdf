// One static rule: the match (protocol, direction, both ends, an optional
// process) and the action. Each enabled packet filter becomes one driver rule.
#pragma once

#include "Filter.h"
#include "PortRange.h"

#include <span>
#include <vector>

namespace tavrin {

inline constexpr int32_t kDirectionUp = 0;    // the local end sends
inline constexpr int32_t kDirectionDown = 1;  // the local end receives
inline constexpr int32_t kDirectionOther = 2; // kept from older settings; never offered

// processPortCount when the last port query found no port of the process.
inline constexpr uint16_t kNoProcessPorts = ovlank::kPortListMatchesNothing;
inline constexpr size_t kMaxProcessPorts = ovlank::kMaxPortListEntries;

inline constexpr std::string_view kAllAddressesText = "全てのIP";
inline constexpr std::string_view kAllPortsText = "全てのポート";
inline constexpr std::string_view kNoProcessPortText = "None";

class PacketFilter final : public CommonFilter {
public:
    static constexpr int32_t kDefaultAdapterIndex = -1; // no adapter
    static constexpr uint32_t kDefaultMyIpMask = 0xFFFFFFFFu;

    PacketFilter() : CommonFilter(kPacketFilterKind) {}
    PacketFilter(const PacketFilter&) = default;
    PacketFilter& operator=(const PacketFilter&) = default;
    ~PacketFilter() override = default;

    // UP puts the local end in the source fields, DOWN in the destination fields.
    // Any other direction converts like DOWN, just as its description shows "←".
    // Port lists longer than a rule holds are cut to its 16 ranges.
    void ToDriverRule(ovlank::DriverRule& rule) const override;
    std::unique_ptr<Filter> Clone() const override;
    // "<TCP 192.168.0.2:80 → 全てのIP:全てのポート>"
    std::string GetDescription() const override;

    // The port selector of SET_PORTS for this filter's process ports: the local
    // port is the source port of an UP rule (0) and the destination port of any
    // other (1), matching the ends that ToDriverRule chose.
    uint16_t GetProcessPortSelector() const;

    // The process's ports that this filter matches, "80,443", or "None".
    std::string GetProcessPortText() const;
    // Stores the ports last sent to the driver for this filter's process. A count
    // of kNoProcessPorts copies nothing; any other count copies at most that many
    // ports, no more than are given and no more than 256.
    void SetProcessPorts(std::span<const uint16_t> ports, uint16_t count);

    bool operator==(const PacketFilter&) const = default;

    int32_t direction = kDirectionUp;
    std::string appName; // executable file name of the bound process; empty: none
    // The adapter is kept by its name, which stays while no adapter has it; the
    // index is where that name is found now (-1: nowhere, or no adapter). Whoever
    // binds a filter to an adapter sets both.
    std::string adapterName; // empty: no adapter
    int32_t adapterIndex = kDefaultAdapterIndex;
    uint32_t myIp = 0; // network order, like every address and mask here
    uint32_t otherIp = 0;
    uint32_t myIpMask = kDefaultMyIpMask; // 0: every local address
    uint32_t otherIpMask = 0;             // 0: every remote address
    int32_t isMyIp = 1;                   // myIp follows the adapter's address
    int32_t isMyAllPort = 1;              // myPorts is ignored
    int32_t isOtherAllPort = 1;           // otherPorts is ignored
    std::vector<PortRange> myPorts;       // at most 16
    std::vector<PortRange> otherPorts;    // at most 16
    uint16_t processPortCount = 0;
    // Host order, at most kMaxProcessPorts; empty until the first ports are set, so a
    // filter that is not bound to a process takes no room for them.
    std::vector<uint16_t> processPorts;
};

} // namespace tavrin
