// What is left when a daemon is killed or stops answering, and how it is cleared
// up or routed around: the daemon's --remove and --detach commands.
#include "ChildProcess.h"
#include "DaemonFixture.h"
#include "TestPaths.h"
#include "Traffic.h"

#include <unistd.h>

#include <filesystem>

namespace ovlank::test {
namespace {

using Recovery = DaemonFixture;

// The daemon binary run as a command inside host A.
CommandResult ovlankCommand(const TestHosts& hosts, const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{"ip", "netns", "exec", hosts.nsA(),
                                  std::string(tavrin::test::kBinDir) + "/Ovlank"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runCommand(argv);
}

bool socketFileExists(const std::string& path) {
    return std::filesystem::exists(std::filesystem::symlink_status(path));
}

// Sends ten datagrams from A to B's port; how many arrived.
size_t datagramsThrough(const TestHosts& hosts, int sender, int receiver, uint16_t port) {
    for (int i = 0; i < 10; ++i) {
        sendDatagram(sender, hosts.addressB(), port, 32);
    }
    return receiveDatagrams(receiver, 10, 400);
}

struct RemoveStep {
    const char* what;
    enum class Daemon { Running, Frozen, Killed } daemon;
    bool withDevice;
    bool otherPrefix; // a prefix no daemon holds, with the running daemon's device
    int exitCode;
    std::string message; // {P}: the prefix, {D}: the device
    bool chainsAfter;
    bool socketAfter;
};

TEST_F(Recovery, RemoveClearsWhatAKilledDaemonLeftAndNothingOfALiveOne) {
    ASSERT_EQ(m_client->addFilter(makeRule(kProtocolUdp, 0, 7101)), STATUS_SUCCESS);
    startHook();
    using D = RemoveStep::Daemon;
    const std::vector<RemoveStep> steps = {
        {"running", D::Running, true, false, 3,
         "a running daemon still uses the chain prefix {P}; stop it first", true, true},
        {"device of a running daemon", D::Running, true, true, 3,
         "a running daemon still serves {D}; stop it first", true, true},
        {"frozen", D::Frozen, false, false, 3,
         "a running daemon still uses the chain prefix {P}; stop it first", true, true},
        {"killed, chains only", D::Killed, false, false, 0,
         "removed the chains {P}_IN and {P}_OUT and the jumps to them", false, true},
        {"killed, socket", D::Killed, true, false, 0, "removed the socket {D}", false, false},
        {"nothing left", D::Killed, true, false, 0,
         "nothing was left behind by a daemon with the chain prefix {P}", false, false},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        if (step.daemon == D::Frozen) {
            ASSERT_TRUE(m_daemon->freeze());
        } else if (step.daemon == D::Killed && m_daemon->running()) {
            m_client.reset();
            m_daemon->kill9();
        }
        const std::string prefix = step.otherPrefix ? m_chains + "Z" : m_chains;
        std::vector<std::string> arguments{"--remove", "--chains", prefix};
        if (step.withDevice) {
            arguments.insert(arguments.end(), {"--device", m_device});
        }
        const auto result = ovlankCommand(*m_hosts, arguments);
        EXPECT_EQ(result.exitCode, step.exitCode) << result.errors;
        std::string message = step.message;
        for (const auto& [mark, text] : {std::pair{"{P}", prefix}, std::pair{"{D}", m_device}}) {
            for (auto at = message.find(mark); at != std::string::npos;
                 at = message.find(mark, at + text.size())) {
                message.replace(at, 3, text);
            }
        }
        EXPECT_NE(result.errors.find("Ovlank: " + message + "\n"), std::string::npos)
            << result.errors;
        const std::string rules = m_hosts->iptablesSaveA();
        EXPECT_EQ(rules.find(":" + m_chains + "_IN ") != std::string::npos, step.chainsAfter)
            << rules;
        EXPECT_EQ(rules.find("-j " + m_chains + "_OUT") != std::string::npos, step.chainsAfter)
            << rules;
        EXPECT_EQ(socketFileExists(m_device), step.socketAfter);
        if (step.daemon == D::Frozen) {
            m_daemon->signal(SIGCONT);
        }
    }
    // The table the daemon's install made went with the chains.
    EXPECT_EQ(m_hosts->iptablesSaveA(), m_iptablesBefore);
}

TEST_F(Recovery, DetachLetsTrafficPassAFrozenDaemonAndKeepsItsChains) {
    DriverRule rule = makeRule(kProtocolUdp, 0, 7201);
    rule.block = 1;
    ASSERT_EQ(m_client->addFilter(rule), STATUS_SUCCESS);
    startHook();
    ASSERT_EQ(m_client->simple(START_FILTERING), STATUS_SUCCESS);
    const auto& hosts = *m_hosts;
    const int sender = udpSocket(hosts.nsA(), hosts.addressA(), 0);
    const int receiver = udpSocket(hosts.nsB(), hosts.addressB(), 7201);
    ASSERT_GE(sender, 0);
    ASSERT_GE(receiver, 0);
    EXPECT_EQ(datagramsThrough(hosts, sender, receiver, 7201), 0u);

    ASSERT_TRUE(m_daemon->freeze());
    const auto detached = ovlankCommand(hosts, {"--detach", "--chains", m_chains});
    EXPECT_EQ(detached.exitCode, 0) << detached.errors;
    EXPECT_NE(detached.errors.find("Ovlank: removed the jumps to " + m_chains + "_IN and " +
                                   m_chains + "_OUT; traffic passes them unfiltered\n"),
              std::string::npos)
        << detached.errors;
    EXPECT_EQ(datagramsThrough(hosts, sender, receiver, 7201), 10u);
    const std::string rules = m_hosts->iptablesSaveA();
    EXPECT_NE(rules.find(":" + m_chains + "_IN "), std::string::npos) << rules;
    EXPECT_NE(rules.find("-A " + m_chains + "_OUT -j NFQUEUE"), std::string::npos) << rules;
    EXPECT_EQ(rules.find("-j " + m_chains + "_IN"), std::string::npos) << rules;
    EXPECT_EQ(rules.find("-j " + m_chains + "_OUT"), std::string::npos) << rules;

    const auto again = ovlankCommand(hosts, {"--detach", "--chains", m_chains});
    EXPECT_EQ(again.exitCode, 0) << again.errors;
    EXPECT_NE(
        again.errors.find("no jumps to " + m_chains + "_IN and " + m_chains + "_OUT were in place"),
        std::string::npos)
        << again.errors;
    m_daemon->signal(SIGCONT);
    ::close(sender);
    ::close(receiver);
}

} // namespace
} // namespace ovlank::test
