// tavrinctl run: the whole program without a window. Single instance, the daemon
// brought up, Setting.ini loaded, the filtering session and every timer on an
// event loop; the status bar printed every second and every message on standard
// error; SIGINT, SIGTERM, SIGHUP or SIGQUIT leave through the exit path.
#include "ApplicationCore.h"
#include "DaemonCommands.h"
#include "FilePrivateProfile.h"
#include "HeadlessView.h"
#include "OvlankProtocol.h"
#include "PosixFileSystem.h"
#include "PrivateFolder.h"
#include "QueueFacility.h"
#include "RunLoop.h"
#include "ServiceFolder.h"
#include "SingleInstance.h"
#include "SocketDevice.h"
#include "Subcommand.h"

#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace tavrin::ctl {

namespace {

constexpr char kUsage[] =
    "[--dir DIR] [--filter] [--runtime-dir DIR] [--queue N] [--chains PREFIX]";

struct RunOptions {
    std::string folder; // empty: the current folder, or the program's own
    bool filter = false;
    std::string runtimeFolder = "/run/tavrin";
    core::DaemonCommandLine daemon;
};

bool usageError(const std::string& text) {
    std::fprintf(stderr, "tavrinctl run: %s\nusage: tavrinctl run %s\n", text.c_str(), kUsage);
    return false;
}

bool parse(int argc, char** argv, RunOptions& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc)
                return usageError(arg + " needs a value");
            out = argv[++i];
            return true;
        };
        std::string text;
        if (arg == "--filter") {
            options.filter = true;
        } else if (arg == "--dir") {
            if (!value(options.folder))
                return false;
            if (options.folder.empty())
                return usageError("--dir needs a folder");
        } else if (arg == "--runtime-dir") {
            if (!value(options.runtimeFolder))
                return false;
            if (options.runtimeFolder.empty() || options.runtimeFolder.front() != '/')
                return usageError("--runtime-dir needs an absolute path");
            while (options.runtimeFolder.size() > 1 && options.runtimeFolder.back() == '/')
                options.runtimeFolder.pop_back();
        } else if (arg == "--queue") {
            if (!value(text))
                return false;
            char* end = nullptr;
            const unsigned long queue = std::strtoul(text.c_str(), &end, 10);
            if (text.empty() || *end != '\0' || text[0] == '-' || queue > 65535)
                return usageError("--queue needs a number from 0 to 65535");
            options.daemon.queue = static_cast<uint16_t>(queue);
        } else if (arg == "--chains") {
            if (!value(text))
                return false;
            if (!ovlank::isValidChainPrefix(text))
                return usageError(std::string("--chains needs ") + ovlank::kChainPrefixRule);
            options.daemon.chainPrefix = text;
        } else {
            return usageError("unknown argument '" + arg + "'");
        }
    }
    return true;
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

int run(int argc, char** argv) {
    RunOptions options;
    if (!parse(argc, argv, options))
        return kExitUsage;
    std::signal(SIGPIPE, SIG_IGN);
    // Before any thread starts, so that every thread leaves the signals to the loop.
    RunLoop loop;
    // Nobody can answer a question here: every question is answered yes, which saves
    // unsaved settings and lets the exit path through.
    StreamMessages stream(stderr, Answer::Yes);
    Messages& messages = stream;

    core::SingleInstance instance(core::instanceFolderFor(options.runtimeFolder),
                                  core::kProgramName);
    switch (instance.acquire()) {
    case core::SingleInstance::Result::First: break;
    case core::SingleInstance::Result::OtherRestored: return kExitOk;
    case core::SingleInstance::Result::OtherNotReady:
        messages.show("少し待った後、再度起動させてください。");
        return kExitFailure;
    case core::SingleInstance::Result::Failed:
        messages.show("ミューテックスの生成に失敗。");
        std::fprintf(stderr, "tavrinctl run: %s\n", instance.error().c_str());
        return kExitFailure;
    }
    if (!options.folder.empty() && ::chdir(options.folder.c_str()) != 0) {
        std::fprintf(stderr, "tavrinctl run: %s: %s\n", options.folder.c_str(),
                     std::strerror(errno));
        return kExitFailure;
    }
    const std::string ownFolder = programFolder();
    const std::string deviceFolder = options.runtimeFolder + "/";

    core::SocketDeviceOpener opener;
    core::QueueFacility facility;
    core::ServiceFolder services(options.runtimeFolder + "/services", opener);
    services.addSystemService(core::kIpFilterDriverName, facility);
    core::DriverService ipFilter({services, facility, messages, deviceFolder, "", {}});
    core::DriverService ovlank({services, opener, messages, deviceFolder, ownFolder,
                                options.daemon.serviceArguments(),
                                options.daemon.cleanupArguments()});
    AdapterList adapters;
    NetworkInfo network(messages);
    settings::PosixFileSystem files;
    settings::FilePrivateProfile profile(files);
    commands::ExternalCommandIni commandStore(files, messages);
    HeadlessView view(loop, stdout, stderr);
    core::ApplicationCore app(
        {messages, view, ipFilter, ovlank, network, adapters, files, profile, commandStore});
    view.bind(app.session());

    if (!app.setUp({!options.folder.empty(), ownFolder}))
        return kExitFailure;
    app.initialise();
    if (options.filter && !app.ended() && !app.session().filtering())
        app.startFiltering();
    if (!instance.announceWindow())
        std::fprintf(stderr, "tavrinctl run: %s\n", instance.error().c_str());

    loop.startTimer(core::kTimerLocalAddresses, core::kLocalAddressesPeriod,
                    [&app] { app.session().addressTick(); });
    loop.startTimer(core::kTimerConnections, core::kConnectionsPeriod,
                    [&app] { app.session().connectionTick(); });
    if (instance.knockFd() >= 0) {
        loop.watchReadable(instance.knockFd(), [&instance] {
            if (instance.takeShowRequests() > 0)
                std::fprintf(stderr, "tavrinctl run: another start found this one running\n");
        });
    }
    SignalExit leave(app, stderr);
    loop.onSignal([&leave, &loop](int) {
        if (leave())
            loop.quit();
    });
    if (!app.ended() && !loop.run()) {
        std::fprintf(stderr, "tavrinctl run: the event loop failed: %s\n", std::strerror(errno));
        app.exitPath();
        return kExitFailure;
    }
    // A fatal failure (the connection table) ran the exit path: not a clean end.
    return app.endedByFailure() ? kExitFailure : kExitOk;
}

} // namespace

extern constinit const Subcommand kRunCommand{
    "run", kUsage,
    "run Tavrin without a window: the daemon, Setting.ini, filtering, status every second", run};

} // namespace tavrin::ctl
