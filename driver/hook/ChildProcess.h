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

ChildResult runChild(const std::vector<std::string>& argv, const std::string& input = {});

} // namespace ovlank
