// Lines for the journal: the priority prefix only where the stream is the journal.
#include "JournalLines.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/stat.h>

namespace tavrin::journal {
namespace {

std::string streamId(std::FILE* file) {
    struct stat st {};
    ::fstat(::fileno(file), &st);
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

std::string contents(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;)
        text.push_back(static_cast<char>(c));
    return text;
}

TEST(JournalLines, TheStreamIsTheJournalOnlyWhenDeviceAndInodeMatch) {
    std::FILE* mine = std::tmpfile();
    std::FILE* other = std::tmpfile();
    ASSERT_NE(mine, nullptr);
    ASSERT_NE(other, nullptr);
    const std::string id = streamId(mine);
    const std::string device = id.substr(0, id.find(':'));
    const struct {
        std::string value;
        bool journal;
    } cases[] = {
        {id, true},        {"", false},       {"12", false},          {":", false},
        {"x:y", false},    {id + "0", false}, {device + ":1", false}, {" " + id, false},
        {id + ":", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isJournalStream(::fileno(mine), c.value.c_str()), c.journal) << c.value;
    EXPECT_FALSE(isJournalStream(::fileno(mine), nullptr));
    EXPECT_FALSE(isJournalStream(::fileno(other), id.c_str()));
    EXPECT_FALSE(isJournalStream(-1, id.c_str()));
    std::fclose(mine);
    std::fclose(other);
}

TEST(JournalLines, EachPriorityHasItsPrefixAndLinesStayWhole) {
    const struct {
        Priority priority;
        const char* text;
        bool journal;
        const char* line;
    } cases[] = {
        {Priority::Error, "failed", true, "<3>failed\n"},
        {Priority::Warning, "look", true, "<4>look\n"},
        {Priority::Notice, "note", true, "<5>note\n"},
        {Priority::Info, "fyi", true, "<6>fyi\n"},
        {Priority::Error, "failed", false, "failed\n"},
        // A line break inside would start an entry without a priority.
        {Priority::Warning, "a\nb\r\nc", true, "<4>a b  c\n"},
        {Priority::Info, "", true, "<6>\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(formatLine(c.priority, c.text, c.journal), c.line) << c.text;
}

TEST(JournalLines, AWriterAsksTheEnvironmentAboutItsOwnStream) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    ::setenv("JOURNAL_STREAM", streamId(file).c_str(), 1);
    const LineWriter journal(file);
    ::unsetenv("JOURNAL_STREAM");
    const LineWriter plain(file);
    EXPECT_TRUE(journal.journal());
    EXPECT_FALSE(plain.journal());
    journal.write(Priority::Warning, "Ovlank: the chains were gone");
    plain.write(Priority::Warning, "Ovlank: the chains were gone");
    EXPECT_EQ(contents(file), "<4>Ovlank: the chains were gone\nOvlank: the chains were gone\n");
    std::fclose(file);
}

} // namespace
} // namespace tavrin::journal
