// A command line read through CLI11, with the programs' own wording: every error
// is one line ("unknown option '--x'", "--queue needs a value", "--dir given
// twice"), followed by the usage; --help prints the usage and the options. The
// subcommands of tavrinctl and the daemon read their options through it.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::cli {

// Exit statuses of a command line that ends the program before it starts.
inline constexpr int kExitHelp = 0;
inline constexpr int kExitUsage = 2;

class ArgumentParser {
public:
    enum class Result { Run, Help, Error };

    // `program` names the program in messages ("tavrinctl run"); `usages` are the
    // argument summaries after its name, one per form of the command line.
    ArgumentParser(std::string program, std::vector<std::string> usages, std::string description);
    ArgumentParser(const ArgumentParser&) = delete;
    ArgumentParser& operator=(const ArgumentParser&) = delete;

    CLI::App& app() { return m_app; }

    // Reads `args` (without the program's name). Every option may be given once.
    // An argument no option or positional takes is refused, unless extras() was
    // asked for, when it is left in extras().
    Result parse(const std::vector<std::string>& args);
    Result parse(int argc, const char* const* argv); // argv[0] is the program's name

    // Leaves arguments that no option takes to the caller instead of refusing them.
    void allowExtras() { m_app.allow_extras(true); }
    const std::vector<std::string>& extras() const { return m_extras; }

    // For checks made after parse(): records the problem and gives Result::Error.
    Result fail(std::string problem);

    const std::string& error() const { return m_error; }
    std::string usage() const;
    std::string help() const;
    // Help on standard output (status 0), or the error and the usage on standard
    // error (status 2). Only for Result::Help and Result::Error.
    int report(Result result) const;

private:
    std::string translate(const CLI::ParseError& error) const;

    std::string m_program;
    std::vector<std::string> m_usages;
    CLI::App m_app;
    std::vector<std::string> m_extras;
    std::string m_error;
};

// An argument as a message quotes it: in single quotes, control bytes as \xNN, so
// that a command line cannot drive the terminal the message is shown on.
std::string quotedArgument(std::string_view argument);

} // namespace tavrin::cli
