#include "ProfileDocument.h"

#include "PlainText.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace tavrin::settings {

namespace {

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

} // namespace

uint32_t fillStringList(std::span<char> buffer, const std::vector<std::string_view>& strings) {
    const size_t size = buffer.size();
    if (size < 2) {
        if (size == 1)
            buffer[0] = '\0';
        return 0;
    }
    size_t pos = 0;
    for (std::string_view s : strings) {
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

ProfileDocument ProfileDocument::parse(std::string_view text) {
    ProfileDocument doc;
    for (std::string_view raw; takeLine(text, raw);) {
        // A NUL ends a line's text, as it ends a C string; the bytes after it would
        // otherwise pass as further lines of the section.
        const std::string_view body = trim(raw.substr(0, raw.find('\0')));
        if (!body.empty() && body.front() == '[') {
            const size_t close = body.find(']');
            if (close != std::string_view::npos) {
                Section section;
                section.named = true;
                section.name = std::string(body.substr(1, close - 1));
                section.header = std::string(raw);
                doc.m_firstByName.try_emplace(section.name, doc.m_sections.size());
                doc.m_sections.push_back(std::move(section));
                continue;
            }
        }
        if (doc.m_sections.empty())
            doc.m_sections.push_back(Section{});
        Line line;
        line.raw = std::string(raw);
        if (!body.empty() && body.front() != ';') {
            line.entry = true;
            const size_t eq = body.find('=');
            if (eq == std::string_view::npos) {
                line.key = std::string(body);
            } else {
                line.hasValue = true;
                line.key = std::string(trim(body.substr(0, eq)));
                line.value = std::string(trim(body.substr(eq + 1)));
            }
        }
        doc.m_sections.back().lines.push_back(std::move(line));
    }
    return doc;
}

std::vector<std::string_view> ProfileDocument::sectionNameList() const {
    std::vector<std::string_view> names;
    for (const Section& s : m_sections)
        if (s.named && !s.name.empty())
            names.push_back(s.name);
    return names;
}

uint32_t ProfileDocument::sectionNames(std::span<char> buffer) const {
    return fillStringList(buffer, sectionNameList());
}

const ProfileDocument::Section* ProfileDocument::findSection(std::string_view name) const {
    const auto it = m_firstByName.find(name);
    return it == m_firstByName.end() ? nullptr : &m_sections[it->second];
}

ProfileDocument::Section* ProfileDocument::findSection(std::string_view name) {
    return const_cast<Section*>(std::as_const(*this).findSection(name));
}

std::vector<std::string> ProfileDocument::sectionLines(std::string_view name) const {
    std::vector<std::string> lines;
    const Section* section = findSection(name);
    if (section == nullptr)
        return lines;
    for (const Line& line : section->lines) {
        if (!line.entry)
            continue;
        lines.push_back(line.hasValue ? line.key + "=" + line.value : line.key);
    }
    return lines;
}

uint32_t ProfileDocument::section(std::string_view name, std::span<char> buffer) const {
    const std::vector<std::string> lines = sectionLines(name);
    const std::vector<std::string_view> views(lines.begin(), lines.end());
    return fillStringList(buffer, views);
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

    Section* section = findSection(sectionName);
    if (section == nullptr) {
        Section added;
        added.named = true;
        added.name = std::string(sectionName);
        added.header = "[" + added.name + "]";
        // A blank line between sections, as the file is easier to read that way.
        if (!m_sections.empty()) {
            Section& last = m_sections.back();
            if (last.lines.empty() || !trim(last.lines.back().raw).empty())
                last.lines.push_back(Line{});
        }
        m_firstByName.try_emplace(added.name, m_sections.size());
        m_sections.push_back(std::move(added));
        section = &m_sections.back();
    }

    Line replacement;
    replacement.entry = true;
    replacement.hasValue = true;
    replacement.key = std::string(key);
    replacement.value = std::string(trim(value));
    replacement.raw = replacement.key + "=" + std::string(value);

    std::vector<Line>& lines = section->lines;
    auto same = [&](const Line& l) { return l.entry && l.key == key; };
    auto first = std::find_if(lines.begin(), lines.end(), same);
    if (first != lines.end()) {
        *first = std::move(replacement);
        lines.erase(std::remove_if(first + 1, lines.end(), same), lines.end());
        return true;
    }
    // After the section's last non-blank line, so blank separators stay at its end.
    auto at = lines.end();
    while (at != lines.begin() && trim((at - 1)->raw).empty())
        --at;
    lines.insert(at, std::move(replacement));
    return true;
}

std::string ProfileDocument::serialize() const {
    std::string out;
    for (const Section& s : m_sections) {
        if (s.named)
            out.append(s.header).push_back('\n');
        for (const Line& line : s.lines)
            out.append(line.raw).push_back('\n');
    }
    return out;
}

} // namespace tavrin::settings
