// The daemon's command lines as the program builds them, and the bypass run as a
// real child process: the executable the service record names, with the prefix the
// running daemon was given.
#include "DaemonCommands.h"

#include "RecordingMessages.h"
#include "ScriptedSystem.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace tavrin::core {
namespace {

using Strings = std::vector<std::string>;

TEST(DaemonCommandLine, TheServiceAndItsCleanUpNameTheSamePrefix) {
    struct Case {
        std::optional<uint16_t> queue;
        std::string prefix;
        Strings service;
        Strings cleanup;
    };
    const Case cases[] = {
        {std::nullopt,
         kDefaultChainPrefix,
         {"--chains", "OVLANK"},
         {"--remove", "--chains", "OVLANK"}},
        {4744, "AUDX", {"--queue", "4744", "--chains", "AUDX"}, {"--remove", "--chains", "AUDX"}},
        {0, "A", {"--queue", "0", "--chains", "A"}, {"--remove", "--chains", "A"}},
    };
    for (const Case& c : cases) {
        DaemonCommandLine line{c.queue, c.prefix};
        EXPECT_EQ(line.serviceArguments(), c.service);
        EXPECT_EQ(line.cleanupArguments(), c.cleanup);
        // A daemon started with those arguments is detached under the same prefix.
        EXPECT_EQ(detachArgumentsFor(line.serviceArguments()),
                  (Strings{"--detach", "--chains", c.prefix}));
    }
}

TEST(DaemonCommandLine, DetachFollowsThePrefixTheRunningDaemonWasGiven) {
    const std::pair<Strings, std::string> cases[] = {
        {{}, "OVLANK"}, // a record from a run that named none: the daemon's default
        {{"--queue", "7"}, "OVLANK"},
        {{"--chains=EQ", "--queue", "7"}, "EQ"},
        {{"--chains", "A", "--chains", "B"}, "B"}, // the last one counts, as for the daemon
        {{"--queue", "--chains"}, "OVLANK"},       // a dangling option names nothing
    };
    for (const auto& [arguments, prefix] : cases)
        EXPECT_EQ(detachArgumentsFor(arguments), (Strings{"--detach", "--chains", prefix}))
            << ::testing::PrintToString(arguments);
}

TEST(DaemonHookBypass, RunsTheRecordsExecutableWithItsPrefixAndReportsFailures) {
    tavrin::test::TempFolder folder;
    const std::string notes = folder / "notes";
    // Stands in for the daemon's executable: notes its arguments, exits as told.
    folder.write("daemon", "#!/bin/sh\necho \"$@\" >> " + notes + "\nexit ${EXIT:-0}\n");
    ASSERT_EQ(::chmod((folder / "daemon").c_str(), 0755), 0);
    test::ScriptedManager manager;
    test::ScriptedOpener opener;
    tavrin::test::RecordingMessages messages;
    DriverService service({manager, opener, messages, "/run/t/", "", {"--chains", "MINE"}});
    DaemonHookBypass bypass(service);
    std::string error;

    // No record yet.
    ASSERT_EQ(service.Initialize("Ovlank", folder / "daemon", {}), kServiceOk);
    EXPECT_FALSE(bypass.detach(error));
    EXPECT_EQ(error, "the service Ovlank has no record");

    // The record names another run's daemon, still running with its own prefix.
    ASSERT_EQ(service.Open("Ovlank", folder / "daemon", {}, true, true), kServiceOk);
    ASSERT_TRUE(manager
                    .changeServiceConfig(
                        "Ovlank", {folder / "daemon", "/run/t/Ovlank", {"--chains", "OLD"}, {}})
                    .ok());
    EXPECT_TRUE(bypass.detach(error)) << error;
    EXPECT_EQ(folder.read("notes"), "--detach --chains OLD\n");

    ASSERT_EQ(::setenv("EXIT", "1", 1), 0);
    EXPECT_FALSE(bypass.detach(error));
    ::unsetenv("EXIT");
    EXPECT_EQ(error, folder / "daemon" + " --detach exited with status 1");
}

} // namespace
} // namespace tavrin::core
