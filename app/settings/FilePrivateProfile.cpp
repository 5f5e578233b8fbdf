#include "FilePrivateProfile.h"

#include "TextEncoding.h"

namespace tavrin::settings {

bool FilePrivateProfile::load(const std::string& file, ProfileDocument& out, size_t* uncleanLine) {
    std::string bytes;
    m_lastError = m_fs.readFile(file, bytes);
    if (m_lastError == std::errc::no_such_file_or_directory) {
        m_lastError.clear();
        out = ProfileDocument{};
        return true;
    }
    if (m_lastError)
        return false;
    DecodedText decoded = decodeFileText(std::move(bytes));
    if (uncleanLine != nullptr)
        *uncleanLine = decoded.firstUncleanLine;
    out = ProfileDocument::parse(std::move(decoded));
    return true;
}

const ProfileDocument* FilePrivateProfile::document(const std::string& file,
                                                    ProfileDocument& scratch) {
    if (auto it = m_pending.find(file); it != m_pending.end())
        return &it->second;
    if (auto it = m_held.find(file); it != m_held.end()) {
        m_lastError = it->second.error;
        return it->second.readable ? &it->second.document : nullptr;
    }
    if (!load(file, scratch))
        return nullptr;
    return &scratch;
}

uint32_t FilePrivateProfile::getSectionNames(std::span<char> buffer, const std::string& file) {
    ProfileDocument scratch;
    const ProfileDocument* doc = document(file, scratch);
    if (doc == nullptr)
        return fillStringList(buffer, {});
    return doc->sectionNames(buffer);
}

uint32_t FilePrivateProfile::getSection(std::string_view section, std::span<char> buffer,
                                        const std::string& file) {
    ProfileDocument scratch;
    const ProfileDocument* doc = document(file, scratch);
    if (doc == nullptr)
        return fillStringList(buffer, {});
    return doc->section(section, buffer);
}

bool FilePrivateProfile::writeString(std::string_view section, std::string_view key,
                                     std::string_view value, const std::string& file) {
    auto it = m_pending.find(file);
    if (it == m_pending.end()) {
        ProfileDocument doc;
        // A file we cannot read is never overwritten by one built without it.
        if (!load(file, doc))
            return false;
        it = m_pending.emplace(file, std::move(doc)).first;
    }
    return it->second.writeString(section, key, value);
}

void FilePrivateProfile::beginNewFile(const std::string& file) {
    m_pending[file] = ProfileDocument{};
}

bool FilePrivateProfile::flush(const std::string& file) {
    auto it = m_pending.find(file);
    if (it == m_pending.end()) {
        m_lastError.clear();
        return true;
    }
    m_lastError = saveFileDurably(m_fs, file, it->second.serialize());
    m_pending.erase(it);
    return !m_lastError;
}

void FilePrivateProfile::discard(const std::string& file) {
    m_pending.erase(file);
}

void FilePrivateProfile::holdFile(const std::string& file) {
    Held held;
    held.readable = load(file, held.document, &held.uncleanLine);
    held.error = m_lastError;
    m_held.insert_or_assign(file, std::move(held));
}

void FilePrivateProfile::releaseFile(const std::string& file) {
    m_held.erase(file);
}

size_t FilePrivateProfile::firstUncleanLine(const std::string& file) const {
    const auto it = m_held.find(file);
    return it == m_held.end() ? 0 : it->second.uncleanLine;
}

} // namespace tavrin::settings
