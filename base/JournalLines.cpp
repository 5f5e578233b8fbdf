#include "JournalLines.h"

#include <charconv>
#include <cstdlib>
#include <sys/stat.h>

namespace tavrin::journal {

namespace {

bool readNumber(std::string_view text, unsigned long long& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && ptr == end;
}

} // namespace

bool isJournalStream(int fd, const char* journalStream) {
    if (journalStream == nullptr || fd < 0)
        return false;
    const std::string_view value(journalStream);
    const size_t colon = value.find(':');
    unsigned long long device = 0;
    unsigned long long inode = 0;
    if (colon == std::string_view::npos || !readNumber(value.substr(0, colon), device) ||
        !readNumber(value.substr(colon + 1), inode))
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    return static_cast<unsigned long long>(st.st_dev) == device &&
           static_cast<unsigned long long>(st.st_ino) == inode;
}

std::string formatLine(Priority priority, std::string_view text, bool journal) {
    std::string line;
    line.reserve(text.size() + 4);
    if (journal) {
        line.push_back('<');
        line.push_back(static_cast<char>('0' + static_cast<int>(priority)));
        line.push_back('>');
    }
    for (char c : text)
        line.push_back(c == '\n' || c == '\r' ? ' ' : c);
    line.push_back('\n');
    return line;
}

LineWriter::LineWriter(std::FILE* stream)
    : m_stream(stream),
      m_journal(isJournalStream(::fileno(stream), std::getenv("JOURNAL_STREAM"))) {}

void LineWriter::write(Priority priority, std::string_view text) const {
    const std::string line = formatLine(priority, text, m_journal);
    std::fwrite(line.data(), 1, line.size(), m_stream);
    std::fflush(m_stream);
}

} // namespace tavrin::journal
