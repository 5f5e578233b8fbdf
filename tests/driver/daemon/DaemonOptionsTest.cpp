#include "DaemonOptions.h"

#include "OvlankProtocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ovlank {
namespace {

ParsedOptions parse(std::vector<std::string_view> args) {
    return parseDaemonOptions(args);
}

TEST(DaemonOptions, DefaultsAndBothValueForms) {
    auto none = parse({});
    ASSERT_TRUE(none.options);
    EXPECT_EQ(none.options->devicePath, kDefaultDevicePath);
    EXPECT_EQ(none.options->firstQueue, kDefaultQueue);
    EXPECT_EQ(none.options->chainPrefix, "OVLANK");
    EXPECT_EQ(none.options->queueCount, 0u);

    auto all = parse({"--device", "/run/t/dev", "--queue=17", "--chains", "T_1-x", "--queues=3"});
    ASSERT_TRUE(all.options) << all.error;
    EXPECT_EQ(all.options->devicePath, "/run/t/dev");
    EXPECT_EQ(all.options->firstQueue, 17);
    EXPECT_EQ(all.options->chainPrefix, "T_1-x");
    EXPECT_EQ(all.options->queueCount, 3u);

    auto help = parse({"--queue", "3", "--help"});
    EXPECT_TRUE(help.helpRequested);
    EXPECT_FALSE(help.options);
}

TEST(DaemonOptions, OddCommandLinesGetAClearError) {
    const std::vector<std::pair<std::vector<std::string_view>, std::string>> cases = {
        {{"--frobnicate"}, "unknown option '--frobnicate'"},
        {{"stray"}, "unexpected argument 'stray'"},
        {{"--queue"}, "--queue needs a value"},
        {{"--queue", "65536"}, "the queue number must be 0 to 65535: 65536"},
        {{"--queue", "-1"}, "the queue number must be 0 to 65535: -1"},
        {{"--queue", "12x"}, "the queue number must be 0 to 65535: 12x"},
        {{"--queue="}, "--queue needs a value"},
        {{"--queue", "1", "--queue", "2"}, "--queue given twice"},
        {{"--queues", "0"}, "the queue count must be 1 to 16: 0"},
        {{"--queue", "65535", "--queues", "2"}, "the queues 65535 to 65536 go past 65535"},
        {{"--device", "relative/dev"}, "the device path must be absolute: relative/dev"},
        {{"--device", "/run/tavrin/"},
         "the device path must name a file, not a folder: /run/tavrin/"},
        {{"--device", "/run/../etc/x"},
         "the device path may not contain empty or \"..\" components: /run/../etc/x"},
        {{"--chains", ""},
         "the chain prefix must have 1 to 24 letters, digits, '_' or '-', not starting with "
         "'-': "},
        {{"--chains", "A B"},
         "the chain prefix must have 1 to 24 letters, digits, '_' or '-', not starting with "
         "'-': A B"},
        {{"--chains", "-j"},
         "the chain prefix must have 1 to 24 letters, digits, '_' or '-', not starting with "
         "'-': -j"},
    };
    for (const auto& [args, message] : cases) {
        const auto result = parse(args);
        EXPECT_FALSE(result.options) << message;
        EXPECT_EQ(result.error, message);
    }
    const std::string longPath = "/" + std::string(120, 'a');
    EXPECT_EQ(parse({"--device", longPath}).error,
              "the device path is longer than 107 bytes: " + longPath);
    EXPECT_EQ(parse({"--chains", std::string(25, 'C')}).error.substr(0, 39),
              "the chain prefix must have 1 to 24 lett");
    EXPECT_TRUE(parse({"--chains", std::string(24, 'C')}).options);
}

TEST(DaemonOptions, CleanupCommandsNeedTheirPrefixAndNothingElse) {
    struct Case {
        std::vector<std::string_view> args;
        DaemonMode mode;
        bool deviceGiven;
    };
    const std::vector<Case> accepted = {
        {{"--remove", "--chains", "T1"}, DaemonMode::Remove, false},
        {{"--chains=T1", "--device", "/run/t/dev", "--remove"}, DaemonMode::Remove, true},
        {{"--detach", "--chains", "T1"}, DaemonMode::Detach, false},
        {{"--chains", "T1"}, DaemonMode::Serve, false},
    };
    for (const auto& [args, mode, deviceGiven] : accepted) {
        const auto result = parse(args);
        ASSERT_TRUE(result.options) << result.error;
        EXPECT_EQ(result.options->mode, mode);
        EXPECT_EQ(result.options->deviceGiven, deviceGiven);
        EXPECT_EQ(result.options->chainPrefix, "T1");
    }
    EXPECT_EQ(parse({"--remove", "--chains", "T1"}).options->devicePath, kDefaultDevicePath);

    const std::vector<std::pair<std::vector<std::string_view>, std::string>> refused = {
        {{"--remove"}, "--remove needs --chains PREFIX"},
        {{"--detach", "--device", "/run/t/dev"}, "--detach takes no --device"},
        {{"--detach", "--chains", "T1", "--device", "/run/t/dev"}, "--detach takes no --device"},
        {{"--remove", "--chains", "T1", "--queue", "5"}, "--remove takes no --queue"},
        {{"--detach", "--chains", "T1", "--queues=2"}, "--detach takes no --queues"},
        {{"--remove", "--detach", "--chains", "T1"}, "--remove and --detach cannot be combined"},
        {{"--detach", "--detach", "--chains", "T1"}, "--detach given twice"},
        {{"--remove=yes", "--chains", "T1"}, "--remove takes no value"},
        {{"--remove", "--chains", "-x"},
         "the chain prefix must have 1 to 24 letters, digits, '_' or '-', not starting with "
         "'-': -x"},
    };
    for (const auto& [args, message] : refused) {
        const auto result = parse(args);
        EXPECT_FALSE(result.options) << message;
        EXPECT_EQ(result.error, message);
    }
}

TEST(DaemonOptions, QueueCountFollowsTheCoresWithinLimits) {
    DaemonOptions options;
    EXPECT_EQ(effectiveQueueCount(options, 2), 2u);
    EXPECT_EQ(effectiveQueueCount(options, 0), 1u);
    EXPECT_EQ(effectiveQueueCount(options, 64), kMaxQueueCount);
    options.queueCount = 1;
    EXPECT_EQ(effectiveQueueCount(options, 8), 1u);
    options.queueCount = 0;
    options.firstQueue = 65534;
    EXPECT_EQ(effectiveQueueCount(options, 8), 2u); // 65534 and 65535 only
}

TEST(DaemonOptions, UsageNamesEveryOptionAndDefault) {
    const std::string usage = daemonUsage("Ovlank");
    for (const char* part :
         {"--device PATH", "--queue N", "--queues COUNT", "--chains PREFIX", "/run/tavrin/Ovlank",
          "4322", "OVLANK", "--remove --chains PREFIX [--device PATH]", "--detach --chains PREFIX",
          "3 refused"}) {
        EXPECT_NE(usage.find(part), std::string::npos) << part;
    }
}

} // namespace
} // namespace ovlank
