#include "PlainText.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace tavrin
