// Tavrin as a user starts it: the real program on a real X server (Xvfb), its real
// daemon in a network namespace of the test's own, real settings files. What the
// window shows is read back from the X server.
#include "TempFolder.h"
#include "TestHosts.h"
#include "TestPaths.h"
#include "TestProgram.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tavrin::ui {
namespace {

using namespace std::chrono_literals;
using ovlank::test::runCommand;
using ovlank::test::TestHosts;
using tavrin::test::TestProgram;

const std::string kTavrin = std::string(tavrin::test::kBinDir) + "/Tavrin";

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool eventually(const std::function<bool()>& condition, std::chrono::seconds limit = 20s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (condition())
            return true;
        std::this_thread::sleep_for(100ms);
    }
    return condition();
}

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root for the daemon and namespaces";
        ASSERT_TRUE(m_hosts.ready()) << m_hosts.problem();
        m_display = ":" + std::to_string(200 + ::getpid() % 700);
        m_xvfb = std::make_unique<TestProgram>(
            std::vector<std::string>{"Xvfb", m_display, "-screen", "0", "1024x768x24", "-nolisten",
                                     "tcp"},
            m_logs.path());
        const std::string socket = "/tmp/.X11-unix/X" + m_display.substr(1);
        ASSERT_TRUE(eventually([&] { return exists(socket); }, 10s)) << m_xvfb->err();
        ::setenv("DISPLAY", m_display.c_str(), 1);
    }
    void TearDown() override {
        m_programs.clear();
        m_xvfb.reset();
    }

    std::string chains() const { return "GUI" + std::to_string(::getpid()); }
    std::string queue() const { return std::to_string(21000 + ::getpid() % 20000); }

    // Tavrin in host A on the test's display; `prefix` goes before the command
    // (another user, say).
    TestProgram& start(const std::vector<std::string>& prefix = {}) {
        std::vector<std::string> argv{"ip", "netns", "exec", m_hosts.nsA()};
        argv.insert(argv.end(), prefix.begin(), prefix.end());
        argv.insert(argv.end(), {kTavrin, "--dir", m_files.path(), "--runtime-dir",
                                 m_runtime.path(), "--queue", queue(), "--chains", chains()});
        m_programs.push_back(std::make_unique<TestProgram>(
            argv, m_logs.path(), std::vector<std::string>{"QT_QPA_PLATFORM=xcb"}));
        return *m_programs.back();
    }
    // Up: its window exists (the single-instance socket is made only then).
    bool up(TestProgram& program) {
        return eventually([&] { return exists(m_runtime / "Tavrin.sock") || !program.running(); },
                          30s) &&
               program.running();
    }
    // Top-level windows titled "Tavrin" that are mapped on the screen.
    std::vector<std::string> visibleWindows() {
        const auto result =
            runCommand({"xdotool", "search", "--onlyvisible", "--name", "^Tavrin$"});
        std::vector<std::string> ids;
        std::istringstream lines(result.output);
        for (std::string line; std::getline(lines, line);)
            if (!line.empty())
                ids.push_back(line);
        return ids;
    }
    bool daemonRuns() {
        const auto pids = runCommand({"ip", "netns", "pids", m_hosts.nsA()});
        std::istringstream list(pids.output);
        for (std::string pid; list >> pid;) {
            std::ifstream comm("/proc/" + pid + "/comm");
            std::string name;
            std::getline(comm, name);
            if (name == "Ovlank")
                return true;
        }
        return false;
    }
    bool chainsPresent() {
        return m_hosts.iptablesSaveA().find(chains() + "_") != std::string::npos;
    }

    TestHosts m_hosts{"gui"};
    tavrin::test::TempFolder m_files;
    tavrin::test::TempFolder m_runtime;
    tavrin::test::TempFolder m_logs;
    std::string m_display;
    std::unique_ptr<TestProgram> m_xvfb;
    std::vector<std::unique_ptr<TestProgram>> m_programs;
};

// A first start in an empty folder: the window shows, the settings file is made
// with its defaults, the daemon hooks the host. SIGTERM then leaves through the
// exit path: the options saved, no daemon, no chains, no socket left behind.
TEST_F(ProgramTest, StartsInAnEmptyFolderAndLeavesNothingBehindOnSigterm) {
    TestProgram& tavrin = start();
    ASSERT_TRUE(up(tavrin)) << tavrin.err();
    EXPECT_TRUE(eventually([&] { return visibleWindows().size() == 1; })) << tavrin.err();
    const std::string settings = m_files.read("Setting.ini");
    EXPECT_NE(settings.find("INI_FILE_VERSION=1300"), std::string::npos);
    EXPECT_TRUE(exists(m_files / "ExternalCommand.ini"));
    EXPECT_TRUE(daemonRuns());
    EXPECT_TRUE(chainsPresent());

    // The options-only save at the end writes the window's place over what the
    // file says meanwhile.
    const size_t at = settings.find("WINDOW_SIZE=");
    ASSERT_NE(at, std::string::npos);
    std::string changed = settings;
    changed.replace(at, settings.find('\n', at) - at, "WINDOW_SIZE=1,2,3,4");
    m_files.write("Setting.ini", changed);
    EXPECT_EQ(tavrin.terminate(SIGTERM), 0) << tavrin.err();
    EXPECT_EQ(m_files.read("Setting.ini").find("WINDOW_SIZE=1,2,3,4"), std::string::npos);
    EXPECT_TRUE(eventually([&] { return !daemonRuns(); }, 10s));
    EXPECT_FALSE(chainsPresent()) << m_hosts.iptablesSaveA();
    EXPECT_FALSE(exists(m_runtime / "Ovlank"));
    EXPECT_TRUE(visibleWindows().empty());
}

// Started minimised without a tray icon, the window never appears; a second start
// finds the first, brings its window back and ends at once.
TEST_F(ProgramTest, ASecondStartBringsBackTheWindowOfTheFirst) {
    m_files.write("Setting.ini", "[Common Settings]\nSTARTUP_MINIMIZE=TRUE\nNOICON=TRUE\n");
    TestProgram& first = start();
    ASSERT_TRUE(up(first)) << first.err();
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(visibleWindows().empty());

    TestProgram& second = start();
    EXPECT_EQ(second.wait(20s), 0) << second.err();
    EXPECT_TRUE(eventually([&] { return visibleWindows().size() == 1; }, 10s)) << first.err();
    EXPECT_TRUE(first.running());
    EXPECT_EQ(first.terminate(SIGTERM), 0) << first.err();
}

// Started by a user who is not root: the bring-up's message boxes, then a clean
// end with status 1 and no daemon.
TEST_F(ProgramTest, AUserWhoIsNotRootIsToldAndTheProgramEnds) {
    ::chmod(m_files.path().c_str(), 0777);
    TestProgram& tavrin = start({"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"});
    int boxes = 0;
    while (tavrin.running() && boxes < 5) {
        std::vector<std::string> windows;
        if (!eventually([&] { return !(windows = visibleWindows()).empty() || !tavrin.running(); },
                        20s))
            break;
        if (windows.empty())
            break;
        ++boxes;
        runCommand({"xdotool", "windowfocus", "--sync", windows.front(), "key", "Return"});
        std::this_thread::sleep_for(500ms);
    }
    EXPECT_GE(boxes, 1);
    EXPECT_EQ(tavrin.wait(20s), 1) << tavrin.err();
    EXPECT_FALSE(daemonRuns());
    EXPECT_FALSE(chainsPresent());
}

// Without a display there is nothing to show: one line on standard error and
// status 1, never a crash.
TEST_F(ProgramTest, WithoutADisplayItSaysSoAndEnds) {
    struct Case {
        std::vector<std::string> environment;
        const char* said;
    };
    const Case cases[] = {
        {{"-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM"}, "no display"},
        {{"-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM", "DISPLAY=:4097"},
         "the display cannot be used"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv{"env"};
        argv.insert(argv.end(), c.environment.begin(), c.environment.end());
        argv.insert(argv.end(),
                    {kTavrin, "--dir", m_files.path(), "--runtime-dir", m_runtime.path()});
        TestProgram tavrin(argv, m_logs.path());
        EXPECT_EQ(tavrin.wait(20s), 1) << tavrin.err();
        EXPECT_NE(tavrin.err().find(c.said), std::string::npos) << tavrin.err();
    }
    EXPECT_FALSE(daemonRuns());
}

// A bad command line is refused before anything starts.
TEST_F(ProgramTest, ABadCommandLineIsRefused) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--queue", "65536"},
                                                 {"--chains", "-bad"},
                                                 {"--runtime-dir", "relative"},
                                                 {"stray"}}) {
        std::vector<std::string> argv{kTavrin};
        argv.insert(argv.end(), args.begin(), args.end());
        TestProgram tavrin(argv, m_logs.path());
        EXPECT_EQ(tavrin.wait(20s), 2) << args.front() << ": " << tavrin.err();
        EXPECT_NE(tavrin.err().find("Tavrin: "), std::string::npos);
    }
    EXPECT_FALSE(daemonRuns());
}

} // namespace
} // namespace tavrin::ui
