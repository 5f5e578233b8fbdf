#include "DriverService.h"

#include "RecordingMessages.h"
#include "ScriptedSystem.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace tavrin::core {
namespace {

using tavrin::test::TempFolder;
using test::ScriptedDevice;
using test::ScriptedManager;
using test::ScriptedOpener;
using Strings = std::vector<std::string>;

class DriverServiceTest : public ::testing::Test {
protected:
    DriverServiceSetup setup() {
        return {m_manager,           m_opener,        m_messages,
                "/run/tavrin-test/", m_system.path(), {"--queue", "7"}};
    }
    void placeDaemon(const TempFolder& folder) const { folder.write("Ovlank", "#!/bin/sh\n"); }

    ScriptedManager m_manager;
    ScriptedOpener m_opener;
    tavrin::test::RecordingMessages m_messages;
    TempFolder m_current;
    TempFolder m_system;
    tavrin::test::CurrentFolderGuard m_guard;
};

TEST_F(DriverServiceTest, InitializeLooksForTheDriverFileHereThenInTheSystemFolder) {
    tavrin::test::enter(m_current.path());
    DriverService service(setup());

    EXPECT_EQ(service.Initialize("Ovlank", {}, {}), kServiceNoDriverFile);
    EXPECT_FALSE(service.initialized());

    // A folder of that name is no driver file.
    ASSERT_EQ(::mkdir((m_current / "Ovlank").c_str(), 0700), 0);
    EXPECT_EQ(service.Initialize("Ovlank", {}, {}), kServiceNoDriverFile);

    placeDaemon(m_system);
    ASSERT_EQ(service.Initialize("Ovlank", {}, {}), kServiceOk);
    EXPECT_EQ(service.driverFilePath(), m_system / "Ovlank");

    ASSERT_EQ(::rmdir((m_current / "Ovlank").c_str()), 0);
    placeDaemon(m_current);
    ASSERT_EQ(service.Initialize("Ovlank", {}, {}), kServiceOk);
    EXPECT_EQ(service.driverFilePath(), tavrin::test::currentFolder() + "/Ovlank");

    // A given file path is taken as it stands, existing or not.
    ASSERT_EQ(service.Initialize("IpFilterDriver", "nowhere/IpFltDrv", {}), kServiceOk);
    EXPECT_EQ(service.driverFilePath(), "nowhere/IpFltDrv");
    EXPECT_EQ(service.serviceName(), "IpFilterDriver");
    EXPECT_TRUE(m_manager.calls().empty());
}

TEST_F(DriverServiceTest, DevicePathIsBuiltFromTheNameUnlessItIsAPath) {
    DriverService service(setup());
    const std::pair<const char*, const char*> cases[] = {
        {"", "/run/tavrin-test/Ovlank"},
        {"Other", "/run/tavrin-test/Other"},
        {"/tmp/dev", "/tmp/dev"},
        {"./dev", "./dev"},
        {"a/b", "a/b"},
        {"ab/c", "/run/tavrin-test/ab/c"},
    };
    for (const auto& [given, expected] : cases) {
        ASSERT_EQ(service.Initialize("Ovlank", "/x/Ovlank", given), kServiceOk) << given;
        EXPECT_EQ(service.devicePath(), expected) << given;
    }
}

TEST_F(DriverServiceTest, InstallRegistersTheServiceOnceAndStartsWhenAsked) {
    DriverService service(setup());
    EXPECT_EQ(service.Install(true, true), kServiceNotInitialized);
    EXPECT_TRUE(m_manager.calls().empty());

    ASSERT_EQ(service.Initialize("Ovlank", "/opt/Ovlank", {}), kServiceOk);
    m_manager.script("openManager", ScmStatus::AccessDenied);
    EXPECT_EQ(service.Install(true, true), kServiceNoManager);
    EXPECT_FALSE(service.installed());

    m_manager.script("create", ScmStatus::Failed);
    m_manager.script("open", ScmStatus::NoSuchService);
    EXPECT_EQ(service.Install(false, true), kServiceNoService);

    // An existing registration is opened instead of created.
    m_manager.clearCalls();
    m_manager.script("create", ScmStatus::Exists);
    EXPECT_EQ(service.Install(false, true), kServiceOk);
    EXPECT_EQ(m_manager.calls(), (Strings{"openManager", "create Ovlank", "open Ovlank"}));
    EXPECT_EQ(m_manager.lastConfig().executable, "/opt/Ovlank");
    EXPECT_EQ(m_manager.lastConfig().devicePath, "/run/tavrin-test/Ovlank");
    EXPECT_EQ(m_manager.lastConfig().arguments, (Strings{"--queue", "7"}));

    // Installed: nothing more without a start; with one, the start is attempted.
    m_manager.clearCalls();
    EXPECT_EQ(service.Install(false, true), kServiceOk);
    EXPECT_TRUE(m_manager.calls().empty());
    EXPECT_EQ(service.Install(true, true), kServiceOk);
    EXPECT_EQ(m_manager.calls(),
              (Strings{"openManager", "open Ovlank", "change Ovlank", "start Ovlank"}));
    EXPECT_TRUE(service.started());
    EXPECT_TRUE(service.deviceOpen());
}

TEST_F(DriverServiceTest, AStartRunsThisRunsConfigurationOrNamesTheDaemonThatRunsAnother) {
    DriverService service({m_manager,
                           m_opener,
                           m_messages,
                           "/run/tavrin-test/",
                           m_system.path(),
                           {"--chains", "AUDX"},
                           {"--remove", "--chains", "AUDX"}});
    // A record left by a killed run is registered already; the start makes it this
    // run's before it starts anything.
    m_manager.script("create", ScmStatus::Exists);
    ASSERT_EQ(service.Open("Ovlank", "/opt/Ovlank", {}, true, true), kServiceOk);
    EXPECT_EQ(m_manager.calls(),
              (Strings{"openManager", "create Ovlank", "open Ovlank", "openManager", "open Ovlank",
                       "change Ovlank", "start Ovlank"}));
    ServiceConfig config;
    ASSERT_EQ(service.QueryConfig(config), kServiceOk);
    EXPECT_EQ(config, (ServiceConfig{"/opt/Ovlank",
                                     "/run/tavrin-test/Ovlank",
                                     {"--chains", "AUDX"},
                                     {"--remove", "--chains", "AUDX"}}));
    EXPECT_TRUE(m_messages.texts().empty());

    // A daemon that still runs with the old record is used as it is, and named.
    struct Case {
        ScmStatus change;
        std::string text;
        int result;
        Strings shown;
    };
    const Case cases[] = {
        {ScmStatus::AlreadyRunning,
         "pid 42: /old/Ovlank --device /run/tavrin-test/Ovlank --chains OLD",
         kServiceOk,
         {"起動済みのOvlankが別の引数で動作しています。このOvlankをそのまま使います。\n"
          "pid 42: /old/Ovlank --device /run/tavrin-test/Ovlank --chains OLD"}},
        {ScmStatus::Failed,
         "/run/t/services/Ovlank: No space left",
         kServiceOk,
         {"/run/t/services/Ovlank: No space left"}},
        {ScmStatus::DatabaseLocked, "", kServiceDatabaseLocked, {}},
    };
    for (const Case& c : cases) {
        m_messages.clear();
        ASSERT_EQ(service.Stop(), kServiceOk);
        m_manager.script("change", c.change, c.text);
        EXPECT_EQ(service.Start(), c.result) << c.text;
        EXPECT_EQ(m_messages.texts(), c.shown);
    }

    // Quiet: the failure is kept for whoever reports it, not shown.
    m_messages.clear();
    ASSERT_EQ(service.Stop(), kServiceOk);
    service.setQuiet(true);
    m_manager.script("start", ScmStatus::Failed, "Ovlank exited with status 1");
    EXPECT_EQ(service.Start(), kServiceNotStartedDeleted);
    EXPECT_TRUE(m_messages.texts().empty());
    EXPECT_EQ(service.lastFailure(), "Ovlank exited with status 1");
    service.setQuiet(false);
    m_manager.state = ServiceState::Paused;
    ServiceState state = ServiceState::Stopped;
    EXPECT_EQ(service.QueryStatus(state), kServiceOk);
    EXPECT_EQ(state, ServiceState::Paused);
}

TEST_F(DriverServiceTest, StartMapsEveryOutcomeToItsResultCode) {
    {
        DriverService service(setup());
        m_manager.script("start", ScmStatus::AlreadyRunning);
        EXPECT_EQ(service.Open("Ovlank", "/opt/Ovlank", {}, true, true), kServiceOk);
        EXPECT_TRUE(service.deviceOpen());
        m_manager.clearCalls();
        EXPECT_EQ(service.Start(), kServiceOk); // started already: nothing asked
        EXPECT_TRUE(m_manager.calls().empty());
    }
    {
        DriverService service(setup());
        m_manager.script("start", ScmStatus::DatabaseLocked);
        EXPECT_EQ(service.Open("Ovlank", "/opt/Ovlank", {}, true, true), kServiceDatabaseLocked);
        EXPECT_TRUE(service.installed());
        EXPECT_FALSE(service.started());
        EXPECT_TRUE(m_messages.texts().empty());
    }
    {
        DriverService service(setup());
        m_manager.clearCalls();
        m_manager.script("start", ScmStatus::Failed, "Ovlank exited with status 1");
        EXPECT_EQ(service.Open("Ovlank", "/opt/Ovlank", {}, true, true), kServiceNotStartedDeleted);
        EXPECT_EQ(m_messages.texts(), (Strings{"Ovlank exited with status 1"}));
        EXPECT_EQ(m_manager.calls().back(), "delete Ovlank");
        EXPECT_FALSE(service.installed());
    }
    {
        DriverService service(setup());
        m_manager.clearCalls();
        m_manager.script("start", ScmStatus::Failed, "no");
        EXPECT_EQ(service.Open("Ovlank", "/opt/Ovlank", {}, true, false), kServiceNotStarted);
        EXPECT_EQ(m_manager.calls().back(), "start Ovlank");
        EXPECT_TRUE(service.installed());
    }
    {
        DriverService service(setup());
        m_manager.script("start", ScmStatus::Failed, "no");
        m_manager.script("delete", ScmStatus::Failed);
        EXPECT_EQ(service.Open("Ovlank", "/opt/Ovlank", {}, true, true), kServiceDeleteFailed);
    }
}

TEST_F(DriverServiceTest, AnUnopenableDeviceIsReportedWithItsPath) {
    DriverService service(setup());
    m_opener.failNext(1);
    EXPECT_EQ(service.Open("Ovlank", "/opt/Ovlank", {}, true, true), kServiceNoDevice);
    EXPECT_EQ(m_messages.texts(),
              (Strings{"/run/tavrin-test/Ovlank のオープンに失敗", "No such file or directory"}));
    EXPECT_EQ(m_opener.paths(), (Strings{"/run/tavrin-test/Ovlank"}));
    EXPECT_TRUE(service.started());
    EXPECT_EQ(service.OpenDevice(), kServiceOk);
}

TEST_F(DriverServiceTest, StopRemoveAndCloseLetTheServiceGo) {
    DriverService service(setup());
    EXPECT_EQ(service.Stop(), kServiceOk); // not started: nothing to do
    EXPECT_TRUE(m_manager.calls().empty());

    ASSERT_EQ(service.Open("Ovlank", "/opt/Ovlank", {}, true, true), kServiceOk);
    m_manager.script("stop", ScmStatus::Failed);
    EXPECT_EQ(service.Stop(), kServiceStopFailed);
    EXPECT_TRUE(service.started());

    // A failed stop keeps everything unless forced.
    m_manager.script("stop", ScmStatus::Failed);
    EXPECT_EQ(service.Remove(false), kServiceStopFailed);
    EXPECT_TRUE(service.initialized());
    EXPECT_EQ(service.serviceName(), "Ovlank");

    // A daemon that ended on its own counts as stopped and is deleted.
    m_manager.clearCalls();
    m_manager.script("stop", ScmStatus::NotRunning);
    service.Close();
    EXPECT_EQ(m_manager.calls(), (Strings{"openManager", "open Ovlank", "stop Ovlank",
                                          "openManager", "open Ovlank", "delete Ovlank"}));
    EXPECT_FALSE(service.initialized());
    EXPECT_FALSE(service.installed());
    EXPECT_TRUE(service.serviceName().empty());
    EXPECT_TRUE(service.devicePath().empty());

    // Forced removal releases everything even when the stop fails.
    ASSERT_EQ(service.Open("Ovlank", "/opt/Ovlank", {}, true, true), kServiceOk);
    m_manager.script("stop", ScmStatus::Failed);
    EXPECT_EQ(service.Remove(true), kServiceStopFailed);
    EXPECT_FALSE(service.initialized());
}

TEST_F(DriverServiceTest, ReinitializingFailsWhenTheOldServiceCannotBeRemoved) {
    DriverService service(setup());
    ASSERT_EQ(service.Open("Ovlank", "/opt/Ovlank", {}, true, true), kServiceOk);
    m_manager.script("stop", ScmStatus::Failed);
    EXPECT_EQ(service.Initialize("Ovlank", "/opt/Other", {}), kServiceReinitFailed);
    EXPECT_EQ(service.driverFilePath(), "/opt/Ovlank");
}

TEST_F(DriverServiceTest, ServiceWithoutRemoveOnCloseIsLeftRunning) {
    {
        DriverService service(setup());
        ASSERT_EQ(service.Open("IpFilterDriver", "nfnetlink_queue", {}, true, false), kServiceOk);
        m_manager.clearCalls();
    }
    EXPECT_TRUE(m_manager.calls().empty());
    {
        DriverService service(setup());
        ASSERT_EQ(service.Open("Ovlank", "/opt/Ovlank", {}, true, true), kServiceOk);
        m_manager.clearCalls();
    }
    EXPECT_EQ(m_manager.calls(), (Strings{"openManager", "open Ovlank", "stop Ovlank",
                                          "openManager", "open Ovlank", "delete Ovlank"}));
}

TEST_F(DriverServiceTest, SendAndReceiveKeepTheirResultCodes) {
    DriverService service(setup());
    std::array<uint8_t, 8> buffer{};
    EXPECT_EQ(service.Send(ovlank::START_FILTERING, {}), kServiceNoDevice);
    EXPECT_EQ(service.Receive(ovlank::GET_PACKET, buffer), kServiceNoDevice);
    EXPECT_TRUE(m_opener.device().requests().empty());

    ASSERT_EQ(service.Open("Ovlank", "/opt/Ovlank", {}, true, true), kServiceOk);
    ScriptedDevice& device = m_opener.device();
    const std::array<uint8_t, 3> input{1, 2, 3};
    EXPECT_EQ(service.Send(ovlank::SET_LOCALIP, input), kServiceOk);
    device.script(ovlank::SET_LOCALIP, {true, ovlank::STATUS_INVALID_PARAMETER, {}});
    EXPECT_EQ(service.Send(ovlank::SET_LOCALIP, input), kServiceControlFailed);
    // A request that never completes closes the device; nothing reaches it until it
    // is opened again, without a message.
    device.script(ovlank::START_FILTERING, {false, ovlank::STATUS_SUCCESS, {}});
    EXPECT_EQ(service.Send(ovlank::START_FILTERING, {}), kServiceControlFailed);
    EXPECT_FALSE(service.deviceOpen());
    const size_t reached = device.requests().size();
    EXPECT_EQ(service.Send(ovlank::START_FILTERING, {}), kServiceNoDevice);
    EXPECT_EQ(service.Receive(ovlank::GET_PACKET, buffer), kServiceNoDevice);
    EXPECT_EQ(device.requests().size(), reached);
    m_opener.failNext(1);
    EXPECT_EQ(service.ReopenDevice(), kServiceNoDevice);
    EXPECT_EQ(service.lastFailure(), "/run/tavrin-test/Ovlank: No such file or directory");
    EXPECT_EQ(service.ReopenDevice(), kServiceOk);
    EXPECT_TRUE(m_messages.texts().empty());

    device.script(ovlank::CLEAR_BANDWIDTH,
                  {true, ovlank::STATUS_SUCCESS, {9, 0, 0, 0, 7, 0, 0, 0}});
    EXPECT_EQ(service.Receive(ovlank::CLEAR_BANDWIDTH, buffer), 8);
    EXPECT_EQ(buffer[0], 9);
    EXPECT_EQ(buffer[4], 7);
    EXPECT_EQ(service.Receive(ovlank::GET_PACKET, buffer), 0); // empty ring
    device.script(ovlank::GET_PACKET, {true, ovlank::STATUS_INVALID_PARAMETER, {}});
    EXPECT_EQ(service.Receive(ovlank::GET_PACKET, buffer), kServiceControlFailed);

    const auto& sent = device.requests();
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[0].code, ovlank::SET_LOCALIP);
    EXPECT_EQ(sent[0].input, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(sent[0].outputSize, 0u);
    EXPECT_EQ(sent.back().outputSize, 8u);
    EXPECT_TRUE(sent.back().input.empty());
}

} // namespace
} // namespace tavrin::core
