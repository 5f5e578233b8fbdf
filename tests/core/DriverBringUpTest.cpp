#include "DriverBringUp.h"

#include "RecordingMessages.h"
#include "ScriptedSystem.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tavrin::core {
namespace {

using Strings = std::vector<std::string>;
using test::ScriptedDevice;

constexpr char kVersionMessage[] =
    "Ovlank.sysが正しくインストールされていません。\n"
    "前バージョンをアンインストールしてからTavrinをインストールし直してみてください。";

std::vector<uint32_t> codes(const ScriptedDevice& device) {
    std::vector<uint32_t> out;
    for (const auto& r : device.requests())
        out.push_back(r.code);
    return out;
}

long count(const Strings& calls, const std::string& call) {
    return std::count(calls.begin(), calls.end(), call);
}

class DriverBringUpTest : public ::testing::Test {
protected:
    DriverBringUpTest() {
        m_program.write("Ovlank", "#!/bin/sh\n");
        tavrin::test::enter(m_current.path());
    }
    bool bringUp(bool keep = false) {
        DriverServiceSetup ipSetup{m_ipManager, m_ipOpener, m_messages, "/run/t/", "", {}};
        DriverServiceSetup ovSetup{m_manager, m_opener,         m_messages,
                                   "/run/t/", m_program.path(), {}};
        m_ipFilter = std::make_unique<DriverService>(ipSetup);
        m_ovlank = std::make_unique<DriverService>(ovSetup);
        return bringUpDrivers(*m_ipFilter, *m_ovlank, m_messages, {keep, m_program.path()});
    }

    tavrin::test::CurrentFolderGuard m_guard;
    tavrin::test::TempFolder m_current;
    tavrin::test::TempFolder m_program;
    tavrin::test::RecordingMessages m_messages;
    test::ScriptedManager m_ipManager;
    test::ScriptedManager m_manager;
    test::ScriptedOpener m_ipOpener;
    test::ScriptedOpener m_opener;
    std::unique_ptr<DriverService> m_ipFilter;
    std::unique_ptr<DriverService> m_ovlank;
};

TEST_F(DriverBringUpTest, StartsBothServicesChecksTheVersionAndResetsTheDaemon) {
    ASSERT_TRUE(bringUp());
    EXPECT_TRUE(m_messages.texts().empty());
    // The daemon is not in the starting folder, so the program's own folder is current.
    EXPECT_EQ(tavrin::test::currentFolder(), m_program.path());
    EXPECT_EQ(m_ipManager.calls(),
              (Strings{"openManager", "create IpFilterDriver", "openManager", "open IpFilterDriver",
                       "change IpFilterDriver", "start IpFilterDriver"}));
    EXPECT_EQ(m_ipManager.lastConfig().executable, kIpFilterDriverFile);
    EXPECT_EQ(m_manager.lastConfig().executable, m_program / "Ovlank");
    EXPECT_EQ(m_manager.lastConfig().devicePath, "/run/t/Ovlank");
    EXPECT_EQ(codes(m_opener.device()),
              (std::vector<uint32_t>{ovlank::GET_VERSION, ovlank::STOP_IP_HOOK,
                                     ovlank::CLEAR_FILTER, ovlank::STOP_FILTERING}));
    EXPECT_EQ(m_opener.device().requests()[0].outputSize, 4u);

    // Leaving stops and deletes the daemon's service but not the system's.
    m_manager.clearCalls();
    m_ipManager.clearCalls();
    m_ovlank.reset();
    m_ipFilter.reset();
    EXPECT_EQ(count(m_manager.calls(), "stop Ovlank"), 1);
    EXPECT_EQ(count(m_manager.calls(), "delete Ovlank"), 1);
    EXPECT_TRUE(m_ipManager.calls().empty());
}

TEST_F(DriverBringUpTest, TheFolderIsKeptWhenTheDaemonIsThereOrWhenAsked) {
    m_current.write("Ovlank", "#!/bin/sh\n");
    ASSERT_TRUE(bringUp());
    EXPECT_EQ(tavrin::test::currentFolder(), m_current.path());
    EXPECT_EQ(m_manager.lastConfig().executable, m_current / "Ovlank");

    tavrin::test::TempFolder empty;
    tavrin::test::enter(empty.path());
    ASSERT_TRUE(bringUp(true));
    EXPECT_EQ(tavrin::test::currentFolder(), empty.path());
    EXPECT_EQ(m_manager.lastConfig().executable, m_program / "Ovlank");
}

TEST_F(DriverBringUpTest, WithoutRootBothMessagesAreShownAndTheDaemonIsNotTouched) {
    m_ipManager.script("openManager", ScmStatus::AccessDenied);
    EXPECT_FALSE(bringUp());
    EXPECT_EQ(
        m_messages.texts(),
        (Strings{"TavrinはAdministrator権限で実行する必要があります。",
                 "IpFltDrv.sysの初期化に失敗しました。\nReturn code : -1\nTavrinを終了します。"}));
    EXPECT_TRUE(m_manager.calls().empty());

    // Root, but a run-time folder the manager cannot trust: its reason comes first.
    m_messages.clear();
    m_ipManager.script("openManager", ScmStatus::AccessDenied,
                       "/run/t/services: writable by others");
    EXPECT_FALSE(bringUp());
    EXPECT_EQ(
        m_messages.texts(),
        (Strings{"/run/t/services: writable by others",
                 "TavrinはAdministrator権限で実行する必要があります。",
                 "IpFltDrv.sysの初期化に失敗しました。\nReturn code : -1\nTavrinを終了します。"}));
}

TEST_F(DriverBringUpTest, ALockedDatabaseIsRetriedWithAFreshStartEachTime) {
    for (int i = 0; i < 3; ++i)
        m_ipManager.script("start", ScmStatus::DatabaseLocked);
    ASSERT_TRUE(bringUp());
    EXPECT_EQ(count(m_ipManager.calls(), "start IpFilterDriver"), 4);
    EXPECT_TRUE(m_messages.texts().empty());
}

TEST_F(DriverBringUpTest, ALockThatNeverEndsGivesUpAfterTheLastRetry) {
    for (int i = 0; i < kLockedRetries + 1; ++i)
        m_ipManager.script("start", ScmStatus::DatabaseLocked);
    m_ipManager.script("start", ScmStatus::Ok); // never reached
    EXPECT_FALSE(bringUp());
    EXPECT_EQ(count(m_ipManager.calls(), "start IpFilterDriver"), kLockedRetries + 1);
    EXPECT_EQ(
        m_messages.texts(),
        (Strings{"IpFltDrv.sysの初期化に失敗しました。\nReturn code : -15\nTavrinを終了します。"}));
}

TEST_F(DriverBringUpTest, ADaemonThatWouldNotStartIsRegisteredAfreshOnce) {
    m_manager.script("start", ScmStatus::Failed, "first start failed");
    ASSERT_TRUE(bringUp());
    EXPECT_EQ(count(m_manager.calls(), "create Ovlank"), 2);
    EXPECT_EQ(m_messages.texts(), (Strings{"first start failed"}));

    m_messages.clear();
    m_manager.script("start", ScmStatus::Failed, "first");
    m_manager.script("start", ScmStatus::Failed, "second");
    EXPECT_FALSE(bringUp());
    EXPECT_EQ(
        m_messages.texts(),
        (Strings{"first", "second",
                 "Ovlank.sysの初期化に失敗しました。\nReturn code : -14\nTavrinを終了します。"}));
}

TEST_F(DriverBringUpTest, AMissingDaemonFileEndsWithMinusFour) {
    tavrin::test::TempFolder elsewhere;
    tavrin::test::enter(m_current.path());
    DriverServiceSetup ipSetup{m_ipManager, m_ipOpener, m_messages, "/run/t/", "", {}};
    DriverServiceSetup ovSetup{m_manager, m_opener, m_messages, "/run/t/", elsewhere.path(), {}};
    DriverService ipFilter(ipSetup);
    DriverService ovlankService(ovSetup);
    EXPECT_FALSE(bringUpDrivers(ipFilter, ovlankService, m_messages, {false, elsewhere.path()}));
    EXPECT_EQ(
        m_messages.texts(),
        (Strings{"Ovlank.sysの初期化に失敗しました。\nReturn code : -4\nTavrinを終了します。"}));
    EXPECT_TRUE(m_manager.calls().empty());
}

TEST_F(DriverBringUpTest, AnotherVersionOrAFailedVersionRequestIsRefused) {
    m_opener.device().script(ovlank::GET_VERSION,
                             {true, ovlank::STATUS_SUCCESS, {0x13, 0x05, 0, 0}});
    EXPECT_FALSE(bringUp());
    EXPECT_EQ(m_messages.texts(), (Strings{kVersionMessage}));
    EXPECT_EQ(codes(m_opener.device()), (std::vector<uint32_t>{ovlank::GET_VERSION}));

    m_messages.clear();
    m_opener.device().script(ovlank::GET_VERSION, {true, ovlank::STATUS_INVALID_PARAMETER, {}});
    EXPECT_FALSE(bringUp());
    EXPECT_EQ(m_messages.texts(), (Strings{kVersionMessage}));

    // A reply too short to hold a version leaves the preset 0.
    m_messages.clear();
    m_opener.device().script(ovlank::GET_VERSION, {true, ovlank::STATUS_SUCCESS, {0x14, 0x05}});
    EXPECT_FALSE(bringUp());
    EXPECT_EQ(m_messages.texts(), (Strings{kVersionMessage}));
}

TEST_F(DriverBringUpTest, AFailedResetNamesTheRequest) {
    m_opener.device().script(ovlank::STOP_IP_HOOK, {true, ovlank::STATUS_UNSUCCESSFUL, {}});
    EXPECT_FALSE(bringUp());
    EXPECT_EQ(m_messages.texts(), (Strings{"FAILED: DeviceIoControl STOP_IP_HOOK"}));

    m_messages.clear();
    m_opener.device().script(ovlank::CLEAR_FILTER, {false, ovlank::STATUS_SUCCESS, {}});
    EXPECT_FALSE(bringUp());
    EXPECT_EQ(m_messages.texts(), (Strings{"FAILED: DeviceIoControl CLEAR_FILTER"}));

    m_messages.clear();
    m_opener.device().script(ovlank::STOP_FILTERING, {true, ovlank::STATUS_UNSUCCESSFUL, {}});
    EXPECT_FALSE(bringUp());
    EXPECT_EQ(m_messages.texts(), (Strings{"FAILED: DeviceIoControl STOP_FILTERING"}));
}

} // namespace
} // namespace tavrin::core
