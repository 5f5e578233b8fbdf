#include "ProcessControl.h"

#include "TempFolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tavrin::core {
namespace {

TEST(ProcessControl, CommandsRunWithoutAShellAndReportTheirStatus) {
    std::string error;
    EXPECT_EQ(runCommand({"true"}, error), 0);
    EXPECT_EQ(runCommand({"sh", "-c", "exit 3"}, error), 3);
    // Arguments reach the program as they are, never through a shell.
    tavrin::test::TempFolder folder;
    EXPECT_EQ(runCommand({"touch", folder / "a b;c"}, error), 0);
    EXPECT_EQ(::access((folder / "a b;c").c_str(), F_OK), 0);

    EXPECT_EQ(runCommand({"no-such-command-tavrin"}, error), -1);
    EXPECT_NE(error.find("command not found"), std::string::npos);
    EXPECT_EQ(runCommand({"sh", "-c", "kill -KILL $$"}, error), -1);
    EXPECT_NE(error.find("signal 9"), std::string::npos);
    EXPECT_EQ(runCommand({}, error), -1);
}

TEST(ProcessControl, DetachedProcessesGetTheirOwnSessionAndDefaultSignals) {
    tavrin::test::TempFolder folder;
    const int out = ::open((folder / "out").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(out, 0);
    // Block and ignore SIGTERM here: the child must get neither.
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGTERM);
    sigset_t saved;
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &block, &saved), 0);
    std::string error;
    const pid_t pid = spawnDetached({"sh", "-c", "echo started; exec sleep 30"}, out, error);
    ASSERT_EQ(pthread_sigmask(SIG_SETMASK, &saved, nullptr), 0);
    ::close(out);
    ASSERT_GT(pid, 0) << error;

    EXPECT_EQ(::getsid(pid), pid);
    const uint64_t start = processStartTime(pid);
    ASSERT_NE(start, 0u);
    EXPECT_TRUE(processAlive(pid, start));
    EXPECT_FALSE(processAlive(pid, start + 1)); // another process under a reused pid

    // Let it reach its echo before it is ended.
    for (int i = 0; i < 1000 && folder.read("out").empty(); ++i)
        ::usleep(10000);
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    EXPECT_FALSE(processAlive(pid, start));
    EXPECT_EQ(processStartTime(pid), 0u);

    EXPECT_EQ(folder.read("out"), "started\n");
}

TEST(ProcessControl, AnEndedChildIsReapedAndCountsAsGone) {
    std::string error;
    const pid_t pid = spawnDetached({"sleep", "0.2"}, -1, error);
    ASSERT_GT(pid, 0);
    const uint64_t start = processStartTime(pid);
    while (processAlive(pid, start))
        ::usleep(10000);
    // Reaped: no zombie is left for waitpid.
    EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1);
    EXPECT_EQ(findExecutable(""), "");
    EXPECT_EQ(findExecutable("./x"), "./x");
    EXPECT_NE(findExecutable("sh"), "");
}

} // namespace
} // namespace tavrin::core
