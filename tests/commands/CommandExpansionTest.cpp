// The questions before a run: which placeholders are asked, in which order, with
// which prompt, and the command line the answers make.
#include "CommandLine.h"
#include "Placeholders.h"

#include <gtest/gtest.h>

namespace tavrin::commands {
namespace {

struct AskCase {
    const char* name;
    std::string line;
    std::vector<std::string> answers;
    std::vector<std::string> prompts; // asked in this order, one per answer
    std::vector<std::string> words;   // the command line's words afterwards
};

class AskTest : public ::testing::TestWithParam<AskCase> {};

TEST_P(AskTest, AsksInOrderAndFillsTheAnswers) {
    const AskCase& c = GetParam();
    CommandExpansion expansion(c.line);
    std::vector<std::string> prompts;
    CommandExpansion::Question question;
    for (size_t i = 0; expansion.next(question); ++i) {
        ASSERT_LT(i, c.answers.size()) << "asked too often: " << question.prompt;
        prompts.push_back(question.prompt);
        expansion.answer(c.answers[i]);
    }
    EXPECT_EQ(prompts, c.prompts);
    EXPECT_EQ(splitCommandLine(expansion.line()), c.words) << expansion.line();
}

INSTANTIATE_TEST_SUITE_P(
    Lines, AskTest,
    ::testing::Values(AskCase{"nothing to ask", "ss -tuan", {}, {}, {"ss", "-tuan"}},
                      AskCase{"fixed order, not the line's",
                              "x %DestPort% %LocalAddr% %RemoteHost% %SrcAddr%",
                              {"1", "2", "3", "4"},
                              {"%LocalAddr% と置き換える文字列を入力してください。",
                               "%RemoteHost% と置き換える文字列を入力してください。",
                               "%SrcAddr% と置き換える文字列を入力してください。",
                               "%DestPort% と置き換える文字列を入力してください。"},
                              {"x", "4", "1", "2", "3"}},
                      AskCase{"three occurrences asked once",
                              "echo %ProcessID% %ProcessID%-%ProcessID%",
                              {"42"},
                              {"%ProcessID% と置き換える文字列を入力してください。"},
                              {"echo", "42", "42-42"}},
                      AskCase{"user input counted from the left",
                              "echo %UserIn% and %UserIn%",
                              {"first", "second"},
                              {"1 番目の %UserIn% と置き換える文字列を入力してください。",
                               "2 番目の %UserIn% と置き換える文字列を入力してください。"},
                              {"echo", "first", "and", "second"}},
                      AskCase{"the default message command",
                              "logger -n %RemoteAddr% \"%UserIn%\"",
                              {"10.0.0.9", "hello there"},
                              {"%RemoteAddr% と置き換える文字列を入力してください。",
                               "1 番目の %UserIn% と置き換える文字列を入力してください。"},
                              {"logger", "-n", "10.0.0.9", "hello there"}},
                      AskCase{"an empty answer removes the placeholder",
                              "ping %RemoteHost%",
                              {""},
                              {"%RemoteHost% と置き換える文字列を入力してください。"},
                              {"ping"}},
                      AskCase{"an answer naming a placeholder is not asked again",
                              "echo %LocalAddr% %UserIn%",
                              {"%RemoteAddr%", "%UserIn%"},
                              {"%LocalAddr% と置き換える文字列を入力してください。",
                               "1 番目の %UserIn% と置き換える文字列を入力してください。"},
                              {"echo", "%RemoteAddr%", "%UserIn%"}},
                      AskCase{"shell syntax and quotes reach the program as typed",
                              "echo %UserIn% %UserIn%",
                              {"; rm -rf ~", "\"$(id)\" 'x' \\"},
                              {"1 番目の %UserIn% と置き換える文字列を入力してください。",
                               "2 番目の %UserIn% と置き換える文字列を入力してください。"},
                              {"echo", "; rm -rf ~", "\"$(id)\" 'x' \\"}},
                      AskCase{"a row's values are not asked",
                              fillRow("ping %SrcAddr% %DestAddr%", {{"%SrcAddr%", "10.0.0.1"}}),
                              {"10.0.0.2"},
                              {"%DestAddr% と置き換える文字列を入力してください。"},
                              {"ping", "10.0.0.1", "10.0.0.2"}}),
    [](const ::testing::TestParamInfo<AskCase>& row) {
        std::string name = row.param.name;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

TEST(AskTest, LineBeforeAnyAnswerIsTheLineAsGiven) {
    const std::string line = "net \"%UserIn%\" \\x";
    EXPECT_EQ(CommandExpansion(line).line(), line);
    CommandExpansion::Question question{"untouched", 7, "p"};
    EXPECT_FALSE(CommandExpansion("plain").next(question));
    EXPECT_EQ(question.counter, 7);
}

} // namespace
} // namespace tavrin::commands
