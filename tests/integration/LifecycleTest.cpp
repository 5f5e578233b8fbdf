// Start-up, takeover, fail-open, clean exit and hostile clients.
#include "ChildProcess.h"
#include "DaemonFixture.h"
#include "NetfilterQueue.h"
#include "Traffic.h"

#include <grp.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <poll.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <thread>

namespace ovlank::test {
namespace {

using Lifecycle = DaemonFixture;

// In a child process: become an unprivileged user, optionally keeping the right
// to open any file (so the socket's mode does not stop it and the daemon's own
// check must), connect, ask for the version. Exit code 0: connect refused,
// 1: connected but the daemon hung up, 2: the daemon answered, 3: set-up failed.
int versionAsUnprivileged(const std::string& device, bool keepFileAccess) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (keepFileAccess && ::prctl(PR_SET_KEEPCAPS, 1) != 0) {
            ::_exit(3);
        }
        if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
            ::setresuid(65534, 65534, 65534) != 0) {
            ::_exit(3);
        }
        if (keepFileAccess) {
            __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
            __user_cap_data_struct data[2] = {};
            data[0].effective = data[0].permitted = 1u << CAP_DAC_OVERRIDE;
            if (::syscall(SYS_capset, &header, data) != 0) {
                ::_exit(3);
            }
        }
        OvlankClient client(device);
        if (!client.connected()) {
            ::_exit(0);
        }
        ::_exit(client.version() ? 2 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(Lifecycle, RefusesUnprivilegedClientsAndSurvivesGarbage) {
    struct stat info {};
    ASSERT_EQ(::lstat(m_device.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(versionAsUnprivileged(m_device, false), 0);
    EXPECT_EQ(versionAsUnprivileged(m_device, true), 1);
    EXPECT_NE(m_daemon->log().find("refused a client running as uid 65534"), std::string::npos)
        << m_daemon->log();

    // Garbage frames: oversized, cut short, random bytes.
    {
        OvlankClient oversized(m_device);
        const uint8_t head[12] = {0xE8, 0x60, 0x22, 0x43, 0, 0, 0x20, 0, 4, 0, 0, 0};
        ASSERT_TRUE(oversized.sendRaw(head));
        EXPECT_TRUE(oversized.closedByPeer());
        OvlankClient cut(m_device);
        ASSERT_TRUE(cut.sendRaw(std::span(head).first(7)));
    }
    std::mt19937 random(20240601);
    for (int i = 0; i < 20; ++i) {
        OvlankClient junk(m_device);
        std::vector<uint8_t> bytes(random() % 300);
        for (auto& byte : bytes) {
            byte = static_cast<uint8_t>(random());
        }
        junk.sendRaw(bytes);
    }

    // 1000 random well-framed requests, with the twelve codes and others.
    const uint32_t codes[] = {
        START_IP_HOOK,   STOP_IP_HOOK,  ADD_FILTER,  CLEAR_FILTER,    GET_PACKET,
        CLEAR_BANDWIDTH, SET_PORTS,     SET_LOCALIP, START_FILTERING, STOP_FILTERING,
        GET_VERSION,     CHANGE_FILTER, 0,           0xFFFFFFFF,      0x43226000};
    OvlankClient fuzz(m_device);
    int answered = 0;
    for (int i = 0; i < 1000; ++i) {
        const uint32_t code = codes[random() % std::size(codes)];
        std::vector<uint8_t> input(random() % 2 ? random() % 400 : random() % 8);
        for (auto& byte : input) {
            byte = static_cast<uint8_t>(random());
        }
        const auto outputLength =
            static_cast<uint32_t>(random() % 2 ? random() % 600 : random() % 64);
        if (fuzz.request(code, input, outputLength)) {
            ++answered;
        }
    }
    EXPECT_EQ(answered, 1000);
    fuzz.simple(STOP_IP_HOOK);

    OvlankClient next(m_device);
    EXPECT_EQ(next.version(), kDriverVersion);
}

// Changes host A's mangle table as the host's own rules would.
bool changeMangleA(const TestHosts& hosts, const std::vector<std::string>& arguments) {
    std::vector<std::string> command{"ip", "netns", "exec",  hosts.nsA(), toolPath("iptables"),
                                     "-w", "-t",    "mangle"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return runCommand(command).exitCode == 0;
}

// How the daemon is asked to leave, and what host A's mangle table held before.
struct CleanExitCase {
    const char* name;
    int signal;
    std::vector<std::vector<std::string>> mangleBefore; // iptables arguments; {P}: our prefix
};

void PrintTo(const CleanExitCase& exitCase, std::ostream* out) {
    *out << exitCase.name;
}

class CleanExit : public DaemonFixture, public ::testing::WithParamInterface<CleanExitCase> {};

TEST_P(CleanExit, LeavesTheFirewallAsItWas) {
    for (auto arguments : GetParam().mangleBefore) {
        for (auto& word : arguments) {
            if (const auto at = word.find("{P}"); at != std::string::npos) {
                word.replace(at, 3, m_chains);
            }
        }
        ASSERT_TRUE(changeMangleA(*m_hosts, arguments));
    }
    m_iptablesBefore = m_hosts->iptablesSaveA();
    startHook();
    const std::string during = m_hosts->iptablesSaveA();
    EXPECT_NE(during.find(":" + m_chains + "_IN"), std::string::npos) << during;
    EXPECT_NE(during.find("-A OUTPUT -j " + m_chains + "_OUT"), std::string::npos) << during;
    EXPECT_NE(during.find("! -i lo -j " + m_chains + "_IN"), std::string::npos) << during;
    const auto ping = runCommand(
        {"ip", "netns", "exec", m_hosts->nsA(), "ping", "-c", "1", "-W", "2", m_hosts->addressB()});
    EXPECT_EQ(ping.exitCode, 0);

    EXPECT_EQ(m_client->simple(STOP_IP_HOOK), STATUS_SUCCESS);
    EXPECT_EQ(m_hosts->iptablesSaveA(), m_iptablesBefore);
    startHook();

    m_client.reset();
    EXPECT_EQ(m_daemon->terminate(GetParam().signal), 0) << m_daemon->log();
    EXPECT_EQ(m_hosts->iptablesSaveA(), m_iptablesBefore);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(m_device)));
}

// Without a mangle table the daemon's install makes one and its removal takes it
// away again; an empty one that was there before stays (a table with a host rule
// in it is the full-queue case below).
INSTANTIATE_TEST_SUITE_P(
    Lifecycle, CleanExit,
    ::testing::Values(
        CleanExitCase{"TermWithoutMangleTable", SIGTERM, {}},
        CleanExitCase{"IntWithAnEmptyMangleTable", SIGINT, {{"-N", "T"}, {"-X", "T"}}},
        // Host rules that only name our chains in their
        // comments, quoted or not, are not our jumps.
        CleanExitCase{"TermWithCommentsNamingOurChains",
                      SIGTERM,
                      {{"-A", "INPUT", "-m", "comment", "--comment", "see -j {P}_IN here", "-j",
                        "MARK", "--set-mark", "1"},
                       {"-A", "OUTPUT", "-m", "comment", "--comment", "-j", "-m", "comment",
                        "--comment", "{P}_OUT", "-j", "MARK", "--set-mark", "2"}}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(Lifecycle, HookSetUpAndStartUpRefusalsChangeNothing) {
    // Another program holds the second queue of the daemon's range: the hook cannot
    // start, says why, and leaves nothing behind (the first queue is released).
    auto held = std::make_unique<NetfilterQueue>(
        static_cast<uint16_t>(m_queue + 1),
        [](std::span<const uint8_t>, uint32_t) { return Verdict::Forward; });
    std::string error;
    TestHosts::inNamespace(m_hosts->nsA(), [&] { EXPECT_TRUE(held->open(error)) << error; });
    ASSERT_EQ(m_client->setLocalAddresses({m_hosts->addressANetworkOrder()}), STATUS_SUCCESS);
    EXPECT_EQ(m_client->simple(START_IP_HOOK), STATUS_UNSUCCESSFUL);
    EXPECT_NE(m_daemon->log().find("queue " + std::to_string(m_queue + 1) +
                                   " is already in use by another program"),
              std::string::npos)
        << m_daemon->log();
    EXPECT_EQ(m_hosts->iptablesSaveA(), m_iptablesBefore);
    held.reset();

    startHook();
    EXPECT_EQ(m_client->simple(STOP_IP_HOOK), STATUS_SUCCESS);
    EXPECT_EQ(m_hosts->iptablesSaveA(), m_iptablesBefore);
    startHook();

    // Same device, other queue; same queue, other device: both refused, nothing changed.
    const std::string before = m_hosts->iptablesSaveA();
    DaemonProcess sameDevice(
        m_hosts->nsA(),
        {"--device", m_device, "--queue", std::to_string(m_queue + 7), "--chains", m_chains + "X"},
        "/tmp/" + m_hosts->tag() + "-second.log");
    EXPECT_FALSE(sameDevice.start(m_device + "-unused"));
    DaemonProcess sameQueue(m_hosts->nsA(),
                            {"--device", m_device + "2", "--queue", std::to_string(m_queue + 1),
                             "--chains", m_chains + "Y"},
                            "/tmp/" + m_hosts->tag() + "-third.log");
    EXPECT_FALSE(sameQueue.start(m_device + "2"));
    EXPECT_NE(sameDevice.log().find("another daemon already serves " + m_device), std::string::npos)
        << sameDevice.log();
    EXPECT_NE(
        sameQueue.log().find("another daemon already uses queue " + std::to_string(m_queue + 1)),
        std::string::npos)
        << sameQueue.log();
    EXPECT_EQ(m_hosts->iptablesSaveA(), before);
    EXPECT_EQ(m_client->version(), kDriverVersion);
    std::filesystem::remove(m_device + "2");
    ::unlink(("/tmp/" + m_hosts->tag() + "-second.log").c_str());
    ::unlink(("/tmp/" + m_hosts->tag() + "-third.log").c_str());
}

TEST_F(Lifecycle, KilledDaemonFailsOpenAndASuccessorTakesOver) {
    startHook();
    const auto& hosts = *m_hosts;
    const int listener = tcpListener(hosts.nsB(), hosts.addressB(), 12001);
    const int client = tcpConnect(hosts.nsA(), hosts.addressB(), 12001, 3000);
    ASSERT_GE(client, 0);
    const int server = acceptWithin(listener, 3000);
    ASSERT_GE(server, 0);

    constexpr size_t kTotal = 64u << 20;
    std::atomic<size_t> written{0};
    std::thread writer([&] {
        std::vector<uint8_t> chunk(64 * 1024, 5);
        while (written.load() < kTotal && sendAll(client, chunk.data(), chunk.size())) {
            written.fetch_add(chunk.size());
        }
    });
    std::atomic<size_t> received{0};
    std::thread reader([&] {
        std::vector<uint8_t> buffer(1 << 16);
        while (received.load() < kTotal) {
            const size_t got =
                receiveBytes(server, std::min(buffer.size(), kTotal - received.load()), 10000);
            if (got == 0) {
                break;
            }
            received.fetch_add(got);
        }
    });
    while (received.load() < kTotal / 8) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    m_client.reset();
    m_daemon->kill9(); // chains stay behind, nobody reads the queues
    writer.join();
    reader.join();
    EXPECT_EQ(received.load(), kTotal);

    // A new daemon on the same device and queues replaces the chains left behind.
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(m_device)));
    m_daemon = makeDaemon();
    ASSERT_TRUE(m_daemon->start(m_device)) << m_daemon->log();
    m_client = std::make_unique<OvlankClient>(m_device);
    startHook();
    const std::string rules = m_hosts->iptablesSaveA();
    size_t jumps = 0;
    for (size_t at = rules.find("-j " + m_chains + "_IN\n"); at != std::string::npos;
         at = rules.find("-j " + m_chains + "_IN\n", at + 1)) {
        ++jumps;
    }
    EXPECT_EQ(jumps, 1u) << rules;
    const auto ping = runCommand(
        {"ip", "netns", "exec", hosts.nsA(), "ping", "-c", "1", "-W", "2", hosts.addressB()});
    EXPECT_EQ(ping.exitCode, 0);
    EXPECT_EQ(m_daemon->terminate(), 0);
    EXPECT_EQ(m_hosts->iptablesSaveA(), m_iptablesBefore);
    for (int fd : {listener, client, server}) {
        ::close(fd);
    }
}

// The number in the daemon's last report of packets that passed without a decision.
std::optional<uint64_t> reportedBypass(const std::string& log) {
    const std::string marker = " packets passed without a decision because the queue was full";
    const auto at = log.rfind(marker);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    const auto start = log.rfind(' ', at - 1);
    return std::stoull(log.substr(start + 1, at - start - 1));
}

TEST_F(Lifecycle, StoppedDaemonFailsOpenAndCountsWhatPassed) {
    // A host rule before the daemon's jump: it must neither hide packets from the
    // count nor be touched by the daemon's install and removal.
    ASSERT_TRUE(changeMangleA(*m_hosts, {"-A", "INPUT", "-j", "MARK", "--set-mark", "1"}));
    m_iptablesBefore = m_hosts->iptablesSaveA();
    startHook();
    const auto& hosts = *m_hosts;
    const int receiver = udpSocket(hosts.nsA(), hosts.addressA(), 13001);
    const int sender = udpSocket(hosts.nsB(), hosts.addressB(), 0);
    ASSERT_GE(receiver, 0);
    ASSERT_GE(sender, 0);
    const int room = 64 << 20; // every datagram fits, so what arrives is what passed
    ASSERT_EQ(::setsockopt(receiver, SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof(room)), 0);

    // Nobody reads the queue: it holds what it can, the rest must pass undecided.
    // Every thread of the daemon is stopped before the first datagram leaves, so
    // none of them is decided on the way.
    ASSERT_TRUE(m_daemon->freeze());
    constexpr size_t kSent = 3 * kQueueMaxLength;
    for (size_t i = 0; i < kSent; ++i) {
        sendDatagram(sender, hosts.addressA(), 13001, 16);
    }
    const size_t passedWhileStopped = receiveDatagrams(receiver, kSent, 300);
    m_daemon->signal(SIGCONT);
    const size_t decidedLater = receiveDatagrams(receiver, kSent - passedWhileStopped, 1000);
    EXPECT_GT(passedWhileStopped, kSent / 2);
    EXPECT_EQ(passedWhileStopped + decidedLater, kSent);
    EXPECT_LE(decidedLater, kQueueMaxLength);

    m_client.reset();
    EXPECT_EQ(m_daemon->terminate(), 0) << m_daemon->log();
    const auto reported = reportedBypass(m_daemon->log());
    ASSERT_TRUE(reported) << m_daemon->log();
    // Nothing is in flight any more, and nothing else travels: the count is exact.
    EXPECT_EQ(*reported, passedWhileStopped) << m_daemon->log();
    EXPECT_EQ(m_hosts->iptablesSaveA(), m_iptablesBefore);
    ::close(receiver);
    ::close(sender);
}

// Resident memory of a process, from /proc; 0 when it cannot be read.
size_t residentBytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:")) {
            return std::stoull(line.substr(6)) * 1024; // given in kB
        }
    }
    return 0;
}

TEST_F(Lifecycle, ClientsThatNeverReadTheirRepliesCostLittle) {
    // 64 rules: every CLEAR_BANDWIDTH reply is as large as a reply gets.
    for (uint16_t port = 0; port < kMaxRules; ++port) {
        ASSERT_EQ(m_client->addFilter(makeRule(kProtocolUdp, 0, 20000 + port)), STATUS_SUCCESS);
    }
    std::vector<uint8_t> frames;
    for (int i = 0; i < 4096; ++i) {
        for (const uint32_t word : {CLEAR_BANDWIDTH, 0u, 4u * kMaxRules + 8}) {
            for (int shift = 0; shift < 32; shift += 8) {
                frames.push_back(static_cast<uint8_t>(word >> shift));
            }
        }
    }
    constexpr size_t kClients = 100;
    constexpr size_t kMostPerClient = 32u << 20;
    std::vector<std::unique_ptr<OvlankClient>> clients;
    std::vector<size_t> sent(kClients, 0);
    for (size_t i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<OvlankClient>(m_device));
        ASSERT_TRUE(clients.back()->connected());
    }
    // Requests go in until no client's socket takes more: the daemon stopped
    // reading from all of them because their replies were not read.
    for (bool more = true; more;) {
        std::vector<pollfd> waiting;
        for (size_t i = 0; i < kClients; ++i) {
            for (;;) {
                const size_t offset = sent[i] % frames.size();
                const ssize_t n = ::send(clients[i]->fd(), frames.data() + offset,
                                         frames.size() - offset, MSG_DONTWAIT | MSG_NOSIGNAL);
                if (n <= 0) {
                    ASSERT_EQ(errno, EAGAIN) << std::strerror(errno);
                    break;
                }
                sent[i] += static_cast<size_t>(n);
            }
            ASSERT_LT(sent[i], kMostPerClient) << "the daemon never stopped reading client " << i;
            waiting.push_back({clients[i]->fd(), POLLOUT, 0});
        }
        more = ::poll(waiting.data(), waiting.size(), 300) > 0;
    }
    const size_t resident = residentBytes(m_daemon->pid());
    EXPECT_GT(resident, 0u);
    EXPECT_LT(resident, 64u << 20) << resident / 1024 << " KiB";

    OvlankClient fresh(m_device);
    EXPECT_EQ(fresh.version(), kDriverVersion);
    // A client that reads again finds whole replies, the first one first.
    std::vector<uint8_t> reply(8 + 4 * kMaxRules + 8);
    ASSERT_EQ(::recv(clients.front()->fd(), reply.data(), reply.size(), MSG_WAITALL),
              static_cast<ssize_t>(reply.size()));
    // Success, and 264 (4 × 64 + 8) bytes of counters.
    EXPECT_EQ(std::vector<uint8_t>(reply.begin(), reply.begin() + 8),
              (std::vector<uint8_t>{0, 0, 0, 0, 0x08, 0x01, 0, 0}));
}

} // namespace
} // namespace ovlank::test
