// tavrinctl connections against a name server that never answers, and with -n:
// the real program in a network namespace whose resolv.conf and hosts file the test
// writes (`ip netns exec` puts /etc/netns/NAME/* in place of /etc/*), the name
// server being the peer host, where the test drops or listens on port 53.
#include "RunProcess.h"
#include "TestHosts.h"
#include "TestPaths.h"
#include "Traffic.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tavrin {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using ovlank::test::TestHosts;

// The remote host column of the table row whose remote address is `address`.
std::string remoteHostOf(const std::string& table, const std::string& address) {
    std::istringstream lines(table);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::vector<std::string> row;
        for (std::string field; fields >> field;)
            row.push_back(field);
        if (row.size() > 3 && row[2] == address)
            return row[3];
    }
    return "(no row)";
}

class ConnectionsNameServer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_hosts.ready()) << m_hosts.problem();
        // Host A asks host B for names, and its hosts file does not know this
        // machine's own name, so that asking for it would reach the name server too.
        std::filesystem::create_directories(m_etc);
        std::ofstream(m_etc / "resolv.conf")
            << "nameserver " << m_hosts.addressB() << "\noptions timeout:5 attempts:2\n";
        std::ofstream(m_etc / "hosts") << "127.0.0.1 localhost\n";
        // A connection from A to B, so that A's table has an address to name.
        m_listener = ovlank::test::tcpListener(m_hosts.nsB(), m_hosts.addressB(), 7100);
        m_client = ovlank::test::tcpConnect(m_hosts.nsA(), m_hosts.addressB(), 7100, 2000);
        ASSERT_GE(m_client, 0);
    }
    void TearDown() override {
        for (int fd : {m_client, m_listener})
            if (fd >= 0)
                ::close(fd);
        std::filesystem::remove_all(m_etc);
    }

    test::ProcessResult connections(std::vector<std::string> options) {
        std::vector<std::string> args{
            "ip",         "netns", "exec", m_hosts.nsA(), std::string(test::kBinDir) + "/tavrinctl",
            "connections"};
        args.insert(args.end(), options.begin(), options.end());
        return test::runProcess(args, 60s);
    }
    void inB(const std::vector<std::string>& command) {
        std::vector<std::string> args{"ip", "netns", "exec", m_hosts.nsB()};
        args.insert(args.end(), command.begin(), command.end());
        const auto result = ovlank::test::runCommand(args);
        ASSERT_EQ(result.exitCode, 0) << result.errors;
    }

    TestHosts m_hosts{"cdns"};
    std::filesystem::path m_etc = std::filesystem::path("/etc/netns") / m_hosts.nsA();
    int m_listener = -1;
    int m_client = -1;
};

TEST_F(ConnectionsNameServer, AnUnansweredLookupDoesNotHoldTheEndOfTheListing) {
    // Queries to B vanish: every reverse lookup hangs for the resolver's whole timeout.
    for (const char* protocol : {"udp", "tcp"})
        inB({"iptables", "-w", "-A", "INPUT", "-p", protocol, "--dport", "53", "-j", "DROP"});
    const auto listing = connections({});
    ASSERT_EQ(listing.exitStatus, 0) << listing.err;
    // B's address was still being looked up when the table was printed.
    EXPECT_EQ(remoteHostOf(listing.out, m_hosts.addressB()), "検索中...") << listing.out;
    // Within 1 s of printing; the bound is generous, as a check that the program
    // does not wait for the lookup (which would take 10 s here).
    EXPECT_LT(listing.secondsAfterPrinting(), 4.0);

    const auto json = connections({"--json"});
    ASSERT_EQ(json.exitStatus, 0) << json.err;
    EXPECT_NE(json.out.find("\"remoteHost\":null"), std::string::npos) << json.out;
    EXPECT_LT(json.secondsAfterPrinting(), 4.0);
}

TEST_F(ConnectionsNameServer, NumericListingsAskTheNameServerNothing) {
    // B listens on port 53 and never answers: every query shows up there.
    const int server = ovlank::test::udpSocket(m_hosts.nsB(), m_hosts.addressB(), 53);
    ASSERT_GE(server, 0);
    struct Case {
        std::vector<std::string> options;
        bool asks;
    };
    const Case cases[] = {
        {{"-n"}, false},
        {{"--json", "-n"}, false},
        {{"--watch", "--count", "2", "-n"}, false},
        // The same listing with names does ask: the observation works.
        {{}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.empty() ? "names" : c.options.front());
        const auto run = connections(c.options);
        ASSERT_EQ(run.exitStatus, 0) << run.err;
        EXPECT_NE(run.out.find(m_hosts.addressB()), std::string::npos) << run.out;
        const size_t queries = ovlank::test::receiveDatagrams(server, 1000, 300);
        if (c.asks)
            EXPECT_GT(queries, 0u);
        else
            EXPECT_EQ(queries, 0u);
    }
    ::close(server);
}

TEST_F(ConnectionsNameServer, ASecondInterruptEndsAWatchAtOnce) {
    for (const char* protocol : {"udp", "tcp"})
        inB({"iptables", "-w", "-A", "INPUT", "-p", protocol, "--dport", "53", "-j", "DROP"});
    // `ip netns exec` puts the files in place and then becomes the program itself,
    // so the signals reach tavrinctl.
    const std::string tavrinctl = std::string(test::kBinDir) + "/tavrinctl";
    int outPipe[2];
    ASSERT_EQ(::pipe2(outPipe, O_CLOEXEC), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::execlp("ip", "ip", "netns", "exec", m_hosts.nsA().c_str(), tavrinctl.c_str(),
                 "connections", "--watch", nullptr);
        ::_exit(127);
    }
    ::close(outPipe[1]);
    // Wait for the first table: a lookup of B's address is then under way.
    pollfd ready{outPipe[0], POLLIN, 0};
    ASSERT_EQ(::poll(&ready, 1, 10000), 1);
    std::this_thread::sleep_for(300ms);
    ::kill(pid, SIGINT);
    ::kill(pid, SIGINT);
    int status = 0;
    bool ended = false;
    for (int i = 0; i < 300 && !ended; ++i) {
        ended = ::waitpid(pid, &status, WNOHANG) == pid;
        if (!ended)
            std::this_thread::sleep_for(10ms);
    }
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    ::close(outPipe[0]);
    EXPECT_TRUE(ended) << "still running 3 s after two interrupts";
}

} // namespace
} // namespace tavrin
