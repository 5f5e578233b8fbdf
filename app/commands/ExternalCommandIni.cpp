#include "ExternalCommandIni.h"

#include "NumberText.h"
#include "PlainText.h"
#include "TextEncoding.h"

#include <algorithm>

namespace tavrin::commands {

ExternalCommandIni::ExternalCommandIni(settings::FileSystem& fs, Messages& messages,
                                       std::string path)
    : m_fs(fs), m_messages(messages), m_path(std::move(path)) {}

std::vector<ExternalCommand> ExternalCommandIni::defaultCommands() {
    // The names are the program's own; the command lines are this system's tools,
    // each of which ends by itself.
    return {
        {1, 0, "ping[CM](&P)", "ping -c 4 %RemoteAddr%", kTargetTcpConnectionMonitor},
        {1, 0, "tracert[CM](&T)", "traceroute %RemoteAddr%", kTargetTcpConnectionMonitor},
        {1, 0, "net send[CM](&N)", "logger -n %RemoteAddr% \"%UserIn%\"",
         kTargetTcpConnectionMonitor},
        {1, 0, "ping src[PM](&P)", "ping -c 4 %SrcAddr%", kTargetPacketMonitor},
        {1, 0, "tracert src[PM](&T)", "traceroute %SrcAddr%", kTargetPacketMonitor},
        {1, 0, "ping dest[PM](&I)", "ping -c 4 %DestAddr%", kTargetPacketMonitor},
        {1, 0, "tracert dest[PM](&R)", "traceroute %DestAddr%", kTargetPacketMonitor},
        {0, 0, "netstat", "ss -tuan", kTargetTcpConnectionMonitor},
    };
}

bool ExternalCommandIni::isStorable(const ExternalCommand& command) {
    // The command line is the rest of its line, so only line breaks would change it.
    return isStorableText(command.name) && !hasLineBreakOrNul(command.commandLine);
}

namespace {

// Calls take(lineNumber, command) for every line that holds a command: four commas
// at least (the header and empty lines have none).
template <class Take> void parseLines(std::string_view text, Take take) {
    size_t number = 0;
    for (std::string_view line; takeLine(text, line); ++number) {
        std::string_view fields[4];
        bool complete = true;
        for (std::string_view& field : fields) {
            const size_t comma = line.find(',');
            if (comma == std::string_view::npos) {
                complete = false;
                break;
            }
            field = line.substr(0, comma);
            line.remove_prefix(comma + 1);
        }
        if (!complete)
            continue;
        ExternalCommand command;
        command.addToMenu = leadingInt32(fields[0]);
        command.showWindow = leadingInt32(fields[1]);
        command.target = leadingInt32(fields[2]);
        command.name = std::string(fields[3]);
        command.commandLine = std::string(line);
        take(number, std::move(command));
    }
}

void appendLine(std::string& text, const ExternalCommand& c) {
    text.append(std::to_string(c.addToMenu)).push_back(',');
    text.append(std::to_string(c.showWindow)).push_back(',');
    text.append(std::to_string(c.target)).push_back(',');
    text.append(c.name).push_back(',');
    text.append(c.commandLine).push_back('\n');
}

} // namespace

std::vector<ExternalCommand> ExternalCommandIni::parse(std::string_view text) {
    std::vector<ExternalCommand> commands;
    parseLines(text,
               [&](size_t, ExternalCommand command) { commands.push_back(std::move(command)); });
    return commands;
}

std::string ExternalCommandIni::format(const std::vector<ExternalCommand>& commands) {
    std::string text = kExternalCommandHeader;
    text.push_back('\n');
    for (const ExternalCommand& c : commands)
        appendLine(text, c);
    return text;
}

std::string ExternalCommandIni::fileText() const {
    std::string text = kExternalCommandHeader;
    text.push_back('\n');
    for (size_t i = 0; i < m_records.size(); ++i) {
        if (m_originalLines[i].empty())
            appendLine(text, m_records[i]);
        else
            text.append(m_originalLines[i]).push_back('\n');
    }
    return text;
}

int ExternalCommandIni::load() {
    m_records.clear();
    m_originalLines.clear();
    m_unreadable = false;
    std::string bytes;
    m_lastError = m_fs.readFile(m_path, bytes);
    if (m_lastError) {
        m_unreadable = m_lastError != std::errc::no_such_file_or_directory;
        m_records = defaultCommands();
        m_originalLines.resize(m_records.size());
        return 0;
    }
    settings::DecodedText decoded = settings::decodeFileText(std::move(bytes));
    if (decoded.firstUncleanLine != 0)
        m_messages.show(settings::mixedEncodingMessage(m_path, decoded.firstUncleanLine));
    auto original = decoded.originalLines.begin();
    parseLines(decoded.text, [&](size_t number, ExternalCommand command) {
        while (original != decoded.originalLines.end() && original->line < number)
            ++original;
        const bool kept = original != decoded.originalLines.end() && original->line == number;
        m_originalLines.push_back(kept ? std::move(original->bytes) : std::string());
        m_records.push_back(std::move(command));
    });
    return 1;
}

void ExternalCommandIni::failSave(std::error_code ec) {
    m_lastError = ec;
    m_messages.show(ec == settings::SaveRefusal::UnsafeLink ? settings::unsafeLinkMessage(m_path)
                                                            : m_path + "の保存に失敗。");
}

int ExternalCommandIni::save() {
    if (m_unreadable && m_fs.status(m_path).exists) {
        failSave(std::make_error_code(std::errc::io_error));
        return 0;
    }
    if (std::error_code ec = settings::saveFileDurably(m_fs, m_path, fileText())) {
        failSave(ec);
        return 0;
    }
    m_lastError.clear();
    m_unreadable = false;
    return 1;
}

bool ExternalCommandIni::add(const ExternalCommand& command) {
    if (!isStorable(command))
        return false;
    m_records.push_back(command);
    m_originalLines.emplace_back();
    return true;
}

bool ExternalCommandIni::remove(size_t index) {
    if (index >= m_records.size())
        return false;
    m_records.erase(m_records.begin() + static_cast<std::ptrdiff_t>(index));
    m_originalLines.erase(m_originalLines.begin() + static_cast<std::ptrdiff_t>(index));
    return true;
}

bool ExternalCommandIni::replace(size_t index, const ExternalCommand& command) {
    if (index >= m_records.size() || !isStorable(command))
        return false;
    m_records[index] = command;
    // The user has seen the command as it was read and made it what it is now.
    m_originalLines[index].clear();
    return true;
}

int ExternalCommandIni::count(int target) const {
    return static_cast<int>(std::count_if(m_records.begin(), m_records.end(), [&](const auto& c) {
        return target == kTargetAny || c.target == target;
    }));
}

const ExternalCommand* ExternalCommandIni::menuCommand(int target, int n) const {
    if (n < 0)
        return nullptr;
    for (const ExternalCommand& c : m_records) {
        if (c.addToMenu == 0 || (target != kTargetAny && c.target != target))
            continue;
        if (n-- == 0)
            return &c;
    }
    return nullptr;
}

} // namespace tavrin::commands
