#include "PlainText.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <string>
#include <string_view>
#include <vector>

namespace tavrin {
namespace {

TEST(PlainText, CaseBlindComparisonFoldsOnlyAsciiLetters) {
    EXPECT_TRUE(equalsIgnoringCase("SVCHOST.EXE", "svchost.exe"));
    EXPECT_TRUE(equalsIgnoringCase("テスト.EXE", "テスト.exe"));
    EXPECT_FALSE(equalsIgnoringCase("テスト", "テスド"));
    // Only ASCII letters fold; bytes of other characters compare exactly.
    EXPECT_FALSE(equalsIgnoringCase("Ärger", "ärger"));
    EXPECT_FALSE(equalsIgnoringCase("sshd", "sshd "));
    EXPECT_FALSE(equalsIgnoringCase("@", "`")); // 0x40 and 0x60 are not a case pair
    EXPECT_FALSE(equalsIgnoringCase("[", "{")); // nor are 0x5B and 0x7B
    EXPECT_TRUE(equalsIgnoringCase("AZaz", "azAZ"));
    EXPECT_TRUE(equalsIgnoringCase("", ""));
    EXPECT_FALSE(equalsIgnoringCase("", "a"));
}

std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> out;
    for (std::string_view line; takeLine(text, line);)
        out.push_back(line);
    EXPECT_TRUE(text.empty());
    return out;
}

TEST(PlainText, LinesEndAtLfWithOrWithoutCr) {
    using Lines = std::vector<std::string_view>;
    EXPECT_EQ(lines("a\r\nb\nc"), (Lines{"a", "b", "c"}));
    // A final line break opens no empty line; an empty line between two does count.
    EXPECT_EQ(lines("a\n\nb\n"), (Lines{"a", "", "b"}));
    EXPECT_EQ(lines("\n"), (Lines{""}));
    EXPECT_EQ(lines(""), Lines{});
    // Only the one CR right before the LF goes; a lone CR stays in the line.
    EXPECT_EQ(lines("a\rb\r\r\nc\r"), (Lines{"a\rb\r", "c"}));
    // A NUL is text like any other here; the readers decide what it means.
    const std::string withNul("x\0y\nz", 5);
    EXPECT_EQ(lines(withNul), (Lines{std::string_view("x\0y", 3), "z"}));

    // The line is a view into the text itself, never a copy.
    const std::string_view text = "first\nsecond";
    std::string_view rest = text;
    std::string_view line;
    ASSERT_TRUE(takeLine(rest, line));
    EXPECT_EQ(line, "first");
    EXPECT_EQ(line.data(), text.data());
    EXPECT_EQ(rest.data(), text.data() + 6);
    ASSERT_TRUE(takeLine(rest, line));
    EXPECT_EQ(line, "second");
    EXPECT_EQ(line.data(), text.data() + 6);
    EXPECT_FALSE(takeLine(rest, line));
}

TEST(PlainText, LineBreaksAndNulsAreFound) {
    EXPECT_FALSE(hasLineBreakOrNul(""));
    EXPECT_FALSE(hasLineBreakOrNul("ping -c 4 %RemoteAddr% \t\v\f"));
    EXPECT_FALSE(hasLineBreakOrNul("日本語"));
    EXPECT_TRUE(hasLineBreakOrNul("a\rb"));
    EXPECT_TRUE(hasLineBreakOrNul("a\n"));
    EXPECT_TRUE(hasLineBreakOrNul(std::string_view("\0a", 2)));
    // Only what the view holds counts, not the NUL that ends the literal behind it.
    EXPECT_FALSE(hasLineBreakOrNul(std::string_view("ab\n", 2)));
}

TEST(PlainText, OnlyWellFormedUtf8SequencesHaveALength) {
    EXPECT_EQ(utf8SequenceLength(""), 0u);
    EXPECT_EQ(utf8SequenceLength("a"), 1u);
    EXPECT_EQ(utf8SequenceLength("\xC3\xA9x"), 2u);        // é
    EXPECT_EQ(utf8SequenceLength("日本"), 3u);             // the first character only
    EXPECT_EQ(utf8SequenceLength("\xF0\x9F\x98\x80"), 4u); // U+1F600
    EXPECT_EQ(utf8SequenceLength("\x80"), 0u);             // stray continuation byte
    EXPECT_EQ(utf8SequenceLength("\xC0\xAF"), 0u);         // overlong '/'
    EXPECT_EQ(utf8SequenceLength("\xE0\x80\xAF"), 0u);     // overlong '/'
    EXPECT_EQ(utf8SequenceLength("\xED\xA0\x80"), 0u);     // a surrogate
    EXPECT_EQ(utf8SequenceLength("\xF4\x90\x80\x80"), 0u); // above U+10FFFF
    EXPECT_EQ(utf8SequenceLength("\xE6\x97"), 0u);         // cut short
    EXPECT_EQ(utf8SequenceLength("\xE6"
                                 "a\xA5"),
              0u); // broken in the middle
}

TEST(PlainText, PrefixNeverEndsInsideACharacter) {
    const std::string text = "ab日本"; // 2 + 3 + 3 bytes
    EXPECT_EQ(utf8Prefix(text, 100), text);
    EXPECT_EQ(utf8Prefix(text, 8), text);
    EXPECT_EQ(utf8Prefix(text, 7), "ab日");
    EXPECT_EQ(utf8Prefix(text, 5), "ab日");
    EXPECT_EQ(utf8Prefix(text, 4), "ab");
    EXPECT_EQ(utf8Prefix(text, 2), "ab");
    EXPECT_EQ(utf8Prefix(text, 0), "");
    // A four-byte character is stepped over whole.
    EXPECT_EQ(utf8Prefix("a\xF0\x9F\x98\x80", 4), "a");
    // Stray continuation bytes are not UTF-8: they are cut at the limit, not to nothing.
    const std::string stray(10, '\x80');
    EXPECT_EQ(utf8Prefix(stray, 6), stray.substr(0, 6));
    EXPECT_EQ(utf8Prefix("ab" + stray, 6), ("ab" + stray).substr(0, 6));
}

TEST(PlainText, WidthCountsAsTheWindowsVersionCountedBytes) {
    struct Case {
        std::string_view text;
        size_t width;
    };
    const Case cases[] = {
        {"", 0},
        {"abc 123", 7},
        {"漢字", 4},
        {"ひらがな", 8},
        {"ｱｲｳ", 3},              // half-width katakana count 1
        {"\xEF\xBD\xA1", 1},     // U+FF61, the first of them
        {"\xEF\xBE\x9F", 1},     // U+FF9F, the last
        {"\xEF\xBD\xA0", 2},     // U+FF60, just before: full width
        {"\xEF\xBE\xA0", 2},     // U+FFA0, just after
        {"Ａ", 2},               // a full-width letter
        {"é", 2},                // not ASCII: every other character counts 2
        {"\xF0\x9F\x98\x80", 2}, // four bytes, still one character
        {"\x80\xFF", 4},         // stray bytes count 2 each
        {"ｳｪﾌﾞ閲覧 1", 10},
    };
    for (const Case& c : cases)
        EXPECT_EQ(legacyTextWidth(c.text), c.width) << c.text;
}

TEST(PlainText, WidthPrefixStopsBeforeACharacterThatDoesNotFit) {
    struct Case {
        std::string_view text;
        size_t maxWidth;
        std::string_view prefix;
    };
    const Case cases[] = {
        {"abc", 10, "abc"},  {"abc", 3, "abc"},       {"abc", 2, "ab"},
        {"漢字", 4, "漢字"}, {"漢字", 3, "漢"}, // the second kanji would need one column more
        {"漢字", 1, ""},     {"aｱ漢", 2, "aｱ"},       {"aｱ漢", 3, "aｱ"},
        {"aｱ漢", 4, "aｱ漢"}, {"\x80\x80", 3, "\x80"}, {"abc", 0, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(legacyTextPrefix(c.text, c.maxWidth), c.prefix) << c.text << " " << c.maxWidth;

    // The limits of the settings: 50 kanji fill a name of 100, 127 half-width
    // katakana a comment of 127.
    std::string kanji;
    for (int i = 0; i < 60; ++i)
        kanji += "漢";
    EXPECT_EQ(legacyTextPrefix(kanji, 100), kanji.substr(0, 150));
    std::string katakana;
    for (int i = 0; i < 130; ++i)
        katakana += "ｶ";
    EXPECT_EQ(legacyTextPrefix(katakana, 127), katakana.substr(0, 127 * 3));
}

TEST(PlainText, AddressesAreWrittenInTheirStoredByteOrder) {
    EXPECT_EQ(dottedAddress(htonl(0xC0A80002)), "192.168.0.2");
    EXPECT_EQ(dottedAddress(0), "0.0.0.0");
    EXPECT_EQ(dottedAddress(0xFFFFFFFF), "255.255.255.255");
    EXPECT_EQ(dottedAddress(htonl(0x0A000100)), "10.0.1.0"); // a zero byte is written "0"
    EXPECT_EQ(dottedAddress(inet_addr("1.2.3.4")), "1.2.3.4");
}

} // namespace
} // namespace tavrin
