// tavrinctl commands [FILE]: lists the external commands of an ExternalCommand.ini.
#include "ArgumentParser.h"
#include "ExternalCommandIni.h"
#include "PlainText.h"
#include "PosixFileSystem.h"
#include "Subcommand.h"

#include <cstring>

namespace tavrin::ctl {

namespace {

const char* targetText(int target) {
    switch (target) {
    case commands::kTargetTcpConnectionMonitor: return "TCP connection monitor";
    case commands::kTargetPacketMonitor: return "packet monitor";
    default: return "no monitor";
    }
}

} // namespace

namespace {

int runCommands(int argc, char** argv) {
    std::string path = commands::kExternalCommandFile;
    cli::ArgumentParser line(
        "tavrinctl commands", {"[FILE]"},
        "Lists the external commands of an ExternalCommand.ini as Tavrin reads "
        "them.");
    line.app().add_option("FILE", path, "the command file (default ./ExternalCommand.ini)");
    if (const auto result = line.parse(argc, argv); result != cli::ArgumentParser::Result::Run)
        return line.report(result);
    settings::PosixFileSystem fs;
    StreamMessages messages(stderr, Answer::No);
    commands::ExternalCommandIni store(fs, messages, path);
    if (store.load() == 0) {
        std::fprintf(stderr, "tavrinctl commands: cannot read %s: %s\n",
                     escapeControlBytes(path).c_str(), store.lastError().message().c_str());
        return kExitFailure;
    }
    // Names and command lines are the file's text: a hand-edited file may hold control
    // bytes, which must not reach the terminal as they are.
    std::printf("%zu commands in %s\n", store.records().size(), escapeControlBytes(path).c_str());
    size_t position = 0;
    for (const commands::ExternalCommand& c : store.records()) {
        std::printf("%zu. %s\n", ++position, escapeControlBytes(c.name).c_str());
        std::printf("   command line: %s\n", escapeControlBytes(c.commandLine).c_str());
        std::printf("   in menu: %s, target: %d (%s), show window: %d\n",
                    c.addToMenu != 0 ? "yes" : "no", c.target, targetText(c.target), c.showWindow);
    }
    return kExitOk;
}

} // namespace

extern const Subcommand kCommandsCommand = {
    "commands", "[FILE]", "list the external commands of FILE (./ExternalCommand.ini)",
    runCommands};

} // namespace tavrin::ctl
