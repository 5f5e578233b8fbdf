// The processes as of the last connection refresh: id → executable path (or one of
// the "N/A" texts), and the names the rest of the program shows and matches.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace tavrin {

class CEnumProcess;

inline constexpr char kUnknownProcess[] = "不明";
inline constexpr char kSystemProcess[] = "[System Process]";

class ProcessTable final {
public:
    // Replaces the table with the processes running now, listed with their paths
    // when the enumerator offers them.
    void rebuild(CEnumProcess& enumerator);

    // The table's text for the id: a path or an "N/A" text; "不明" when not listed.
    std::string_view processPath(int32_t processId) const;

    // "不明" for an unlisted id, "[System Process]" for one whose path could not be
    // had, else the file name of the path (".../bin/sshd" gives "sshd").
    std::string processDisplayName(int32_t processId) const;

    // The lowest id whose executable's file name equals `name` without regard to
    // ASCII case; -1 when none.
    int32_t processIdByName(std::string_view name) const;

    const std::map<uint32_t, std::string>& entries() const { return m_entries; }

private:
    std::map<uint32_t, std::string> m_entries;
};

// The part of a path after its last '/' (the whole text when there is none).
std::string_view fileNameOfPath(std::string_view path);

// The display name rules above, applied to a table text.
std::string displayNameOfPath(std::string_view path);

} // namespace tavrin
