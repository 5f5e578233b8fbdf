// tavrinctl run as a user runs it: the real program and the real daemon inside a
// network namespace of the test's own, settings from a real Setting.ini, and real
// traffic from a second namespace.
#include "TempFolder.h"
#include "TestHosts.h"
#include "TestPaths.h"
#include "Traffic.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tavrin::core {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using ovlank::test::TestHosts;

const std::string kTavrinctl = std::string(tavrin::test::kBinDir) + "/tavrinctl";

// A program started by the test, its output in two files; killed if still running
// when the test ends.
class Program {
public:
    Program(const std::vector<std::string>& argv, const std::string& folder,
            const std::vector<std::string>& environment = {})
        : m_out(folder + "/stdout." + std::to_string(++s_count)),
          m_err(folder + "/stderr." + std::to_string(s_count)) {
        m_pid = ::fork();
        if (m_pid == 0) {
            const int out = ::open(m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = ::open(m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, 1);
            ::dup2(err, 2);
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            for (const std::string& e : environment)
                ::putenv(const_cast<char*>(e.c_str()));
            std::vector<char*> args;
            for (const std::string& a : argv)
                args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            ::execvp(args[0], args.data());
            ::_exit(127);
        }
    }
    ~Program() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    std::string out() const { return read(m_out); }
    std::string err() const { return read(m_err); }

    // Waits until standard output or error holds `text`; false when the program
    // ended or the wait ran out first.
    bool waitFor(const std::string& text, std::chrono::seconds limit = 30s) {
        const auto end = Clock::now() + limit;
        while (Clock::now() < end) {
            if (out().find(text) != std::string::npos || err().find(text) != std::string::npos)
                return true;
            if (m_pid <= 0 || ::waitpid(m_pid, &m_status, WNOHANG) == m_pid) {
                m_pid = -1;
                return out().find(text) != std::string::npos ||
                       err().find(text) != std::string::npos;
            }
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }
    // Its exit status; -1 when it did not end within the limit or was killed.
    int wait(std::chrono::seconds limit = 30s) {
        const auto end = Clock::now() + limit;
        while (m_pid > 0 && Clock::now() < end) {
            if (::waitpid(m_pid, &m_status, WNOHANG) == m_pid) {
                m_pid = -1;
                break;
            }
            std::this_thread::sleep_for(50ms);
        }
        if (m_pid > 0)
            return -1;
        return WIFEXITED(m_status) ? WEXITSTATUS(m_status) : -1;
    }
    int terminate(int signo = SIGTERM) {
        if (m_pid > 0)
            ::kill(m_pid, signo);
        return wait();
    }

private:
    static std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    static inline int s_count = 0;
    std::string m_out;
    std::string m_err;
    pid_t m_pid = -1;
    int m_status = 0;
};

std::string section(const std::string& name, const std::string& lines) {
    return "[" + name + "]\n" + lines;
}

class RunTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_hosts.ready()) << m_hosts.problem(); }

    std::string chains() const { return "CORE" + std::to_string(::getpid()); }

    // tavrinctl run in host A with the given settings; waits for the first status line.
    std::unique_ptr<Program> run(const std::string& settings, bool filter = true) {
        m_files.write("Setting.ini", "[Common Settings]\nAUTO_SAVE=FALSE\n" + settings);
        std::vector<std::string> argv{
            "ip",      "netns", "exec",         m_hosts.nsA(),   kTavrinctl,
            "run",     "--dir", m_files.path(), "--runtime-dir", m_runtime.path(),
            "--queue", "4711",  "--chains",     chains()};
        if (filter)
            argv.push_back("--filter");
        auto program = std::make_unique<Program>(argv, m_logs.path());
        EXPECT_TRUE(program->waitFor(" KB/s")) << program->err();
        if (filter) {
            EXPECT_TRUE(program->waitFor("filtering on")) << program->err();
        }
        return program;
    }
    // A copy of the listener tool under another name, in the settings folder.
    std::string tool(const std::string& name) {
        const std::string path = m_files / name;
        std::filesystem::copy_file(CORE_LISTENER, path,
                                   std::filesystem::copy_options::overwrite_existing);
        ::chmod(path.c_str(), 0755);
        return path;
    }
    // UDP datagrams from B that reach A's port, out of `count`.
    size_t udpThrough(uint16_t port, size_t count, size_t payload = 200) {
        const int receiver = ovlank::test::udpSocket(m_hosts.nsA(), m_hosts.addressA(), port);
        const int sender = ovlank::test::udpSocket(m_hosts.nsB(), m_hosts.addressB(), 0);
        for (size_t i = 0; i < count; ++i)
            ovlank::test::sendDatagram(sender, m_hosts.addressA(), port, payload);
        const size_t got = ovlank::test::receiveDatagrams(receiver, count, 300);
        ::close(sender);
        ::close(receiver);
        return got;
    }
    bool tcpConnects(uint16_t port, int timeoutMs = 1500) {
        const int fd = ovlank::test::tcpConnect(m_hosts.nsB(), m_hosts.addressA(), port, timeoutMs);
        if (fd >= 0)
            ::close(fd);
        return fd >= 0;
    }

    TestHosts m_hosts{"core"};
    tavrin::test::TempFolder m_files;
    tavrin::test::TempFolder m_runtime;
    tavrin::test::TempFolder m_logs;
};

TEST_F(RunTest, DropsAUdpPortAndNewTcpConnectionsUntilTheProgramEnds) {
    auto program = run(section("PacketFilter1", "PROTOCOL=17\nDIR=DOWN\nMY_IP_MASK=0.0.0.0\n"
                                                "MY_PORT=5555\nIS_MY_ALL_PORT=FALSE\nDROP=TRUE\n"
                                                "DROP_SYN_ONLY=FALSE\nID=1\n") +
                       section("PacketFilter2", "PROTOCOL=6\nDIR=DOWN\nMY_IP_MASK=0.0.0.0\n"
                                                "MY_PORT=7000\nIS_MY_ALL_PORT=FALSE\nDROP=TRUE\n"
                                                "DROP_SYN_ONLY=TRUE\nID=2\n"));
    EXPECT_EQ(udpThrough(5555, 20), 0u);
    EXPECT_EQ(udpThrough(5556, 20), 20u);
    const int listen7000 = ovlank::test::tcpListener(m_hosts.nsA(), m_hosts.addressA(), 7000);
    const int listen7001 = ovlank::test::tcpListener(m_hosts.nsA(), m_hosts.addressA(), 7001);
    EXPECT_FALSE(tcpConnects(7000));
    EXPECT_TRUE(tcpConnects(7001));

    // The exit path stops the daemon, which takes its rules and chains with it.
    EXPECT_EQ(program->terminate(), 0) << program->err();
    EXPECT_EQ(udpThrough(5555, 20), 20u);
    EXPECT_TRUE(tcpConnects(7000));
    EXPECT_EQ(m_hosts.iptablesSaveA().find(chains()), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(m_runtime / "services/Ovlank"));
    EXPECT_FALSE(std::filesystem::exists(m_runtime / "Ovlank"));
    ::close(listen7000);
    ::close(listen7001);
}

TEST_F(RunTest, ThrottlesATransferToItsLimit) {
    // 64 KB/s on everything arriving at port 8000; the program's read tick resets the
    // daemon's counters every 250 ms.
    auto program = run(section("PacketFilter1", "PROTOCOL=6\nDIR=DOWN\nMY_IP_MASK=0.0.0.0\n"
                                                "MY_PORT=8000\nIS_MY_ALL_PORT=FALSE\nDO_BAND=TRUE\n"
                                                "BANDWIDTH=64\nMINIMUM_PACKET_SIZE=100\nID=1\n"));
    const int listener = ovlank::test::tcpListener(m_hosts.nsA(), m_hosts.addressA(), 8000);
    const int client = ovlank::test::tcpConnect(m_hosts.nsB(), m_hosts.addressA(), 8000, 2000);
    ASSERT_GE(client, 0);
    const int server = ovlank::test::acceptWithin(listener, 2000);
    ASSERT_GE(server, 0);
    constexpr size_t kBytes = 320 * 1024; // five seconds at the limit
    std::thread sender([&] {
        std::vector<uint8_t> data(kBytes, 0x5A);
        ovlank::test::sendAll(client, data.data(), data.size());
    });
    const auto begin = Clock::now();
    const size_t got = ovlank::test::receiveBytes(server, kBytes, 10000);
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    sender.join();
    EXPECT_EQ(got, kBytes);
    // The payload alone at the limit takes 5 s; headers count too, so never faster
    // than the limit allows, with room for the first period and one large packet.
    const double rate = static_cast<double>(got) / 1024.0 / seconds;
    EXPECT_LT(rate, 64.0 * 1.15) << seconds << " s";
    EXPECT_GT(rate, 64.0 * 0.3) << seconds << " s";
    ::close(client);
    ::close(server);
    ::close(listener);
    EXPECT_EQ(program->terminate(), 0);
}

TEST_F(RunTest, AFilterBoundToAProcessDropsOnlyThatProcesssPorts) {
    const std::string bound = tool("tvbound");
    const std::string other = tool("tvother");
    Program boundProgram({"ip", "netns", "exec", m_hosts.nsA(), bound, "9001"}, m_logs.path());
    Program otherProgram({"ip", "netns", "exec", m_hosts.nsA(), other, "9002"}, m_logs.path());
    // Both listen before the filter is there.
    const auto ready = Clock::now() + 10s;
    while (!(tcpConnects(9001, 300) && tcpConnects(9002, 300)) && Clock::now() < ready)
        std::this_thread::sleep_for(100ms);
    auto program = run(section("PacketFilter1", "PROTOCOL=6\nDIR=DOWN\nMY_IP_MASK=0.0.0.0\n"
                                                "APPNAME=TVBOUND\nDROP=TRUE\nDROP_SYN_ONLY=FALSE\n"
                                                "ID=1\n"));
    // The port list follows the process within a connection tick.
    const auto limit = Clock::now() + 5s;
    bool blocked = false;
    while (!blocked && Clock::now() < limit)
        blocked = !tcpConnects(9001, 500);
    EXPECT_TRUE(blocked);
    EXPECT_TRUE(tcpConnects(9002));
    EXPECT_EQ(program->terminate(), 0);
}

TEST_F(RunTest, ADynamicFilterThrottlesWhileAProcessRunsAndRestoresAfterIt) {
    const std::string trigger = tool("tvtrigger");
    auto program = run(
        section("PacketFilter1", "PROTOCOL=17\nDIR=DOWN\nMY_IP_MASK=0.0.0.0\nMY_PORT=5600\n"
                                 "IS_MY_ALL_PORT=FALSE\nID=1\n") +
        section("DynamicFilter1", "DO_BAND=TRUE\nBANDWIDTH=4\nMINIMUM_PACKET_SIZE=0\n"
                                  "TRIGGER_RUNNING_PROCESS_NAME=tvtrigger\nTARGET_FILTER_ID=1\n"));
    EXPECT_EQ(udpThrough(5600, 50, 1000), 50u);

    auto triggerProgram =
        std::make_unique<Program>(std::vector<std::string>{trigger, "0"}, m_logs.path());
    auto limit = Clock::now() + 5s;
    size_t through = 50;
    while (through > 10 && Clock::now() < limit)
        through = udpThrough(5600, 50, 1000);
    EXPECT_LE(through, 10u); // 4 KB/s: about one datagram per period

    EXPECT_EQ(triggerProgram->terminate(), 0);
    const auto ended = Clock::now();
    limit = ended + 5s;
    while (through < 50 && Clock::now() < limit)
        through = udpThrough(5600, 50, 1000);
    const double seconds = std::chrono::duration<double>(Clock::now() - ended).count();
    EXPECT_EQ(through, 50u);
    // The override ends with the next connection tick after the process: within 2 s,
    // give or take the bursts' own time.
    EXPECT_LT(seconds, 2.5);
    EXPECT_EQ(program->terminate(), 0);
}

TEST_F(RunTest, ASecondStartFindsTheFirstAndLeaves) {
    auto program = run({}, false);
    Program second({"ip", "netns", "exec", m_hosts.nsA(), kTavrinctl, "run", "--dir",
                    m_files.path(), "--runtime-dir", m_runtime.path()},
                   m_logs.path());
    EXPECT_EQ(second.wait(), 0) << second.err();
    EXPECT_TRUE(program->waitFor("another start found this one running", 10s));
    // A closed terminal leaves through the exit path too, daemon and all.
    EXPECT_EQ(program->terminate(SIGHUP), 0);
    // The exit path saved the options; the file reads back.
    EXPECT_NE(m_files.read("Setting.ini").find("INI_FILE_VERSION=1300"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(m_runtime / "services/Ovlank"));
}

TEST_F(RunTest, BringUpFailuresAreReportedAndEndTheProgram) {
    // No daemon beside a copy of the program, none in its folder.
    tavrin::test::TempFolder alone;
    const std::string copy = alone / "tavrinctl";
    std::filesystem::copy_file(kTavrinctl, copy);
    {
        Program p(
            {"ip", "netns", "exec", m_hosts.nsA(), copy, "run", "--runtime-dir", m_runtime.path()},
            m_logs.path());
        EXPECT_EQ(p.wait(), 1);
        EXPECT_NE(p.err().find(
                      "Ovlank.sysの初期化に失敗しました。 Return code : -4 Tavrinを終了します。"),
                  std::string::npos)
            << p.err();
    }
    // Not root.
    {
        tavrin::test::TempFolder home;
        ASSERT_EQ(::chown(home.path().c_str(), 65534, 65534), 0);
        Program p({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", kTavrinctl, "run",
                   "--dir", home.path(), "--runtime-dir", m_runtime.path()},
                  m_logs.path(), {"XDG_RUNTIME_DIR=" + home.path()});
        EXPECT_EQ(p.wait(), 1);
        EXPECT_NE(p.err().find("TavrinはAdministrator権限で実行する必要があります。"),
                  std::string::npos)
            << p.err();
        EXPECT_NE(p.err().find("Return code : -1"), std::string::npos) << p.err();
    }
    // A daemon that answers another version is refused, and stopped again.
    {
        m_files.write("Ovlank", std::string("#!/bin/sh\nexec ") + STANDIN_DAEMON +
                                    " --version 1299 \"$@\"\n");
        ::chmod((m_files / "Ovlank").c_str(), 0755);
        Program p({"ip", "netns", "exec", m_hosts.nsA(), kTavrinctl, "run", "--dir", m_files.path(),
                   "--runtime-dir", m_runtime.path()},
                  m_logs.path());
        EXPECT_EQ(p.wait(), 1);
        EXPECT_NE(p.err().find("Ovlank.sysが正しくインストールされていません。"), std::string::npos)
            << p.err();
        EXPECT_FALSE(std::filesystem::exists(m_runtime / "services/Ovlank"));
        EXPECT_FALSE(std::filesystem::exists(m_runtime / "Ovlank")); // the stand-in ended
    }
}

} // namespace
} // namespace tavrin::core
