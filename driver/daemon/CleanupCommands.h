// The daemon's clean-up as commands of their own, for a program whose daemon was
// killed or does not answer: the same chain and socket code the daemon uses at
// start-up and at exit, run once in the caller's network namespace.
#pragma once

#include "DaemonOptions.h"
#include "JournalLines.h"

#include <functional>
#include <string>

namespace ovlank {

// Exit statuses of the daemon and of its commands.
inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitRefused = 3; // a daemon still runs with that prefix or device

using CleanupLog = std::function<void(tavrin::journal::Priority, const std::string& line)>;

// --remove: the chains PREFIX_IN and PREFIX_OUT, the jumps to them, the mangle
// table when their install made it, and with --device the socket file. Refused,
// changing nothing, while a daemon holds the prefix or answers on the device.
int removeLeftovers(const DaemonOptions& options, const CleanupLog& log);

// --detach: only the jumps to the chains. Works while the daemon lives (it is
// meant for one that does not answer); the chains stay.
int detachChains(const DaemonOptions& options, const CleanupLog& log);

} // namespace ovlank
