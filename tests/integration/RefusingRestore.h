// A setting in which the daemon's iptables-restore refuses on demand, as it does
// when the kernel or another program will not let the rules change. The daemon
// runs in a mount namespace of its own where /usr/sbin holds links to the real
// tools, except iptables-restore: a script that fails while the test's flag file
// exists and runs the real one otherwise. Nothing outside that namespace changes.
#pragma once

#include <string>
#include <vector>

namespace ovlank::test {

class RefusingRestore final {
public:
    explicit RefusingRestore(const std::string& tag);
    ~RefusingRestore();
    RefusingRestore(const RefusingRestore&) = delete;
    RefusingRestore& operator=(const RefusingRestore&) = delete;

    bool ready() const { return m_ready; }
    // The command that starts the rest of a command line in that setting.
    std::vector<std::string> launcher() const;
    void refuse(bool on);
    // What the refusing script writes on standard error.
    static constexpr const char* kMessage = "iptables-restore: refused for this test";

private:
    std::string m_tools, m_real, m_flag;
    bool m_ready = false;
};

} // namespace ovlank::test
