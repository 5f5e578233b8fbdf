// Keeps the program's link to its daemon: notices a link that broke (no answer in
// time, a broken frame), a daemon that ended (its process gone, its socket
// refusing) and one that froze, opens the link again or starts a new daemon, and
// has its owner bring the daemon back to the state it should hold. A daemon that
// answers nothing for a while as traffic passes through it is bypassed (the jumps
// to its chains taken away) until it answers again. Each fault is reported once.
#pragma once

#include "CoreView.h"
#include "DaemonCommands.h"
#include "DriverService.h"
#include "Messages.h"

#include <chrono>
#include <deque>
#include <functional>

namespace tavrin::core {

inline constexpr char kDaemonEndedMessage[] = "Ovlankが異常終了しました。Ovlankを再起動します。";
inline constexpr char kRestartingStatus[] = "Ovlankを再起動しています。";
inline constexpr char kGaveUpMessage[] =
    "Ovlankの再起動に3回続けて失敗したため、再起動をあきらめました。\n"
    "フィルタリングは行われていません。Tavrinを起動し直してください。";
inline constexpr char kGaveUpStatus[] =
    "Ovlankが停止しています。フィルタリングは行われていません。";
inline constexpr char kBypassedMessage[] =
    "Ovlankが3秒以上応答しません。\n"
    "Ovlankが応答するまで、通信はフィルタを通さずに流します。";
inline constexpr char kBypassedStatus[] =
    "Ovlankが応答しません。フィルタリングを一時的に解除しています。";
inline constexpr char kBypassFailedMessage[] =
    "Ovlankが3秒以上応答しません。\n"
    "フィルタを外せなかったため、Ovlankが応答するまで通信が止まることがあります。";
inline constexpr char kBypassFailedStatus[] = "Ovlankが応答しません。";
inline constexpr char kResumedMessage[] =
    "Ovlankが応答を再開しました。フィルタリングを再開します。";

class DaemonKeeper final {
public:
    using Clock = std::chrono::steady_clock;

    // How long a request may wait for its answer, while traffic goes through the
    // daemon, before the daemon is bypassed.
    static constexpr std::chrono::milliseconds kBypassAfter{3000};
    // Restarts that count together; the next one after kMaxRestarts within this
    // window is not tried.
    static constexpr std::chrono::seconds kRestartWindow{60};
    static constexpr size_t kMaxRestarts = 3;

    // What the keeper needs from the filtering session.
    class Owner {
    public:
        virtual ~Owner() = default;
        // The daemon answers again (the same one or a new one): give it what it should
        // hold. False when the link broke again meanwhile.
        virtual bool restoreDaemon() = 0;
        // The link is down: nothing is measured until it is back.
        virtual void linkDown() = 0;
        // Whether traffic goes through the daemon's hook now.
        virtual bool hooked() const = 0;
    };

    struct Parts {
        DriverService& driver;
        Messages& messages;
        CoreView& view;
        HookBypass& bypass;
        std::function<Clock::time_point()> now = Clock::now;
    };

    DaemonKeeper(Parts parts, Owner& owner);
    ~DaemonKeeper();
    DaemonKeeper(const DaemonKeeper&) = delete;
    DaemonKeeper& operator=(const DaemonKeeper&) = delete;

    // At the start of every tick that talks to the daemon. True when the link is up,
    // after at most one attempt to bring it back.
    bool ready();
    // Once a second: a daemon that ended is noticed even while nothing is sent to it.
    void watch();
    // The session was rebuilt while ready() turned it away (from inside one of the
    // keeper's own messages): the daemon gets the session again when that is over.
    void sessionChanged();

    bool up() const { return m_parts.driver.deviceOpen(); }
    bool gaveUp() const { return m_gaveUp; }
    bool bypassed() const { return m_bypassed; }

private:
    bool readyNow();
    bool attempt();
    bool restart();
    bool recovered();
    bool versionAnswers();
    void giveUp();
    // A request has waited kBypassAfter for its answer (called in the middle of it).
    void stalled();
    void answeredAgain();
    void status(const std::string& text);

    Parts m_parts;
    Owner& m_owner;
    bool m_down = false;
    bool m_ended = false; // this episode began with a daemon that ended
    bool m_gaveUp = false;
    bool m_busy = false;   // in an attempt, a restore or one of its messages
    bool m_missed = false; // the session changed meanwhile
    bool m_bypassed = false;
    bool m_bypassReported = true;
    bool m_bypassWorked = false;
    std::string m_bypassError;
    std::string m_statusText;
    std::deque<Clock::time_point> m_restarts;
};

} // namespace tavrin::core
