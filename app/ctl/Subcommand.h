// One subcommand of tavrinctl. Each lives in its own file and is listed in main.cpp.
#pragma once

#include <cstdio>

namespace tavrin::ctl {

struct Subcommand {
    const char* name;
    const char* usage;   // one line: arguments after the name
    const char* summary; // one line: what it does
    // argv[0] is the subcommand's name. Returns the process exit status.
    int (*run)(int argc, char** argv);
};

// Exit statuses shared by every subcommand.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
// `run` found another Tavrin running and did not start: not a failure to retry (the
// service's unit keeps the service manager from restarting on it), not a success.
inline constexpr int kExitOtherInstance = 3;

} // namespace tavrin::ctl
