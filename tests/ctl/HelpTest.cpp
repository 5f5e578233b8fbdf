// --help of every subcommand and of the daemon: status 0, the usage first, every
// option the subcommand takes, nothing on standard error. An option unknown to a
// subcommand is refused with status 2 and the same usage line.
#include "RunProcess.h"
#include "TestPaths.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavrin {
namespace {

struct Command {
    std::vector<std::string> words; // after the program
    std::vector<std::string> parts; // the help shows each
};

const std::vector<Command>& commands() {
    static const std::vector<Command> list = {
        {{"run"},
         {"usage: tavrinctl run [--dir DIR]", "--dir DIR", "--filter", "--runtime-dir DIR",
          "--queue N", "--chains PREFIX", "exit status"}},
        {{"show"},
         {"usage: tavrinctl show [--json] [--write OUT] [FILE]", "--json", "--write OUT"}},
        {{"connections"},
         {"usage: tavrinctl connections", "--json", "-n,--numeric", "--watch", "--count N"}},
        {{"commands"}, {"usage: tavrinctl commands [FILE]", "FILE"}},
        {{"port-spec"}, {"usage: tavrinctl port-spec [--] TEXT...", "exit status"}},
    };
    return list;
}

test::ProcessResult run(const std::string& program, const std::vector<std::string>& words) {
    std::vector<std::string> args{std::string(test::kBinDir) + "/" + program};
    args.insert(args.end(), words.begin(), words.end());
    return test::runProcess(args);
}

TEST(Help, EverySubcommandAnswersHelpWithItsOptions) {
    for (const Command& c : commands()) {
        for (const char* flag : {"--help", "-h"}) {
            std::vector<std::string> words = c.words;
            words.emplace_back(flag);
            const auto r = run("tavrinctl", words);
            EXPECT_EQ(r.exitStatus, 0) << c.words[0] << " " << flag << ": " << r.err;
            EXPECT_EQ(r.err, "") << c.words[0];
            EXPECT_EQ(r.out.rfind(c.parts[0], 0), 0u) << r.out;
            for (const std::string& part : c.parts)
                EXPECT_NE(r.out.find(part), std::string::npos) << c.words[0] << ": " << part;
        }
        std::vector<std::string> words = c.words;
        words.emplace_back("--no-such-option");
        const auto bad = run("tavrinctl", words);
        EXPECT_EQ(bad.exitStatus, 2) << c.words[0];
        EXPECT_EQ(bad.out, "");
        EXPECT_NE(bad.err.find("unknown option '--no-such-option'\n" + c.parts[0]),
                  std::string::npos)
            << bad.err;
    }
}

TEST(Help, TheProgramAndTheDaemonListWhatTheyHave) {
    for (const char* word : {"help", "--help", "-h"}) {
        const auto r = run("tavrinctl", {word});
        EXPECT_EQ(r.exitStatus, 0) << word;
        for (const Command& c : commands())
            EXPECT_NE(r.out.find("  " + c.words[0] + " "), std::string::npos) << c.words[0];
    }
    const auto none = run("tavrinctl", {});
    EXPECT_EQ(none.exitStatus, 2);
    EXPECT_NE(none.err.find("usage: tavrinctl SUBCOMMAND"), std::string::npos) << none.err;
    const auto unknown = run("tavrinctl", {"frobnicate"});
    EXPECT_EQ(unknown.exitStatus, 2);
    EXPECT_NE(unknown.err.find("unknown subcommand 'frobnicate'"), std::string::npos);

    const auto daemon = run("Ovlank", {"--help"});
    EXPECT_EQ(daemon.exitStatus, 0) << daemon.err;
    for (const char* part : {"--device PATH", "--queue N", "--queues COUNT", "--chains PREFIX",
                             "--remove", "--detach", "exit status"})
        EXPECT_NE(daemon.out.find(part), std::string::npos) << part;
    const auto bad = run("Ovlank", {"--queue", "x"});
    EXPECT_EQ(bad.exitStatus, 2);
    EXPECT_NE(bad.err.find("Ovlank: the queue number must be 0 to 65535: x\nusage: "),
              std::string::npos)
        << bad.err;
}

} // namespace
} // namespace tavrin
