// The daemon's command line: where its device lives, which netfilter queues it
// reads and the prefix of its iptables chains.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ovlank {

inline constexpr uint16_t kDefaultQueue = 4322;
inline constexpr char kDefaultChainPrefix[] = "OVLANK";
inline constexpr unsigned kMaxQueueCount = 16;

struct DaemonOptions {
    std::string devicePath;
    uint16_t firstQueue = kDefaultQueue;
    unsigned queueCount = 0; // 0: one queue per usable core
    std::string chainPrefix = kDefaultChainPrefix;
};

struct ParsedOptions {
    std::optional<DaemonOptions> options; // empty on error or after --help
    bool helpRequested = false;
    std::string error; // one line, without the usage text
};

// `args` excludes the program name. Accepts "--opt VALUE" and "--opt=VALUE".
ParsedOptions parseDaemonOptions(std::span<const std::string_view> args);

std::string daemonUsage(std::string_view programName);

// The number of queues actually used: the option when given, else the cores this
// process may run on, capped so the last queue number still fits in 16 bits.
unsigned effectiveQueueCount(const DaemonOptions& options, unsigned usableCores);

} // namespace ovlank
