// The service folder with real processes: a small stand-in daemon plays states the
// real one never shows (an early exit, no answer, SIGTERM ignored, another version).
#include "ServiceFolder.h"
#include "DriverBringUp.h"
#include "QueueFacility.h"
#include "RecordingMessages.h"
#include "SocketDevice.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tavrin::core {
namespace {

using Strings = std::vector<std::string>;
using namespace std::chrono_literals;

class ServiceFolderTest : public ::testing::Test {
protected:
    ServiceFolderTest() : m_services(m_root / "services", m_opener, {1500ms, 1000ms}) {}

    ServiceConfig config(Strings arguments = {}) const {
        return {STANDIN_DAEMON, m_root / "device", std::move(arguments)};
    }
    ServiceFolder::Record record(const std::string& name) const {
        ServiceFolder::Record out;
        parseServiceRecord(m_root.read("services/" + name), out);
        return out;
    }
    bool answers() {
        std::string error;
        auto link = m_opener.open(m_root / "device", error);
        std::array<uint8_t, 4> version{};
        return link && link->control(ovlank::GET_VERSION, {}, version).has_value();
    }

    tavrin::test::TempFolder m_root;
    SocketDeviceOpener m_opener{std::chrono::seconds(2)};
    ServiceFolder m_services;
};

TEST_F(ServiceFolderTest, AServiceIsCreatedStartedStoppedAndDeleted) {
    ASSERT_TRUE(m_services.openManager().ok());
    EXPECT_EQ(m_services.openService("standin").status, ScmStatus::NoSuchService);
    ASSERT_TRUE(m_services.createService("standin", config({"--version", "1300"})).ok());
    EXPECT_EQ(m_services.createService("standin", config()).status, ScmStatus::Exists);
    EXPECT_TRUE(m_services.openService("standin").ok());
    struct stat st {};
    ASSERT_EQ(::stat((m_root / "services").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    ASSERT_TRUE(m_services.startService("standin").ok()) << m_services.startService("standin").text;
    EXPECT_TRUE(answers());
    const ServiceFolder::Record running = record("standin");
    ASSERT_GT(running.pid, 0);
    EXPECT_EQ(running.config.arguments, (Strings{"--version", "1300"}));
    EXPECT_EQ(m_services.startService("standin").status, ScmStatus::AlreadyRunning);

    ASSERT_TRUE(m_services.stopService("standin").ok());
    EXPECT_NE(::kill(running.pid, 0), 0);
    EXPECT_FALSE(answers());
    EXPECT_EQ(record("standin").pid, 0);
    EXPECT_EQ(m_services.stopService("standin").status, ScmStatus::NotRunning);

    ASSERT_TRUE(m_services.deleteService("standin").ok());
    EXPECT_EQ(m_services.openService("standin").status, ScmStatus::NoSuchService);
    EXPECT_EQ(m_services.deleteService("standin").status, ScmStatus::NoSuchService);
    EXPECT_EQ(m_services.createService("../escape", config()).status, ScmStatus::Failed);
    EXPECT_EQ(m_services.createService("bad", {STANDIN_DAEMON, "/d\nx", {}}).status,
              ScmStatus::Failed);
}

TEST_F(ServiceFolderTest, AServiceThatDoesNotComeUpIsReportedAndLeavesNoProcess) {
    ASSERT_TRUE(m_services.createService("early", config({"--exit", "3"})).ok());
    ScmOutcome out = m_services.startService("early");
    EXPECT_EQ(out.status, ScmStatus::Failed);
    EXPECT_NE(out.text.find("exited with status 3"), std::string::npos) << out.text;
    EXPECT_NE(out.text.find("stand-in: told to exit"), std::string::npos) << out.text;
    EXPECT_EQ(record("early").pid, 0);

    ASSERT_TRUE(m_services.createService("mute", config({"--silent"})).ok());
    out = m_services.startService("mute");
    EXPECT_EQ(out.status, ScmStatus::Failed);
    EXPECT_NE(out.text.find("did not answer"), std::string::npos) << out.text;
    EXPECT_EQ(record("mute").pid, 0);

    ASSERT_TRUE(
        m_services.createService("missing", {m_root / "nothing", m_root / "device", {}}).ok());
    out = m_services.startService("missing");
    EXPECT_EQ(out.status, ScmStatus::Failed);
    EXPECT_NE(out.text.find("No such file"), std::string::npos) << out.text;

    // A device already served by someone else is not taken for ours.
    ASSERT_TRUE(m_services.createService("first", config()).ok());
    ASSERT_TRUE(m_services.createService("second", config()).ok());
    ASSERT_TRUE(m_services.startService("first").ok());
    out = m_services.startService("second");
    EXPECT_EQ(out.status, ScmStatus::Failed);
    EXPECT_NE(out.text.find("already served"), std::string::npos) << out.text;
    EXPECT_TRUE(m_services.stopService("first").ok());
}

TEST_F(ServiceFolderTest, ADaemonIgnoringSigtermIsKilled) {
    ASSERT_TRUE(m_services.createService("stubborn", config({"--ignore-term"})).ok());
    ASSERT_TRUE(m_services.startService("stubborn").ok());
    const pid_t pid = record("stubborn").pid;
    ASSERT_TRUE(m_services.stopService("stubborn").ok());
    EXPECT_NE(::kill(pid, 0), 0);
}

// The stand-in's clean-up runs note their command lines in one file.
class ServiceCleanupTest : public ServiceFolderTest {
protected:
    ServiceConfig withCleanup(Strings arguments = {}, const std::string& tag = "a") const {
        ServiceConfig out = config(std::move(arguments));
        out.cleanupArguments = {"--remove", "--note", m_root / "notes", "--chains", tag};
        return out;
    }
    // The clean-up runs since the last call, as the stand-in noted them.
    Strings takeNotes() {
        Strings out;
        std::ifstream in(m_root / "notes");
        for (std::string line; std::getline(in, line);)
            out.push_back(line);
        std::filesystem::remove(m_root / "notes");
        return out;
    }
    std::string note(const std::string& tag = "a") const {
        return "--remove --note " + (m_root / "notes") + " --chains " + tag + " --device " +
               (m_root / "device");
    }
};

TEST_F(ServiceCleanupTest, AProcessThatEndedWithoutItsOwnCleanUpIsClearedUpAfter) {
    ASSERT_TRUE(m_services.createService("d", withCleanup()).ok());
    // Ended by SIGTERM: it cleared up itself.
    ASSERT_TRUE(m_services.startService("d").ok());
    ASSERT_TRUE(m_services.stopService("d").ok());
    EXPECT_TRUE(takeNotes().empty());

    // Killed by someone (a crash): the stop finds it gone and clears up, once.
    ASSERT_TRUE(m_services.startService("d").ok());
    ServiceState state = ServiceState::Stopped;
    ASSERT_TRUE(m_services.queryServiceStatus("d", state).ok());
    EXPECT_EQ(state, ServiceState::Running);
    const pid_t pid = record("d").pid;
    ASSERT_EQ(::kill(pid, SIGSTOP), 0);
    for (int i = 0; i < 100 && state != ServiceState::Paused; ++i) {
        std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(m_services.queryServiceStatus("d", state).ok());
    }
    EXPECT_EQ(state, ServiceState::Paused);
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    for (int i = 0; i < 100 && state != ServiceState::Stopped; ++i) {
        std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(m_services.queryServiceStatus("d", state).ok());
    }
    EXPECT_EQ(state, ServiceState::Stopped);
    EXPECT_EQ(m_services.stopService("d").status, ScmStatus::NotRunning);
    EXPECT_EQ(takeNotes(), (Strings{note()}));
    EXPECT_EQ(m_services.stopService("d").status, ScmStatus::NotRunning);
    EXPECT_TRUE(takeNotes().empty());

    // Killed, and started again without a stop in between: cleared up first.
    ASSERT_TRUE(m_services.startService("d").ok());
    ASSERT_EQ(::kill(record("d").pid, SIGKILL), 0);
    ::waitpid(record("d").pid, nullptr, 0);
    ASSERT_TRUE(m_services.startService("d").ok());
    EXPECT_EQ(takeNotes(), (Strings{note()}));
    ASSERT_TRUE(m_services.stopService("d").ok());

    // Frozen when it is stopped: continued, it ends on SIGTERM and clears up itself.
    ASSERT_TRUE(m_services.startService("d").ok());
    ASSERT_EQ(::kill(record("d").pid, SIGSTOP), 0);
    ASSERT_TRUE(m_services.stopService("d").ok());
    EXPECT_TRUE(takeNotes().empty());

    // Killed by the stop itself because it ignored SIGTERM.
    ASSERT_TRUE(m_services.createService("stubborn", withCleanup({"--ignore-term"})).ok());
    ASSERT_TRUE(m_services.startService("stubborn").ok());
    ASSERT_TRUE(m_services.stopService("stubborn").ok());
    EXPECT_EQ(takeNotes(), (Strings{note()}));

    // Ended during its start, or never answered and was killed.
    for (Strings arguments : {Strings{"--exit", "3"}, Strings{"--silent"}}) {
        ASSERT_TRUE(m_services.deleteService("d").ok());
        ASSERT_TRUE(m_services.createService("d", withCleanup(arguments)).ok());
        EXPECT_EQ(m_services.startService("d").status, ScmStatus::Failed);
        EXPECT_EQ(takeNotes(), (Strings{note()})) << arguments[0];
    }
}

TEST_F(ServiceCleanupTest, ARecordLeftByAnotherRunTakesThisRunsConfiguration) {
    ASSERT_TRUE(m_services.createService("d", withCleanup({"--queue", "4999"}, "OLD")).ok());
    ASSERT_TRUE(m_services.startService("d").ok());
    const pid_t old = record("d").pid;

    // While its process runs it keeps its configuration, and the answer names it.
    const ServiceConfig mine = withCleanup({"--queue", "4744"}, "AUDX");
    ScmOutcome out = m_services.changeServiceConfig("d", mine);
    EXPECT_EQ(out.status, ScmStatus::AlreadyRunning);
    EXPECT_EQ(out.text, "pid " + std::to_string(old) + ": " + STANDIN_DAEMON + " --device " +
                            (m_root / "device") + " --queue 4999");
    ServiceConfig stored;
    ASSERT_TRUE(m_services.queryServiceConfig("d", stored).ok());
    EXPECT_EQ(stored.arguments, (Strings{"--queue", "4999"}));
    // The same configuration is no change at all.
    EXPECT_TRUE(m_services.changeServiceConfig("d", stored).ok());

    // Killed with its program: its leftovers are cleared up under its own names,
    // then the record is this run's and the next start uses it.
    ASSERT_EQ(::kill(old, SIGKILL), 0);
    ::waitpid(old, nullptr, 0);
    ASSERT_TRUE(m_services.changeServiceConfig("d", mine).ok());
    EXPECT_EQ(takeNotes(), (Strings{note("OLD")}));
    ASSERT_TRUE(m_services.queryServiceConfig("d", stored).ok());
    EXPECT_EQ(stored, mine);
    EXPECT_EQ(record("d").pid, 0);
    ASSERT_TRUE(m_services.startService("d").ok());
    EXPECT_EQ(record("d").config.arguments, (Strings{"--queue", "4744"}));
    std::ifstream cmdline("/proc/" + std::to_string(record("d").pid) + "/cmdline");
    std::string line((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
    EXPECT_NE(line.find(std::string("--queue") + '\0' + "4744"), std::string::npos);
    ASSERT_TRUE(m_services.stopService("d").ok());
    EXPECT_TRUE(takeNotes().empty());

    EXPECT_EQ(m_services.changeServiceConfig("none", mine).status, ScmStatus::NoSuchService);
    EXPECT_EQ(m_services.changeServiceConfig("d", {STANDIN_DAEMON, "/d\nx", {}}).status,
              ScmStatus::Failed);
}

TEST_F(ServiceFolderTest, AnotherProcessHoldingTheFolderLocksTheDatabase) {
    ASSERT_TRUE(m_services.createService("standin", config()).ok());
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        const int fd = ::open((m_root / "services").c_str(), O_RDONLY | O_DIRECTORY);
        if (::flock(fd, LOCK_EX) != 0 || ::write(ready[1], "x", 1) != 1)
            ::_exit(1);
        ::pause();
        ::_exit(0);
    }
    char c;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    EXPECT_EQ(m_services.startService("standin").status, ScmStatus::DatabaseLocked);
    EXPECT_EQ(m_services.stopService("standin").status, ScmStatus::DatabaseLocked);
    EXPECT_EQ(m_services.deleteService("standin").status, ScmStatus::DatabaseLocked);
    EXPECT_EQ(m_services.createService("other", config()).status, ScmStatus::DatabaseLocked);
    EXPECT_TRUE(m_services.openService("standin").ok());
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_TRUE(m_services.deleteService("standin").ok());
}

TEST_F(ServiceFolderTest, PlantedLinksAndOtherUsersAreRefused) {
    ASSERT_TRUE(m_services.openManager().ok());
    ASSERT_EQ(::symlink("/etc/passwd", (m_root / "services/planted").c_str()), 0);
    EXPECT_EQ(m_services.openService("planted").status, ScmStatus::Failed);
    EXPECT_EQ(m_services.startService("planted").status, ScmStatus::Failed);
    EXPECT_EQ(m_services.createService("planted", config()).status, ScmStatus::Exists);

    ASSERT_EQ(::symlink((m_root / "services").c_str(), (m_root / "linked").c_str()), 0);
    ServiceFolder viaLink(m_root / "linked", m_opener);
    const ScmOutcome refused = viaLink.openManager();
    EXPECT_EQ(refused.status, ScmStatus::AccessDenied);
    EXPECT_NE(refused.text.find(m_root / "linked"), std::string::npos) << refused.text;

    // Without root the manager cannot be opened at all, and rights are the only reason.
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setresuid(65534, 65534, 65534) != 0)
            ::_exit(2);
        ServiceFolder asNobody(m_root / "services", m_opener);
        const ScmOutcome out = asNobody.openManager();
        ::_exit(out.status == ScmStatus::AccessDenied && out.text.empty() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(QueueFacility, ChecksQueueingAndIptablesForReal) {
    QueueFacility facility;
    ScmOutcome out = facility.start();
    EXPECT_TRUE(out.ok()) << out.text;
    std::string error;
    auto device = facility.open("/run/tavrin/IpFilterDriver", error);
    ASSERT_NE(device, nullptr) << error;
    std::array<uint8_t, 4> buffer{};
    auto reply = device->control(ovlank::GET_VERSION, {}, buffer);
    ASSERT_TRUE(reply.has_value());
    EXPECT_FALSE(ovlank::ntSuccess(reply->status));

    QueueFacility noQueue({"/nonexistent/nfnetlink_queue", "false", "iptables"});
    out = noQueue.start();
    EXPECT_EQ(out.status, ScmStatus::Failed);
    EXPECT_NE(out.text.find("modprobe nfnetlink_queue exited with status 1"), std::string::npos)
        << out.text;
    EXPECT_EQ(noQueue.open("x", error), nullptr);

    QueueFacility noIptables({"/proc/net/netfilter/nfnetlink_queue", "false", "no-such-iptables"});
    out = noIptables.start();
    EXPECT_EQ(out.status, ScmStatus::Failed);
    EXPECT_NE(out.text.find("iptables is not usable"), std::string::npos) << out.text;
}

// The bring-up against real processes under the real service folder.
class RealBringUpTest : public ::testing::Test {
protected:
    RealBringUpTest() : m_services(m_root / "services", m_opener, {3000ms, 2000ms}) {
        m_services.addSystemService(kIpFilterDriverName, m_facility);
        EXPECT_EQ(::symlink(STANDIN_DAEMON, (m_program / "Ovlank").c_str()), 0);
        tavrin::test::enter(m_root.path());
    }
    bool bringUp(Strings arguments) {
        DriverServiceSetup ipSetup{m_services, m_facility, m_messages, m_root.path() + "/", "", {}};
        DriverServiceSetup ovSetup{m_services,          m_opener,         m_messages,
                                   m_root.path() + "/", m_program.path(), std::move(arguments)};
        m_ipFilter = std::make_unique<DriverService>(ipSetup);
        m_ovlank = std::make_unique<DriverService>(ovSetup);
        return bringUpDrivers(*m_ipFilter, *m_ovlank, m_messages, {false, m_program.path()});
    }
    void end() {
        m_ovlank.reset();
        m_ipFilter.reset();
    }

    tavrin::test::CurrentFolderGuard m_guard;
    tavrin::test::TempFolder m_root;
    tavrin::test::TempFolder m_program;
    SocketDeviceOpener m_opener{std::chrono::seconds(2)};
    QueueFacility m_facility;
    ServiceFolder m_services;
    tavrin::test::RecordingMessages m_messages;
    std::unique_ptr<DriverService> m_ipFilter;
    std::unique_ptr<DriverService> m_ovlank;
};

TEST_F(RealBringUpTest, TheDaemonIsStartedResetAndAtTheEndStoppedAndDeleted) {
    ASSERT_TRUE(bringUp({"--record", m_root / "requests"}))
        << ::testing::PrintToString(m_messages.texts());
    EXPECT_TRUE(m_messages.texts().empty());
    // The service folder's readiness probe, then the bring-up's own requests.
    EXPECT_EQ(m_root.read("requests"),
              "GET_VERSION 0\nGET_VERSION 0\nSTOP_IP_HOOK 0\nCLEAR_FILTER 0\nSTOP_FILTERING 0\n");
    ServiceFolder::Record running;
    ASSERT_TRUE(parseServiceRecord(m_root.read("services/Ovlank"), running));
    EXPECT_EQ(running.config.executable, m_program / "Ovlank");
    EXPECT_EQ(running.config.devicePath, m_root / "Ovlank");
    end();
    EXPECT_NE(::kill(running.pid, 0), 0);
    EXPECT_NE(::access((m_root / "services/Ovlank").c_str(), F_OK), 0);
}

TEST_F(RealBringUpTest, ADaemonOfAnotherVersionIsRefusedAndRemoved) {
    EXPECT_FALSE(bringUp({"--version", "1299"}));
    EXPECT_EQ(
        m_messages.texts(),
        (Strings{
            "Ovlank.sysが正しくインストールされていません。\n"
            "前バージョンをアンインストールしてからTavrinをインストールし直してみてください。"}));
    ServiceFolder::Record running;
    ASSERT_TRUE(parseServiceRecord(m_root.read("services/Ovlank"), running));
    end();
    EXPECT_NE(::kill(running.pid, 0), 0);
    EXPECT_NE(::access((m_root / "services/Ovlank").c_str(), F_OK), 0);
}

TEST_F(RealBringUpTest, ADaemonThatEndsAtOnceIsTriedTwiceThenReported) {
    EXPECT_FALSE(bringUp({"--exit", "5"}));
    const Strings texts = m_messages.texts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_NE(texts[0].find("exited with status 5"), std::string::npos) << texts[0];
    EXPECT_EQ(texts[2],
              "Ovlank.sysの初期化に失敗しました。\nReturn code : -14\nTavrinを終了します。");
    EXPECT_NE(::access((m_root / "services/Ovlank").c_str(), F_OK), 0);
}

} // namespace
} // namespace tavrin::core
