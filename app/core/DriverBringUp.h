// Bringing up both drivers before the program shows anything: the kernel's queue
// facility, then the Ovlank daemon, its version check and its reset. Every failure
// is reported to the user and ends the program.
#pragma once

#include "DriverService.h"
#include "Messages.h"

#include <string>

namespace tavrin::core {

inline constexpr char kIpFilterDriverName[] = "IpFilterDriver";
// Taken as it stands: the system provides this service, so no file is looked up.
inline constexpr char kIpFilterDriverFile[] = "nfnetlink_queue";
inline constexpr char kOvlankName[] = "Ovlank";
// Retries of the IpFilterDriver start while the service database is locked.
inline constexpr int kLockedRetries = 10002;

struct BringUpPlace {
    // When set the current folder is kept even without the daemon in it.
    bool keepCurrentFolder = false;
    // The program's own folder: made current when the daemon is not in the current one.
    std::string programFolder;
};

// Steps 1 to 9 of the bring-up. True when both services run and the daemon's device
// answered the version check and was reset (no hook, no rules, filtering off).
bool bringUpDrivers(DriverService& ipFilter, DriverService& ovlank, Messages& messages,
                    const BringUpPlace& place);

} // namespace tavrin::core
