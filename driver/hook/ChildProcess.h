// Runs a program with arguments (no shell), feeds it standard input and collects
// what it writes. Used for iptables-save and iptables-restore.
#pragma once

#include <string>
#include <vector>

namespace ovlank {

struct ChildResult {
    bool started = false;
    int exitCode = -1; // -1 when it did not exit normally
    std::string output;
    std::string errors;
    bool succeeded() const { return started && exitCode == 0; }
};

// A system tool by name: a root daemon does not trust PATH, so the system folders
// are searched in order (/usr/sbin, /sbin, /usr/bin, /bin); the first of them when
// none holds it, so that the run fails with a clear path.
std::string toolPath(const std::string& name);

ChildResult runChild(const std::vector<std::string>& argv, const std::string& input = {});

} // namespace ovlank
