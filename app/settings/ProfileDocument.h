// A profile (INI) file held in memory: the three profile operations with the
// contracts the settings reader and writer were built on. Lines that are not
// touched keep their bytes, comments included.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::settings {

// Fills `buffer` with the strings, each ended by a NUL, and a final NUL. Returns
// the bytes stored before the final NUL. When they do not fit, the last string is
// cut, the buffer ends in two NULs and the result is buffer.size() - 2. Buffers of
// fewer than two bytes receive at most a NUL and report 0.
uint32_t fillStringList(std::span<char> buffer, const std::vector<std::string_view>& strings);

class ProfileDocument final {
public:
    ProfileDocument() = default;

    // Lines end at LF; a CR before it is dropped. A line "[name]" opens a section
    // (the name runs to the first "]"), "KEY=value" lines follow with blanks around
    // the key and the value dropped, and lines starting with ";" are comments. A NUL
    // ends the text of its line.
    static ProfileDocument parse(std::string_view text);

    // The names of the sections in file order (unnamed ones left out).
    uint32_t sectionNames(std::span<char> buffer) const;
    std::vector<std::string_view> sectionNameList() const;

    // The lines of the first section named `name` (byte for byte), as "KEY=value",
    // blank and comment lines left out. 0 when there is no such section.
    uint32_t section(std::string_view name, std::span<char> buffer) const;
    std::vector<std::string> sectionLines(std::string_view name) const;

    // Sets KEY=value in the first section named `section`, adding the key at the
    // section's end or the section at the file's end when missing. Later lines with
    // the same key in that section go, so that the value written is the value read.
    // Refuses (false) a name, key or value that would not read back as the same key
    // and value: line breaks or NULs anywhere, "]" in a section name, "=" in a key, a
    // key starting with "[" or ";", blanks around a key.
    bool writeString(std::string_view section, std::string_view key, std::string_view value);

    std::string serialize() const;
    bool empty() const { return m_sections.empty(); }

private:
    struct Line {
        std::string raw;   // as in the file, without the line end
        std::string key;   // entries only
        std::string value; // entries only
        bool entry = false;
        bool hasValue = false; // the line holds "="
    };
    struct Section {
        bool named = false; // false for the lines before the first section
        std::string name;
        std::string header; // the header line as in the file
        std::vector<Line> lines;
    };

    const Section* findSection(std::string_view name) const;
    Section* findSection(std::string_view name);

    std::vector<Section> m_sections;
    // The first section of each name, so that a file of many sections is not
    // searched from the start for each of them.
    std::map<std::string, size_t, std::less<>> m_firstByName;
};

} // namespace tavrin::settings
