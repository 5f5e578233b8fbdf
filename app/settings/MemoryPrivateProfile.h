// PrivateProfile over one file held in memory: for showing what would be written,
// and for reading settings text that is not on disk.
#pragma once

#include "PrivateProfile.h"
#include "ProfileDocument.h"

namespace tavrin::settings {

class MemoryPrivateProfile final : public PrivateProfile {
public:
    MemoryPrivateProfile() = default;
    explicit MemoryPrivateProfile(ProfileDocument document) : m_document(std::move(document)) {}

    // The file name is not looked at: there is one document.
    uint32_t getSectionNames(std::span<char> buffer, const std::string&) override {
        return m_document.sectionNames(buffer);
    }
    uint32_t getSection(std::string_view section, std::span<char> buffer,
                        const std::string&) override {
        return m_document.section(section, buffer);
    }
    bool writeString(std::string_view section, std::string_view key, std::string_view value,
                     const std::string&) override {
        return m_document.writeString(section, key, value);
    }
    void beginNewFile(const std::string&) override { m_document = ProfileDocument{}; }
    bool flush(const std::string&) override { return true; }
    void discard(const std::string&) override {}

    const ProfileDocument& document() const { return m_document; }

private:
    ProfileDocument m_document;
};

} // namespace tavrin::settings
