// The program's spine without its window: brings up the drivers, loads the
// settings and external commands, keeps the settings in force and being edited,
// runs the filtering session, saves, and leaves through the exit path. The Qt
// main dialog and tavrinctl run both drive one of these.
#pragma once

#include "AdapterList.h"
#include "CoreView.h"
#include "DaemonCommands.h"
#include "DriverBringUp.h"
#include "DriverService.h"
#include "ExternalCommandIni.h"
#include "FileSystem.h"
#include "FilteringSession.h"
#include "IniFileObject.h"
#include "Messages.h"
#include "NetworkInfo.h"
#include "PrivateProfile.h"
#include "SettingsSaver.h"

#include <string>

namespace tavrin::core {

inline constexpr char kSaveQuestion[] = "設定は保存されていません。保存して終了しますか？";
inline constexpr char kCloseQuestion[] = "終了してよろしいですか？";

struct CoreParts {
    Messages& messages;
    CoreView& view;
    DriverService& ipFilter;
    DriverService& ovlank;
    NetworkInfo& network;
    AdapterList& adapters;
    settings::FileSystem& files;
    settings::PrivateProfile& profile;
    commands::ExternalCommandIni& commands;
    std::string settingsFile = settings::kSettingsFile;
    // How a daemon that stopped answering is bypassed; null: with its own detach
    // command (DaemonHookBypass).
    HookBypass* bypass = nullptr;
};

class ApplicationCore final : private SessionHost, private NetworkInfoSettings {
public:
    explicit ApplicationCore(CoreParts parts);

    // Before the window: the drivers, the settings and commands, the filters'
    // addresses and the bandwidth tables. False when the program must end.
    bool setUp(const BringUpPlace& place);
    // The core's part of the window's initialisation: the status bar's first texts,
    // the check boxes, the session, and filtering when STARTUP_ON is set.
    void initialise();

    // Commands.
    void startFiltering() { m_session.startFiltering(); }
    void stopFiltering() { m_session.stopFiltering(); }
    // After the filter or dynamic filter pages changed something.
    void filtersChanged();
    void restartSession() { m_session.restart(); }
    bool fullSave();
    bool optionsOnlySave();
    // The option pages were closed with OK after writing into the settings being edited.
    void optionsAccepted();
    // Check box "動的フィルタリングを行う".
    void setDynamicFiltering(bool on);

    enum class ExitMode {
        // Unsaved settings are saved (AUTO_SAVE) or the user is asked; a save that
        // fails keeps the program, so that the edits it was for are not lost.
        Normal,
        // Neither saved nor asked: for a front end that cannot ask anyone and was
        // already refused once because the save failed.
        WithoutSaving,
        // Nobody is asked (a signal, the desktop session ending): unsaved filters are
        // saved only under AUTO_SAVE, the options always. A failed AUTO_SAVE save
        // keeps the program, as in Normal.
        Unattended,
    };
    // The exit path. True when the program ends; false when the user stayed or the
    // save failed (then exitSaveFailed() is true).
    bool exitPath(ExitMode mode = ExitMode::Normal);

    bool settingsSaved() const { return m_settingsSaved; }
    bool ended() const { return m_ended; }
    // The last exit path stopped because its full save failed.
    bool exitSaveFailed() const { return m_exitSaveFailed; }
    // The program ended because a fatal failure ran the exit path.
    bool endedByFailure() const { return m_endedByFailure; }
    settings::IniFileObject& inForce() { return m_inForce; }
    settings::IniFileObject& edited() { return m_edited; }
    FilteringSession& session() { return m_session; }

private:
    // SessionHost
    void commitForSessionStart() override;
    void commitSettings() override { m_inForce = m_edited; }
    bool runExitPath() override;
    // NetworkInfoSettings: the connection table reads the settings being edited.
    bool systemCheck() const override { return m_edited.GetSystemCheck() != 0; }
    bool portProcessMapping() const override { return m_edited.GetPortProcessMapping() != 0; }

    bool save(settings::SaveKind kind);

    CoreParts m_parts;
    DaemonHookBypass m_daemonBypass;
    settings::IniFileObject m_inForce;
    settings::IniFileObject m_edited;
    FilteringSession m_session;
    bool m_settingsSaved = false;
    bool m_ended = false;
    bool m_exitSaveFailed = false;
    bool m_endedByFailure = false;
};

} // namespace tavrin::core
