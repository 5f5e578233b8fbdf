#include "CleanupCommands.h"

#include "DeviceSocket.h"
#include "InstanceLock.h"
#include "IptablesChains.h"

namespace ovlank {

using tavrin::journal::Priority;
namespace {

std::string bothChains(const IptablesChains& chains) {
    return chains.inputChain() + " and " + chains.outputChain();
}

} // namespace

int removeLeftovers(const DaemonOptions& options, const CleanupLog& log) {
    // Held to the end, so that no daemon of this prefix starts while we remove.
    std::string error;
    const auto lock = InstanceLock::claim("chains/" + options.chainPrefix, error);
    if (!lock) {
        if (!error.empty()) {
            log(Priority::Error, error);
            return kExitFailed;
        }
        log(Priority::Warning, "a running daemon still uses the chain prefix " +
                                   options.chainPrefix + "; stop it first");
        return kExitRefused;
    }
    // Checked before anything changes; the removal checks again under the folder lock.
    if (options.deviceGiven && socketAnswers(options.devicePath)) {
        log(Priority::Warning,
            "a running daemon still serves " + options.devicePath + "; stop it first");
        return kExitRefused;
    }

    int status = kExitDone;
    bool anything = false;
    IptablesChains chains(options.chainPrefix, options.firstQueue, 1);
    bool found = false;
    if (!chains.remove(error, nullptr, &found)) {
        log(Priority::Error, "cannot remove the chains " + bothChains(chains) + ": " + error);
        status = kExitFailed;
    } else if (found) {
        log(Priority::Notice,
            "removed the chains " + bothChains(chains) + " and the jumps to them");
        anything = true;
    }
    if (options.deviceGiven) {
        switch (removeStaleSocket(options.devicePath, error)) {
        case StaleSocket::Removed:
            log(Priority::Notice, "removed the socket " + options.devicePath);
            anything = true;
            break;
        case StaleSocket::Absent: break;
        case StaleSocket::Live:
            log(Priority::Warning,
                "a running daemon still serves " + options.devicePath + "; stop it first");
            return kExitRefused;
        case StaleSocket::Failed:
            log(Priority::Error, error);
            status = kExitFailed;
            break;
        }
    }
    if (status == kExitDone && !anything) {
        log(Priority::Info,
            "nothing was left behind by a daemon with the chain prefix " + options.chainPrefix);
    }
    return status;
}

int detachChains(const DaemonOptions& options, const CleanupLog& log) {
    IptablesChains chains(options.chainPrefix, options.firstQueue, 1);
    std::string error;
    bool found = false;
    if (!chains.detach(error, &found)) {
        log(Priority::Error, "cannot remove the jumps to " + bothChains(chains) + ": " + error);
        return kExitFailed;
    }
    log(found ? Priority::Warning : Priority::Info,
        found ? "removed the jumps to " + bothChains(chains) + "; traffic passes them unfiltered"
              : "no jumps to " + bothChains(chains) + " were in place");
    return kExitDone;
}

} // namespace ovlank
