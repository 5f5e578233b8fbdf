// tavrinctl port-spec TEXT...: how each port text is read, as the filter editor
// would read it: the parsed range, its plain and labelled forms, and whether it
// may enter a port list.
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
std::string quoted(std::string_view text) {
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

void printUsage(std::FILE* out) {
    std::fprintf(out, "usage: tavrinctl port-spec [--] TEXT...\n"
                      "Shows for each port text the range it is read as, its plain and\n"
                      "labelled forms, and whether a port list accepts it.\n"
                      "Exit status: 0 when every text is accepted, 1 when one is not.\n");
}

int run(int argc, char** argv) {
    std::vector<std::string_view> texts;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && (arg == "--help" || arg == "-h")) {
            printUsage(stdout);
            return kExitOk;
        } else if (!optionsEnded && arg.size() > 2 && arg.substr(0, 2) == "--") {
            std::fprintf(stderr, "tavrinctl port-spec: unknown option %s\n", quoted(arg).c_str());
            printUsage(stderr);
            return kExitUsage;
        } else {
            texts.push_back(arg);
        }
    }
    if (texts.empty()) {
        std::fprintf(stderr, "tavrinctl port-spec: no port text given\n");
        printUsage(stderr);
        return kExitUsage;
    }

    CollectingMessages messages;
    bool allAccepted = true;
    for (const std::string_view text : texts) {
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
                    quoted(text).c_str(), unsigned{range.hostLow()}, unsigned{range.hostHigh()},
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
