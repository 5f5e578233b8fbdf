// Lines on standard error or output that the journal files by priority. When a
// stream is the journal (JOURNAL_STREAM names its device and inode, as the service
// manager sets it), each line starts with "<N>": 3 error, 4 warning, 5 notice,
// 6 information; `journalctl -p warning` then shows the failures only. Anywhere
// else (a terminal, a file, a pipe) the lines are written as they are.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace tavrin::journal {

enum class Priority { Error = 3, Warning = 4, Notice = 5, Info = 6 };

// Whether `fd` is the stream that `journalStream` ("DEVICE:INODE" in decimal, the
// value of JOURNAL_STREAM) names. False for a null or malformed value.
bool isJournalStream(int fd, const char* journalStream);

// The line as it is written: "<N>" in front when it goes to the journal, and a
// line break at the end. Line breaks inside become blanks, so that no part of a
// message reaches the journal without its priority.
std::string formatLine(Priority priority, std::string_view text, bool journal);

// Writes whole lines to one stream and flushes each, so that lines of several
// threads or processes never mix.
class LineWriter {
public:
    // Asks JOURNAL_STREAM whether `stream` is the journal.
    explicit LineWriter(std::FILE* stream);
    LineWriter(std::FILE* stream, bool journal) : m_stream(stream), m_journal(journal) {}

    void write(Priority priority, std::string_view text) const;
    bool journal() const { return m_journal; }
    std::FILE* stream() const { return m_stream; }

private:
    std::FILE* m_stream;
    bool m_journal;
};

} // namespace tavrin::journal
