// A child's output bytes as the text the output box shows.
#include "OutputText.h"

#include <gtest/gtest.h>

namespace tavrin::commands {
namespace {

struct DecodeCase {
    const char* name;
    std::string bytes;
    std::string text;
};

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

std::string decodeWhole(std::string_view bytes, size_t maxLine = OutputText::kDefaultMaxLine) {
    OutputText decoder(maxLine);
    std::string text = decoder.decode(bytes);
    return text + decoder.finish();
}

TEST_P(DecodeTest, BytesBecomeText) {
    EXPECT_EQ(decodeWhole(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, DecodeTest,
    ::testing::Values(DecodeCase{"plain", "PING 10.0.0.1\n", "PING 10.0.0.1\n"},
                      DecodeCase{"Japanese", "応答 \xe6\x97\xa5\n", "応答 日\n"},
                      DecodeCase{"four byte character", "\xf0\x9f\x98\x80!", "\xf0\x9f\x98\x80!"},
                      DecodeCase{"stray bytes",
                                 "a\x80"
                                 "b\xff",
                                 "a?b?"},
                      DecodeCase{"overlong form", "\xc0\xaf", "??"},
                      DecodeCase{"surrogate", "\xed\xa0\x80", "???"},
                      DecodeCase{"a character cut by the end", "abc\xe6\x97", "abc??"},
                      DecodeCase{"a lead byte followed by another",
                                 "\xe6"
                                 "A",
                                 "?A"},
                      DecodeCase{"CR LF", "a\r\nb\r\n", "a\nb\n"},
                      DecodeCase{"a lone CR ends a line", "10%\r20%\r", "10%\n20%\n"},
                      DecodeCase{"control bytes",
                                 std::string("a\x07\x1b[1mb\x7f", 8) + std::string(1, '\0'),
                                 "a??[1mb??"},
                      DecodeCase{"tab kept", "a\tb", "a\tb"}),
    [](const ::testing::TestParamInfo<DecodeCase>& row) {
        std::string name = row.param.name;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

TEST(DecodeSplitTest, AnyCutBetweenReadsGivesTheSameText) {
    const std::string bytes = "日本語\r\né\xf0\x9f\x98\x80 x\xff\xe6\x97\xa5\r";
    const std::string whole = decodeWhole(bytes);
    EXPECT_EQ(whole, "日本語\né\xf0\x9f\x98\x80 x?日\n");
    for (size_t cut = 0; cut <= bytes.size(); ++cut) {
        OutputText decoder;
        std::string text = decoder.decode(std::string_view(bytes).substr(0, cut));
        text += decoder.decode(std::string_view(bytes).substr(cut));
        text += decoder.finish();
        EXPECT_EQ(text, whole) << "cut at " << cut;
    }
    OutputText byByte;
    std::string text;
    for (char c : bytes)
        text += byByte.decode(std::string_view(&c, 1));
    text += byByte.finish();
    EXPECT_EQ(text, whole);
}

TEST(DecodeLineTest, LongLinesBreakAtTheLimitCountingCharacters) {
    EXPECT_EQ(decodeWhole("abcdefg\nxy", 3), "abc\ndef\ng\nxy");
    EXPECT_EQ(decodeWhole("日本語日本\n", 2), "日本\n語日\n本\n");
    EXPECT_EQ(decodeWhole("abc\nabc\n", 3), "abc\nabc\n");
    // The count goes on across reads.
    OutputText decoder(4);
    std::string text = decoder.decode("abc");
    text += decoder.decode("def");
    EXPECT_EQ(text + decoder.finish(), "abcd\nef");
}

} // namespace
} // namespace tavrin::commands
