#include "SettingsSaver.h"

#include "IniFileWriter.h"

namespace tavrin::settings {

bool SettingsSaver::save(SaveKind kind, const IniFileObject& edited, IniFileObject& inForce,
                         const AdapterList& adapters, const std::string& file,
                         commands::ExternalCommandIni* commands) {
    if (kind == SaveKind::Full)
        inForce = edited;
    else
        inForce.CopyOptionsFrom(edited);
    IniFileWriter writer(m_profile, adapters);
    bool wrote = false;
    const bool saved =
        saveFile(kind, file, [&](PrivateProfile&, const std::string& f, bool commonOnly) {
            wrote = true;
            return writer.WriteIniFile(commonOnly, inForce, f);
        });
    // A save stopped before the settings were written stops here too; once they were
    // written, successfully or not, the commands are saved as well.
    if (wrote && commands != nullptr)
        commands->save();
    return saved;
}

bool SettingsSaver::saveFile(SaveKind kind, const std::string& file, const WriteStep& write) {
    const std::string backup = file + kBackupSuffix;

    // Keep the present file as the previous generation. An empty file holds no
    // settings and would only push a useful backup out.
    std::string previous;
    bool haveBackup = false;
    const FileStatus status = m_fs.status(file);
    if (std::error_code ec = m_fs.readFile(file, previous)) {
        if (ec != std::errc::no_such_file_or_directory) {
            m_messages.show(kMessageBackupFailed);
            return false;
        }
    } else if (!previous.empty()) {
        // The backup holds the same settings, so it is as private as the file.
        const auto permissions =
            status.exists ? std::optional<unsigned>(status.permissions) : std::nullopt;
        if (replaceFileDurably(m_fs, backup, previous, permissions)) {
            m_messages.show(kMessageBackupFailed);
            return false;
        }
        haveBackup = true;
    }

    if (kind == SaveKind::Full) {
        if (status.mustNotReplace()) {
            m_messages.show(kMessageFileInUse);
            return false;
        }
        // A full save builds the file from nothing; the old one stays until the new
        // one is complete on disk.
        m_profile.beginNewFile(file);
    }

    const bool written = write(m_profile, file, kind == SaveKind::OptionsOnly);
    m_profile.discard(file);
    if (written)
        return true;

    m_messages.show(kMessageWriteFailed);
    if (haveBackup) {
        // The write replaces the file in one step, so normally the old file is still in
        // place; this covers a failure after the replacement (flushing the folder).
        std::string current;
        if (m_fs.readFile(file, current) || current != previous)
            replaceFileDurably(m_fs, file, previous);
    }
    return false;
}

} // namespace tavrin::settings
