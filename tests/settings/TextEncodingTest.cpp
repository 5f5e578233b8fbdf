#include "TextEncoding.h"

#include <gtest/gtest.h>

using namespace tavrin::settings;

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

TEST(TextEncoding, ReadsCp932FilesAsUtf8) {
    // "フィルタ=①～" as the Windows version wrote it: katakana, a circled digit and a
    // wave dash that only the CP932 table maps to the full-width tilde.
    const std::string cp932 = "\x83\x74\x83\x42\x83\x8B\x83\x5E=\x87\x40\x81\x60\r\n";
    EXPECT_EQ(decodeFileText(cp932), "フィルタ=①～\r\n");
    // Half-width katakana are single bytes in CP932.
    EXPECT_EQ(decodeFileText("\xB1\xB2"), "ｱｲ");
}

TEST(TextEncoding, KeepsUtf8AndDropsItsByteOrderMark) {
    EXPECT_EQ(decodeFileText("\xEF\xBB\xBF[Common Settings]\n"), "[Common Settings]\n");
    EXPECT_EQ(decodeFileText("COMMENT=日本語"), "COMMENT=日本語");
}

TEST(TextEncoding, MarksBytesThatAreNeitherEncodingAndGoesOn) {
    // 0xA0 and 0xFD are unassigned in CP932, 0x83 at the end is half a character.
    EXPECT_EQ(decodeFileText("a\xA0"
                             "b\xFD"
                             "c\x83"),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD"
              "c\xEF\xBF\xBD");
}
