// Command lines as words: how a line splits, and values put in so that they come
// out as they are, whatever blanks, quotes and backslashes they hold.
#include "CommandLine.h"
#include "Placeholders.h"

#include <gtest/gtest.h>

#include <random>

namespace tavrin::commands {
namespace {

using Words = std::vector<std::string>;

struct SplitCase {
    const char* name;
    std::string line;
    Words words;
};

class SplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTest, WordsAsTheLineGroupsThem) {
    EXPECT_EQ(splitCommandLine(GetParam().line), GetParam().words);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SplitTest,
    ::testing::Values(
        SplitCase{"blanks separate", "ping  -c\t4 host ", {"ping", "-c", "4", "host"}},
        SplitCase{"nothing but blanks", " \t \r\n", {}},
        SplitCase{"a pasted line end", "ss -tuan\r\n", {"ss", "-tuan"}},
        SplitCase{
            "quotes group and go", "logger -n h \"two words\"", {"logger", "-n", "h", "two words"}},
        SplitCase{"quotes inside a word", "a\"b c\"d", {"ab cd"}},
        SplitCase{"an empty pair is an empty word", "echo \"\" x", {"echo", "", "x"}},
        SplitCase{"an open quote runs to the end", "echo \"a  b", {"echo", "a  b"}},
        SplitCase{"escaped quote", "echo \\\"x\\\"", {"echo", "\"x\""}},
        SplitCase{"two backslashes before a quote", "echo \\\\\"a b\"", {"echo", "\\a b"}},
        SplitCase{"three backslashes before a quote", "echo \\\\\\\"", {"echo", "\\\""}},
        SplitCase{"backslashes elsewhere stay", "grep a\\\\b c\\d", {"grep", "a\\\\b", "c\\d"}},
        SplitCase{
            "shell syntax is plain text", "echo $(id);`id`|x>y&", {"echo", "$(id);`id`|x>y&"}},
        SplitCase{"Japanese", "echo 「日本 語」", {"echo", "「日本", "語」"}}),
    [](const ::testing::TestParamInfo<SplitCase>& row) {
        std::string name = row.param.name;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

// `before` + value + `after` must split as `before` + a stand-in + `after` does,
// with the value in the stand-in's place, and leave the quoting as it was.
void expectLiteral(const std::string& before, const std::string& value, const std::string& after) {
    const char standIn = '\x01';
    Words expected = splitCommandLine(before + standIn + after);
    for (std::string& word : expected) {
        const size_t at = word.find(standIn);
        if (at != std::string::npos)
            word.replace(at, 1, value);
    }
    std::string line = before;
    appendLiteral(line, value);
    EXPECT_EQ(endsInsideQuotes(line), endsInsideQuotes(before))
        << "before [" << before << "] value [" << value << "]";
    line += after;
    EXPECT_EQ(splitCommandLine(line), expected)
        << "before [" << before << "] value [" << value << "] after [" << after << "] line ["
        << line << "]";
}

TEST(AppendLiteralTest, ValuesComeOutAsTheyAreWhereverTheyStand) {
    const char* values[] = {
        "10.0.0.1", "two words",         "say \"hi\"", "a\\", "\\\"",
        "\\\\",     "$(rm -rf ~); `id`", "tab\there",  "\"",  "-o ProxyCommand=x"};
    const char* befores[] = {"", "cmd ", "cmd \"", "cmd x\\", "cmd \"x\\", "cmd \"a\" "};
    const char* afters[] = {"", " next", "\"", "\\\"", "x\"", "\\"};
    for (const char* before : befores)
        for (const char* value : values)
            for (const char* after : afters)
                expectLiteral(before, value, after);
}

TEST(AppendLiteralTest, AnyMixOfBlanksQuotesAndBackslashes) {
    std::mt19937 random(20240601);
    const char template_[] = {'a', ' ', '"', '\\'};
    const char valueChars[] = {'a', ' ', '"', '\\', '\t', '\n'};
    auto text = [&](const char* alphabet, size_t size, size_t minLength) {
        std::string out;
        const size_t length = minLength + random() % 6;
        for (size_t i = 0; i < length; ++i)
            out += alphabet[random() % size];
        return out;
    };
    for (int i = 0; i < 20000 && !HasFailure(); ++i)
        expectLiteral(text(template_, 4, 0), text(valueChars, 6, 1), text(template_, 4, 0));
}

TEST(AppendLiteralTest, AnEmptyValueAddsNothing) {
    for (const char* before : {"", "a ", "\"x", "x\\"}) {
        std::string line = before;
        appendLiteral(line, "");
        EXPECT_EQ(line, before);
    }
}

TEST(AppendLiteralTest, PlainValuesGoInUnchanged) {
    std::string line = "ping -c 4 ";
    appendLiteral(line, "10.99.0.2");
    EXPECT_EQ(line, "ping -c 4 10.99.0.2");
    line = "logger \"";
    appendLiteral(line, "a b");
    EXPECT_EQ(line, "logger \"a b");
}

TEST(FillTest, EveryFillKeepsItsValueOneLiteralPiece) {
    const std::string hostile = "x\" \"-oProxyCommand=sh -c id; $(reboot)";
    EXPECT_EQ(splitCommandLine(fillRow("ssh %RemoteHost% -p %RemotePort%",
                                       {{"%RemoteHost%", hostile}, {"%RemotePort%", "22"}})),
              (Words{"ssh", hostile, "-p", "22"}));
    EXPECT_EQ(splitCommandLine(fillPlaceholder("echo %SrcAddr%/%SrcAddr%", "%SrcAddr%", "a b")),
              (Words{"echo", "a b/a b"}));
    EXPECT_EQ(splitCommandLine(fillFirst("logger \"%UserIn%\" %UserIn%", kUserInput, "say \"hi\"")),
              (Words{"logger", "say \"hi\"", "%UserIn%"}));
}

} // namespace
} // namespace tavrin::commands
