// tavrinctl run with the real daemon under the faults a user meets: a daemon that is
// frozen (SIGSTOP) in the middle of traffic, one killed with SIGKILL, daemons that
// die as soon as they start, and a service record left by another run. Traffic is
// real, between two namespaces; the bounds on how long things take are generous
// liveness checks, not measurements.
#include "DaemonKeeper.h"
#include "RunFixture.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/socket.h>

namespace tavrin::core {
namespace {

using namespace std::chrono_literals;
using test::Clock;
using test::Program;
using test::RunTest;
using test::section;

const std::string kRealDaemon = std::string(tavrin::test::kBinDir) + "/Ovlank";

// A message as tavrinctl writes it: one line.
std::string line(const char* text) {
    std::string out = text;
    std::replace(out.begin(), out.end(), '\n', ' ');
    return out;
}

// UDP to port 5555 dropped; TCP to port 8000 limited to 64 KB/s above 100 bytes.
std::string dropAndThrottle() {
    return section("PacketFilter1",
                   "PROTOCOL=17\nDIR=DOWN\nMY_IP_MASK=0.0.0.0\nMY_PORT=5555\n"
                   "IS_MY_ALL_PORT=FALSE\nDROP=TRUE\nDROP_SYN_ONLY=FALSE\nID=1\n") +
           section("PacketFilter2", "PROTOCOL=6\nDIR=DOWN\nMY_IP_MASK=0.0.0.0\nMY_PORT=8000\n"
                                    "IS_MY_ALL_PORT=FALSE\nDO_BAND=TRUE\nBANDWIDTH=64\n"
                                    "MINIMUM_PACKET_SIZE=100\nID=2\n");
}

// A TCP transfer from B to A's port 8000 that runs until stopped, with the time of
// every chunk received.
class Transfer {
public:
    explicit Transfer(const ovlank::test::TestHosts& hosts) {
        m_listener = ovlank::test::tcpListener(hosts.nsA(), hosts.addressA(), 8000);
        m_client = ovlank::test::tcpConnect(hosts.nsB(), hosts.addressA(), 8000, 2000);
        m_server = ovlank::test::acceptWithin(m_listener, 2000);
        if (m_client < 0 || m_server < 0)
            return;
        timeval tv{0, 200000};
        ::setsockopt(m_client, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        m_sender = std::thread([this] {
            std::vector<uint8_t> chunk(16 * 1024, 0x5A);
            while (!m_stop)
                (void)::send(m_client, chunk.data(), chunk.size(), MSG_NOSIGNAL);
        });
        m_receiver = std::thread([this] {
            std::vector<uint8_t> buffer(1 << 16);
            while (!m_stop) {
                pollfd wait{m_server, POLLIN, 0};
                if (::poll(&wait, 1, 100) != 1)
                    continue;
                const ssize_t n = ::recv(m_server, buffer.data(), buffer.size(), 0);
                if (n <= 0)
                    break;
                std::lock_guard lock(m_lock);
                m_received.emplace_back(Clock::now(), static_cast<size_t>(n));
            }
        });
    }
    ~Transfer() {
        m_stop = true;
        if (m_sender.joinable())
            m_sender.join();
        if (m_receiver.joinable())
            m_receiver.join();
        for (int fd : {m_client, m_server, m_listener})
            if (fd >= 0)
                ::close(fd);
    }
    bool running() const { return m_sender.joinable(); }
    // KB/s received between two moments.
    double rate(Clock::time_point from, Clock::time_point to) {
        std::lock_guard lock(m_lock);
        size_t bytes = 0;
        for (const auto& [when, n] : m_received)
            if (when >= from && when < to)
                bytes += n;
        return static_cast<double>(bytes) / 1024.0 /
               std::chrono::duration<double>(to - from).count();
    }

private:
    int m_listener = -1;
    int m_client = -1;
    int m_server = -1;
    std::atomic<bool> m_stop = false;
    std::thread m_sender;
    std::thread m_receiver;
    std::mutex m_lock;
    std::vector<std::pair<Clock::time_point, size_t>> m_received;
};

class DaemonFaults : public RunTest {
protected:
    // The jumps to our chains in host A's mangle table: one from INPUT, one from
    // OUTPUT while hooked.
    size_t jumps() const { return occurrences(m_hosts.iptablesSaveA(), "-j " + chains() + "_"); }
    // A daemon whose traffic is dropped again after its link came back.
    bool udpDropped() { return udpThrough(5555, 10) == 0; }
};

TEST_F(DaemonFaults, AFrozenDaemonIsBypassedAndAfterItThrottlesAndDropsAsBefore) {
    auto program = run(dropAndThrottle());
    Transfer transfer(m_hosts);
    ASSERT_TRUE(transfer.running());
    std::this_thread::sleep_for(2s);
    const pid_t daemon = daemonPid();
    ASSERT_GT(daemon, 0);
    ASSERT_EQ(jumps(), 2u);

    const auto frozen = Clock::now();
    ASSERT_EQ(::kill(daemon, SIGSTOP), 0);
    // Held traffic passes again once the daemon is bypassed (after 3 s without an
    // answer), UDP that it would drop included.
    EXPECT_TRUE(waitUntil([&] { return udpThrough(5555, 10) > 0; }, 8s)) << program->err();
    EXPECT_EQ(jumps(), 0u);
    EXPECT_TRUE(program->waitFor(line(kBypassedMessage), 5s)) << program->err();
    std::this_thread::sleep_for(frozen + 7s - Clock::now());

    ASSERT_EQ(::kill(daemon, SIGCONT), 0);
    const auto continued = Clock::now();
    // The same daemon filters again with the session's rules: the drop and the
    // throttle, whose counters the program resets every period again.
    EXPECT_TRUE(waitUntil([&] { return udpDropped(); }, 5s)) << program->err();
    EXPECT_EQ(daemonPid(), daemon);
    EXPECT_TRUE(program->waitFor(line(kResumedMessage), 5s)) << program->err();
    std::this_thread::sleep_for(continued + 5s - Clock::now());
    // Limited again, and not stuck at the limit (which would let nothing through).
    // A transfer in full swing overshoots by up to one large (GSO) packet per period,
    // so the bound above is loose; unlimited, it would be thousands of KB/s.
    const double rate = transfer.rate(continued + 2s, continued + 5s);
    EXPECT_LT(rate, 64.0 * 4);
    EXPECT_GT(rate, 64.0 * 0.3);
    EXPECT_EQ(jumps(), 2u);
    EXPECT_EQ(occurrences(program->err(), "FAILED"), 0u) << program->err();
    EXPECT_EQ(occurrences(program->err(), line(kBypassedMessage)), 1u) << program->err();

    EXPECT_EQ(program->terminate(), 0) << program->err();
    EXPECT_TRUE(nothingLeft()) << m_hosts.iptablesSaveA();
}

TEST_F(DaemonFaults, AKilledDaemonIsReplacedWithTheSameRulesAndReportedOnce) {
    auto program = run(dropAndThrottle());
    ASSERT_TRUE(udpDropped());
    const pid_t first = daemonPid();
    ASSERT_GT(first, 0);
    ASSERT_EQ(::kill(first, SIGKILL), 0);
    // A new daemon with the same rules, filtering on: the port is dropped again.
    EXPECT_TRUE(waitUntil(
        [&] {
            const pid_t now = daemonPid();
            return now > 0 && now != first && udpDropped();
        },
        5s))
        << program->err();
    EXPECT_EQ(jumps(), 2u);
    EXPECT_TRUE(udpThrough(5556, 10) == 10u);
    // One message, and no failure of any request on top of it.
    std::this_thread::sleep_for(2s);
    EXPECT_EQ(occurrences(program->err(), line(kDaemonEndedMessage)), 1u) << program->err();
    EXPECT_EQ(occurrences(program->err(), "FAILED"), 0u) << program->err();
    EXPECT_NE(program->out().find(" KB/s"), std::string::npos);

    EXPECT_EQ(program->terminate(), 0) << program->err();
    EXPECT_TRUE(nothingLeft()) << m_hosts.iptablesSaveA();
    EXPECT_FALSE(std::filesystem::exists(m_runtime / "services/Ovlank"));
}

TEST_F(DaemonFaults, DaemonsThatDieAtOnceAreGivenUpOnAndLeaveNothingBehind) {
    // The daemon file in the settings folder: the real daemon the first time, one
    // that ends at once ever after. Its clean-up commands are the real ones.
    const std::string marker = m_files / "started-once";
    m_files.write("Ovlank", "#!/bin/sh\n"
                            "case \"$1\" in --remove|--detach) exec " +
                                kRealDaemon +
                                " \"$@\";; esac\n"
                                "if [ -e " +
                                marker +
                                " ]; then echo 'ends at once' >&2; exit 1; fi\n"
                                ": > " +
                                marker + "\nexec " + kRealDaemon + " \"$@\"\n");
    ::chmod((m_files / "Ovlank").c_str(), 0755);
    auto program = run(dropAndThrottle());
    ASSERT_TRUE(udpDropped());
    ASSERT_EQ(jumps(), 2u);

    ASSERT_EQ(::kill(daemonPid(), SIGKILL), 0);
    EXPECT_TRUE(program->waitFor(line(kGaveUpMessage), 30s)) << program->err();
    EXPECT_TRUE(program->waitFor(line(kGaveUpStatus), 5s)) << program->err();
    EXPECT_EQ(occurrences(program->err(), line(kDaemonEndedMessage)), 1u) << program->err();
    EXPECT_NE(program->err().find("ends at once"), std::string::npos) << program->err();
    // Nothing of the daemon is left to hold traffic while the program runs on, and
    // what it shows is not a measurement.
    EXPECT_TRUE(nothingLeft()) << m_hosts.iptablesSaveA();
    EXPECT_EQ(udpThrough(5555, 10), 10u);
    std::this_thread::sleep_for(1500ms);
    const std::string out = program->out();
    EXPECT_NE(out.substr(out.rfind('\n', out.size() - 2)).find("未測定"), std::string::npos) << out;

    EXPECT_EQ(program->terminate(), 0) << program->err();
    EXPECT_TRUE(nothingLeft()) << m_hosts.iptablesSaveA();
    EXPECT_FALSE(std::filesystem::exists(m_runtime / "services/Ovlank"));
    EXPECT_EQ(occurrences(program->err(), "FAILED"), 0u) << program->err();
}

TEST_F(DaemonFaults, ARecordLeftByAKilledRunIsReplacedAndItsChainsRemoved) {
    // A run with queue 4999 and prefix OLD<pid> was killed with its daemon, which
    // had its chains and jumps in place.
    const std::string old = "OLD" + std::to_string(::getpid());
    Program oldDaemon({"ip", "netns", "exec", m_hosts.nsA(), kRealDaemon, "--device",
                       m_runtime / "Ovlank", "--queue", "4999", "--chains", old},
                      m_logs.path());
    ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(m_runtime / "Ovlank"); }, 10s));
    const std::string rules = "*mangle\n:" + old + "_IN - [0:0]\n:" + old +
                              "_OUT - [0:0]\n-A INPUT -j " + old + "_IN\n-A OUTPUT -j " + old +
                              "_OUT\nCOMMIT\n";
    ASSERT_EQ(ovlank::test::runCommand(
                  {"ip", "netns", "exec", m_hosts.nsA(), "iptables-restore", "--noflush"}, rules)
                  .exitCode,
              0);
    // `ip netns exec` becomes the daemon itself.
    const pid_t oldPid = oldDaemon.pid();
    ASSERT_GT(oldPid, 0);
    m_daemons.push_back(oldPid);
    ServiceFolder::Record stale;
    stale.config = {kRealDaemon,
                    m_runtime / "Ovlank",
                    {"--queue", "4999", "--chains", old},
                    {"--remove", "--chains", old}};
    stale.pid = oldPid;
    stale.startTime = processStartTime(oldPid);
    ASSERT_EQ(::mkdir((m_runtime / "services").c_str(), 0700), 0);
    m_runtime.write("services/Ovlank", formatServiceRecord(stale));
    ASSERT_EQ(::kill(oldPid, SIGKILL), 0);
    ASSERT_TRUE(waitUntil([&] { return processStartTime(oldPid) == 0; }, 5s));

    // This run's queue and prefix are the ones the daemon runs with; the old
    // chains, jumps and socket went first.
    auto program = run(dropAndThrottle());
    const ServiceFolder::Record now = record();
    EXPECT_EQ(now.config.arguments,
              (std::vector<std::string>{"--queue", "4711", "--chains", chains()}));
    std::ifstream cmdline("/proc/" + std::to_string(daemonPid()) + "/cmdline");
    const std::string command{std::istreambuf_iterator<char>(cmdline),
                              std::istreambuf_iterator<char>()};
    EXPECT_NE(command.find(std::string("--queue") + '\0' + "4711"), std::string::npos);
    EXPECT_NE(command.find(std::string("--chains") + '\0' + chains()), std::string::npos);
    const std::string saved = m_hosts.iptablesSaveA();
    EXPECT_EQ(saved.find(old), std::string::npos) << saved;
    EXPECT_EQ(jumps(), 2u);
    EXPECT_TRUE(udpDropped());
    EXPECT_EQ(program->terminate(), 0) << program->err();
    EXPECT_TRUE(nothingLeft()) << m_hosts.iptablesSaveA();
}

TEST_F(DaemonFaults, ADaemonStillRunningWithOtherArgumentsIsNamedAndUsed) {
    const std::string old = "OLD" + std::to_string(::getpid());
    Program oldDaemon({"ip", "netns", "exec", m_hosts.nsA(), kRealDaemon, "--device",
                       m_runtime / "Ovlank", "--queue", "4998", "--chains", old},
                      m_logs.path());
    ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(m_runtime / "Ovlank"); }, 10s));
    const pid_t oldPid = oldDaemon.pid();
    ASSERT_GT(oldPid, 0);
    m_daemons.push_back(oldPid);
    ServiceFolder::Record running;
    running.config = {kRealDaemon,
                      m_runtime / "Ovlank",
                      {"--queue", "4998", "--chains", old},
                      {"--remove", "--chains", old}};
    running.pid = oldPid;
    running.startTime = processStartTime(oldPid);
    ASSERT_EQ(::mkdir((m_runtime / "services").c_str(), 0700), 0);
    m_runtime.write("services/Ovlank", formatServiceRecord(running));

    auto program = run(dropAndThrottle());
    EXPECT_NE(program->err().find("起動済みのOvlankが別の引数で動作しています。"
                                  "このOvlankをそのまま使います。 pid " +
                                  std::to_string(oldPid) + ": " + kRealDaemon + " --device " +
                                  (m_runtime / "Ovlank") + " --queue 4998 --chains " + old),
              std::string::npos)
        << program->err();
    EXPECT_EQ(daemonPid(), oldPid);
    EXPECT_TRUE(udpDropped());
    EXPECT_NE(m_hosts.iptablesSaveA().find(old + "_IN"), std::string::npos);
    EXPECT_EQ(program->terminate(), 0) << program->err();
    EXPECT_EQ(m_hosts.iptablesSaveA().find(old), std::string::npos);
}

} // namespace
} // namespace tavrin::core
