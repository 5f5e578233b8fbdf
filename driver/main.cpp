// Ovlank: the packet filter daemon. Runs in the foreground until SIGTERM or SIGINT;
// with --remove or --detach it clears up after a daemon instead and ends.
#include "CleanupCommands.h"
#include "Daemon.h"
#include "DaemonOptions.h"
#include "JournalLines.h"

#include <sched.h>

#include <cstdio>
#include <iostream>
#include <mutex>
#include <string_view>
#include <vector>

namespace {

unsigned usableCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) != 0) {
        return 1;
    }
    return static_cast<unsigned>(CPU_COUNT(&set));
}

} // namespace

int main(int argc, char** argv) {
    const std::string_view program = argc > 0 ? argv[0] : "Ovlank";
    std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const ovlank::ParsedOptions parsed = ovlank::parseDaemonOptions(args);
    if (parsed.helpRequested) {
        std::cout << ovlank::daemonUsage(program);
        return 0;
    }
    // Under a service manager that gives the journal as standard error, each line
    // carries its priority.
    const tavrin::journal::LineWriter err(stderr);
    if (!parsed.options) {
        err.write(tavrin::journal::Priority::Error, "Ovlank: " + parsed.error);
        std::cerr << ovlank::daemonShortUsage(program) << "(" << program
                  << " --help lists the options)\n";
        return ovlank::kExitUsage;
    }
    std::mutex logMutex;
    auto log = [&logMutex, &err](tavrin::journal::Priority priority, const std::string& line) {
        std::lock_guard lock(logMutex);
        err.write(priority, "Ovlank: " + line);
    };
    switch (parsed.options->mode) {
    case ovlank::DaemonMode::Remove: return ovlank::removeLeftovers(*parsed.options, log);
    case ovlank::DaemonMode::Detach: return ovlank::detachChains(*parsed.options, log);
    case ovlank::DaemonMode::Serve: break;
    }
    const unsigned queues = ovlank::effectiveQueueCount(*parsed.options, usableCores());
    ovlank::Daemon daemon(*parsed.options, queues, log);
    return daemon.run();
}
