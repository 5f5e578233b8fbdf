#include "HeadlessView.h"

#include "ApplicationCore.h"
#include "BandwidthMonitor.h"
#include "FilteringSession.h"
#include "PlainText.h"

namespace tavrin::ctl {

void HeadlessView::sessionTimers(bool running, std::chrono::milliseconds period) {
    if (!running || m_session == nullptr) {
        for (int id : {core::kTimerDrainPackets, core::kTimerReadCounters, core::kTimerSecond})
            m_loop.stopTimer(id);
        return;
    }
    core::FilteringSession& session = *m_session;
    m_loop.startTimer(core::kTimerDrainPackets, core::kDrainPeriod,
                      [&session] { session.drainPackets(); });
    m_loop.startTimer(core::kTimerReadCounters, period, [&session] { session.readCounters(); });
    m_loop.startTimer(core::kTimerSecond, core::kSecondPeriod,
                      [&session] { session.secondTick(); });
}

void HeadlessView::setPaneText(int pane, const std::string& text) {
    m_panes[pane] = text;
    // UP is set before DOWN: one line per update of the pair.
    if (pane == core::kPaneDown && !m_out.journal())
        m_out.write(journal::Priority::Info, paneText(core::kPaneUp) + " |" + text);
}

void HeadlessView::filteringChanged(bool filtering) {
    m_out.write(journal::Priority::Notice, filtering ? "filtering on" : "filtering off");
}

void HeadlessView::setStatusText(const std::string& text) {
    // A cleared text needs no line: the next status line shows things are back.
    if (text.empty())
        return;
    // Having given up on the daemon, the program no longer filters: a failure.
    m_err.write(text == core::kGaveUpStatus ? journal::Priority::Error : journal::Priority::Warning,
                "tavrinctl run: " + escapeControlBytes(text));
}

const std::string& HeadlessView::paneText(int pane) const {
    static const std::string none;
    auto it = m_panes.find(pane);
    return it == m_panes.end() ? none : it->second;
}

bool SignalExit::operator()() {
    using Mode = core::ApplicationCore::ExitMode;
    if (m_app.exitPath(m_withoutSaving ? Mode::WithoutSaving : Mode::Normal))
        return true;
    if (m_app.exitSaveFailed() && !m_withoutSaving) {
        m_err.write(journal::Priority::Error,
                    "tavrinctl run: the settings could not be saved, so Tavrin keeps running; a "
                    "second signal ends it without saving");
        m_withoutSaving = true;
    }
    return false;
}

} // namespace tavrin::ctl
