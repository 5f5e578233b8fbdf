#include "SingleInstance.h"

#include "TempFolder.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tavrin::core {
namespace {

TEST(SingleInstance, ASecondStartFindsTheFirstAndAsksItToShowItsWindow) {
    tavrin::test::TempFolder folder;
    const std::string runtime = folder / "run";
    SingleInstance first(runtime, "Tavrin");
    ASSERT_EQ(first.acquire(), SingleInstance::Result::First) << first.error();
    struct stat st {};
    ASSERT_EQ(::stat(runtime.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // Before the first has a window there is nothing to show.
    {
        SingleInstance second(runtime, "Tavrin");
        EXPECT_EQ(second.acquire(), SingleInstance::Result::OtherNotReady);
    }
    EXPECT_EQ(first.knockFd(), -1);
    ASSERT_TRUE(first.announceWindow()) << first.error();
    ASSERT_GE(first.knockFd(), 0);

    int shown = 0;
    std::thread window([&] {
        pollfd p{first.knockFd(), POLLIN, 0};
        if (::poll(&p, 1, 10000) == 1)
            shown = first.takeShowRequests();
    });
    SingleInstance second(runtime, "Tavrin");
    EXPECT_EQ(second.acquire(), SingleInstance::Result::OtherRestored);
    window.join();
    EXPECT_EQ(shown, 1);

    // Another name is another program.
    SingleInstance other(runtime, "Other");
    EXPECT_EQ(other.acquire(), SingleInstance::Result::First);
}

TEST(SingleInstance, TheLockEndsWithTheInstanceAndAStaleSocketIsReplaced) {
    tavrin::test::TempFolder folder;
    const std::string runtime = folder / "run";
    {
        SingleInstance first(runtime, "Tavrin");
        ASSERT_EQ(first.acquire(), SingleInstance::Result::First);
        ASSERT_TRUE(first.announceWindow());
    }
    EXPECT_NE(::access((runtime + "/Tavrin.sock").c_str(), F_OK), 0);
    folder.write("run/Tavrin.sock", "left behind");
    SingleInstance again(runtime, "Tavrin");
    ASSERT_EQ(again.acquire(), SingleInstance::Result::First);
    EXPECT_TRUE(again.announceWindow()) << again.error();
    // Nothing knocked.
    EXPECT_EQ(again.takeShowRequests(), 0);
}

TEST(SingleInstance, AFolderSomeoneCouldHavePlantedIsRefused) {
    tavrin::test::TempFolder folder;
    ASSERT_EQ(::symlink(folder.path().c_str(), (folder / "link").c_str()), 0);
    SingleInstance viaLink(folder / "link", "Tavrin");
    EXPECT_EQ(viaLink.acquire(), SingleInstance::Result::Failed);
    EXPECT_NE(viaLink.error().find("symbolic link"), std::string::npos) << viaLink.error();

    ASSERT_EQ(::mkdir((folder / "open").c_str(), 0777), 0);
    ASSERT_EQ(::chmod((folder / "open").c_str(), 0777), 0);
    SingleInstance shared(folder / "open", "Tavrin");
    EXPECT_EQ(shared.acquire(), SingleInstance::Result::Failed);
    EXPECT_NE(shared.error().find("writable by others"), std::string::npos) << shared.error();

    SingleInstance relative("relative/run", "Tavrin");
    EXPECT_EQ(relative.acquire(), SingleInstance::Result::Failed);
}

} // namespace
} // namespace tavrin::core
