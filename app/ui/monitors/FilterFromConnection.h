// New packet filters made from a connection of the connection monitor: one for its
// two endpoints, one for its process. Qt-free, so that what they match can be
// checked against the engine directly.
#pragma once

#include "AdapterList.h"
#include "PacketFilter.h"
#include "TcpConnection.h"

#include <optional>
#include <string_view>

namespace tavrin::ui {

inline constexpr char kFilterListFull[] = "これ以上フィルタを追加できません。";
inline constexpr char kUnknownProcessRefused[] =
    "不明なプロセスにフィルタを適用することはできません。";
inline constexpr char kSystemProcessRefused[] =
    "システムプロセスにフィルタを適用することはできません。";

// The filter list takes no filter beyond this many.
inline constexpr int kMaxFilterCount = 64;

// This local address and port to that remote address and port. A listening socket
// (remote 0.0.0.0, port 0) gives a filter for every remote address and port.
PacketFilter filterFromAddressAndPort(const TcpConnection& c, const AdapterList& adapters);

struct ProcessFilter {
    std::optional<PacketFilter> filter;
    std::string_view refusal; // the message when there is no filter
};

// Every TCP packet of the process named `processName` (its display name) on this
// local address. Refused for an unknown process and for the system's own.
ProcessFilter filterFromProcess(const TcpConnection& c, std::string_view processName,
                                const AdapterList& adapters);

} // namespace tavrin::ui
