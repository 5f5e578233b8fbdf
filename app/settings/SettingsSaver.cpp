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
    const bool saved =
        saveFile(kind, file, [&](PrivateProfile&, const std::string& f, bool commonOnly) {
            return writer.PutIniFile(commonOnly, inForce, f);
        });
    // A save stopped before the settings were written stops here too; once they were
    // written, successfully or not, the commands are saved as well.
    if (m_reachedWrite && commands != nullptr)
        commands->save();
    return saved;
}

bool SettingsSaver::saveFile(SaveKind kind, const std::string& file, const WriteStep& write) {
    m_reachedWrite = false;
    const std::string backup = file + kBackupSuffix;

    // Where the save goes, and whether it may: nothing is touched before this.
    const SaveTarget target = saveTargetFor(m_fs, file);
    if (target.error == SaveRefusal::UnsafeLink) {
        m_messages.show(unsafeLinkMessage(file));
        return false;
    }
    if (target.error) {
        m_messages.show(kMessageWriteFailed);
        return false;
    }
    std::string previous;
    if (std::error_code ec = m_fs.readFile(file, previous)) {
        if (ec != std::errc::no_such_file_or_directory) {
            m_messages.show(kMessageBackupFailed);
            return false;
        }
        previous.clear();
    }
    const FileStatus& status = target.status;
    if (status.mustNotReplace()) {
        // A full save of the Windows version stopped at deleting the file; an
        // options-only save failed at writing it, and the commands were still saved.
        if (kind == SaveKind::OptionsOnly) {
            m_reachedWrite = true;
            m_messages.show(kMessageWriteFailed);
        } else {
            m_messages.show(kMessageFileInUse);
        }
        return false;
    }

    // A full save builds the file from nothing; the old one stays until the new one
    // is complete on disk. A model the file cannot hold is refused here.
    if (kind == SaveKind::Full)
        m_profile.beginNewFile(file);
    if (!write(m_profile, file, kind == SaveKind::OptionsOnly)) {
        m_profile.discard(file);
        m_reachedWrite = true;
        m_messages.show(kMessageWriteFailed);
        return false;
    }

    // Keep the present file as the previous generation, as private and as owned as
    // the file itself. An empty file holds no settings and would only push a useful
    // backup out.
    const bool haveBackup = !previous.empty();
    if (haveBackup && replaceFileDurably(m_fs, backup, previous,
                                         FileOwner{status.uid, status.gid, status.permissions})) {
        m_profile.discard(file);
        m_messages.show(kMessageBackupFailed);
        return false;
    }

    m_reachedWrite = true;
    const bool written = m_profile.flush(file);
    m_profile.discard(file);
    if (written)
        return true;

    m_messages.show(kMessageWriteFailed);
    if (haveBackup) {
        // The write replaces the file in one step, so normally the old file is still in
        // place; this covers a failure after the replacement (flushing the folder).
        std::string current;
        if (m_fs.readFile(file, current) || current != previous)
            saveFileDurably(m_fs, file, previous);
    }
    return false;
}

} // namespace tavrin::settings
