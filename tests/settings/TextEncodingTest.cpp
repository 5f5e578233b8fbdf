#include "TextEncoding.h"

#include <gtest/gtest.h>

#include <iconv.h>

using namespace tavrin::settings;

namespace {

// Whether iconv takes the bytes as CP932 without a fault: what a reading of the
// whole file as CP932 would see.
bool convertsCleanlyFromCp932(std::string bytes) {
    iconv_t cd = ::iconv_open("UTF-8", "CP932");
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
    std::string out(bytes.size() * 3, '\0');
    char* in = bytes.data();
    size_t inLeft = bytes.size();
    char* to = out.data();
    size_t toLeft = out.size();
    const bool clean = ::iconv(cd, &in, &inLeft, &to, &toLeft) != static_cast<size_t>(-1);
    ::iconv_close(cd);
    return clean;
}

using Originals = std::vector<std::pair<size_t, std::string>>;

Originals originalsOf(const DecodedText& d) {
    Originals out;
    for (const auto& o : d.originalLines)
        out.emplace_back(o.line, o.bytes);
    return out;
}

} // namespace

TEST(TextEncoding, RecognisesWellFormedUtf8Only) {
    EXPECT_TRUE(isValidUtf8(""));
    EXPECT_TRUE(isValidUtf8("PacketFilter1"));
    EXPECT_TRUE(isValidUtf8("無効な方向です"));
    EXPECT_TRUE(isValidUtf8("\xF0\x9F\x98\x80"));  // four bytes
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));         // overlong "/"
    EXPECT_FALSE(isValidUtf8("\xE0\x80\xAF"));     // overlong
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));     // surrogate
    EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80")); // past U+10FFFF
    EXPECT_FALSE(isValidUtf8("\xE6\x97"));         // cut short
    EXPECT_FALSE(isValidUtf8("\x83\x74"));         // CP932 katakana
}

TEST(TextEncoding, AFileInOneEncodingIsReadWholeWithoutANote) {
    struct Case {
        const char* what;
        std::string bytes;
        std::string text;
    };
    const Case cases[] = {
        {"UTF-8 stays", "COMMENT=日本語", "COMMENT=日本語"},
        {"a byte-order mark goes", "\xEF\xBB\xBF[Common Settings]\n", "[Common Settings]\n"},
        // Katakana, a circled digit and a wave dash that only the CP932 table maps
        // to the full-width tilde.
        {"CP932 of the Windows version", "\x83\x74\x83\x42\x83\x8B\x83\x5E=\x87\x40\x81\x60\r\n",
         "フィルタ=①～\r\n"},
        {"half-width katakana are single bytes", "\xB1\xB2", "ｱｲ"},
        // "ﾃｽ" in CP932 happens to be valid UTF-8 ("ý"); the kanji line beside it
        // makes the file CP932, and two-byte sequences are no sign of UTF-8 text.
        {"a CP932 line that looks like UTF-8 by chance",
         "FILTER_NAME=\xC3\xBD\nCOMMENT=\x8A\xBF\x8E\x9A\n", "FILTER_NAME=ﾃｽ\nCOMMENT=漢字\n"},
    };
    for (const Case& c : cases) {
        const DecodedText d = decodeFileText(c.bytes);
        EXPECT_EQ(d.text, c.text) << c.what;
        EXPECT_EQ(d.firstUncleanLine, 0u) << c.what;
        EXPECT_TRUE(d.originalLines.empty()) << c.what;
    }
}

TEST(TextEncoding, AUtf8FileWithAStrayByteKeepsItsJapaneseTexts) {
    // "café" in Latin-1 in a UTF-8 file. The whole file even converts from CP932
    // without a fault ("\xE9s" and the UTF-8 bytes of the kanji all pair up), which
    // would turn every Japanese text into other kanji.
    const std::string bytes = "[PacketFilter1]\n"
                              "FILTER_NAME=許可\n"
                              "COMMENT=caf\xE9s\n"
                              "[PacketFilter2]\n"
                              "FILTER_NAME=夜間\r\n"
                              "COMMENT=\xE9t\n";
    ASSERT_TRUE(convertsCleanlyFromCp932(bytes));
    const DecodedText d = decodeFileText(bytes);
    EXPECT_EQ(d.text, "[PacketFilter1]\n"
                      "FILTER_NAME=許可\n"
                      "COMMENT=caf駸\n" // "é" and "s" are one CP932 kanji
                      "[PacketFilter2]\n"
                      "FILTER_NAME=夜間\r\n"
                      "COMMENT=騁\n");
    EXPECT_EQ(d.firstUncleanLine, 3u);
    EXPECT_EQ(originalsOf(d), (Originals{{2, "COMMENT=caf\xE9s"}, {5, "COMMENT=\xE9t"}}));
}

TEST(TextEncoding, BytesThatAreNeitherEncodingBecomeQuestionMarks) {
    struct Case {
        const char* what;
        std::string bytes;
        std::string text;
        size_t firstUncleanLine;
        Originals originals;
    };
    const Case cases[] = {
        // 0xA0 and 0xFD are unassigned in CP932, 0x83 at the end is half a character.
        {"a file of one bad line",
         "a\xA0"
         "b\xFD"
         "c\x83",
         "a?b?c?",
         1,
         {{0, "a\xA0"
              "b\xFD"
              "c\x83"}}},
        {"a CR LF line keeps its CR in the text, not in the kept bytes",
         "ok=日本\r\nbad=\x80\r\nlast",
         "ok=日本\r\nbad=?\r\nlast",
         2,
         {{1, "bad=\x80"}}},
        {"CP932 lines among UTF-8 ones",
         "a=日本\nb=\x83\x74\x83\x42\nc=\xFF\n",
         "a=日本\nb=フィ\nc=?\n",
         2,
         {{1, "b=\x83\x74\x83\x42"}, {2, "c=\xFF"}}},
    };
    for (const Case& c : cases) {
        const DecodedText d = decodeFileText(c.bytes);
        EXPECT_EQ(d.text, c.text) << c.what;
        EXPECT_EQ(d.firstUncleanLine, c.firstUncleanLine) << c.what;
        EXPECT_EQ(originalsOf(d), c.originals) << c.what;
    }
}

TEST(TextEncoding, TheNoteNamesTheFileAndTheLine) {
    EXPECT_EQ(mixedEncodingMessage("./Setting.ini", 12),
              "ファイル「./Setting.ini」の12行目はUTF-8ではありません。UTF-8でない行はShift_JIS"
              "として読み込み、変換できないバイトは「?」にしました。保存するまで、ファイルのその行"
              "は書き換えません。");
    // A "%" in the name is text, not a format.
    EXPECT_NE(mixedEncodingMessage("%s%n.ini", 1).find("「%s%n.ini」の1行目"), std::string::npos);
}
