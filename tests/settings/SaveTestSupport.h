// Helpers for the saving tests: a write step over a fixed list of keys, a save of
// such a list through the real files, and a file system that kills its own process
// at a chosen operation.
#pragma once

#include "FilePrivateProfile.h"
#include "FileSystem.h"
#include "PosixFileSystem.h"
#include "PrivateProfile.h"
#include "RecordingMessages.h"
#include "SettingsSaver.h"

#include <csignal>
#include <string>
#include <vector>

namespace tavrin::test {

struct Entry {
    std::string section;
    std::string key;
    std::string value;
};

// Writes the entries (only those of "Common Settings" for an options-only save); the
// saver flushes them.
inline settings::SettingsSaver::WriteStep writeEntries(std::vector<Entry> entries) {
    return [entries](settings::PrivateProfile& profile, const std::string& file, bool commonOnly) {
        bool ok = true;
        for (const Entry& e : entries) {
            if (commonOnly && e.section != "Common Settings")
                continue;
            ok = profile.writeString(e.section, e.key, e.value, file) && ok;
        }
        return ok;
    };
}

// What a save reported: its result and the messages it showed.
struct SaveRun {
    bool ok;
    std::vector<std::string> messages;
};

// Saves the entries to `file` through the real file system and profile.
inline SaveRun saveEntries(settings::SaveKind kind, const std::string& file,
                           const std::vector<Entry>& entries) {
    settings::PosixFileSystem fs;
    settings::FilePrivateProfile profile(fs);
    RecordingMessages messages;
    settings::SettingsSaver saver(fs, profile, messages);
    const bool ok = saver.saveFile(kind, file, writeEntries(entries));
    return {ok, messages.texts()};
}

// The real file system, except that the process dies by SIGKILL at operation number
// `dieAt` (from 0); a file being written at that moment gets only its first half.
class DyingFileSystem final : public settings::FileSystem {
public:
    explicit DyingFileSystem(int dieAt) : m_left(dieAt) {}

    std::error_code readFile(const std::string& path, std::string& bytes) override {
        tick();
        return m_real.readFile(path, bytes);
    }
    std::error_code writeNewFile(const std::string& path, std::string_view bytes,
                                 std::optional<settings::FileOwner> owner) override {
        if (m_left == 0) {
            m_real.writeNewFile(path, bytes.substr(0, bytes.size() / 2), owner);
            std::raise(SIGKILL);
        }
        --m_left;
        tick();
        return m_real.writeNewFile(path, bytes, owner);
    }
    std::error_code rename(const std::string& from, const std::string& to) override {
        tick();
        return m_real.rename(from, to);
    }
    std::error_code remove(const std::string& path) override {
        tick();
        return m_real.remove(path);
    }
    std::error_code syncDirectory(const std::string& directory) override {
        tick();
        return m_real.syncDirectory(directory);
    }
    settings::FileStatus status(const std::string& path) override {
        tick();
        return m_real.status(path);
    }
    settings::FileStatus linkStatus(const std::string& path) override {
        tick();
        return m_real.linkStatus(path);
    }
    std::error_code readLink(const std::string& path, std::string& target) override {
        tick();
        return m_real.readLink(path, target);
    }
    std::optional<std::vector<unsigned>> groupMembers(unsigned gid) override {
        tick();
        return m_real.groupMembers(gid);
    }

private:
    void tick() {
        if (m_left-- == 0)
            std::raise(SIGKILL);
    }

    settings::PosixFileSystem m_real;
    int m_left;
};

} // namespace tavrin::test
