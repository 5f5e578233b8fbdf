// tavrinctl: Tavrin's command-line companion. Each subcommand is a small front end
// over the same model and core the desktop program uses.
#include "ArgumentParser.h"
#include "Subcommand.h"

#include <cstring>
#include <span>

namespace tavrin::ctl {
// Subcommands, one declaration per file.
extern const Subcommand kConnectionsCommand;
extern const Subcommand kPortSpecCommand;
extern const Subcommand kCommandsCommand;
extern const Subcommand kShowCommand;
extern const Subcommand kRunCommand;
} // namespace tavrin::ctl

namespace {

using tavrin::ctl::Subcommand;

const Subcommand kSubcommands[] = {
    {"help", "", "show this list", nullptr}, // answered here, before the table is searched
    tavrin::ctl::kConnectionsCommand,
    tavrin::ctl::kPortSpecCommand,
    tavrin::ctl::kShowCommand,
    tavrin::ctl::kCommandsCommand,
    tavrin::ctl::kRunCommand,
};

void printUsage(std::FILE* out) {
    std::fprintf(out, "usage: tavrinctl SUBCOMMAND [ARGS...]\n\n");
    for (const Subcommand& s : kSubcommands)
        std::fprintf(out, "  %s %s\n      %s\n", s.name, s.usage, s.summary);
    std::fprintf(out, "\ntavrinctl SUBCOMMAND --help shows a subcommand's options.\n");
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        printUsage(stderr);
        return tavrin::ctl::kExitUsage;
    }
    const std::span<char*> args(argv + 1, static_cast<size_t>(argc - 1));
    if (std::strcmp(args[0], "help") == 0 || std::strcmp(args[0], "--help") == 0 ||
        std::strcmp(args[0], "-h") == 0) {
        printUsage(stdout);
        return tavrin::ctl::kExitOk;
    }
    for (const Subcommand& s : kSubcommands) {
        if (s.run != nullptr && std::strcmp(args[0], s.name) == 0)
            return s.run(static_cast<int>(args.size()), args.data());
    }
    std::fprintf(stderr, "tavrinctl: unknown subcommand %s\n",
                 tavrin::cli::quotedArgument(args[0]).c_str());
    printUsage(stderr);
    return tavrin::ctl::kExitUsage;
}
