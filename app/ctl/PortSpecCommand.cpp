// tavrinctl port-spec TEXT...: how each port text is read, as the filter editor
// would read it: the parsed range, its plain and labelled forms, and whether it
// may enter a port list.
#include "ArgumentParser.h"
#include "Messages.h"
#include "PortSpec.h"
#include "Subcommand.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace tavrin::ctl {
namespace {

// Keeps the messages a check would have shown, to print them beside the text.
class CollectingMessages final : public Messages {
public:
    void show(std::string_view text, std::string_view, MessageIcon) override {
        m_texts.emplace_back(text);
    }
    Answer askYesNo(std::string_view text, std::string_view, MessageIcon) override {
        m_texts.emplace_back(text);
        return Answer::No;
    }
    Answer askYesNoCancel(std::string_view text, std::string_view, MessageIcon) override {
        m_texts.emplace_back(text);
        return Answer::Cancel;
    }
    std::vector<std::string> take() { return std::exchange(m_texts, {}); }

private:
    std::vector<std::string> m_texts;
};

// The text in double quotes, control bytes escaped so that an argument cannot
// drive the terminal; multi-byte characters pass as they are.
std::string quotedText(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", byte);
            out += escape;
        } else if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else {
            out.push_back(c);
        }
    }
    out.push_back('"');
    return out;
}

int run(int argc, char** argv) {
    cli::ArgumentParser line(
        "tavrinctl port-spec", {"[--] TEXT..."},
        "Shows for each port text the range it is read as, its plain and\n"
        "labelled forms, and whether a port list accepts it. A text may begin\n"
        "with a dash (\"-80\" is 0 to 80); after \"--\" every argument is a text.");
    line.app().footer("exit status: 0 when every text is accepted, 1 when one is not, 2 for a "
                      "bad command line");
    line.allowExtras();
    // Everything after "--" is a text, whatever it looks like.
    std::vector<std::string> options;
    std::vector<std::string> texts;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        if (!optionsEnded && std::string_view(argv[i]) == "--")
            optionsEnded = true;
        else
            (optionsEnded ? texts : options).emplace_back(argv[i]);
    }
    auto result = line.parse(options);
    if (result == cli::ArgumentParser::Result::Run) {
        std::vector<std::string> before;
        for (const std::string& arg : line.extras()) {
            // Long options are refused; other texts beginning with a dash are ports.
            if (arg.size() > 2 && arg.starts_with("--")) {
                result = line.fail("unknown option " + cli::quotedArgument(arg));
                break;
            }
            before.push_back(arg);
        }
        texts.insert(texts.begin(), before.begin(), before.end());
        if (result == cli::ArgumentParser::Result::Run && texts.empty())
            result = line.fail("no port text given");
    }
    if (result != cli::ArgumentParser::Result::Run)
        return line.report(result);

    CollectingMessages messages;
    bool allAccepted = true;
    for (const std::string& text : texts) {
        const PortRange range = ParsePortSpec(text);
        const bool accepted = ValidatePortSpec(text, messages);
        std::string verdict = accepted ? "yes" : "no";
        const std::vector<std::string> shown = messages.take();
        if (!accepted && shown.empty())
            verdict += " (empty text)";
        for (const std::string& m : shown)
            verdict += " (" + m + ")";
        allAccepted = allAccepted && accepted;
        std::printf("%s\n"
                    "  range:    %u-%u\n"
                    "  plain:    %s\n"
                    "  labelled: %s\n"
                    "  accepted: %s\n",
                    quotedText(text).c_str(), unsigned{range.hostLow()}, unsigned{range.hostHigh()},
                    FormatPortRange(range).c_str(), FormatPortLabel(range).c_str(),
                    verdict.c_str());
    }
    std::fflush(stdout);
    return allAccepted ? kExitOk : kExitFailure;
}

} // namespace

extern constinit const Subcommand kPortSpecCommand{
    "port-spec", "[--] TEXT...",
    "show how port texts are read: range, plain and labelled forms, accepted or not", run};

} // namespace tavrin::ctl
