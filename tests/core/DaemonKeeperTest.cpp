// The session's daemon under faults, against the real engine: a link that breaks,
// a daemon that ends, one that stalls while traffic goes through it, and starts
// that keep failing. What the daemon holds afterwards is read back from the engine
// itself; what the user is told, from the recorded messages and status texts.
#include "CoreHarness.h"
#include "SessionSettings.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tavrin::core {
namespace {

using test::threeFilters;
using test::toLocal;
using Strings = std::vector<std::string>;

constexpr char kNotMeasuredUp[] = " UP    未測定";
constexpr char kNotMeasuredDown[] = " DOWN    未測定";

// Filter 3 (UDP 6666, 10 KB/s) is dropped by a dynamic filter while it holds.
std::string withOverride() {
    return threeFilters() +
           "[DynamicFilter1]\nDROP=TRUE\nDROP_SYN_ONLY=FALSE\nAVAILABLE=TRUE\nTARGET_FILTER_ID=3\n";
}

class DaemonKeeperTest : public ::testing::Test, protected test::CoreHarness {
protected:
    FilteringSession& session() { return m_core.session(); }

    // Started, filtering on, the dynamic override sent: everything a daemon holds.
    void startFull() {
        ASSERT_TRUE(start(withOverride()));
        session().startFiltering();
        session().connectionTick();
        ASSERT_FALSE(decide(toLocal(6666)));
        m_engine.clear();
        m_messages.clear();
        m_manager.clearCalls();
        m_view.statusTexts.clear();
    }
    // The daemon holds the session: 5555 dropped by its rule, 6666 by the override,
    // others pass, and the hook is registered.
    void expectSessionInForce() {
        EXPECT_TRUE(m_engine.hookRegistered());
        EXPECT_FALSE(decide(toLocal(5555)));
        EXPECT_FALSE(decide(toLocal(6666)));
        EXPECT_TRUE(decide(toLocal(5556)));
    }
    // The daemon ended; the next request finds its link closed.
    void daemonEnds() {
        m_manager.state = ServiceState::Stopped;
        m_engine.breakNext();
        m_engine.replaceDaemon();
    }
    int calls(const std::string& call) const {
        return static_cast<int>(
            std::count(m_manager.calls().begin(), m_manager.calls().end(), call));
    }
    // Every tick that talks to the daemon, once.
    void tick() {
        session().drainPackets();
        session().readCounters();
        session().secondTick();
        session().connectionTick();
    }
};

// The requests of a restore: the whole session again, the switch, the overrides.
const Strings kRestore = {"STOP_IP_HOOK", "CLEAR_FILTER",  "SET_LOCALIP",     "ADD_FILTER",
                          "ADD_FILTER",   "START_IP_HOOK", "START_FILTERING", "CHANGE_FILTER"};

TEST_F(DaemonKeeperTest, ABrokenLinkIsOpenedAgainAtTheNextTickAndTheSessionRestored) {
    startFull();
    // The link breaks in the middle of a drain; the daemon lives on and may or may
    // not have carried out what was lost. Here it lost its override meanwhile.
    m_engine.breakNext();
    session().drainPackets();
    EXPECT_FALSE(m_ovlank.deviceOpen());
    m_engine.engine().dispatch(ovlank::CLEAR_FILTER, {}, {});
    const size_t opens = m_engine.opens();

    m_engine.clear();
    session().readCounters();
    EXPECT_EQ(m_engine.opens(), opens + 1);
    Strings expected{"GET_VERSION"};
    expected.insert(expected.end(), kRestore.begin(), kRestore.end());
    expected.push_back("CLEAR_BANDWIDTH"); // the tick's own request follows
    EXPECT_EQ(m_engine.names(), expected);
    expectSessionInForce();
    // Nobody needs to be told: nothing was lost.
    EXPECT_TRUE(m_messages.texts().empty()) << m_messages.texts()[0];
    EXPECT_EQ(calls("start Ovlank"), 0);
}

TEST_F(DaemonKeeperTest, ADaemonThatEndedIsStartedAgainWithTheSessionAndReportedOnce) {
    startFull();
    daemonEnds();
    session().drainPackets(); // finds the link closed
    session().readCounters(); // the next tick starts a new daemon
    // Stopping the ended daemon clears up after it; then a new one starts and gets
    // the whole session, filtering switch and override included.
    EXPECT_EQ(calls("stop Ovlank"), 1);
    EXPECT_EQ(calls("start Ovlank"), 1);
    expectSessionInForce();
    EXPECT_EQ(m_messages.texts(), Strings{kDaemonEndedMessage});
    EXPECT_EQ(m_view.statusTexts, (Strings{kRestartingStatus, ""}));
    // The second in which it ended was not measured to its end.
    EXPECT_EQ(m_view.panes[kPaneUp], kNotMeasuredUp);
    session().secondTick();
    EXPECT_EQ(m_view.panes[kPaneUp], " UP     0.0 KB/s");
    // Once: later ticks and the exit path add nothing.
    tick();
    EXPECT_TRUE(m_core.exitPath());
    EXPECT_EQ(m_messages.texts(), Strings{kDaemonEndedMessage});
}

TEST_F(DaemonKeeperTest, ADaemonThatEndedWhileNothingWasSentIsNoticedWithinASecond) {
    startFull();
    m_manager.state = ServiceState::Stopped;
    m_engine.replaceDaemon();
    session().connectionTick();
    EXPECT_EQ(calls("stop Ovlank"), 1);
    EXPECT_EQ(calls("start Ovlank"), 1);
    expectSessionInForce();
    EXPECT_EQ(m_messages.texts(), Strings{kDaemonEndedMessage});
}

TEST_F(DaemonKeeperTest, ThreeFailedRestartsGiveUpWithTheirReasonAndStopTrying) {
    startFull();
    daemonEnds();
    for (int i = 0; i < 3; ++i)
        m_manager.script("start", ScmStatus::Failed,
                         "/opt/Ovlank exited with status 1 before its device answered");
    session().drainPackets(); // finds the link closed
    // One attempt per tick.
    for (int attempt = 1; attempt <= 3; ++attempt) {
        session().drainPackets();
        EXPECT_EQ(calls("start Ovlank"), attempt);
        EXPECT_FALSE(m_view.statusTexts.empty());
    }
    session().drainPackets();
    EXPECT_TRUE(session().keeper().gaveUp());
    EXPECT_EQ(m_messages.texts(),
              (Strings{kDaemonEndedMessage,
                       std::string(kGaveUpMessage) +
                           "\n/opt/Ovlank exited with status 1 before its device answered"}));
    EXPECT_EQ(m_view.statusTexts.back(), kGaveUpStatus);

    // Given up for good: no further attempt, no further word, nothing measured.
    const auto made = m_manager.calls().size();
    for (int i = 0; i < 5; ++i)
        tick();
    EXPECT_EQ(m_manager.calls().size(), made);
    EXPECT_EQ(m_messages.texts().size(), 2u);
    EXPECT_EQ(m_view.panes[kPaneUp], kNotMeasuredUp);
    EXPECT_EQ(m_view.panes[kPaneDown], kNotMeasuredDown);
    // The user's own request fails aloud; a rebuild and the exit path do not try
    // the daemon, nor complain about it.
    session().startFiltering();
    EXPECT_EQ(m_messages.texts().back(), "FAILED: DeviceIoControl START_FILTERING");
    session().restart();
    EXPECT_TRUE(m_core.exitPath());
    EXPECT_EQ(m_manager.calls().size(), made);
    EXPECT_EQ(m_messages.texts().size(), 3u);
}

TEST_F(DaemonKeeperTest, ARestartThatWorksBetweenFailuresKeepsTrying) {
    startFull();
    daemonEnds();
    m_manager.script("start", ScmStatus::Failed, "exited with status 1");
    m_manager.script("start", ScmStatus::Failed, "exited with status 1");
    for (int i = 0; i < 4; ++i)
        session().drainPackets(); // the link found closed, two failures, then a start
    EXPECT_FALSE(session().keeper().gaveUp());
    expectSessionInForce();
    EXPECT_EQ(m_messages.texts(), Strings{kDaemonEndedMessage});
    EXPECT_EQ(m_view.statusTexts.back(), "");
}

TEST_F(DaemonKeeperTest, AStallWhileHookedBypassesTheDaemonUntilItAnswersAgain) {
    startFull();
    // Answered late: bypassed while it stalled, back as soon as it answered.
    m_engine.stallNext();
    session().drainPackets();
    EXPECT_EQ(m_bypass.detaches, 1);
    EXPECT_EQ(m_view.statusTexts, Strings{kBypassedStatus});
    session().readCounters();
    EXPECT_EQ(m_messages.texts(), (Strings{kBypassedMessage, kResumedMessage}));
    EXPECT_EQ(m_view.statusTexts, (Strings{kBypassedStatus, ""}));

    // Not answered at all: the daemon is frozen. Nothing is tried while it is
    // stopped, nothing measured, nothing said again.
    m_messages.clear();
    m_view.statusTexts.clear();
    m_engine.stallNext();
    m_engine.breakNext();
    session().drainPackets();
    EXPECT_EQ(m_bypass.detaches, 2);
    m_manager.state = ServiceState::Paused;
    const size_t opens = m_engine.opens();
    for (int i = 0; i < 4; ++i)
        tick();
    EXPECT_EQ(m_engine.opens(), opens);
    EXPECT_EQ(m_messages.texts(), Strings{kBypassedMessage});
    EXPECT_EQ(m_view.panes[kPaneDown], kNotMeasuredDown);
    // Continued: the link is opened again, the session restored, the bypass over.
    m_manager.state = ServiceState::Running;
    m_engine.engine().dispatch(ovlank::STOP_FILTERING, {}, {});
    session().drainPackets();
    expectSessionInForce();
    EXPECT_EQ(m_messages.texts(), (Strings{kBypassedMessage, kResumedMessage}));
    EXPECT_EQ(m_view.statusTexts, (Strings{kBypassedStatus, ""}));
    EXPECT_EQ(m_bypass.detaches, 2);

    // A bypass that fails says so, with the reason.
    m_messages.clear();
    m_bypass.works = false;
    m_engine.stallNext();
    session().drainPackets();
    session().drainPackets();
    ASSERT_EQ(m_messages.texts().size(), 2u);
    EXPECT_EQ(m_messages.texts()[0],
              std::string(kBypassFailedMessage) + "\niptables-restore: line 3 failed");
    EXPECT_EQ(m_view.statusTexts[2], kBypassFailedStatus);

    // Traffic that does not go through the daemon is not held up: no bypass.
    ASSERT_TRUE(session().stop());
    m_engine.clear();
    m_engine.stallNext();
    session().connectionTick(); // the override is sent again: one request
    ASSERT_FALSE(m_engine.requests().empty());
    EXPECT_EQ(m_bypass.detaches, 3);
}

TEST_F(DaemonKeeperTest, ChangesWhileTheDaemonCannotBeReachedReachItWhenItIsBack) {
    startFull();
    m_engine.breakNext();
    m_manager.state = ServiceState::Paused;
    session().drainPackets();
    // A new rule list and the switch off while the daemon is frozen: accepted
    // without a word, except for the switch the user asked for in vain.
    m_core.edited().PacketFilterAt(1)->available = 1; // drops all UDP
    m_core.filtersChanged();
    EXPECT_TRUE(session().running());
    EXPECT_TRUE(m_messages.texts().empty()) << m_messages.texts()[0];
    session().stopFiltering();
    EXPECT_EQ(m_messages.texts(), Strings{"FAILED: DeviceIoControl STOP_FILTERING"});
    EXPECT_TRUE(session().filtering());

    m_manager.state = ServiceState::Running;
    session().drainPackets();
    EXPECT_TRUE(m_engine.hookRegistered());
    EXPECT_FALSE(decide(toLocal(7777))); // the new rule, filtering still on
    EXPECT_EQ(m_messages.texts().size(), 1u);
}

TEST_F(DaemonKeeperTest, WhatHappensWhileItsMessageIsOpenReachesTheDaemonAfterwards) {
    startFull();
    // While the box saying the daemon answers again is open (a window's timers run
    // on), a tick comes and the filters are edited: the daemon ends up with the new
    // rules, not the half of a rebuild that the tick could do.
    m_messages.whileOpen([&](const std::string& text) {
        if (text != kResumedMessage)
            return false;
        tick();
        m_core.edited().PacketFilterAt(1)->available = 1; // drops all UDP
        m_core.filtersChanged();
        return true;
    });
    m_engine.stallNext();
    session().drainPackets();
    session().drainPackets();
    EXPECT_EQ(m_messages.texts(), (Strings{kBypassedMessage, kResumedMessage}));
    EXPECT_TRUE(m_engine.hookRegistered());
    EXPECT_FALSE(decide(toLocal(7777)));
}

TEST_F(DaemonKeeperTest, APeriodicRefusalIsShownOncePerEpisode) {
    ASSERT_TRUE(start(threeFilters()));
    // Refused, refused, read, refused: two episodes, two messages.
    const bool refused[] = {true, true, false, true, true};
    for (bool r : refused) {
        if (r)
            m_engine.refuseNext(ovlank::CLEAR_BANDWIDTH);
        session().readCounters();
    }
    EXPECT_EQ(m_messages.texts(), (Strings{"FAILED: DeviceIoControl CLEAR_BANDWIDTH",
                                           "FAILED: DeviceIoControl CLEAR_BANDWIDTH"}));
}

} // namespace
} // namespace tavrin::core
