// Saving the settings file: a full save (options and filters) or an options-only
// save, with the previous file kept as "<file>.autobak". At every moment the file
// on disk is either the old one or the new one in full: the new text goes to a
// temporary file that is flushed and then renamed over the old one. The file keeps
// its owner, group and mode; a symbolic link stays one and its target is replaced.
// Everything that can refuse a save is checked before the backup is touched, so a
// refused save leaves both files as they were.
#pragma once

#include "AdapterList.h"
#include "ExternalCommandIni.h"
#include "FileSystem.h"
#include "IniFileObject.h"
#include "Messages.h"
#include "PrivateProfile.h"

#include <functional>
#include <string>

namespace tavrin::settings {

inline constexpr char kSettingsFile[] = "./Setting.ini";
inline constexpr char kBackupSuffix[] = ".autobak";

inline constexpr char kMessageBackupFailed[] =
    "設定の保存に失敗しました。空き容量を確認してください。";
inline constexpr char kMessageFileInUse[] = "設定を保存できません。ファイルが使用中です。";
inline constexpr char kMessageWriteFailed[] = "設定ファイル書き込み失敗";

enum class SaveKind { Full, OptionsOnly };

class SettingsSaver final {
public:
    // Writes the settings into the file through the profile (commonOnly: the common
    // section only) without flushing; false when any write was refused. The saver
    // flushes once the backup is made.
    using WriteStep =
        std::function<bool(PrivateProfile& profile, const std::string& file, bool commonOnly)>;

    SettingsSaver(FileSystem& fs, PrivateProfile& profile, Messages& messages)
        : m_fs(fs), m_profile(profile), m_messages(messages) {}

    // The whole save: the settings being edited become the settings in force (all of
    // them, or only the options), which are written to the file; then the external
    // commands are saved too, when given. True when the settings were saved.
    bool save(SaveKind kind, const IniFileObject& edited, IniFileObject& inForce,
              const AdapterList& adapters, const std::string& file,
              commands::ExternalCommandIni* commands);

    // The saving steps after the settings in force were brought up to date: backup,
    // write, and on failure the message and the backup put back. True on success.
    bool saveFile(SaveKind kind, const std::string& file, const WriteStep& write);

private:
    // Whether the last saveFile went as far as writing the settings (the write was
    // refused or tried), after which the commands are saved too.
    bool m_reachedWrite = false;
    FileSystem& m_fs;
    PrivateProfile& m_profile;
    Messages& m_messages;
};

} // namespace tavrin::settings
