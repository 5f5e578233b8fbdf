// The shared command-line reader: CLI11 underneath, the programs' own words on top.
#include "ArgumentParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavrin::cli {
namespace {

using Result = ArgumentParser::Result;

// A command with every kind of option the programs use: a value with a check, a
// switch, a switch with a short name, one that needs another, one that excludes
// another, and an optional positional.
struct Sample {
    ArgumentParser line{"tool run", {"[--dir DIR] [--json] [FILE]"}, "Does things."};
    std::string dir;
    std::string file;
    bool json = false;
    bool numeric = false;
    bool watch = false;
    long count = 0;

    Sample() {
        CLI::App& app = line.app();
        app.add_option("--dir", dir, "a folder")->type_name("DIR")->check([](const std::string& v) {
            return v.empty() ? std::string("--dir needs a folder") : std::string();
        });
        CLI::Option* jsonFlag = app.add_flag("--json", json, "JSON");
        app.add_flag("-n,--numeric", numeric, "numbers");
        CLI::Option* watchFlag = app.add_flag("--watch", watch, "again and again");
        app.add_option("--count", count, "how often")->needs(watchFlag);
        app.add_flag("--plain")->excludes(jsonFlag);
        app.add_option("FILE", file, "the file");
    }
};

TEST(ArgumentParser, ReadsValuesInBothFormsAndPositionals) {
    Sample s;
    ASSERT_EQ(s.line.parse({"--dir", "a b", "--json", "-n", "x.ini"}), Result::Run)
        << s.line.error();
    EXPECT_EQ(s.dir, "a b");
    EXPECT_TRUE(s.json);
    EXPECT_TRUE(s.numeric);
    EXPECT_EQ(s.file, "x.ini");

    Sample t;
    ASSERT_EQ(t.line.parse({"--dir=c=d", "--watch", "--count", "3"}), Result::Run)
        << t.line.error();
    EXPECT_EQ(t.dir, "c=d");
    EXPECT_EQ(t.count, 3);
    EXPECT_EQ(t.file, "");
}

TEST(ArgumentParser, RefusesOddCommandLinesInOneLine) {
    const struct {
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        {{"--window"}, "unknown option '--window'"},
        {{"-x"}, "unknown option '-x'"},
        {{"a.ini", "b.ini"}, "unexpected argument 'b.ini'"},
        {{"--\x1b[2J"}, "unknown option '--\\x1B[2J'"},
        {{"--dir"}, "--dir needs a value"},
        {{"--dir="}, "--dir needs a value"},
        {{"--dir", ""}, "--dir needs a folder"},
        {{"--dir", "a", "--dir", "b"}, "--dir given twice"},
        {{"--json", "--json"}, "--json given twice"},
        {{"-n", "--numeric"}, "--numeric given twice"},
        {{"--json=yes"}, "--json takes no value"},
        {{"--count", "2"}, "--count goes with --watch"},
        {{"--plain", "--json"}, "--json and --plain cannot be combined"},
    };
    for (const auto& c : cases) {
        Sample s;
        EXPECT_EQ(s.line.parse(c.args), Result::Error) << c.error;
        EXPECT_EQ(s.line.error(), c.error);
    }
}

TEST(ArgumentParser, HelpShowsUsageDescriptionAndEveryOption) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--help"}, {"-h"}, {"--dir", "x", "--help"}}) {
        Sample s;
        EXPECT_EQ(s.line.parse(args), Result::Help) << args.front();
    }
    Sample s;
    const std::string help = s.line.help();
    EXPECT_EQ(help.rfind("usage: tool run [--dir DIR] [--json] [FILE]\n\nDoes things.\n", 0), 0u)
        << help;
    for (const char* part : {"  --dir DIR ", "  --json ", "  -n,--numeric ", "  --count INT",
                             "  FILE ", "  -h,--help "})
        EXPECT_NE(help.find(part), std::string::npos) << part << "\n" << help;
    // A long description is wrapped under its column, within 80 characters.
    ArgumentParser wide("tool", {""}, "");
    wide.app().add_flag("--long")->description(std::string(30, 'w') + " " + std::string(30, 'v') +
                                               " " + std::string(30, 'u'));
    const std::string text = wide.help();
    EXPECT_NE(text.find(std::string(30, 'v') + "\n" + std::string(24, ' ') + std::string(30, 'u')),
              std::string::npos)
        << text;
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1)
        EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
}

TEST(ArgumentParser, ExtrasAreLeftToTheCallerWhenAsked) {
    ArgumentParser line("tool", {"TEXT..."}, "");
    line.allowExtras();
    ASSERT_EQ(line.parse({"-80", "x", "-y"}), Result::Run) << line.error();
    EXPECT_EQ(line.extras(), (std::vector<std::string>{"-80", "x", "-y"}));
    EXPECT_EQ(line.fail("no text"), Result::Error);
    EXPECT_EQ(line.error(), "no text");
    EXPECT_EQ(line.usage(), "usage: tool TEXT...\n");
}

TEST(ArgumentParser, SeveralUsageLinesAreAligned) {
    ArgumentParser line("Ovlank", {"[--queue N]", "--remove --chains P", ""}, "");
    EXPECT_EQ(line.usage(), "usage: Ovlank [--queue N]\n"
                            "       Ovlank --remove --chains P\n"
                            "       Ovlank\n");
}

} // namespace
} // namespace tavrin::cli
