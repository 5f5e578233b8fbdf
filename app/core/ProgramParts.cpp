#include "ProgramParts.h"

#include "DriverBringUp.h"
#include "OvlankProtocol.h"

#include <algorithm>
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

namespace {

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// "/usr/bin" and "../lib/tavrin" make "/usr/lib/tavrin".
std::string joinFolders(std::string base, std::string_view relative) {
    while (!relative.empty()) {
        const size_t slash = std::min(relative.find('/'), relative.size());
        const std::string_view part = relative.substr(0, slash);
        relative.remove_prefix(std::min(slash + 1, relative.size()));
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            const size_t last = base.rfind('/');
            base = last == std::string::npos || last == 0 ? "/" : base.substr(0, last);
            continue;
        }
        if (base.empty() || base.back() != '/')
            base += '/';
        base += part;
    }
    return base;
}

// The folder of the options, else the installed program's own.
std::string settingsFolderOf(const ProgramOptions& options, const ProgramLayout& layout) {
    return options.folder.empty() ? layout.settingsFolder : options.folder;
}

} // namespace

ProgramLayout layoutOf(const std::string& programFolder, std::string_view installedDaemonFolder,
                       std::string_view installedSettings) {
    ProgramLayout layout{programFolder, programFolder, {}};
    if (programFolder.empty() || isRegularFile(programFolder + "/" + kOvlankName))
        return layout;
    const std::string installed = joinFolders(programFolder, installedDaemonFolder);
    if (isRegularFile(installed + "/" + kOvlankName)) {
        layout.daemonFolder = installed;
        layout.settingsFolder = std::string(installedSettings);
    }
    return layout;
}

ProgramLayout programLayout() {
    return layoutOf(programFolder(), TAVRIN_INSTALLED_DAEMON_FOLDER,
                    TAVRIN_INSTALLED_SETTINGS_FOLDER);
}

std::optional<std::string> enterSettingsFolder(const ProgramOptions& options) {
    const std::string folder = settingsFolderOf(options, programLayout());
    if (folder.empty())
        return std::nullopt;
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return folder + ": cannot be created: " + std::strerror(errno);
    if (::chdir(folder.c_str()) != 0)
        return folder + ": " + std::strerror(errno);
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
      ovlank({services, opener, messages, options.runtimeFolder + "/", programLayout().daemonFolder,
              options.daemon.serviceArguments(), options.daemon.cleanupArguments()}),
      network(messages), profile(files), commands(files, messages),
      core({messages, view, ipFilter, ovlank, network, adapters, files, profile, commands}),
      m_layout(programLayout()), m_keepCurrentFolder(!settingsFolderOf(options, m_layout).empty()) {
    services.addSystemService(kIpFilterDriverName, facility);
}

bool ProgramParts::setUp() {
    return core.setUp({m_keepCurrentFolder, m_layout.programFolder});
}

} // namespace tavrin::core
