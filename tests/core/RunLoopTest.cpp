#include "RunLoop.h"
#include "BandwidthMonitor.h"
#include "DaemonKeeper.h"
#include "HeadlessView.h"
#include "Messages.h"
#include "PlainText.h"
#include "ReadAll.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
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
        if (got == "ab") {
            // Blocked: each arrives as an event, not as the end of the process. A
            // closed terminal (SIGHUP) and SIGQUIT ask to leave just like SIGINT and SIGTERM.
            for (int signo : {SIGTERM, SIGHUP, SIGQUIT, SIGINT})
                ::raise(signo);
        }
    });
    loop.onSignal([&](int signo) {
        signals.push_back(signo);
        if (signals.size() == 4)
            loop.quit();
    });
    ASSERT_EQ(::write(pipeFds[1], "ab", 2), 2);
    ASSERT_TRUE(loop.run());
    EXPECT_EQ(got, "ab");
    std::sort(signals.begin(), signals.end());
    EXPECT_EQ(signals, (std::vector<int>{SIGHUP, SIGINT, SIGQUIT, SIGTERM}));
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
}

TEST(HeadlessView, PrintsOneStatusLinePerPairAndTheFilteringSwitch) {
    RunLoop loop;
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    ASSERT_NE(out, nullptr);
    ASSERT_NE(err, nullptr);
    HeadlessView view(loop, out, err);
    using core::BandwidthMonitor;
    view.setPaneText(core::kPaneTotal, core::kTotalPaneText);
    view.setPaneText(core::kPaneUp, BandwidthMonitor::paneText(0, 1536));
    EXPECT_EQ(core::test::fileText(out), ""); // TOTAL and UP alone print nothing
    view.setPaneText(core::kPaneDown, BandwidthMonitor::paneText(1, 0));
    view.filteringChanged(true);
    view.setPaneText(core::kPaneUp, BandwidthMonitor::paneText(0, BandwidthMonitor::kNotMeasured));
    view.setPaneText(core::kPaneDown, BandwidthMonitor::paneText(1, 2048));
    view.filteringChanged(false);
    // The status bar's text goes to the error stream, one line each, control bytes
    // escaped; clearing it prints nothing.
    view.setStatusText(core::kGaveUpStatus);
    view.setStatusText({});
    view.setStatusText("a\x1b[2Jb\nc");
    EXPECT_EQ(core::test::fileText(out), " UP     1.5 KB/s | DOWN     0.0 KB/s\n"
                                         "filtering on\n"
                                         " UP    未測定 | DOWN     2.0 KB/s\n"
                                         "filtering off\n");
    EXPECT_EQ(core::test::fileText(err),
              std::string("tavrinctl run: ") + core::kGaveUpStatus + "\n" +
                  "tavrinctl run: " + escapeControlBytes("a\x1b[2Jb\nc") + "\n");
    std::fclose(out);
    std::fclose(err);
}

// Under the service manager the lines go to the journal: each with its priority,
// the figures of every second left out, and the messages of the core as well.
TEST(HeadlessView, LinesForTheJournalCarryPrioritiesAndLeaveTheFiguresOut) {
    RunLoop loop;
    std::FILE* journal = std::tmpfile();
    ASSERT_NE(journal, nullptr);
    struct stat st {};
    ASSERT_EQ(::fstat(::fileno(journal), &st), 0);
    const std::string id = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    ::setenv("JOURNAL_STREAM", id.c_str(), 1);
    HeadlessView view(loop, journal, journal);
    StreamMessages stream(journal, Answer::Yes);
    Messages& messages = stream;
    ::unsetenv("JOURNAL_STREAM");
    using core::BandwidthMonitor;
    view.setPaneText(core::kPaneUp, BandwidthMonitor::paneText(0, 1536));
    view.setPaneText(core::kPaneDown, BandwidthMonitor::paneText(1, 0));
    view.filteringChanged(true);
    view.setStatusText(core::kGaveUpStatus);
    view.setStatusText("Ovlankが応答しません。");
    messages.show("FAILED: DeviceIoControl START_FILTERING");
    messages.show("failed\nbadly", {}, MessageIcon::Error);
    messages.show("back again", {}, MessageIcon::Information);
    EXPECT_EQ(messages.askYesNo("保存しますか？"), Answer::Yes);
    EXPECT_EQ(core::test::fileText(journal), std::string("<5>filtering on\n") +
                                                 "<3>tavrinctl run: " + core::kGaveUpStatus +
                                                 "\n<4>tavrinctl run: Ovlankが応答しません。\n"
                                                 "<4>FAILED: DeviceIoControl START_FILTERING\n"
                                                 "<3>failed badly\n"
                                                 "<6>back again\n"
                                                 "<5>保存しますか？\n");
    std::fclose(journal);
}

} // namespace
} // namespace tavrin::ctl
