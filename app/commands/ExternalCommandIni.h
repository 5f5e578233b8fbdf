// The ordered list of external commands and its file ExternalCommand.ini: a header
// line, then one line "addToMenu,showWindow,target,name,commandLine" per command.
#pragma once

#include "ExternalCommand.h"
#include "FileSystem.h"
#include "Messages.h"

#include <string>
#include <system_error>
#include <vector>

namespace tavrin::commands {

inline constexpr char kExternalCommandFile[] = "./ExternalCommand.ini";
inline constexpr char kExternalCommandHeader[] = "[External Command1]";

class ExternalCommandIni final {
public:
    ExternalCommandIni(settings::FileSystem& fs, Messages& messages,
                       std::string path = kExternalCommandFile);

    // Replaces the list with the file's commands: 1 when the file was read, 0 when it
    // could not be (the list then holds the default set). A file that had to be read
    // line by line (see decodeFileText) is named in kMessageMixedEncodingFormat; its
    // lines that were not UTF-8 are written back as they were until their command is
    // replaced or removed.
    int load();

    // Writes the list to the file: 1 on success, 0 after the failure message. The
    // file on disk is either the old one or the new one in full, whatever happens;
    // it is saved as saveFileDurably says (through links, owner and mode kept).
    int save();

    // Appends a copy. A name holding "," or a line break, or a command line holding a
    // line break, would not read back as one command: refused (false).
    bool add(const ExternalCommand& command);
    // False, and nothing removed, for an index past the end.
    bool remove(size_t index);
    // Puts a copy in the place of the command at `index`; false as add() and remove().
    bool replace(size_t index, const ExternalCommand& command);

    // Commands whose target is `target`; all of them for kTargetAny.
    int count(int target) const;
    // The n-th command (from 0) listed in the menu of `target` (any target for
    // kTargetAny), in list order; nullptr when there are fewer.
    const ExternalCommand* menuCommand(int target, int n) const;

    const std::vector<ExternalCommand>& records() const { return m_records; }
    const std::string& path() const { return m_path; }
    // Why the last load or save failed.
    std::error_code lastError() const { return m_lastError; }

    static std::vector<ExternalCommand> defaultCommands();
    static bool isStorable(const ExternalCommand& command);

    // The file's text for the list, and the list for a file's text (lines with fewer
    // than four commas are skipped).
    static std::string format(const std::vector<ExternalCommand>& commands);
    static std::vector<ExternalCommand> parse(std::string_view text);

private:
    void failSave(std::error_code ec);
    // format() of the list, with the file's own bytes for lines that were not UTF-8.
    std::string fileText() const;

    settings::FileSystem& m_fs;
    Messages& m_messages;
    std::string m_path;
    std::vector<ExternalCommand> m_records;
    // For each record: the bytes of its line when the line was not UTF-8 and the
    // record is still as it was read; empty otherwise.
    std::vector<std::string> m_originalLines;
    std::error_code m_lastError;
    // The last load found the file but could not read it: never overwrite it.
    bool m_unreadable = false;
};

} // namespace tavrin::commands
