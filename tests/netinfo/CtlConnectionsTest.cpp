// tavrinctl connections, run as a real program in a network namespace holding only
// the sockets this test makes.
#include "KernelTestSupport.h"
#include "RunProcess.h"
#include "TempFolder.h"
#include "TestPaths.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <sstream>
#include <vector>

namespace tavrin {
namespace {

test::ProcessResult tavrinctl(std::vector<std::string> args) {
    args.insert(args.begin(), {std::string(test::kBinDir) + "/tavrinctl", "connections"});
    return test::runProcess(args);
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// Blank-separated fields of a table line.
std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string field; in >> field;)
        out.push_back(field);
    return out;
}

class CtlConnections : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root for a network namespace";
        ASSERT_EQ(m_netns.error(), "");
        m_loopback.emplace();
        m_port = m_loopback->serverPort;
        m_clientPort = m_loopback->clientPort;
        m_self = std::filesystem::read_symlink("/proc/self/exe").string();
        m_name = std::filesystem::path(m_self).filename().string();
        m_pid = std::to_string(::getpid());
    }

    test::NetnsScope m_netns;
    std::optional<test::LoopbackConnection> m_loopback; // made inside the namespace
    uint16_t m_port = 0;
    uint16_t m_clientPort = 0;
    std::string m_self;
    std::string m_name;
    std::string m_pid;
};

TEST_F(CtlConnections, PrintsTheTableAsTheMonitorShowsIt) {
    const auto run = tavrinctl({});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const auto table = lines(run.out);
    ASSERT_EQ(table.size(), 4u) << run.out;
    EXPECT_EQ(fields(table[0]), (std::vector<std::string>{
                                    "ローカルIPアドレス", "ローカルポート", "リモートIPアドレス",
                                    "リモートホスト名", "リモートポート", "状態", "接続時間",
                                    "プロセス名", "プロセスID", "プロセスのパス"}));
    const std::string port = std::to_string(m_port);
    const std::string clientPort = std::to_string(m_clientPort);
    // In the table's order: local port ascending, the listener first on its port.
    std::vector<std::vector<std::string>> expected = {
        {"127.0.0.1", port, "0.0.0.0", "0.0.0.0", "0", "LISTENING"},
        {"127.0.0.1", port, "127.0.0.1", "localhost", clientPort, "ESTABLISHED"},
        {"127.0.0.1", clientPort, "127.0.0.1", "localhost", port, "ESTABLISHED"},
    };
    if (m_clientPort < m_port)
        std::rotate(expected.begin(), expected.begin() + 2, expected.end());
    for (size_t i = 0; i < expected.size(); ++i) {
        auto row = expected[i];
        row.insert(row.end(), {"0分00秒", m_name, m_pid, m_self});
        EXPECT_EQ(fields(table[i + 1]), row) << table[i + 1];
    }
    // Columns line up, wide characters counting two cells.
    EXPECT_EQ(table[1].find("  LISTENING"), table[2].find("  ESTABLISHED"));
    EXPECT_TRUE(run.err.empty()) << run.err;
}

TEST_F(CtlConnections, JsonHasEveryColumn) {
    const auto run = tavrinctl({"--json"});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    ASSERT_EQ(lines(run.out).size(), 1u);
    const std::string listener =
        "{\"state\":2,\"localPort\":" + std::to_string(m_port) +
        ",\"remotePort\":0,\"age\":0,\"processId\":" + m_pid +
        ",\"stateText\":\"LISTENING\",\"localAddr\":\"127.0.0.1\",\"remoteAddr\":\"0.0.0.0\","
        "\"remoteHost\":\"0.0.0.0\",\"remoteService\":null,\"duration\":\"0分00秒\","
        "\"processName\":\"" +
        m_name + "\",\"processPath\":\"" + m_self + "\"}";
    EXPECT_NE(run.out.find(listener), std::string::npos) << run.out;
    EXPECT_EQ(run.out.front(), '[');
    EXPECT_EQ(run.out.substr(run.out.size() - 2), "]\n");
    size_t objects = 0;
    for (size_t at = 0; (at = run.out.find("{\"state\":", at)) != std::string::npos; ++at)
        ++objects;
    EXPECT_EQ(objects, 3u);

    const auto numeric = tavrinctl({"--json", "-n"});
    ASSERT_EQ(numeric.exitStatus, 0) << numeric.err;
    EXPECT_NE(numeric.out.find("\"remoteHost\":null"), std::string::npos);
    EXPECT_EQ(numeric.out.find("localhost"), std::string::npos);
}

TEST_F(CtlConnections, RemotePortsCarryTheirServiceNames) {
    // The namespace is ours: port 23 is free in it.
    test::Fd telnet = test::listenOnLoopback(23);
    test::Fd client = test::connectToLoopback(23);
    const std::string clientPort = std::to_string(test::boundPort(client.get()));
    const auto text = tavrinctl({"-n"});
    ASSERT_EQ(text.exitStatus, 0) << text.err;
    bool found = false;
    for (const std::string& line : lines(text.out)) {
        if (line.find(" " + clientPort + "  127.0.0.1") != std::string::npos) {
            found = true;
            EXPECT_NE(line.find("  23 (telnet)  ESTABLISHED"), std::string::npos) << line;
        }
    }
    EXPECT_TRUE(found) << text.out;
    const auto json = tavrinctl({"--json", "-n"});
    EXPECT_NE(json.out.find("\"localPort\":" + clientPort +
                            ",\"remotePort\":23,\"age\":0,\"processId\":" + m_pid),
              std::string::npos);
    EXPECT_NE(json.out.find("\"remoteService\":\"telnet\""), std::string::npos);
}

TEST_F(CtlConnections, WatchRefreshesEverySecondAndAgesGrow) {
    const auto run = tavrinctl({"--watch", "--count", "2", "-n"});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const auto out = lines(run.out);
    // Two tables of four lines, a blank line between them; no host column with -n.
    ASSERT_EQ(out.size(), 9u) << run.out;
    EXPECT_EQ(out[4], "");
    EXPECT_EQ(fields(out[0]).size(), 9u);
    EXPECT_NE(out[1].find("0分00秒"), std::string::npos);
    EXPECT_NE(out[6].find("0分01秒"), std::string::npos);

    const auto json = tavrinctl({"--watch", "--json", "--count", "2"});
    ASSERT_EQ(json.exitStatus, 0) << json.err;
    const auto documents = lines(json.out);
    ASSERT_EQ(documents.size(), 2u);
    EXPECT_NE(documents[1].find("\"age\":1"), std::string::npos);
}

// A process whose file name holds quotes, backslashes, control bytes, bytes that
// are no UTF-8 and Japanese: the JSON stays valid and gives the name back, each
// stray byte as U+FFFD.
TEST_F(CtlConnections, JsonStaysValidForAnyProcessName) {
    test::TempFolder folder;
    const std::string name = "q\"b\\s\x01\t\x1b[2J\xff\xfe\x7f日本";
    const std::string shown = "q\"b\\s\x01\t\x1b[2J\xef\xbf\xbd\xef\xbf\xbd\x7f日本";
    const std::string path = folder / name;
    std::filesystem::copy_file(CORE_LISTENER, path);
    ::chmod(path.c_str(), 0755);
    const uint16_t port = 4100;
    pid_t pid = -1;
    const std::string portText = std::to_string(port);
    char* argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>(portText.c_str()), nullptr};
    ASSERT_EQ(::posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ), 0);
    struct Reap {
        pid_t pid;
        ~Reap() {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    } reap{pid};

    nlohmann::json row;
    for (int attempt = 0; attempt < 50 && row.is_null(); ++attempt) {
        const auto run = tavrinctl({"--json", "-n"});
        ASSERT_EQ(run.exitStatus, 0) << run.err;
        // Only the closing line break is a control byte of the output itself.
        for (size_t i = 0; i + 1 < run.out.size(); ++i)
            ASSERT_GE(static_cast<unsigned char>(run.out[i]), 0x20u) << i << ": " << run.out;
        const nlohmann::json rows = nlohmann::json::parse(run.out); // throws when not JSON
        for (const nlohmann::json& r : rows)
            if (r["localPort"] == port && r["stateText"] == "LISTENING")
                row = r;
        if (row.is_null())
            ::usleep(100 * 1000);
    }
    ASSERT_FALSE(row.is_null()) << "the listener never showed";
    EXPECT_EQ(row["processName"], shown);
    EXPECT_EQ(row["processPath"], folder.path() + "/" + shown);
    EXPECT_EQ(row["processId"], pid);
    EXPECT_TRUE(row["remoteHost"].is_null());
}

TEST_F(CtlConnections, OddArgumentsAreRefusedWithUsage) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--count", "2"},
                                               {"--watch", "--count", "0"},
                                               {"--watch", "--count", "x"},
                                               {"--watch", "--count"},
                                               {"--bogus"}}) {
        const auto run = tavrinctl(args);
        EXPECT_EQ(run.exitStatus, 2) << args[0];
        EXPECT_TRUE(run.out.empty());
        EXPECT_NE(run.err.find("usage: tavrinctl connections"), std::string::npos) << run.err;
    }
}

} // namespace
} // namespace tavrin
