// A profile (INI) file held in memory: the three profile operations with the
// contracts the settings reader and writer were built on. Lines that are not
// touched keep their bytes, comments included.
#pragma once

#include "TextEncoding.h"

#include <cstdint>
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
    // The same for a file's decoded text. Lines that were not UTF-8 in the file
    // keep the file's bytes: serialize() writes them as they were until they are
    // replaced, so a save that does not change them loses nothing of them.
    static ProfileDocument parse(DecodedText decoded);

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
    // Every text of the document lives in m_store: the file's text as it was read,
    // then each line written since. Lines keep places in it rather than strings of
    // their own, so a large file costs little more than its text.
    struct Piece {
        uint32_t offset = 0;
        uint32_t length = 0;
    };
    struct Line {
        Piece raw;             // as in the file, without the line end
        Piece key;             // entries only
        Piece value;           // entries only
        uint32_t original = 0; // 1 + index in m_originals; 0: raw is what the file held
        bool entry = false;
        bool hasValue = false; // the line holds "="
    };
    struct Section {
        Piece name;
        Piece header; // the header line as in the file
        uint32_t headerOriginal = 0;
        bool named = false;       // false for the lines before the first section
        bool firstOfName = false; // the section that a look-up by its name finds
        std::vector<Line> lines;
    };

    std::string_view view(Piece piece) const {
        return {m_store.data() + piece.offset, piece.length};
    }
    Piece pieceOf(std::string_view inStore) const;
    Line lineOf(Piece raw) const;
    std::string_view rawText(const Line& line) const;
    int findSection(std::string_view name) const;
    void indexSection(size_t position);

    std::string m_store;
    std::vector<Section> m_sections;
    std::vector<std::string> m_originals;
    // The first section of each name, in an open hash table, so that a file of many
    // sections is not searched from the start for each of them. A slot holds the low
    // bits of the name's hash (which also place it) and 1 + the section's position,
    // 0 when free: positions, not texts, so copies need no care, and names are only
    // compared when their hashes agree.
    struct Slot {
        uint32_t hash = 0;
        uint32_t section = 0;
    };
    std::vector<Slot> m_slots;
    size_t m_names = 0;
    // Where the last look-up ended. Sections are asked for in file order, so the next
    // one is most often the one after it, found without touching the table. Like the
    // rest of the document, for one thread at a time.
    mutable size_t m_lastFound = 0;
};

} // namespace tavrin::settings
