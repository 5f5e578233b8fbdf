#include "ArgumentParser.h"

#include <algorithm>
#include <memory>

namespace tavrin::cli {

namespace {

// Help as the programs print it: the usage lines first, then what the program
// does, then the options.
constexpr size_t kNameColumn = 24;
constexpr size_t kLineWidth = 80;

// Help as the programs print it: the usage lines first, then what the program
// does, then the options with their descriptions wrapped to the terminal's width.
class HelpFormatter final : public CLI::Formatter {
public:
    explicit HelpFormatter(std::string usage) : m_usage(std::move(usage)) {}

    std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const override {
        std::string out = m_usage;
        if (!app->get_description().empty())
            out += "\n" + app->get_description() + "\n";
        out += make_positionals(app);
        out += make_groups(app, CLI::AppFormatMode::Normal);
        if (!app->get_footer().empty())
            out += "\n" + app->get_footer() + "\n";
        return out;
    }

    std::string make_option(const CLI::Option* option, bool positional) const override {
        std::string name = "  " + make_option_name(option, positional);
        if (!positional && option->get_items_expected_max() > 0)
            name += " " + option->get_type_name();
        std::string out = name;
        size_t column = name.size();
        if (column + 2 > kNameColumn) {
            out += "\n";
            column = 0;
        }
        // The description's words, wrapped at the line's width.
        const std::string& text = option->get_description();
        size_t at = 0;
        bool firstWord = true;
        while (at < text.size()) {
            const size_t end = std::min(text.find(' ', at), text.size());
            const std::string word = text.substr(at, end - at);
            at = end + 1;
            if (word.empty())
                continue;
            if (!firstWord && column + 1 + word.size() > kLineWidth) {
                out += "\n";
                column = 0;
            }
            if (column < kNameColumn) {
                out.append(kNameColumn - column, ' ');
                column = kNameColumn;
            } else {
                out += ' ';
                ++column;
            }
            out += word;
            column += word.size();
            firstWord = false;
        }
        return out + "\n";
    }

private:
    std::string m_usage;
};

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The option a CLI11 message is about: its text up to the first ": ".
std::string subjectOf(const std::string& message, std::string& rest) {
    const size_t colon = message.find(": ");
    if (colon == std::string::npos) {
        rest = message;
        return {};
    }
    rest = message.substr(colon + 2);
    return message.substr(0, colon);
}

// The name a message gives an option: its long name, else its short one.
std::string optionName(const CLI::Option& option) {
    if (!option.get_lnames().empty())
        return "--" + option.get_lnames().front();
    if (!option.get_snames().empty())
        return "-" + option.get_snames().front();
    return option.get_name();
}

} // namespace

std::string quotedArgument(std::string_view argument) {
    std::string out = "'";
    for (char c : argument) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            static constexpr char kHex[] = "0123456789ABCDEF";
            out += "\\x";
            out.push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 0x0F]);
        } else {
            out.push_back(c);
        }
    }
    return out + "'";
}

ArgumentParser::ArgumentParser(std::string program, std::vector<std::string> usages,
                               std::string description)
    : m_program(std::move(program)), m_usages(std::move(usages)),
      m_app(std::move(description), m_program) {
    m_app.formatter(std::make_shared<HelpFormatter>(usage()));
    m_app.set_help_flag("-h,--help", "show this help and end");
}

std::string ArgumentParser::usage() const {
    std::string out;
    for (size_t i = 0; i < m_usages.size(); ++i) {
        out += i == 0 ? "usage: " : "       ";
        out += m_program;
        if (!m_usages[i].empty())
            out += " " + m_usages[i];
        out += "\n";
    }
    return out;
}

std::string ArgumentParser::help() const {
    return m_app.help();
}

ArgumentParser::Result ArgumentParser::fail(std::string problem) {
    m_error = std::move(problem);
    return Result::Error;
}

ArgumentParser::Result ArgumentParser::parse(int argc, const char* const* argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);
    return parse(args);
}

ArgumentParser::Result ArgumentParser::parse(const std::vector<std::string>& args) {
    m_error.clear();
    m_extras.clear();
    // CLI11 reads "--flag=yes" as the flag set; a switch takes no value here.
    for (const std::string& arg : args) {
        if (arg == "--")
            break;
        const size_t eq = arg.find('=');
        if (!startsWith(arg, "--") || eq == std::string::npos)
            continue;
        const std::string name = arg.substr(0, eq);
        for (const CLI::Option* option : m_app.get_options()) {
            if (option->check_lname(name.substr(2)) && option->get_items_expected_max() == 0)
                return fail(name + " takes no value");
        }
    }
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        m_app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        return Result::Help;
    } catch (const CLI::ParseError& error) {
        return fail(translate(error));
    }
    for (const CLI::Option* option : m_app.get_options()) {
        if (option->count() > 1 && !option->get_positional())
            return fail(optionName(*option) + " given twice");
    }
    m_extras = m_app.remaining();
    if (!m_app.get_allow_extras() && !m_extras.empty()) {
        const std::string& first = m_extras.front();
        return fail(
            (first.size() > 1 && first[0] == '-' ? "unknown option " : "unexpected argument ") +
            quotedArgument(first));
    }
    return Result::Run;
}

std::string ArgumentParser::translate(const CLI::ParseError& error) const {
    const std::string message = error.what();
    std::string rest;
    const std::string subject = subjectOf(message, rest);
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr && !subject.empty()) {
        if (rest.find("missing") != std::string::npos)
            return subject + " needs a value";
        if (startsWith(rest, "At Most"))
            return subject + " given twice";
    }
    // The checks of the options give their whole message.
    if (dynamic_cast<const CLI::ValidationError*>(&error) != nullptr && !subject.empty())
        return rest;
    if (dynamic_cast<const CLI::ExcludesError*>(&error) != nullptr) {
        const size_t at = message.find(" excludes ");
        if (at != std::string::npos)
            return message.substr(0, at) + " and " + message.substr(at + 10) +
                   " cannot be combined";
    }
    if (dynamic_cast<const CLI::RequiresError*>(&error) != nullptr) {
        const size_t at = message.find(" requires ");
        if (at != std::string::npos)
            return message.substr(0, at) + " goes with " + message.substr(at + 10);
    }
    if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
        const size_t colon = message.find(": ");
        const std::string first = colon == std::string::npos ? message : message.substr(colon + 2);
        return (startsWith(first, "-") ? "unknown option " : "unexpected argument ") +
               quotedArgument(first.substr(0, first.find(' ')));
    }
    return message;
}

int ArgumentParser::report(Result result) const {
    if (result == Result::Help) {
        const std::string text = help();
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
        return kExitHelp;
    }
    const std::string text = m_program + ": " + m_error + "\n" + usage() + "(" + m_program +
                             " --help lists the options)\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
    return kExitUsage;
}

} // namespace tavrin::cli
