// The window side of `tavrinctl run`: the session's timers on the event loop, the
// status bar as a line on standard output every second, filtering changes as
// lines too, the status bar's text on standard error, and the end of the exit path
// as the end of the loop. Lines that go to the journal carry their priority, and
// the figures of every second stay out of it (86400 entries a day would bury what
// matters).
#pragma once

#include "CoreView.h"
#include "JournalLines.h"
#include "RunLoop.h"

#include <cstdio>
#include <map>

namespace tavrin::core {
class ApplicationCore;
class FilteringSession;
} // namespace tavrin::core

namespace tavrin::ctl {

class HeadlessView final : public core::CoreView {
public:
    // The status lines go to `out`; messages of lasting states (setStatusText) to `err`.
    HeadlessView(RunLoop& loop, std::FILE* out, std::FILE* err)
        : m_loop(loop), m_out(out), m_err(err) {}

    // The session whose ticks the timers call; set once the core exists.
    void bind(core::FilteringSession& session) { m_session = &session; }

    void sessionTimers(bool running, std::chrono::milliseconds period) override;
    void setPaneText(int pane, const std::string& text) override;
    void endProgram() override { m_loop.quit(); }
    void filteringChanged(bool filtering) override;
    void setStatusText(const std::string& text) override;

    const std::string& paneText(int pane) const;

private:
    RunLoop& m_loop;
    journal::LineWriter m_out;
    journal::LineWriter m_err;
    core::FilteringSession* m_session = nullptr;
    std::map<int, std::string> m_panes;
};

// What a signal of kLeaveSignals does: the exit path, every question answered yes.
// Nobody can be asked whether to leave without saving, so when the save fails the
// program stays and says so on `err`, and the next signal leaves without the save.
class SignalExit final {
public:
    SignalExit(core::ApplicationCore& app, std::FILE* err) : m_app(app), m_err(err) {}
    // True when the program ends.
    bool operator()();

private:
    core::ApplicationCore& m_app;
    journal::LineWriter m_err;
    bool m_withoutSaving = false;
};

} // namespace tavrin::ctl
