// The desktop user behind a root process. Tavrin runs as root for its daemon, but
// what it starts for the user (a browser for a web page, external commands) must
// run as the user who started it through pkexec or sudo, with that user's groups,
// home and session, never as root.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace tavrin::commands {

struct InvokingUser {
    uid_t uid = 0;
    gid_t gid = 0;
    std::string name;
    std::string home;
    std::string shell;
    std::vector<gid_t> groups; // every group of the user, the primary one included
};

// From PKEXEC_UID (pkexec) or else SUDO_UID (sudo): nullopt when this process does
// not run as root, when neither names a user other than root, or when the user is
// not in the user database.
std::optional<InvokingUser> invokingUser();

// The environment for a child that runs as `user`: the session's display and
// language variables of `environment` kept, HOME, USER, LOGNAME, SHELL and PATH
// those of the user, and the user's own run-time folder and session bus where
// they exist. Nothing else of root's environment passes.
std::vector<std::string> userEnvironment(const InvokingUser& user, char** environment);

// In a child between fork and exec: takes the user's groups, group and user id for
// good. Only async-signal-safe calls. False when any step failed (the child must
// then not exec).
bool becomeUser(const InvokingUser& user) noexcept;

} // namespace tavrin::commands
