// Command lines that `tavrinctl run` must refuse before it starts anything: no
// instance lock, no daemon, no settings file.
#include "RunProcess.h"
#include "TestPaths.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavrin {
namespace {

test::ProcessResult run(std::vector<std::string> args) {
    args.insert(args.begin(), {std::string(test::kBinDir) + "/tavrinctl", "run"});
    return test::runProcess(args);
}

void expectRefused(const std::vector<std::string>& args, const std::string& reason) {
    const auto r = run(args);
    EXPECT_EQ(r.exitStatus, 2) << args.front() << ": " << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("tavrinctl run: " + reason + "\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("usage: tavrinctl run"), std::string::npos) << r.err;
}

TEST(RunCommandLine, OddCommandLinesAreRefusedBeforeAnythingStarts) {
    const std::string chainRule =
        "--chains needs 1 to 24 letters, digits, '_' or '-', not starting with '-'";
    // The daemon would read a leading '-' as an option and refuse to start after
    // bring-up had begun; the program refuses it at once by the daemon's own rule.
    expectRefused({"--chains", "-j"}, chainRule);
    expectRefused({"--chains", ""}, chainRule);
    expectRefused({"--chains", "A B"}, chainRule);
    expectRefused({"--chains", std::string(25, 'C')}, chainRule);
    expectRefused({"--chains"}, "--chains needs a value");
    expectRefused({"--queue", "65536"}, "--queue needs a number from 0 to 65535");
    expectRefused({"--queue", "-1"}, "--queue needs a number from 0 to 65535");
    expectRefused({"--queue", "7x"}, "--queue needs a number from 0 to 65535");
    expectRefused({"--runtime-dir", "relative"}, "--runtime-dir needs an absolute path");
    expectRefused({"--dir", ""}, "--dir needs a folder");
    expectRefused({"--window"}, "unknown option '--window'");
}

} // namespace
} // namespace tavrin
