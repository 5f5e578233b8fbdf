// tavrinctl run as a user runs it, for the tests that drive it: the real program and
// the real daemon inside a network namespace of the test's own, settings from a real
// Setting.ini, and real traffic from a second namespace.
#pragma once

#include "ProcessControl.h"
#include "ServiceFolder.h"
#include "TempFolder.h"
#include "TestHosts.h"
#include "TestPaths.h"
#include "TestProgram.h"
#include "Traffic.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tavrin::core::test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using ovlank::test::TestHosts;

inline const std::string kTavrinctl = std::string(tavrin::test::kBinDir) + "/tavrinctl";

// A program started by the test, its output in two files.
using Program = tavrin::test::TestProgram;

inline std::string section(const std::string& name, const std::string& lines) {
    return "[" + name + "]\n" + lines;
}

class RunTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_hosts.ready()) << m_hosts.problem(); }
    // A daemon the program left (a test that failed half-way, a frozen one) must not
    // outlive the test: it runs in a session of its own.
    void TearDown() override {
        std::vector<pid_t> pids = m_daemons;
        if (const pid_t pid = daemonPid(); pid > 0)
            pids.push_back(pid);
        for (pid_t pid : pids) {
            ::kill(pid, SIGKILL);
            ::kill(pid, SIGCONT);
        }
    }

    // The service record of the daemon, as the program keeps it.
    ServiceFolder::Record record() const {
        ServiceFolder::Record out;
        std::ifstream in(m_runtime / "services/Ovlank");
        const std::string text{std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>()};
        if (!parseServiceRecord(text, out))
            out = {};
        return out;
    }
    // The daemon process the record names, when it still runs; else 0.
    pid_t daemonPid() const {
        const ServiceFolder::Record r = record();
        return r.pid > 0 && processStartTime(r.pid) == r.startTime ? r.pid : 0;
    }
    // Waits until `done` holds; false when `limit` passed first.
    static bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
        const auto end = Clock::now() + limit;
        while (!done()) {
            if (Clock::now() >= end)
                return false;
            std::this_thread::sleep_for(50ms);
        }
        return true;
    }
    static size_t occurrences(const std::string& text, const std::string& part) {
        size_t n = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++n;
        return n;
    }
    // What is left of the daemon in host A: its chains, jumps and socket file.
    bool nothingLeft() const {
        return m_hosts.iptablesSaveA().find(chains()) == std::string::npos &&
               !std::filesystem::exists(m_runtime / "Ovlank");
    }

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
    std::vector<pid_t> m_daemons; // started by the test itself
    tavrin::test::TempFolder m_files;
    tavrin::test::TempFolder m_runtime;
    tavrin::test::TempFolder m_logs;
};

} // namespace tavrin::core::test
