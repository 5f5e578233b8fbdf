// The three profile functions that the settings reader and writer use, each naming
// its file: section names and section data into the caller's buffer, and
// add-or-replace writes that never remove a section. Writes are kept until
// flush(), which puts the file on disk in one durable step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tavrin::settings {

class PrivateProfile {
public:
    virtual ~PrivateProfile() = default;

    // Section names, each ended by a NUL, then a final NUL. Returns the bytes stored
    // before the final NUL; buffer.size() - 2 when the buffer was too small. 0 when the
    // file is missing, unreadable or has no sections.
    virtual uint32_t getSectionNames(std::span<char> buffer, const std::string& file) = 0;

    // The "KEY=value" lines of a section in the same form and with the same returns.
    virtual uint32_t getSection(std::string_view section, std::span<char> buffer,
                                const std::string& file) = 0;

    virtual bool writeString(std::string_view section, std::string_view key, std::string_view value,
                             const std::string& file) = 0;

    // The writes that follow build the file anew instead of changing the present one,
    // which stays on disk as it is until flush().
    virtual void beginNewFile(const std::string& file) = 0;

    // Puts the writes on disk; false (and the file as it was) when that fails.
    virtual bool flush(const std::string& file) = 0;

    // Forgets writes not yet flushed.
    virtual void discard(const std::string& file) = 0;

    // Until releaseFile, reads of `file` see it as it is now: it is read once however
    // many sections are fetched, and every fetch sees the same version even when the
    // file is replaced meanwhile. Writes not yet flushed are seen as before.
    virtual void holdFile(const std::string&) {}
    virtual void releaseFile(const std::string&) {}

    // While the file is held: the first line (from 1) that was not UTF-8 when the
    // file had to be read line by line (see decodeFileText); 0 when it was read in
    // one encoding.
    virtual size_t firstUncleanLine(const std::string&) const { return 0; }
};

} // namespace tavrin::settings
