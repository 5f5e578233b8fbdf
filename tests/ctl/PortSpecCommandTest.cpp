// Runs the real tavrinctl binary.
#include "RunProcess.h"
#include "TestPaths.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavrin {
namespace {

test::ProcessResult tavrinctl(std::vector<std::string> args) {
    args.insert(args.begin(), std::string(test::kBinDir) + "/tavrinctl");
    return test::runProcess(args);
}

TEST(PortSpecCommand, PrintsEachTextAsItIsRead) {
    const auto r = tavrinctl({"port-spec", "80 (http)", "21-20", "8080-"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, "\"80 (http)\"\n"
                     "  range:    80-80\n"
                     "  plain:    80\n"
                     "  labelled: 80 (http)\n"
                     "  accepted: yes\n"
                     "\"21-20\"\n"
                     "  range:    20-21\n"
                     "  plain:    20-21\n"
                     "  labelled: 20-21 (ftp)\n"
                     "  accepted: yes\n"
                     "\"8080-\"\n"
                     "  range:    0-8080\n"
                     "  plain:    0-8080\n"
                     "  labelled: 0-8080\n"
                     "  accepted: yes\n");
    EXPECT_EQ(r.err, "");
}

TEST(PortSpecCommand, RefusedTextsShowTheMessageAndFailTheRun) {
    const auto r = tavrinctl({"port-spec", "443", "65536", ""});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.out, "\"443\"\n"
                     "  range:    443-443\n"
                     "  plain:    443\n"
                     "  labelled: 443 (https)\n"
                     "  accepted: yes\n"
                     "\"65536\"\n"
                     "  range:    0-0\n"
                     "  plain:    0\n"
                     "  labelled: 0\n"
                     "  accepted: no "
                     "(ポート番号は0から65535までの値を指定してください。)\n"
                     "\"\"\n"
                     "  range:    0-0\n"
                     "  plain:    0\n"
                     "  labelled: 0\n"
                     "  accepted: no (empty text)\n");
}

TEST(PortSpecCommand, OddCommandLines) {
    // No text at all.
    auto r = tavrinctl({"port-spec"});
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("usage: tavrinctl port-spec"), std::string::npos) << r.err;

    // An unknown option is refused; a text that begins with a dash is a text.
    r = tavrinctl({"port-spec", "--json", "80"});
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_NE(r.err.find("unknown option '--json'"), std::string::npos) << r.err;
    r = tavrinctl({"port-spec", "-80"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_NE(r.out.find("  range:    0-80\n"), std::string::npos) << r.out;
    r = tavrinctl({"port-spec", "--", "--5"});
    EXPECT_EQ(r.exitStatus, 1); // "--5" holds a negative high number
    EXPECT_EQ(r.out.substr(0, 6), "\"--5\"\n");

    // Control bytes are shown escaped, never written to the terminal.
    r = tavrinctl({"port-spec", "\x1b[2J80"});
    EXPECT_EQ(r.out.substr(0, 13), "\"\\x1B[2J80\"\n ");
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);

    r = tavrinctl({"port-spec", "--help"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_NE(r.out.find("usage: tavrinctl port-spec"), std::string::npos);

    // The subcommand is listed in the program's own help.
    r = tavrinctl({"help"});
    EXPECT_NE(r.out.find("port-spec"), std::string::npos) << r.out;
}

} // namespace
} // namespace tavrin
