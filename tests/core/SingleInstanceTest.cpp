#include "SingleInstance.h"

#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
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
    ASSERT_TRUE(first.announce()) << first.error();
    ASSERT_GE(first.knockFd(), 0);

    int shown = 0;
    std::thread window([&] {
        pollfd p{first.knockFd(), POLLIN, 0};
        if (::poll(&p, 1, 10000) == 1)
            shown = first.takeShowRequests().windows;
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
        ASSERT_TRUE(first.announce());
    }
    EXPECT_NE(::access((runtime + "/Tavrin.sock").c_str(), F_OK), 0);
    folder.write("run/Tavrin.sock", "left behind");
    SingleInstance again(runtime, "Tavrin");
    ASSERT_EQ(again.acquire(), SingleInstance::Result::First);
    EXPECT_TRUE(again.announce()) << again.error();
    // Nothing knocked.
    EXPECT_EQ(again.takeShowRequests().total(), 0);
}

// The window and the run without a window share one instance; each start learns
// which kind holds it, and the first which kind knocked.
TEST(SingleInstance, EachStartLearnsWhetherTheFirstHasAWindow) {
    using Kind = SingleInstance::Kind;
    using Result = SingleInstance::Result;
    struct Case {
        const char* name;
        Kind first;
        Kind second;
        Result seen;
        int windows;
        int headless;
    };
    const Case cases[] = {
        {"window, then window", Kind::Window, Kind::Window, Result::OtherRestored, 1, 0},
        {"window, then headless", Kind::Window, Kind::Headless, Result::OtherRestored, 0, 1},
        {"headless, then window", Kind::Headless, Kind::Window, Result::OtherHeadless, 1, 0},
        {"headless, then headless", Kind::Headless, Kind::Headless, Result::OtherHeadless, 0, 1},
    };
    for (const Case& c : cases) {
        tavrin::test::TempFolder folder;
        const std::string runtime = folder / "run";
        SingleInstance first(runtime, "Tavrin", c.first);
        ASSERT_EQ(first.acquire(), Result::First) << c.name;
        ASSERT_TRUE(first.announce()) << c.name << ": " << first.error();
        SingleInstance::Knocks knocks;
        std::thread holder([&] {
            pollfd p{first.knockFd(), POLLIN, 0};
            if (::poll(&p, 1, 10000) == 1)
                knocks = first.takeShowRequests();
        });
        SingleInstance second(runtime, "Tavrin", c.second);
        EXPECT_EQ(second.acquire(), c.seen) << c.name;
        holder.join();
        EXPECT_EQ(knocks.windows, c.windows) << c.name;
        EXPECT_EQ(knocks.headless, c.headless) << c.name;
    }
}

// A knock in words the first does not know gets no answer: the later start takes
// the first for one that is not up yet, and nothing counts as a knock.
TEST(SingleInstance, AKnockOfUnknownWordsIsNotAnswered) {
    tavrin::test::TempFolder folder;
    const std::string runtime = folder / "run";
    SingleInstance first(runtime, "Tavrin", SingleInstance::Kind::Headless);
    ASSERT_EQ(first.acquire(), SingleInstance::Result::First);
    ASSERT_TRUE(first.announce());
    const std::vector<std::string> unknown = {"show\n", "showwindow\n", std::string(64, 'x'), ""};
    for (const std::string& words : unknown) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string path = runtime + "/Tavrin.sock";
        std::memcpy(address.sun_path, path.c_str(), path.size());
        ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(::send(fd, words.data(), words.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(words.size()));
        ::shutdown(fd, SHUT_WR);
        EXPECT_EQ(first.takeShowRequests().total(), 0) << words;
        char answer[16];
        // Closed unanswered (reset when the knock was left unread).
        EXPECT_LE(::recv(fd, answer, sizeof answer, MSG_DONTWAIT), 0) << words;
        ::close(fd);
    }
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
