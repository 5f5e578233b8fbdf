// The connection monitor's columns without Qt: headings, cell texts, sort keys, the
// row filter of the two check boxes and the values a row gives external commands.
#pragma once

#include "ColumnHeading.h"
#include "Placeholders.h"
#include "TcpConnection.h"

#include <array>
#include <string>
#include <string_view>

namespace tavrin::ui {

enum ConnectionColumn : int {
    kConnProtocol,
    kConnUp,
    kConnDown,
    kConnLocalAddress,
    kConnLocalPort,
    kConnRemoteAddress,
    kConnRemoteHost,
    kConnRemotePort,
    kConnState,
    kConnDuration,
    kConnProcessName,
    kConnProcessId,
    kConnProcessPath,
    kConnColumnCount
};

extern const std::array<ColumnHeading, kConnColumnCount> kConnectionHeadings;

// What a row shows besides its record: the names looked up for it when it was drawn.
struct ConnectionNames {
    std::string_view hostName;    // the cached name; "" while the lookup is pending
    std::string_view processPath; // the process table's text; "不明" when not listed
    std::string_view processName; // the display name of that path
};

std::string connectionCellText(const TcpConnection& c, int column, const ConnectionNames& names);

// The column's sort key compared, ascending: below 0 when `a` comes first, 0 when
// the keys are equal. Names compare without regard to ASCII case.
int compareConnections(const TcpConnection& a, const ConnectionNames& aNames,
                       const TcpConnection& b, const ConnectionNames& bNames, int column);

// The row filter of "Listeningを表示" and "アクティブな状態のコネクションのみ表示".
bool connectionShown(const TcpConnection& c, bool showListening, bool activeOnly);

// The placeholders a connection row fills. %ProcessID% stays open (asked before
// the run) for a connection without a known owner: -1 written unsigned is
// 4294967295, which tools that read a process id into 32 bits take for -1, "every
// process".
commands::PlaceholderValues connectionPlaceholders(const TcpConnection& c,
                                                   const ConnectionNames& names);

// Below 0, 0 or above 0, comparing bytes with ASCII letters folded to lower case.
int compareIgnoringCase(std::string_view a, std::string_view b);

} // namespace tavrin::ui
