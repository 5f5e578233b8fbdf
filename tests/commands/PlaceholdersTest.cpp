// Filling a command line's placeholders with a row's values.
#include "Placeholders.h"

#include <gtest/gtest.h>

#include <cctype>

namespace tavrin::commands {
namespace {

struct FillCase {
    const char* name;
    std::string line;
    PlaceholderValues values;
    std::string expected;
};

class FillRowTest : public ::testing::TestWithParam<FillCase> {};

TEST_P(FillRowTest, FillsEveryOccurrenceAndNeverWhatItPutIn) {
    EXPECT_EQ(fillRow(GetParam().line, GetParam().values), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FillRowTest,
    ::testing::Values(
        FillCase{"three occurrences",
                 "ping %RemoteAddr% %RemoteAddr% %RemoteAddr%",
                 {{"%RemoteAddr%", "10.0.0.1"}},
                 "ping 10.0.0.1 10.0.0.1 10.0.0.1"},
        FillCase{"unknown placeholders stay to be asked",
                 "x %SrcAddr% %UserIn% %RemoteHost%",
                 {{"%RemoteHost%", "h"}},
                 "x %SrcAddr% %UserIn% h"},
        FillCase{"an empty value removes the placeholder",
                 "a%RemoteHost%b",
                 {{"%RemoteHost%", ""}},
                 "ab"},
        FillCase{"a value holding a later placeholder is not filled again",
                 "%RemoteHost% %LocalAddr%",
                 {{"%RemoteHost%", "%LocalAddr%"}, {"%LocalAddr%", "1.2.3.4"}},
                 "%LocalAddr% 1.2.3.4"},
        FillCase{"a value holding itself does not loop",
                 "%RemoteHost%",
                 {{"%RemoteHost%", "%RemoteHost%%RemoteHost%"}},
                 "%RemoteHost%%RemoteHost%"},
        FillCase{"shell syntax is a value like any other",
                 "echo %RemoteHost%",
                 {{"%RemoteHost%", "$(rm -rf ~);`id` \"q\""}},
                 "echo $(rm -rf ~);`id` \"q\""},
        FillCase{
            "case matters", "%remoteaddr% %RemoteAddr%", {{"%RemoteAddr%", "x"}}, "%remoteaddr% x"},
        FillCase{"overlapping percent signs", "%%RemoteAddr%%", {{"%RemoteAddr%", "v"}}, "%v%"},
        FillCase{"Japanese around it",
                 "「%ProcessName%」を調べる",
                 {{"%ProcessName%", "ブラウザ.exe"}},
                 "「ブラウザ.exe」を調べる"}),
    [](const ::testing::TestParamInfo<FillCase>& row) {
        std::string name = row.param.name;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

TEST(FillFirstTest, UserInputIsFilledOneOccurrenceAtATime) {
    std::string line = "say %UserIn% then %UserIn%";
    line = fillFirst(line, kUserInput, "first");
    EXPECT_EQ(line, "say first then %UserIn%");
    line = fillFirst(line, kUserInput, "second");
    EXPECT_EQ(line, "say first then second");
    EXPECT_EQ(fillFirst("none here", kUserInput, "x"), "none here");
    EXPECT_EQ(fillPlaceholder("a%b%c", "", "x"), "a%b%c");
}

} // namespace
} // namespace tavrin::commands
