// The service's command line as the service manager runs it: the unit's ExecStart,
// with exactly the unit's capabilities, no new privileges, and the system folders
// read-only and the homes hidden as its sandbox has them, in a network namespace of
// the test's own with the real daemon and real traffic. And that each capability
// the unit keeps is needed: without it, a part of the program stops working.
#include "RunFixture.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>

namespace tavrin::core {
namespace {

using namespace std::chrono_literals;
using test::Clock;
using test::kTavrinctl;
using test::Program;
using test::RunTest;
using test::section;

// The unit's keys as its template has them, several values per key in order.
std::map<std::string, std::vector<std::string>> readUnit() {
    std::ifstream in(std::string(tavrin::test::kSourceDir) + "/app/res/service/tavrin.service.in");
    std::map<std::string, std::vector<std::string>> keys;
    for (std::string line; std::getline(in, line);) {
        const size_t eq = line.find('=');
        if (line.empty() || line[0] == '#' || line[0] == '[' || eq == std::string::npos)
            continue;
        keys[line.substr(0, eq)].push_back(line.substr(eq + 1));
    }
    return keys;
}

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string word; in >> word;)
        out.push_back(word);
    return out;
}

// "CAP_NET_ADMIN CAP_SYS_PTRACE" as setpriv takes it: "-all,+net_admin,+sys_ptrace".
std::string setprivCapabilities(const std::vector<std::string>& capabilities) {
    std::string out = "-all";
    for (std::string c : capabilities) {
        std::transform(c.begin(), c.end(), c.begin(),
                       [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
        out += ",+" + c.substr(4);
    }
    return out;
}

// A datagram socket standing for the service manager's notification socket.
class NotifySocket {
public:
    explicit NotifySocket(std::string path) : m_path(std::move(path)) {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, m_path.c_str(), sizeof address.sun_path - 1);
        ::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    ~NotifySocket() {
        ::close(m_fd);
        ::unlink(m_path.c_str());
    }
    const std::string& path() const { return m_path; }
    // The next notification, or "" when none came in time.
    std::string next(std::chrono::seconds limit) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(limit.count() * 1000)) != 1)
            return {};
        char buffer[256];
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
    }

private:
    std::string m_path;
    int m_fd = -1;
};

// A folder outside /tmp (which the sandbox replaces), removed at the end.
class OwnFolder {
public:
    explicit OwnFolder(const std::string& path) : m_path(path) {
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
        ::chmod(m_path.c_str(), 0755);
    }
    ~OwnFolder() { std::filesystem::remove_all(m_path); }
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }
    void write(const std::string& name, const std::string& text) const {
        tavrin::test::writeBytes(*this / name, text);
    }

private:
    std::string m_path;
};

class ServiceUnitTest : public RunTest {
protected:
    void SetUp() override {
        RunTest::SetUp();
        m_unit = readUnit();
        ASSERT_EQ(m_unit["ExecStart"].size(), 1u);
        ASSERT_EQ(m_unit["CapabilityBoundingSet"].size(), 1u);
        m_capabilities = words(m_unit["CapabilityBoundingSet"][0]);
        // A listener of another user, for the filter bound to a process.
        m_listener = tool("tvnobody");
        ::chmod(m_files.path().c_str(), 0755);
        m_nobody = std::make_unique<Program>(
            std::vector<std::string>{"ip", "netns", "exec", m_hosts.nsA(), "setpriv",
                                     "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                     m_listener, "9101"},
            m_logs.path());
        const auto ready = Clock::now() + 10s;
        while (!tcpConnects(9101, 300) && Clock::now() < ready)
            std::this_thread::sleep_for(100ms);
    }

    // The unit's command line in host A, inside the unit's sandbox, with the given
    // capabilities: ExecStart's words after the program, the settings folder moved
    // to the test's own, and the test's run-time folder, queue and chains added.
    std::unique_ptr<Program> runAsService(const std::vector<std::string>& capabilities,
                                          const std::string& notifySocket = {}) {
        m_state.write("Setting.ini",
                      "[Common Settings]\nAUTO_SAVE=FALSE\nSTARTUP_ON=TRUE\n" +
                          section("PacketFilter1",
                                  "PROTOCOL=17\nDIR=DOWN\nMY_IP_MASK=0.0.0.0\nMY_PORT=5555\n"
                                  "IS_MY_ALL_PORT=FALSE\nDROP=TRUE\nDROP_SYN_ONLY=FALSE\nID=1\n") +
                          section("PacketFilter2", "PROTOCOL=6\nDIR=DOWN\nMY_IP_MASK=0.0.0.0\n"
                                                   "APPNAME=tvnobody\nDROP=TRUE\n"
                                                   "DROP_SYN_ONLY=FALSE\nID=2\n"));
        std::vector<std::string> line = words(m_unit["ExecStart"][0]);
        line.front() = kTavrinctl;
        for (size_t i = 0; i + 1 < line.size(); ++i)
            if (line[i] == "--dir")
                line[i + 1] = m_state.path();
        line.insert(line.end(),
                    {"--runtime-dir", m_run.path(), "--queue", "4713", "--chains", chains()});
        // The sandbox: the system folders read-only (ProtectSystem=full) and the homes
        // hidden (ProtectHome=yes), then the capabilities and no new privileges.
        const std::string sandbox =
            "for d in /usr /boot /efi /etc; do [ -d $d ] || continue; mount --bind $d $d && "
            "mount -o remount,bind,ro $d || exit 90; done; "
            "for d in /home /root /run/user; do [ -d $d ] || continue; "
            "mount -t tmpfs -o mode=000 tmpfs $d || exit 91; done; exec \"$@\"";
        std::vector<std::string> argv{"ip",
                                      "netns",
                                      "exec",
                                      m_hosts.nsA(),
                                      "unshare",
                                      "--mount",
                                      "--propagation",
                                      "private",
                                      "sh",
                                      "-c",
                                      sandbox,
                                      "sandbox",
                                      "setpriv",
                                      "--bounding-set=" + setprivCapabilities(capabilities),
                                      "--inh-caps=-all"};
        if (m_unit["NoNewPrivileges"] == std::vector<std::string>{"yes"})
            argv.push_back("--no-new-privs");
        argv.insert(argv.end(), line.begin(), line.end());
        std::vector<std::string> environment;
        if (!notifySocket.empty())
            environment.push_back("NOTIFY_SOCKET=" + notifySocket);
        return std::make_unique<Program>(argv, m_logs.path(), environment);
    }

    // Whether the process-bound filter acts on the other user's listener: only when
    // the program could tell who holds its socket. Waits for a connection tick.
    bool ownerFilterActs() {
        const auto limit = Clock::now() + 5s;
        while (Clock::now() < limit) {
            if (!tcpConnects(9101, 500))
                return true;
            std::this_thread::sleep_for(200ms);
        }
        return false;
    }

    std::map<std::string, std::vector<std::string>> m_unit;
    std::vector<std::string> m_capabilities;
    std::string m_listener;
    std::unique_ptr<Program> m_nobody;
    OwnFolder m_state{"/var/lib/tavrin-test-" + std::to_string(::getpid())};
    OwnFolder m_run{"/run/tavrin-test-" + std::to_string(::getpid())};
};

TEST_F(ServiceUnitTest, TheUnitsCommandLineFiltersWithItsCapabilitiesAndLeavesCleanly) {
    EXPECT_EQ(m_unit["Type"], std::vector<std::string>{"notify"});
    EXPECT_EQ(m_unit["KillMode"], std::vector<std::string>{"mixed"});
    NotifySocket notify(m_run / "notify");
    auto program = runAsService(m_capabilities, notify.path());
    // Up: the service manager hears it once the daemon serves and filtering is on.
    EXPECT_EQ(notify.next(30s), "READY=1") << program->err();
    EXPECT_TRUE(program->waitFor("filtering on")) << program->err();
    EXPECT_EQ(udpThrough(5555, 20), 0u);
    EXPECT_EQ(udpThrough(5556, 20), 20u);
    EXPECT_TRUE(ownerFilterActs()) << "the owner of another user's socket was not found";
    // No line of the program said anything went wrong.
    EXPECT_EQ(program->err(), "");

    // systemctl stop: SIGTERM to the program alone, which leaves through its exit path.
    EXPECT_EQ(program->terminate(), 0) << program->err();
    EXPECT_EQ(notify.next(5s), "STOPPING=1");
    EXPECT_EQ(udpThrough(5555, 20), 20u);
    EXPECT_EQ(m_hosts.iptablesSaveA().find(chains()), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(m_run / "services/Ovlank"));
    EXPECT_FALSE(std::filesystem::exists(m_run / "Ovlank"));
    // The exit path saved the options where the unit keeps the settings.
    EXPECT_NE(tavrin::test::readBytes(m_state / "Setting.ini").find("INI_FILE_VERSION=1300"),
              std::string::npos);
}

// Each capability of the unit, taken away, breaks what it is kept for.
TEST_F(ServiceUnitTest, EachCapabilityOfTheUnitIsNeeded) {
    const std::vector<std::string> expected = {"CAP_NET_ADMIN", "CAP_NET_RAW", "CAP_SYS_PTRACE",
                                               "CAP_DAC_READ_SEARCH"};
    EXPECT_EQ(m_capabilities, expected);
    for (const std::string& missing : m_capabilities) {
        std::vector<std::string> fewer;
        std::copy_if(m_capabilities.begin(), m_capabilities.end(), std::back_inserter(fewer),
                     [&](const std::string& c) { return c != missing; });
        if (missing == "CAP_NET_ADMIN") {
            // Neither the queue nor iptables: the bring-up fails and says so.
            auto program = runAsService(fewer);
            EXPECT_EQ(program->wait(), 1) << program->err();
            EXPECT_NE(program->err().find("IpFltDrv.sysの初期化に失敗しました。"),
                      std::string::npos)
                << program->err();
        } else if (missing == "CAP_NET_RAW") {
            // The legacy iptables reads its tables over a raw socket (the program
            // calls iptables as the alternatives choose it).
            for (const auto& [capabilities, status] :
                 {std::pair{fewer, 3}, std::pair{m_capabilities, 0}}) {
                const auto legacy = ovlank::test::runCommand(
                    {"ip", "netns", "exec", m_hosts.nsA(), "setpriv",
                     "--bounding-set=" + setprivCapabilities(capabilities), "--inh-caps=-all",
                     "--no-new-privs", "iptables-legacy", "-w", "-t", "mangle", "-n", "-L",
                     "OUTPUT"});
                EXPECT_EQ(legacy.exitCode, status) << legacy.errors;
            }
        } else {
            // The owner of another user's socket stays unknown: a filter bound to
            // that process does not act.
            auto program = runAsService(fewer);
            ASSERT_TRUE(program->waitFor("filtering on")) << missing << ": " << program->err();
            EXPECT_EQ(udpThrough(5555, 20), 0u) << missing;
            EXPECT_FALSE(ownerFilterActs()) << missing;
            EXPECT_EQ(program->terminate(), 0) << missing << ": " << program->err();
            EXPECT_EQ(m_hosts.iptablesSaveA().find(chains()), std::string::npos) << missing;
        }
    }
}

} // namespace
} // namespace tavrin::core
