#include "ApplicationCore.h"

#include "IniFileReader.h"

namespace tavrin::core {

ApplicationCore::ApplicationCore(CoreParts parts)
    : m_parts(std::move(parts)), m_daemonBypass(m_parts.ovlank),
      m_session({m_parts.ovlank, m_parts.messages, m_parts.view, *this, m_inForce, m_edited,
                 m_parts.network, m_parts.adapters,
                 m_parts.bypass != nullptr ? *m_parts.bypass : m_daemonBypass}) {}

bool ApplicationCore::setUp(const BringUpPlace& place) {
    if (!bringUpDrivers(m_parts.ipFilter, m_parts.ovlank, m_parts.messages, place))
        return false;
    // Filters name their adapters; the list must be there before they are read.
    m_parts.adapters.rebuild();
    if (m_parts.commands.load() == 0)
        m_parts.commands.save(); // creates the file with the default commands
    settings::IniFileReader reader(m_parts.profile, m_parts.adapters, m_parts.messages);
    if (!reader.ReadIniFile(m_inForce, m_parts.settingsFile)) {
        // Save what there is (defaults, and whatever was read before a failure) so
        // that a file exists.
        m_edited = m_inForce;
        fullSave();
    }
    m_edited = m_inForce;
    m_settingsSaved = true;

    m_edited.RefreshLocalAddresses(m_parts.adapters);
    m_parts.network.selectSource(*this);
    m_session.bandwidth().clear();
    return true;
}

void ApplicationCore::initialise() {
    m_parts.view.setPaneText(kPaneTotal, kTotalPaneText);
    m_parts.view.setPaneText(kPaneUp,
                             BandwidthMonitor::paneText(0, BandwidthMonitor::kNotMeasured));
    m_parts.view.setPaneText(kPaneDown,
                             BandwidthMonitor::paneText(1, BandwidthMonitor::kNotMeasured));
    m_session.setHidden(false);
    m_parts.view.filteringChanged(false);
    m_session.setMonitorPackets(false);
    m_session.setDynamicFiltering(m_edited.GetDoDynamicFiltering() != 0);
    m_session.start();
    // A fatal failure during the start may have ended the program already.
    if (m_ended)
        return;
    if (m_inForce.GetStartupOn() != 0)
        m_session.startFiltering();
}

void ApplicationCore::commitForSessionStart() {
    if (m_edited.GetAutoSave() != 0)
        fullSave();
    else
        commitSettings();
}

void ApplicationCore::filtersChanged() {
    m_settingsSaved = false;
    m_session.restart();
}

bool ApplicationCore::save(settings::SaveKind kind) {
    settings::SettingsSaver saver(m_parts.files, m_parts.profile, m_parts.messages);
    const bool saved = saver.save(kind, m_edited, m_inForce, m_parts.adapters, m_parts.settingsFile,
                                  &m_parts.commands);
    if (saved && kind == settings::SaveKind::Full)
        m_settingsSaved = true;
    return saved;
}

bool ApplicationCore::fullSave() {
    return save(settings::SaveKind::Full);
}

bool ApplicationCore::optionsOnlySave() {
    return save(settings::SaveKind::OptionsOnly);
}

void ApplicationCore::optionsAccepted() {
    if (m_edited.GetBandwidthControlTime() != m_inForce.GetBandwidthControlTime())
        m_session.restart();
    optionsOnlySave();
}

void ApplicationCore::setDynamicFiltering(bool on) {
    m_session.setDynamicFiltering(on);
    m_edited.SetDoDynamicFiltering(on ? 1 : 0);
}

bool ApplicationCore::exitPath(ExitMode mode) {
    if (m_ended)
        return true;
    m_exitSaveFailed = false;
    bool asked = false;
    if (mode == ExitMode::Unattended && !m_settingsSaved && m_edited.GetAutoSave() != 0 &&
        !fullSave()) {
        m_exitSaveFailed = true;
        return false;
    }
    if (mode == ExitMode::Normal && !m_settingsSaved) {
        bool save = true;
        if (m_edited.GetAutoSave() == 0) {
            asked = true;
            switch (m_parts.messages.askYesNoCancel(kSaveQuestion, kProgramName,
                                                    MessageIcon::Question)) {
            case Answer::Yes: break;
            case Answer::Cancel: return false;
            default: save = false; break;
            }
        }
        // The save has shown why it failed; leaving now would lose the edits it was for.
        if (save && !fullSave()) {
            m_exitSaveFailed = true;
            return false;
        }
    }
    if (mode == ExitMode::Normal && !asked && m_edited.GetConfirmClose() != 0 &&
        m_parts.messages.askYesNo(kCloseQuestion, kProgramName, MessageIcon::Question) !=
            Answer::Yes)
        return false;
    m_session.stop();
    m_parts.view.programEnding();
    optionsOnlySave();
    m_ended = true;
    m_parts.view.endProgram();
    return true;
}

bool ApplicationCore::runExitPath() {
    if (m_ended)
        return true;
    m_endedByFailure = exitPath();
    return m_endedByFailure;
}

} // namespace tavrin::core
