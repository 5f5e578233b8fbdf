// Running one external command with a real child process: the output as it comes,
// the words the program gets, what it inherits, refusals, the abort, the end of
// the program, and a child that writes without end.
#include "CommandLine.h"
#include "Placeholders.h"
#include "RunnerTestSupport.h"
#include "TempFolder.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <memory>

namespace tavrin::commands::test {
namespace {

using tavrin::test::TempFolder;

std::pair<pid_t, pid_t> pidsIn(const std::string& text) {
    std::istringstream in(text.substr(text.find("pids ") + 5));
    pid_t a = 0;
    pid_t b = 0;
    in >> a >> b;
    return {a, b};
}

bool hasPids(const RunResult& r) {
    return r.text.find("pids ") != std::string::npos &&
           r.text.find('\n', r.text.find("pids ")) != std::string::npos;
}

TEST(RunOutputTest, ArrivesInOrderWhileTheChildRuns) {
    TempFolder folder;
    RunnerProbe probe;
    ASSERT_TRUE(probe.start(kChild + " gate " + folder / "open"));
    probe.waitFor([](const RunResult& r) { return r.text.find("before\n") != std::string::npos; });
    EXPECT_FALSE(probe.result.ended) << "the first line came only with the end";
    folder.write("open", "");
    const RunResult result = probe.waitEnd();
    EXPECT_EQ(result.text, "before\nafter\n");
    EXPECT_TRUE(result.completed);

    ASSERT_TRUE(probe.start(kChild + " lines 300"));
    std::string expected;
    for (int i = 1; i <= 300; ++i)
        expected += "line " + std::to_string(i) + "\n";
    EXPECT_EQ(probe.waitEnd().text, expected);
}

TEST(RunOutputTest, WhatTheChildGetsAndGives) {
    struct Case {
        std::string args;
        std::string text;
    };
    const Case cases[] = {
        {"stderr oops", "oops\n"},           // standard error joins the output
        {"stdin", "stdin 0\n"},              // standard input is empty
        {"session", "leader yes yes\n"},     // its own session and process group
        {"bytes e697 a50a ff0a", "日\n?\n"}, // a character cut between writes
    };
    RunnerProbe probe;
    for (const Case& c : cases) {
        ASSERT_TRUE(probe.start(kChild + " " + c.args));
        const RunResult result = probe.waitEnd();
        EXPECT_EQ(result.text, c.text) << c.args;
        EXPECT_TRUE(result.completed) << c.args;
    }
}

TEST(RunOutputTest, NoDescriptorOfOursReachesTheChild) {
    // Left open across exec on purpose: only the runner can keep it from the child.
    const int file = ::open("/etc/hostname", O_RDONLY);
    const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(file, 0);
    ASSERT_GE(socket, 0);
    RunnerProbe probe;
    ASSERT_TRUE(probe.start(kChild + " fds"));
    EXPECT_EQ(probe.waitEnd().text, "fds 0 1 2\n");
    ::close(file);
    ::close(socket);
}

TEST(RunWordsTest, FilledValuesReachTheProgramLiterally) {
    const std::vector<std::string> values = {
        "; reboot",      "$(id -u)", "`id`",   "two  words", "\"quoted\"",
        "back\\slash\\", "'single'", "a|b>c&", "\\\"",       "-o ProxyCommand=x"};
    RunnerProbe probe;
    for (const std::string& value : values) {
        // A row's value, and the same as a typed answer inside quotes.
        const std::string line =
            fillRow(kChild + " argv %RemoteHost% x\"%RemoteHost%\"y", {{"%RemoteHost%", value}});
        CommandExpansion asked(kChild + " argv %UserIn% \"%UserIn%\"");
        asked.answer(value);
        asked.answer(value);
        for (const std::string& l : {line, asked.line()}) {
            ASSERT_TRUE(probe.start(l));
            const std::string expected = l == line ? "[" + value + "]\n[x" + value + "y]\n"
                                                   : "[" + value + "]\n[" + value + "]\n";
            EXPECT_EQ(probe.waitEnd().text, expected) << l;
        }
    }
}

TEST(RunRefusalTest, WhatIsNoProgramEndsAtOnceWithItsMessage) {
    TempFolder folder;
    folder.write("script", "echo no shell may read this\n");
    ::chmod(folder.file("script").c_str(), 0755);
    const std::string lines[] = {"",
                                 "   ",
                                 "tavrin-no-such-program",
                                 "/nonexistent/program",
                                 "/etc/hostname",
                                 folder.path(),
                                 folder / "script",
                                 "\"\" argv"};
    RunnerProbe probe;
    for (const std::string& line : lines) {
        ASSERT_TRUE(probe.start(line)) << line;
        const RunResult result = probe.waitEnd();
        EXPECT_EQ(result.text, kInvalidCommand) << "[" << line << "]";
        EXPECT_FALSE(result.completed);
        EXPECT_FALSE(probe.runner.busy());
    }
}

TEST(RunRefusalTest, OneRunAtATime) {
    TempFolder folder;
    RunnerProbe probe;
    ASSERT_TRUE(probe.start(kChild + " gate " + folder / "open"));
    EXPECT_TRUE(probe.runner.busy());
    EXPECT_FALSE(probe.runner.start(kChild + " argv second"));
    probe.waitFor([](const RunResult& r) { return !r.text.empty(); });
    EXPECT_FALSE(probe.runner.start(kChild + " argv second"));
    folder.write("open", "");
    EXPECT_EQ(probe.waitEnd().text, "before\nafter\n");
    ASSERT_TRUE(probe.start(kChild + " argv second"));
    EXPECT_EQ(probe.waitEnd().text, "[second]\n");
}

TEST(RunAbortTest, EndsAChildThatIgnoresTerminationWithItsWholeGroup) {
    RunnerProbe probe;
    ASSERT_TRUE(probe.start(kChild + " stubborn"));
    probe.waitFor(hasPids);
    const auto [child, grandchild] = pidsIn(probe.result.text);
    ASSERT_GT(grandchild, 0);
    probe.runner.abort();
    const RunResult result = probe.waitEnd();
    EXPECT_EQ(result.text,
              "pids " + std::to_string(child) + " " + std::to_string(grandchild) + "\n" + kAborted);
    EXPECT_FALSE(result.completed);
    EXPECT_TRUE(waitGone(child));
    EXPECT_TRUE(waitGone(grandchild));
}

TEST(RunAbortTest, StopAtTheProgramsEndWaitsAndSaysNothing) {
    RunnerProbe probe;
    ASSERT_TRUE(probe.start(kChild + " stubborn"));
    probe.waitFor(hasPids);
    const auto [child, grandchild] = pidsIn(probe.result.text);
    probe.runner.stop();
    EXPECT_FALSE(probe.runner.busy());
    EXPECT_TRUE(waitGone(child));
    EXPECT_TRUE(waitGone(grandchild));
    const RunUpdate last = probe.runner.take();
    EXPECT_TRUE(last.ended);
    EXPECT_EQ(last.text.find("中止されました"), std::string::npos) << last.text;
}

TEST(RunAbortTest, ARunnerThatGoesTakesItsChildWithIt) {
    pid_t child = 0;
    pid_t grandchild = 0;
    {
        auto probe = std::make_unique<RunnerProbe>();
        ASSERT_TRUE(probe->start(kChild + " stubborn"));
        probe->waitFor(hasPids);
        std::tie(child, grandchild) = pidsIn(probe->result.text);
    }
    EXPECT_TRUE(waitGone(child));
    EXPECT_TRUE(waitGone(grandchild));
}

TEST(RunEndTest, WhatTheCommandLeavesBehindCannotHoldTheRunOpen) {
    RunnerProbe probe;
    for (const char* mode : {"quiet", "flood"}) {
        ASSERT_TRUE(probe.start(kChild + " leave " + mode));
        const RunResult result = probe.waitEnd();
        EXPECT_TRUE(result.completed) << mode;
        ASSERT_TRUE(result.text.starts_with("child ")) << mode;
        const pid_t left = std::stoi(result.text.substr(6));
        if (std::string(mode) == "quiet") {
            EXPECT_FALSE(processGone(left)) << "left alone at the end";
            ::kill(left, SIGKILL);
        }
        // The writer loses its reader with the run's end.
        EXPECT_TRUE(waitGone(left)) << mode;
    }
}

TEST(RunFloodTest, AnOwnerThatDoesNotTakeHoldsTheChildBack) {
    CommandRunner::Limits limits;
    limits.queued = 8 * 1024;
    for (const char* mode : {"flood", "flood-line"}) {
        RunnerProbe probe(limits);
        ASSERT_TRUE(probe.start(kChild + " " + mode));
        ASSERT_TRUE(probe.waitTold());
        // Passes go by while nobody takes; what waits stays within the bound.
        ::usleep(400 * 1000);
        const RunUpdate waiting = probe.runner.take();
        EXPECT_GT(waiting.text.size(), 0u);
        EXPECT_LE(waiting.text.size(), limits.queued + 16 * 1024) << mode;
        for (size_t from = 0, end; (end = waiting.text.find('\n', from)) != std::string::npos;
             from = end + 1)
            ASSERT_LE(end - from, 2000u) << mode;
        probe.runner.abort();
        const RunResult result = probe.waitEnd();
        EXPECT_TRUE(result.text.ends_with(kAborted)) << mode;
    }
}

} // namespace
} // namespace tavrin::commands::test
