// PrivateProfile on real files. Files are read as decodeFileText says (UTF-8, the
// Windows version's CP932, or line by line) and written as UTF-8, except for lines
// that were not UTF-8 and that no write has replaced: they keep their bytes.
#pragma once

#include "FileSystem.h"
#include "PrivateProfile.h"
#include "ProfileDocument.h"

#include <map>
#include <system_error>

namespace tavrin::settings {

class FilePrivateProfile final : public PrivateProfile {
public:
    explicit FilePrivateProfile(FileSystem& fs) : m_fs(fs) {}

    uint32_t getSectionNames(std::span<char> buffer, const std::string& file) override;
    uint32_t getSection(std::string_view section, std::span<char> buffer,
                        const std::string& file) override;
    bool writeString(std::string_view section, std::string_view key, std::string_view value,
                     const std::string& file) override;
    void beginNewFile(const std::string& file) override;
    bool flush(const std::string& file) override;
    void discard(const std::string& file) override;
    void holdFile(const std::string& file) override;
    void releaseFile(const std::string& file) override;
    size_t firstUncleanLine(const std::string& file) const override;

    // Why the last read or flush of a file failed; empty after a success or a
    // missing file on reading. A flush saves as saveFileDurably does: through
    // symbolic links, keeping owner and mode, never over a protected file.
    std::error_code lastError() const { return m_lastError; }

private:
    // The file as the next read sees it: pending writes, else the file on disk.
    const ProfileDocument* document(const std::string& file, ProfileDocument& scratch);
    bool load(const std::string& file, ProfileDocument& out, size_t* uncleanLine = nullptr);

    // A file as holdFile read it.
    struct Held {
        ProfileDocument document;
        bool readable = false;
        std::error_code error;
        size_t uncleanLine = 0;
    };

    FileSystem& m_fs;
    std::map<std::string, ProfileDocument> m_pending;
    std::map<std::string, Held> m_held;
    std::error_code m_lastError;
};

} // namespace tavrin::settings
