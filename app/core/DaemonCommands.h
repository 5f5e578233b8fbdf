// The daemon's command line as the program uses it: the service's own arguments,
// the clean-up the service manager runs after a daemon that was killed or crashed,
// and the detach command that lets traffic flow past a daemon that stopped answering.
#pragma once

#include "DriverService.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tavrin::core {

// The prefix the daemon uses when it is given none; the program always names one.
inline constexpr char kDefaultChainPrefix[] = "OVLANK";

struct DaemonCommandLine {
    std::optional<uint16_t> queue;
    std::string chainPrefix = kDefaultChainPrefix;

    // "[--queue N] --chains PREFIX": what the service runs the daemon with.
    std::vector<std::string> serviceArguments() const;
    // "--remove --chains PREFIX": the service manager adds the device.
    std::vector<std::string> cleanupArguments() const;
};

// "--detach --chains PREFIX" for a daemon that was started with `arguments`.
std::vector<std::string> detachArgumentsFor(const std::vector<std::string>& arguments);

// Takes the jumps to the daemon's chains away from outside the daemon, so that
// traffic flows (unfiltered) past a daemon that no longer answers.
class HookBypass {
public:
    virtual ~HookBypass() = default;
    // False with `error` set when the jumps could not be taken away.
    virtual bool detach(std::string& error) = 0;
};

// The daemon's own detach command, run with the executable and chain prefix of
// the daemon the service runs now (which may be one an earlier run started).
class DaemonHookBypass final : public HookBypass {
public:
    explicit DaemonHookBypass(DriverService& driver) : m_driver(driver) {}
    bool detach(std::string& error) override;

private:
    DriverService& m_driver;
};

} // namespace tavrin::core
