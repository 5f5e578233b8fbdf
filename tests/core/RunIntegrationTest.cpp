// tavrinctl run as a user runs it: the real program and the real daemon inside a
// network namespace of the test's own, settings from a real Setting.ini, and real
// traffic from a second namespace.
#include "RunFixture.h"

namespace tavrin::core {
namespace {

using namespace std::chrono_literals;
using test::Clock;
using test::kTavrinctl;
using test::Program;
using test::RunTest;
using test::section;

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
    // Not started, so not a success: the service manager must not count it as up.
    EXPECT_EQ(second.wait(), 3) << second.err();
    EXPECT_NE(second.err().find("tavrinctl run: Tavrin already runs without a window"),
              std::string::npos)
        << second.err();
    EXPECT_TRUE(program->waitFor("another tavrinctl run was started", 10s));
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
