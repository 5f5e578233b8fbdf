#include "NumberText.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace tavrin {
namespace {

using namespace std::string_view_literals;

TEST(LeadingNumber, ReadsBlanksSignAndDigitsUpToTheFirstOtherCharacter) {
    LeadingNumber n = readLeadingNumber(" \t\n\v\f\r-0042x7", 1000);
    EXPECT_TRUE(n.negative);
    EXPECT_TRUE(n.hasDigits);
    EXPECT_EQ(n.magnitude, 42u);

    n = readLeadingNumber("+", 1000);
    EXPECT_FALSE(n.negative);
    EXPECT_FALSE(n.hasDigits);
    EXPECT_EQ(n.magnitude, 0u);

    // One sign only, and no blanks between sign and digits.
    EXPECT_FALSE(readLeadingNumber("+-5", 1000).hasDigits);
    EXPECT_FALSE(readLeadingNumber("- 5", 1000).hasDigits);
    // A control byte that C does not count as white space ends the text.
    const std::string fileSeparator = "\x1c"
                                      "5";
    EXPECT_FALSE(readLeadingNumber(fileSeparator, 1000).hasDigits);
    EXPECT_FALSE(readLeadingNumber("", 1000).hasDigits);

    // A NUL is no digit, and nothing past the end of the view is read.
    const std::string_view text = "12\0003"sv; // 1, 2, NUL, 3
    EXPECT_EQ(readLeadingNumber(text, 1000).magnitude, 12u);
    EXPECT_EQ(readLeadingNumber(text.substr(0, 1), 1000).magnitude, 1u);
}

TEST(LeadingNumber, SaturatesAtTheCeilingWithoutWrapping) {
    EXPECT_EQ(readLeadingNumber("65535", 65536).magnitude, 65535u);
    EXPECT_EQ(readLeadingNumber("65536", 65536).magnitude, 65536u);
    EXPECT_EQ(readLeadingNumber("65537", 65536).magnitude, 65536u);
    EXPECT_EQ(readLeadingNumber("99999999999999999999999999", 65536).magnitude, 65536u);
    // Once at the ceiling, more digits never bring the value back below it.
    EXPECT_EQ(readLeadingNumber("6553600000000000000000000000000000001", 65536).magnitude, 65536u);

    // The widest ceiling: 18446744073709551615 is the largest value, and more digits
    // stay there instead of wrapping around.
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    EXPECT_EQ(readLeadingNumber("18446744073709551615", kMax).magnitude, kMax);
    EXPECT_EQ(readLeadingNumber("18446744073709551614", kMax).magnitude, kMax - 1);
    EXPECT_EQ(readLeadingNumber("18446744073709551616", kMax).magnitude, kMax);
    EXPECT_EQ(readLeadingNumber("184467440737095516150", kMax).magnitude, kMax);

    // Ceilings below a single digit still hold.
    EXPECT_EQ(readLeadingNumber("7", 5).magnitude, 5u);
    EXPECT_EQ(readLeadingNumber("5", 5).magnitude, 5u);
    EXPECT_EQ(readLeadingNumber("3", 0).magnitude, 0u);
    EXPECT_TRUE(readLeadingNumber("3", 0).hasDigits);
}

TEST(LeadingInt32, StopsAtTheEndsOfThe32BitRange) {
    EXPECT_EQ(leadingInt32("250"), 250);
    EXPECT_EQ(leadingInt32("  -12abc"), -12);
    EXPECT_EQ(leadingInt32("-0"), 0);
    EXPECT_EQ(leadingInt32("abc"), 0);
    EXPECT_EQ(leadingInt32("2147483647"), INT32_MAX);
    EXPECT_EQ(leadingInt32("2147483648"), INT32_MAX);
    EXPECT_EQ(leadingInt32("-2147483647"), -INT32_MAX);
    EXPECT_EQ(leadingInt32("-2147483648"), INT32_MIN);
    EXPECT_EQ(leadingInt32("-2147483649"), INT32_MIN);
    EXPECT_EQ(leadingInt32("-99999999999999999999999"), INT32_MIN);
    EXPECT_EQ(leadingInt32("99999999999999999999999"), INT32_MAX);
}

TEST(WholeDecimal, TakesOnlyOneToNineteenDigitsAndNothingElse) {
    EXPECT_EQ(parseWholeDecimal("0"), 0u);
    EXPECT_EQ(parseWholeDecimal("007"), 7u);
    EXPECT_EQ(parseWholeDecimal("9999999999999999999"), 9999999999999999999u);
    EXPECT_EQ(parseWholeDecimal("1234567890123456789"), 1234567890123456789u);

    // Twenty digits could pass 64 bits; they are refused even when they would not.
    EXPECT_EQ(parseWholeDecimal("00000000000000000001"), std::nullopt);
    EXPECT_EQ(parseWholeDecimal(""), std::nullopt);
    EXPECT_EQ(parseWholeDecimal(" 1"), std::nullopt);
    EXPECT_EQ(parseWholeDecimal("1 "), std::nullopt);
    EXPECT_EQ(parseWholeDecimal("+1"), std::nullopt);
    EXPECT_EQ(parseWholeDecimal("-1"), std::nullopt);
    EXPECT_EQ(parseWholeDecimal("1a"), std::nullopt);
    EXPECT_EQ(parseWholeDecimal("1\0002"sv), std::nullopt); // 1, NUL, 2
    EXPECT_EQ(parseWholeDecimal("\xD9\xA1"), std::nullopt); // Arabic-Indic one
}

} // namespace
} // namespace tavrin
