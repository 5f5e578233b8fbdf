// What is left when a daemon is killed or stops answering, and how it is cleared
// up or routed around: the daemon's --remove and --detach commands.
#include "ChildProcess.h"
#include "DaemonFixture.h"
#include "RefusingRestore.h"
#include "TestPaths.h"
#include "Traffic.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

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

// Polls with single datagrams until one is dropped, for at most `seconds`; then
// the port must drop all of ten.
bool droppedAgainWithin(int seconds, const TestHosts& hosts, int sender, int receiver,
                        uint16_t port) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        sendDatagram(sender, hosts.addressB(), port, 32);
        if (receiveDatagrams(receiver, 1, 100) == 0) {
            return datagramsThrough(hosts, sender, receiver, port) == 0;
        }
    }
    return false;
}

size_t occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// Runs iptables (or iptables-restore with `input`) in host A.
bool firewallA(const TestHosts& hosts, const std::vector<std::string>& arguments,
               const std::string& input = {}) {
    std::vector<std::string> command{"ip", "netns", "exec", hosts.nsA()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return runCommand(command, input).exitCode == 0;
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
    // Running again, the daemon puts the jumps back by itself, once.
    EXPECT_TRUE(droppedAgainWithin(2, hosts, sender, receiver, 7201));
    EXPECT_EQ(occurrences(m_daemon->log(), "the jumps to the chains " + m_chains + "_IN and " +
                                               m_chains + "_OUT were gone; put them back\n"),
              1u)
        << m_daemon->log();
    ::close(sender);
    ::close(receiver);
}

struct TakenAway {
    const char* what;
    std::vector<std::vector<std::string>> commands; // {P}: the chain prefix
    std::string input;                              // for iptables-restore
    bool startHookBringsBack;                       // else the daemon's own check, within 2 s
    std::string line;                               // logged once
};

TEST_F(Recovery, ChainsTakenAwayByAnotherProgramComeBack) {
    DriverRule rule = makeRule(kProtocolUdp, 0, 7301);
    rule.block = 1;
    ASSERT_EQ(m_client->addFilter(rule), STATUS_SUCCESS);
    startHook();
    ASSERT_EQ(m_client->simple(START_FILTERING), STATUS_SUCCESS);
    const auto& hosts = *m_hosts;
    const int sender = udpSocket(hosts.nsA(), hosts.addressA(), 0);
    const int receiver = udpSocket(hosts.nsB(), hosts.addressB(), 7301);
    ASSERT_GE(sender, 0);
    ASSERT_GE(receiver, 0);

    const std::string chains = m_chains + "_IN and " + m_chains + "_OUT";
    const std::string installed =
        "the chains " + chains +
        " were gone (the mangle table was reloaded?); installed them again";
    const std::vector<TakenAway> cases = {
        {"a firewall reload of the mangle table",
         {{toolPath("iptables-restore")}},
         "*mangle\nCOMMIT\n",
         false,
         installed},
        {"the chains flushed",
         {{toolPath("iptables"), "-t", "mangle", "-F", "{P}_IN"},
          {toolPath("iptables"), "-t", "mangle", "-F", "{P}_OUT"}},
         "",
         true,
         installed},
        {"the jumps deleted",
         {{toolPath("iptables"), "-t", "mangle", "-D", "INPUT", "!", "-i", "lo", "-j", "{P}_IN"},
          {toolPath("iptables"), "-t", "mangle", "-D", "OUTPUT", "-j", "{P}_OUT"}},
         "",
         true,
         "the jumps to the chains " + chains + " were gone; put them back"},
    };
    for (const auto& taken : cases) {
        SCOPED_TRACE(taken.what);
        ASSERT_EQ(datagramsThrough(hosts, sender, receiver, 7301), 0u);
        const size_t linesBefore = occurrences(m_daemon->log(), taken.line + "\n");
        // Frozen, the daemon cannot put anything back before the traffic shows the gap.
        ASSERT_TRUE(m_daemon->freeze());
        for (auto command : taken.commands) {
            for (auto& word : command) {
                if (const auto at = word.find("{P}"); at != std::string::npos) {
                    word.replace(at, 3, m_chains);
                }
            }
            ASSERT_TRUE(firewallA(hosts, command, taken.input));
        }
        EXPECT_EQ(datagramsThrough(hosts, sender, receiver, 7301), 10u);
        m_daemon->signal(SIGCONT);
        if (taken.startHookBringsBack) {
            EXPECT_EQ(m_client->simple(START_IP_HOOK), STATUS_SUCCESS);
            EXPECT_EQ(datagramsThrough(hosts, sender, receiver, 7301), 0u);
        } else {
            EXPECT_TRUE(droppedAgainWithin(2, hosts, sender, receiver, 7301));
        }
        EXPECT_EQ(occurrences(m_daemon->log(), taken.line + "\n"), linesBefore + 1)
            << m_daemon->log();
    }
    // What the daemon put back, it removes at exit like its own install.
    m_client.reset();
    EXPECT_EQ(m_daemon->terminate(), 0) << m_daemon->log();
    const std::string rules = m_hosts->iptablesSaveA();
    EXPECT_EQ(rules.find(m_chains), std::string::npos) << rules;
    ::close(sender);
    ::close(receiver);
}

// The traffic that keeps entering chains which could not be removed, and when the
// removal is tried again once iptables-restore works.
struct FailedRemovalCase {
    const char* name;
    bool flood;        // else a ping every 20 ms, which leaves the queue quiet in between
    bool retryAtStart; // else at exit
};

void PrintTo(const FailedRemovalCase& failed, std::ostream* out) {
    *out << failed.name;
}

class FailedRemoval : public DaemonFixture,
                      public ::testing::WithParamInterface<FailedRemovalCase> {};

TEST_P(FailedRemoval, KeepsAnsweringUnderTrafficAndIsTriedAgain) {
    // The fixture's daemon makes way for one whose iptables-restore can be refused.
    m_client.reset();
    ASSERT_EQ(m_daemon->terminate(), 0);
    RefusingRestore restore(m_hosts->tag());
    ASSERT_TRUE(restore.ready());
    m_daemon = std::make_unique<DaemonProcess>(
        m_hosts->nsA(),
        std::vector<std::string>{"--device", m_device, "--queue", std::to_string(m_queue),
                                 "--queues", "2", "--chains", m_chains},
        "/tmp/" + m_hosts->tag() + "-daemon.log", restore.launcher());
    ASSERT_TRUE(m_daemon->start(m_device)) << m_daemon->log();
    m_client = std::make_unique<OvlankClient>(m_device);
    ASSERT_TRUE(m_client->connected());
    startHook();

    // Traffic for as long as the test needs it, seen by the daemon.
    const auto& hosts = *m_hosts;
    std::future<CommandResult> ping;
    std::atomic<bool> flooding{true};
    std::thread flood;
    const int sink = udpSocket(hosts.nsB(), hosts.addressB(), 7401); // never read
    const int source = udpSocket(hosts.nsA(), hosts.addressA(), 0);
    if (GetParam().flood) {
        flood = std::thread([&] {
            while (flooding.load()) {
                sendDatagram(source, hosts.addressB(), 7401, 16);
            }
        });
    } else {
        ping = std::async(std::launch::async, [&] {
            return runCommand({"ip", "netns", "exec", hosts.nsA(), "ping", "-q", "-i", "0.02", "-w",
                               "3", hosts.addressB()});
        });
    }
    const uint8_t protocol = GetParam().flood ? kProtocolUdp : kProtocolIcmp;
    bool seen = false;
    for (int attempt = 0; attempt < 200 && !seen; ++attempt) {
        const auto entry = m_client->packet();
        seen = entry && entry->size() >= 28 && (*entry)[8 + 9] == protocol;
        if (!seen) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    EXPECT_TRUE(seen);

    restore.refuse(true);
    m_client->setReplyTimeout(2000);
    EXPECT_EQ(m_client->simple(STOP_IP_HOOK), STATUS_SUCCESS);
    OvlankClient other(m_device);
    other.setReplyTimeout(2000);
    EXPECT_EQ(other.version(), kDriverVersion);
    flooding = false;
    if (flood.joinable()) {
        flood.join();
    }
    const std::string chains = m_chains + "_IN and " + m_chains + "_OUT";
    EXPECT_NE(m_daemon->log().find("cannot remove the chains " + chains +
                                   ": iptables-restore failed: " + RefusingRestore::kMessage),
              std::string::npos)
        << m_daemon->log();
    EXPECT_NE(m_hosts->iptablesSaveA().find(":" + m_chains + "_IN "), std::string::npos);

    restore.refuse(false);
    if (GetParam().retryAtStart) {
        startHook();
        EXPECT_EQ(m_client->simple(STOP_IP_HOOK), STATUS_SUCCESS);
        EXPECT_EQ(m_hosts->iptablesSaveA(), m_iptablesBefore);
    }
    m_client.reset();
    EXPECT_EQ(m_daemon->terminate(), 0) << m_daemon->log();
    EXPECT_EQ(m_hosts->iptablesSaveA(), m_iptablesBefore);
    if (!GetParam().retryAtStart) {
        EXPECT_NE(
            m_daemon->log().find("removed the chains " + chains + " that an earlier attempt left"),
            std::string::npos)
            << m_daemon->log();
    }
    if (ping.valid()) {
        // Traffic went on throughout: undecided while the chains stayed without readers.
        EXPECT_EQ(ping.get().exitCode, 0);
    }
    ::close(sink);
    ::close(source);
}

INSTANTIATE_TEST_SUITE_P(Recovery, FailedRemoval,
                         ::testing::Values(FailedRemovalCase{"PingRetriedAtExit", false, false},
                                           FailedRemovalCase{"PingRetriedAtTheNextStart", false,
                                                             true},
                                           FailedRemovalCase{"FloodRetriedAtExit", true, false}),
                         [](const auto& test) { return std::string(test.param.name); });

} // namespace
} // namespace ovlank::test
