// One user-defined external command: a console command line with placeholders,
// offered in the right-click menu of one monitor.
#pragma once

#include <string>

namespace tavrin::commands {

// The monitor whose right-click menu lists a command.
inline constexpr int kTargetAny = 0; // as a query argument only
inline constexpr int kTargetTcpConnectionMonitor = 1;
inline constexpr int kTargetPacketMonitor = 2;

struct ExternalCommand {
    int addToMenu = 1;  // listed in the menu of the monitor named by `target`
    int showWindow = 0; // kept and edited only; a run never shows a window
    std::string name;   // list and menu text ("&" marks the access key); never holds ","
    std::string commandLine;
    int target = kTargetTcpConnectionMonitor;

    bool operator==(const ExternalCommand&) const = default;
};

} // namespace tavrin::commands
