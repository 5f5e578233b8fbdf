// Everything one run of the program is made of, put together the same way for
// the window and for `tavrinctl run`: the service folder and both driver
// services, the network information, the settings files, the external command
// store and the core over them.
#pragma once

#include "AdapterList.h"
#include "ApplicationCore.h"
#include "DaemonCommands.h"
#include "DriverService.h"
#include "ExternalCommandIni.h"
#include "FilePrivateProfile.h"
#include "ForwardingView.h"
#include "NetworkInfo.h"
#include "PosixFileSystem.h"
#include "QueueFacility.h"
#include "ServiceFolder.h"
#include "SocketDevice.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::core {

inline constexpr char kDefaultRuntimeFolder[] = "/run/tavrin";

struct ProgramOptions {
    std::string folder; // empty: the current folder, or the program's own
    std::string runtimeFolder = kDefaultRuntimeFolder;
    DaemonCommandLine daemon; // --queue N, --chains PREFIX
};

// The option checks both front ends share. Each returns the problem, or nothing
// when the value is good (and then stores it in `options`).
std::optional<std::string> setSettingsFolder(ProgramOptions& options, std::string_view value);
std::optional<std::string> setRuntimeFolder(ProgramOptions& options, std::string_view value);
std::optional<std::string> addQueueOption(ProgramOptions& options, std::string_view value);
std::optional<std::string> addChainsOption(ProgramOptions& options, std::string_view value);

// Where the program finds its daemon and its files. In the build tree the daemon
// is beside the programs; an installed program (in PREFIX/bin) finds it in
// PREFIX/lib/tavrin and keeps its files in the system's settings folder.
struct ProgramLayout {
    std::string programFolder;  // the executable's own folder
    std::string daemonFolder;   // searched for the daemon after the current folder
    std::string settingsFolder; // the files' folder without --dir; empty: the old rule
};

// The layout of a program in `programFolder`: installed when the daemon is not
// beside it but at `installedDaemonFolder` (relative to it); `installedSettings`
// is then its settings folder.
ProgramLayout layoutOf(const std::string& programFolder, std::string_view installedDaemonFolder,
                       std::string_view installedSettings);
// The layout of the running executable, with the places the build was configured for.
ProgramLayout programLayout();

// Makes the settings folder current: the one the options name, else an installed
// program's; creating it for its owner's eyes only when it is missing. The problem
// when it cannot. Without either the folder is left to the daemon's rule.
std::optional<std::string> enterSettingsFolder(const ProgramOptions& options);

// The folder of the running executable ("" when it cannot be told).
std::string programFolder();

class ProgramParts final {
public:
    // The core talks to `view` (set its target once the window exists).
    ProgramParts(const ProgramOptions& options, Messages& messages);
    ProgramParts(const ProgramParts&) = delete;
    ProgramParts& operator=(const ProgramParts&) = delete;

    // The core's set-up with the folder rule the options ask for.
    bool setUp();

    ForwardingView view;
    SocketDeviceOpener opener;
    QueueFacility facility;
    ServiceFolder services;
    DriverService ipFilter;
    DriverService ovlank;
    AdapterList adapters;
    NetworkInfo network;
    settings::PosixFileSystem files;
    settings::FilePrivateProfile profile;
    commands::ExternalCommandIni commands;
    ApplicationCore core;

private:
    ProgramLayout m_layout;
    bool m_keepCurrentFolder;
};

} // namespace tavrin::core
