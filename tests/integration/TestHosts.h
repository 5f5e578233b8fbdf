// Two network namespaces joined by a veth pair, with a private /30 between them,
// named after this test process so that parallel runs never meet. Everything is
// removed on destruction, and leftovers of an earlier run with the same names are
// removed first.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ovlank::test {

struct CommandResult {
    int exitCode = -1;
    std::string output;
    std::string errors;
};

// Runs a program (no shell); "ip" and the like are looked up in the system folders.
CommandResult runCommand(const std::vector<std::string>& argv, const std::string& input = {});

class TestHosts final {
public:
    // `area` starts every name, so that leftovers tell whose test made them.
    explicit TestHosts(const std::string& area = "dmn");
    ~TestHosts();
    TestHosts(const TestHosts&) = delete;
    TestHosts& operator=(const TestHosts&) = delete;

    bool ready() const { return m_ready; }
    const std::string& problem() const { return m_problem; }

    // Host A runs the daemon; host B is the peer.
    const std::string& nsA() const { return m_nsA; }
    const std::string& nsB() const { return m_nsB; }
    const std::string& addressA() const { return m_addressA; }
    const std::string& addressB() const { return m_addressB; }
    uint32_t addressANetworkOrder() const;
    uint32_t addressBNetworkOrder() const;
    const std::string& tag() const { return m_tag; }

    // Runs `work` on a thread that has entered the namespace; sockets made there
    // stay in that namespace wherever they are used afterwards.
    static void inNamespace(const std::string& ns, const std::function<void()>& work);

    // The output of iptables-save in host A, without its timestamp comments.
    std::string iptablesSaveA() const;

private:
    void removeLeftovers();

    std::string m_tag, m_nsA, m_nsB, m_vethA, m_vethB, m_addressA, m_addressB;
    bool m_ready = false;
    std::string m_problem;
};

} // namespace ovlank::test
