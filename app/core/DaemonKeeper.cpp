#include "DaemonKeeper.h"

#include "OvlankProtocol.h"

#include <array>
#include <cstring>

namespace tavrin::core {

DaemonKeeper::DaemonKeeper(Parts parts, Owner& owner) : m_parts(std::move(parts)), m_owner(owner) {
    m_parts.driver.SetStallHandler(kBypassAfter, [this] { stalled(); });
}

DaemonKeeper::~DaemonKeeper() {
    m_parts.driver.SetStallHandler(kBypassAfter, {});
}

void DaemonKeeper::status(const std::string& text) {
    if (text == m_statusText)
        return;
    m_statusText = text;
    m_parts.view.setStatusText(text);
}

void DaemonKeeper::stalled() {
    // Only traffic that goes through the daemon is held up by it.
    if (m_bypassed || !m_owner.hooked())
        return;
    m_bypassed = true;
    m_bypassReported = false;
    std::string error;
    m_bypassWorked = m_parts.bypass.detach(error);
    m_bypassError = error;
    // The status bar can follow at once; a message waits until the request is over.
    status(m_bypassWorked ? kBypassedStatus : kBypassFailedStatus);
}

void DaemonKeeper::answeredAgain() {
    // The daemon puts its jumps back itself once it runs again; a restore does too.
    m_bypassed = false;
    // A bypass that was never reported (it began and ended within one restore) needs
    // no word about its end either.
    if (m_bypassReported)
        m_parts.messages.show(kResumedMessage, {}, MessageIcon::Information);
    m_bypassReported = true;
    status({});
}

bool DaemonKeeper::ready() {
    if (m_gaveUp)
        return false;
    // A message box runs the window's timers while it is open: a tick that comes in
    // the middle of an attempt, a restore or a message leaves the daemon alone.
    if (m_busy)
        return false;
    m_busy = true;
    const bool isUp = readyNow();
    while (isUp && m_missed) {
        m_missed = false;
        if (!m_owner.restoreDaemon())
            break;
    }
    m_busy = false;
    m_missed = false;
    return isUp && up();
}

bool DaemonKeeper::readyNow() {
    if (m_bypassed && !m_bypassReported) {
        m_bypassReported = true;
        m_parts.messages.show(m_bypassWorked
                                  ? std::string(kBypassedMessage)
                                  : std::string(kBypassFailedMessage) + "\n" + m_bypassError);
    }
    if (up()) {
        if (m_bypassed)
            answeredAgain();
        return true;
    }
    if (!m_down) {
        m_down = true;
        m_owner.linkDown();
    }
    return attempt();
}

void DaemonKeeper::sessionChanged() {
    // Whatever the restore in progress sent may be out of date now.
    if (m_busy)
        m_missed = true;
}

void DaemonKeeper::watch() {
    if (m_gaveUp || m_busy || !up())
        return;
    ServiceState state = ServiceState::Running;
    if (m_parts.driver.QueryStatus(state) == kServiceOk && state == ServiceState::Stopped)
        m_parts.driver.CloseDevice(); // the next ready() starts a new one
}

bool DaemonKeeper::attempt() {
    ServiceState state = ServiceState::Stopped;
    if (m_parts.driver.QueryStatus(state) != kServiceOk)
        state = ServiceState::Stopped; // no record of it any more: start it afresh
    switch (state) {
    case ServiceState::Paused: return false; // it can answer nothing until it is continued
    case ServiceState::Running:
        if (m_parts.driver.ReopenDevice() == kServiceOk && versionAnswers())
            return recovered();
        // There but busy or frozen: it may answer later. Nobody serving its device
        // at all is a daemon that is broken for good.
        if (!m_parts.driver.DeviceRefuses())
            return false;
        break;
    case ServiceState::Stopped: break;
    }
    return restart();
}

bool DaemonKeeper::versionAnswers() {
    std::array<uint8_t, 4> bytes{};
    if (m_parts.driver.Receive(ovlank::GET_VERSION, bytes) != static_cast<int>(bytes.size()))
        return false;
    uint32_t version = 0;
    std::memcpy(&version, bytes.data(), sizeof version);
    return version == ovlank::kDriverVersion;
}

bool DaemonKeeper::restart() {
    if (!m_ended) {
        m_ended = true;
        m_parts.messages.show(kDaemonEndedMessage);
    }
    const auto now = m_parts.now();
    while (!m_restarts.empty() && now - m_restarts.front() >= kRestartWindow)
        m_restarts.pop_front();
    if (m_restarts.size() >= kMaxRestarts) {
        giveUp();
        return false;
    }
    m_restarts.push_back(now);
    status(kRestartingStatus);
    m_parts.driver.setQuiet(true);
    // Stopping an ended daemon clears up after it (chains, jumps, socket); a service
    // that would not start was deleted and is registered afresh.
    m_parts.driver.Stop();
    bool started = m_parts.driver.Install(true, true) == kServiceOk && versionAnswers();
    if (!started)
        m_parts.driver.Stop(); // a daemon that answers something else is not ours
    m_parts.driver.setQuiet(false);
    return started && recovered();
}

bool DaemonKeeper::recovered() {
    if (!m_owner.restoreDaemon())
        return false;
    m_down = false;
    m_ended = false;
    if (m_bypassed)
        answeredAgain();
    status({});
    return true;
}

void DaemonKeeper::giveUp() {
    m_gaveUp = true;
    std::string text = kGaveUpMessage;
    if (!m_parts.driver.lastFailure().empty())
        text += "\n" + m_parts.driver.lastFailure();
    m_parts.messages.show(text);
    status(kGaveUpStatus);
}

} // namespace tavrin::core
