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

enum class DaemonMode {
    Serve,  // the daemon itself
    Remove, // --remove: clear away what a daemon that was killed left behind
    Detach, // --detach: take only the jumps to the chains away
};

struct DaemonOptions {
    DaemonMode mode = DaemonMode::Serve;
    std::string devicePath;
    bool deviceGiven = false;
    uint16_t firstQueue = kDefaultQueue;
    unsigned queueCount = 0; // 0: one queue per usable core
    std::string chainPrefix = kDefaultChainPrefix;
};

struct ParsedOptions {
    std::optional<DaemonOptions> options; // empty on error or after --help
    bool helpRequested = false;
    std::string error; // one line, without the usage text
};

// `args` excludes the program name. Accepts "--opt VALUE" and "--opt=VALUE"; each
// option once.
// --remove and --detach need --chains and take none of the queue options;
// --detach takes no --device either.
ParsedOptions parseDaemonOptions(std::span<const std::string_view> args);

// The help (usage, options, exit statuses), and the usage lines alone for errors.
std::string daemonUsage(std::string_view programName);
std::string daemonShortUsage(std::string_view programName);

// The number of queues actually used: the option when given, else the cores this
// process may run on, capped so the last queue number still fits in 16 bits.
unsigned effectiveQueueCount(const DaemonOptions& options, unsigned usableCores);

} // namespace ovlank
