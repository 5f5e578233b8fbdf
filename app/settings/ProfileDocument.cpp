#include "ProfileDocument.h"

#include "PlainText.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

namespace tavrin::settings {

namespace {

constexpr size_t kMaxStore = std::numeric_limits<uint32_t>::max();

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && (isBlank(s.back()) || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// Writes the strings into the buffer as fillStringList does, taking them one by one
// from `next` (false when there are no more), without collecting them first.
template <class Next> uint32_t fillStrings(std::span<char> buffer, Next next) {
    const size_t size = buffer.size();
    if (size < 2) {
        if (size == 1)
            buffer[0] = '\0';
        return 0;
    }
    size_t pos = 0;
    for (std::string_view s; next(s);) {
        // Room for the string, its NUL and the final NUL.
        if (pos + s.size() + 2 > size) {
            // The previous string may end right at size - 2: then nothing more fits.
            const size_t room = pos <= size - 2 ? size - 2 - pos : 0;
            std::memcpy(buffer.data() + pos, s.data(), std::min(room, s.size()));
            buffer[size - 2] = '\0';
            buffer[size - 1] = '\0';
            return static_cast<uint32_t>(size - 2);
        }
        std::memcpy(buffer.data() + pos, s.data(), s.size());
        pos += s.size();
        buffer[pos++] = '\0';
    }
    buffer[pos] = '\0';
    return static_cast<uint32_t>(pos);
}

} // namespace

uint32_t fillStringList(std::span<char> buffer, const std::vector<std::string_view>& strings) {
    size_t i = 0;
    return fillStrings(buffer, [&](std::string_view& s) {
        if (i == strings.size())
            return false;
        s = strings[i++];
        return true;
    });
}

ProfileDocument::Piece ProfileDocument::pieceOf(std::string_view inStore) const {
    return {static_cast<uint32_t>(inStore.data() - m_store.data()),
            static_cast<uint32_t>(inStore.size())};
}

ProfileDocument::Line ProfileDocument::lineOf(Piece raw) const {
    Line line;
    line.raw = raw;
    // A NUL ends a line's text, as it ends a C string; the bytes after it would
    // otherwise pass as further lines of the section.
    const std::string_view text = view(raw);
    const std::string_view body = trim(text.substr(0, text.find('\0')));
    if (!body.empty() && body.front() != ';') {
        line.entry = true;
        const size_t eq = body.find('=');
        if (eq == std::string_view::npos) {
            line.key = pieceOf(body);
        } else {
            line.hasValue = true;
            line.key = pieceOf(trim(body.substr(0, eq)));
            line.value = pieceOf(trim(body.substr(eq + 1)));
        }
    }
    return line;
}

std::string_view ProfileDocument::rawText(const Line& line) const {
    return line.original != 0 ? std::string_view(m_originals[line.original - 1]) : view(line.raw);
}

namespace {

uint32_t nameHash(std::string_view name) {
    return static_cast<uint32_t>(std::hash<std::string_view>{}(name));
}

} // namespace

void ProfileDocument::indexSection(size_t position) {
    // At most half full, so that a search ends after a few slots.
    if ((m_names + 1) * 2 > m_slots.size()) {
        std::vector<Slot> old(std::max<size_t>(64, m_slots.size() * 2));
        old.swap(m_slots);
        const size_t mask = m_slots.size() - 1;
        for (const Slot& slot : old) {
            if (slot.section == 0)
                continue;
            size_t i = slot.hash & mask;
            while (m_slots[i].section != 0)
                i = (i + 1) & mask;
            m_slots[i] = slot;
        }
    }
    const std::string_view name = view(m_sections[position].name);
    const uint32_t hash = nameHash(name);
    const size_t mask = m_slots.size() - 1;
    size_t i = hash & mask;
    for (; m_slots[i].section != 0; i = (i + 1) & mask) {
        const Slot& slot = m_slots[i];
        if (slot.hash == hash && view(m_sections[slot.section - 1].name) == name)
            return; // an earlier section has the name
    }
    m_slots[i] = {hash, static_cast<uint32_t>(position + 1)};
    m_sections[position].firstOfName = true;
    ++m_names;
}

int ProfileDocument::findSection(std::string_view name) const {
    const size_t next = m_lastFound + 1;
    if (next < m_sections.size() && m_sections[next].firstOfName &&
        view(m_sections[next].name) == name) {
        m_lastFound = next;
        return static_cast<int>(next);
    }
    if (m_slots.empty())
        return -1;
    const uint32_t hash = nameHash(name);
    const size_t mask = m_slots.size() - 1;
    for (size_t i = hash & mask; m_slots[i].section != 0; i = (i + 1) & mask) {
        const Slot& slot = m_slots[i];
        if (slot.hash == hash && view(m_sections[slot.section - 1].name) == name) {
            m_lastFound = slot.section - 1;
            return static_cast<int>(m_lastFound);
        }
    }
    return -1;
}

ProfileDocument ProfileDocument::parse(std::string_view text) {
    return parse(DecodedText{std::string(text), 0, {}});
}

ProfileDocument ProfileDocument::parse(DecodedText decoded) {
    if (decoded.text.size() > kMaxStore)
        throw std::length_error("a profile text over 4 GiB");
    ProfileDocument doc;
    doc.m_store = std::move(decoded.text);
    auto original = decoded.originalLines.begin();
    // The lines of the section being read, moved into it whole when it ends, so that
    // no section keeps room it does not use.
    std::vector<Line> lines;
    const auto closeSection = [&] {
        if (!doc.m_sections.empty())
            doc.m_sections.back().lines.assign(lines.begin(), lines.end());
        lines.clear();
    };
    // Room for every section at once: growing the list as it goes would hold it twice
    // over at each step, which for a file of many small sections is most of its cost.
    size_t headers = 0;
    for (size_t at = 0; at < doc.m_store.size();) {
        const size_t start = doc.m_store.find_first_not_of(" \t", at);
        if (start != std::string::npos && doc.m_store[start] == '[')
            ++headers;
        const size_t end = doc.m_store.find('\n', at);
        at = end == std::string::npos ? doc.m_store.size() : end + 1;
    }
    doc.m_sections.reserve(headers + 1);
    std::string_view rest = doc.m_store;
    size_t number = 0;
    for (std::string_view raw; takeLine(rest, raw); ++number) {
        uint32_t originalIndex = 0;
        while (original != decoded.originalLines.end() && original->line < number)
            ++original;
        if (original != decoded.originalLines.end() && original->line == number) {
            doc.m_originals.push_back(std::move(original->bytes));
            originalIndex = static_cast<uint32_t>(doc.m_originals.size());
        }
        const std::string_view body = trim(raw.substr(0, raw.find('\0')));
        if (!body.empty() && body.front() == '[') {
            const size_t close = body.find(']');
            if (close != std::string_view::npos) {
                closeSection();
                Section section;
                section.named = true;
                section.name = doc.pieceOf(body.substr(1, close - 1));
                section.header = doc.pieceOf(raw);
                section.headerOriginal = originalIndex;
                doc.m_sections.push_back(std::move(section));
                doc.indexSection(doc.m_sections.size() - 1);
                continue;
            }
        }
        if (doc.m_sections.empty())
            doc.m_sections.push_back(Section{});
        Line line = doc.lineOf(doc.pieceOf(raw));
        line.original = originalIndex;
        lines.push_back(line);
    }
    closeSection();
    return doc;
}

std::vector<std::string_view> ProfileDocument::sectionNameList() const {
    std::vector<std::string_view> names;
    for (const Section& s : m_sections)
        if (s.named && s.name.length != 0)
            names.push_back(view(s.name));
    return names;
}

uint32_t ProfileDocument::sectionNames(std::span<char> buffer) const {
    auto it = m_sections.begin();
    return fillStrings(buffer, [&](std::string_view& s) {
        while (it != m_sections.end() && (!it->named || it->name.length == 0))
            ++it;
        if (it == m_sections.end())
            return false;
        s = view(it++->name);
        return true;
    });
}

std::vector<std::string> ProfileDocument::sectionLines(std::string_view name) const {
    std::vector<std::string> lines;
    const int position = findSection(name);
    if (position < 0)
        return lines;
    for (const Line& line : m_sections[static_cast<size_t>(position)].lines) {
        if (!line.entry)
            continue;
        std::string text(view(line.key));
        if (line.hasValue)
            text.append("=").append(view(line.value));
        lines.push_back(std::move(text));
    }
    return lines;
}

uint32_t ProfileDocument::section(std::string_view name, std::span<char> buffer) const {
    const int position = findSection(name);
    if (position < 0)
        return fillStringList(buffer, {});
    const std::vector<Line>& lines = m_sections[static_cast<size_t>(position)].lines;
    auto it = lines.begin();
    std::string joined; // KEY=value of the line being given
    return fillStrings(buffer, [&](std::string_view& s) {
        while (it != lines.end() && !it->entry)
            ++it;
        if (it == lines.end())
            return false;
        const Line& line = *it++;
        if (!line.hasValue) {
            s = view(line.key);
            return true;
        }
        joined.assign(view(line.key)).append("=").append(view(line.value));
        s = joined;
        return true;
    });
}

bool ProfileDocument::writeString(std::string_view sectionName, std::string_view key,
                                  std::string_view value) {
    if (sectionName.empty() || hasLineBreakOrNul(sectionName) ||
        sectionName.find(']') != std::string_view::npos || trim(sectionName) != sectionName)
        return false;
    if (key.empty() || hasLineBreakOrNul(key) || key.find('=') != std::string_view::npos ||
        key.front() == '[' || key.front() == ';' || trim(key) != key)
        return false;
    if (hasLineBreakOrNul(value))
        return false;
    // The new line, and a header when the section is new, are added to the store.
    if (m_store.size() + 2 * sectionName.size() + key.size() + value.size() + 3 > kMaxStore)
        return false;

    int position = findSection(sectionName);
    if (position < 0) {
        // A blank line between sections, as the file is easier to read that way.
        if (!m_sections.empty()) {
            Section& last = m_sections.back();
            if (last.lines.empty() || !trim(rawText(last.lines.back())).empty())
                last.lines.push_back(Line{});
        }
        Section added;
        added.named = true;
        const size_t headerAt = m_store.size();
        m_store.append("[").append(sectionName).append("]");
        added.header = {static_cast<uint32_t>(headerAt),
                        static_cast<uint32_t>(m_store.size() - headerAt)};
        added.name = {static_cast<uint32_t>(headerAt + 1),
                      static_cast<uint32_t>(sectionName.size())};
        m_sections.push_back(std::move(added));
        position = static_cast<int>(m_sections.size() - 1);
        indexSection(static_cast<size_t>(position));
    }

    const size_t rawAt = m_store.size();
    m_store.append(key).append("=").append(value);
    Line replacement;
    replacement.entry = true;
    replacement.hasValue = true;
    replacement.raw = {static_cast<uint32_t>(rawAt), static_cast<uint32_t>(m_store.size() - rawAt)};
    replacement.key = {static_cast<uint32_t>(rawAt), static_cast<uint32_t>(key.size())};
    replacement.value = pieceOf(trim(view(replacement.raw).substr(key.size() + 1)));

    std::vector<Line>& lines = m_sections[static_cast<size_t>(position)].lines;
    auto same = [&](const Line& l) { return l.entry && view(l.key) == key; };
    auto first = std::find_if(lines.begin(), lines.end(), same);
    if (first != lines.end()) {
        *first = replacement;
        lines.erase(std::remove_if(first + 1, lines.end(), same), lines.end());
        return true;
    }
    // After the section's last non-blank line, so blank separators stay at its end.
    auto at = lines.end();
    while (at != lines.begin() && trim(rawText(*(at - 1))).empty())
        --at;
    lines.insert(at, replacement);
    return true;
}

std::string ProfileDocument::serialize() const {
    std::string out;
    out.reserve(m_store.size() + m_sections.size() * 2);
    for (const Section& s : m_sections) {
        if (s.named) {
            const std::string_view header =
                s.headerOriginal != 0 ? std::string_view(m_originals[s.headerOriginal - 1])
                                      : view(s.header);
            out.append(header).push_back('\n');
        }
        for (const Line& line : s.lines)
            out.append(rawText(line)).push_back('\n');
    }
    return out;
}

} // namespace tavrin::settings
