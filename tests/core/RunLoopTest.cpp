#include "RunLoop.h"

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

namespace tavrin::ctl {
namespace {

using namespace std::chrono_literals;

TEST(RunLoop, TimersTickUntilStoppedAndTicksMayChangeTheTimers) {
    RunLoop loop;
    int fast = 0;
    int restarted = 0;
    int stopped = 0;
    loop.startTimer(1, 5ms, [&] {
        if (++fast == 3) {
            loop.stopTimer(2); // stopped by another timer's tick: never ticks again
            // Restarting itself from its own tick keeps it going under the new tick.
            loop.startTimer(1, 5ms, [&] {
                if (++restarted == 2)
                    loop.quit();
            });
        }
    });
    loop.startTimer(2, 1h, [&] { ++stopped; });
    ASSERT_TRUE(loop.run());
    EXPECT_EQ(fast, 3);
    EXPECT_EQ(restarted, 2);
    EXPECT_EQ(stopped, 0);
    EXPECT_TRUE(loop.timerRunning(1));
    EXPECT_FALSE(loop.timerRunning(2));
}

TEST(RunLoop, SignalsAndReadableDescriptorsBecomeEvents) {
    RunLoop loop;
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    std::string got;
    std::vector<int> signals;
    loop.watchReadable(pipeFds[0], [&] {
        char c;
        if (::read(pipeFds[0], &c, 1) == 1)
            got.push_back(c);
        if (got == "ab")
            ::raise(SIGTERM); // blocked: it arrives as an event, not as the end
    });
    loop.onSignal([&](int signo) {
        signals.push_back(signo);
        loop.quit();
    });
    ASSERT_EQ(::write(pipeFds[1], "ab", 2), 2);
    ASSERT_TRUE(loop.run());
    EXPECT_EQ(got, "ab");
    EXPECT_EQ(signals, (std::vector<int>{SIGTERM}));
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
}

} // namespace
} // namespace tavrin::ctl
