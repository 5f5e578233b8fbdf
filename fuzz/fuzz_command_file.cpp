// The external command file loader on arbitrary bytes: it must never read outside
// the input, and what it reads must save and load again unchanged.
#include "ExternalCommandIni.h"
#include "TextEncoding.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using tavrin::commands::ExternalCommandIni;
    const std::string text =
        tavrin::settings::decodeFileText(std::string(reinterpret_cast<const char*>(data), size))
            .text;
    const auto commands = ExternalCommandIni::parse(text);
    const auto again = ExternalCommandIni::parse(ExternalCommandIni::format(commands));
    // A trailing CR of a command line is the one thing the line ends may take.
    if (again.size() != commands.size())
        std::abort();
    for (size_t i = 0; i < commands.size(); ++i) {
        if (again[i].name != commands[i].name || again[i].target != commands[i].target ||
            again[i].addToMenu != commands[i].addToMenu ||
            again[i].showWindow != commands[i].showWindow)
            std::abort();
        if (again[i].commandLine != commands[i].commandLine &&
            again[i].commandLine + "\r" != commands[i].commandLine)
            std::abort();
    }
    return 0;
}
