#include "ProgramParts.h"

#include "DriverBringUp.h"
#include "OvlankProtocol.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrin::core {

std::optional<std::string> setSettingsFolder(ProgramOptions& options, std::string_view value) {
    if (value.empty())
        return std::string("--dir needs a folder");
    options.folder = std::string(value);
    return std::nullopt;
}

std::optional<std::string> enterSettingsFolder(const ProgramOptions& options) {
    if (options.folder.empty())
        return std::nullopt;
    const char* folder = options.folder.c_str();
    if (::mkdir(folder, 0700) != 0 && errno != EEXIST)
        return options.folder + ": cannot be created: " + std::strerror(errno);
    if (::chdir(folder) != 0)
        return options.folder + ": " + std::strerror(errno);
    return std::nullopt;
}

std::optional<std::string> setRuntimeFolder(ProgramOptions& options, std::string_view value) {
    std::string folder(value);
    if (folder.empty() || folder.front() != '/')
        return std::string("--runtime-dir needs an absolute path");
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    options.runtimeFolder = folder;
    return std::nullopt;
}

std::optional<std::string> addQueueOption(ProgramOptions& options, std::string_view value) {
    const std::string text(value);
    char* end = nullptr;
    const unsigned long queue = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || text[0] == '-' || text[0] == '+' || text[0] == ' ' ||
        queue > 65535)
        return std::string("--queue needs a number from 0 to 65535");
    options.daemon.queue = static_cast<uint16_t>(queue);
    return std::nullopt;
}

std::optional<std::string> addChainsOption(ProgramOptions& options, std::string_view value) {
    const std::string text(value);
    if (!ovlank::isValidChainPrefix(text))
        return std::string("--chains needs ") + ovlank::kChainPrefixRule;
    options.daemon.chainPrefix = text;
    return std::nullopt;
}

std::string programFolder() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    std::string text(path, static_cast<size_t>(n));
    const size_t slash = text.rfind('/');
    return slash == std::string::npos ? std::string() : text.substr(0, slash == 0 ? 1 : slash);
}

ProgramParts::ProgramParts(const ProgramOptions& options, Messages& messages)
    : services(options.runtimeFolder + "/services", opener),
      ipFilter({services, facility, messages, options.runtimeFolder + "/", "", {}}),
      ovlank({services, opener, messages, options.runtimeFolder + "/", programFolder(),
              options.daemon.serviceArguments(), options.daemon.cleanupArguments()}),
      network(messages), profile(files), commands(files, messages),
      core({messages, view, ipFilter, ovlank, network, adapters, files, profile, commands}),
      m_keepCurrentFolder(!options.folder.empty()), m_ownFolder(programFolder()) {
    services.addSystemService(kIpFilterDriverName, facility);
}

bool ProgramParts::setUp() {
    return core.setUp({m_keepCurrentFolder, m_ownFolder});
}

} // namespace tavrin::core
