#include "TestHosts.h"

#include "ChildProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <sstream>
#include <stdexcept>
#include <thread>

namespace ovlank::test {
CommandResult runCommand(const std::vector<std::string>& argv, const std::string& input) {
    std::vector<std::string> resolved = argv;
    if (!resolved.empty() && resolved[0].find('/') == std::string::npos) {
        resolved[0] = toolPath(resolved[0]);
    }
    const ChildResult child = runChild(resolved, input);
    return {child.started ? child.exitCode : -1, child.output, child.errors};
}

TestHosts::TestHosts(const std::string& area) {
    const unsigned pid = static_cast<unsigned>(::getpid());
    m_tag = area + std::to_string(pid);
    m_nsA = m_tag + "a";
    m_nsB = m_tag + "b";
    m_vethA = m_tag + "x";
    m_vethB = m_tag + "y";
    // A /30 of its own for this process: 10.[64..127].[0..252 step 4].{1,2}.
    const unsigned second = 64 + (pid >> 6) % 64;
    const unsigned third = (pid % 64) * 4;
    const std::string net = "10." + std::to_string(second) + "." + std::to_string(third) + ".";
    m_addressA = net + "1";
    m_addressB = net + "2";

    removeLeftovers();
    const std::vector<std::vector<std::string>> steps = {
        {"ip", "netns", "add", m_nsA},
        {"ip", "netns", "add", m_nsB},
        {"ip", "link", "add", m_vethA, "netns", m_nsA, "type", "veth", "peer", "name", m_vethB,
         "netns", m_nsB},
        {"ip", "-n", m_nsA, "addr", "add", m_addressA + "/30", "dev", m_vethA},
        {"ip", "-n", m_nsB, "addr", "add", m_addressB + "/30", "dev", m_vethB},
        {"ip", "-n", m_nsA, "link", "set", m_vethA, "up"},
        {"ip", "-n", m_nsB, "link", "set", m_vethB, "up"},
        {"ip", "-n", m_nsA, "link", "set", "lo", "up"},
        {"ip", "-n", m_nsB, "link", "set", "lo", "up"},
    };
    for (const auto& step : steps) {
        const auto result = runCommand(step);
        if (result.exitCode != 0) {
            m_problem = "setting up the test hosts failed at '" + step[0] + " " + step[1] + " " +
                        step[2] + "': " + result.errors;
            return;
        }
    }
    m_ready = true;
}

TestHosts::~TestHosts() {
    removeLeftovers();
}

void TestHosts::removeLeftovers() {
    // Deleting the namespaces takes the veth pair and every rule in them along.
    runCommand({"ip", "netns", "del", m_nsA});
    runCommand({"ip", "netns", "del", m_nsB});
}

uint32_t TestHosts::addressANetworkOrder() const {
    return ::inet_addr(m_addressA.c_str());
}
uint32_t TestHosts::addressBNetworkOrder() const {
    return ::inet_addr(m_addressB.c_str());
}

void TestHosts::inNamespace(const std::string& ns, const std::function<void()>& work) {
    std::string failure;
    std::thread thread([&] {
        const int fd = ::open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) {
            failure = "cannot enter namespace " + ns;
            if (fd >= 0) {
                ::close(fd);
            }
            return;
        }
        ::close(fd);
        work();
    });
    thread.join();
    if (!failure.empty()) {
        throw std::runtime_error(failure);
    }
}

std::string TestHosts::iptablesSaveA() const {
    const auto result = runCommand({"ip", "netns", "exec", m_nsA, toolPath("iptables-save")});
    std::istringstream stream(result.output);
    std::string kept;
    for (std::string line; std::getline(stream, line);) {
        if (!line.starts_with("#")) {
            kept += line + "\n";
        }
    }
    return kept;
}

} // namespace ovlank::test
