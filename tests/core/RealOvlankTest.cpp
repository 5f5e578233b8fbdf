// The driver services with the real Ovlank daemon, started by the real service
// folder inside a network namespace of the test's own.
#include "DriverBringUp.h"
#include "QueueFacility.h"
#include "RecordingMessages.h"
#include "ServiceFolder.h"
#include "SocketDevice.h"
#include "TempFolder.h"
#include "TestHosts.h"
#include "TestPaths.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <unistd.h>

namespace tavrin::core {
namespace {

using ovlank::test::TestHosts;
using Strings = std::vector<std::string>;

std::string chainPrefix() {
    return "CORE" + std::to_string(::getpid());
}

TEST(RealOvlank, BroughtUpResetDrivenAndAtTheEndStoppedWithItsChains) {
    TestHosts hosts("core");
    ASSERT_TRUE(hosts.ready()) << hosts.problem();
    tavrin::test::TempFolder runtime;
    tavrin::test::CurrentFolderGuard guard;
    tavrin::test::enter(runtime.path()); // no daemon here: the program's own folder is used
    tavrin::test::RecordingMessages messages;
    pid_t daemon = 0;

    TestHosts::inNamespace(hosts.nsA(), [&] {
        SocketDeviceOpener opener;
        QueueFacility facility;
        ServiceFolder services(runtime / "services", opener);
        services.addSystemService(kIpFilterDriverName, facility);
        DriverService ipFilter({services, facility, messages, runtime.path() + "/", "", {}});
        DriverService ovlankService(
            {services,
             opener,
             messages,
             runtime.path() + "/",
             tavrin::test::kBinDir,
             {"--queue", "31337", "--queues", "1", "--chains", chainPrefix()}});
        ASSERT_TRUE(
            bringUpDrivers(ipFilter, ovlankService, messages, {false, tavrin::test::kBinDir}))
            << ::testing::PrintToString(messages.texts());
        EXPECT_EQ(tavrin::test::currentFolder(), tavrin::test::kBinDir);
        ServiceFolder::Record record;
        ASSERT_TRUE(parseServiceRecord(runtime.read("services/Ovlank"), record));
        daemon = record.pid;
        EXPECT_EQ(record.config.executable, std::string(tavrin::test::kBinDir) + "/Ovlank");
        EXPECT_EQ(ovlankService.devicePath(), runtime / "Ovlank");

        // One rule in; the counter reply then holds one count and the two totals.
        ovlank::DriverRule rule{};
        rule.protocol = ovlank::kProtocolUdp;
        uint8_t ruleBytes[sizeof rule];
        std::memcpy(ruleBytes, &rule, sizeof rule);
        const uint8_t noAddresses[4] = {0, 0, 0, 0};
        EXPECT_EQ(ovlankService.Send(ovlank::SET_LOCALIP, noAddresses), kServiceOk);
        EXPECT_EQ(ovlankService.Send(ovlank::ADD_FILTER, ruleBytes), kServiceOk);
        EXPECT_EQ(ovlankService.Send(ovlank::ADD_FILTER, std::span(ruleBytes, 167)),
                  kServiceControlFailed);
        std::array<uint8_t, sizeof(ovlank::BandwidthReply)> counters{};
        EXPECT_EQ(ovlankService.Receive(ovlank::CLEAR_BANDWIDTH, counters), 12);
        EXPECT_EQ(ovlankService.Send(ovlank::START_IP_HOOK, {}), kServiceOk);
        EXPECT_NE(hosts.iptablesSaveA().find(chainPrefix() + "_OUT"), std::string::npos);
        // The services end with the objects: the daemon is stopped and takes its
        // chains with it; the system's service is left alone.
    });
    EXPECT_TRUE(messages.texts().empty()) << ::testing::PrintToString(messages.texts());
    ASSERT_GT(daemon, 0);
    EXPECT_NE(::kill(daemon, 0), 0);
    EXPECT_NE(::access((runtime / "services/Ovlank").c_str(), F_OK), 0);
    EXPECT_EQ(hosts.iptablesSaveA().find(chainPrefix()), std::string::npos);
}

} // namespace
} // namespace tavrin::core
