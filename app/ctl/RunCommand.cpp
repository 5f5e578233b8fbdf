// tavrinctl run: the whole program without a window. Single instance, the daemon
// brought up, Setting.ini loaded, the filtering session and every timer on an
// event loop; the status bar printed every second and every message on standard
// error; SIGINT, SIGTERM, SIGHUP or SIGQUIT leave through the exit path.
#include "HeadlessView.h"
#include "PrivateFolder.h"
#include "ProgramParts.h"
#include "RunLoop.h"
#include "SingleInstance.h"
#include "Subcommand.h"

#include <csignal>
#include <cstring>
#include <optional>
#include <string>

namespace tavrin::ctl {

namespace {

constexpr char kUsage[] =
    "[--dir DIR] [--filter] [--runtime-dir DIR] [--queue N] [--chains PREFIX]";

struct RunOptions {
    core::ProgramOptions program;
    bool filter = false;
};

bool usageError(const std::string& text) {
    std::fprintf(stderr, "tavrinctl run: %s\nusage: tavrinctl run %s\n", text.c_str(), kUsage);
    return false;
}

bool parse(int argc, char** argv, RunOptions& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--filter") {
            options.filter = true;
            continue;
        }
        if (arg != "--dir" && arg != "--runtime-dir" && arg != "--queue" && arg != "--chains")
            return usageError("unknown argument '" + arg + "'");
        if (i + 1 >= argc)
            return usageError(arg + " needs a value");
        const std::string value = argv[++i];
        std::optional<std::string> problem;
        if (arg == "--dir")
            problem = core::setSettingsFolder(options.program, value);
        else if (arg == "--runtime-dir")
            problem = core::setRuntimeFolder(options.program, value);
        else if (arg == "--queue")
            problem = core::addQueueOption(options.program, value);
        else
            problem = core::addChainsOption(options.program, value);
        if (problem)
            return usageError(*problem);
    }
    return true;
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

    core::SingleInstance instance(core::instanceFolderFor(options.program.runtimeFolder),
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
    if (auto problem = core::enterSettingsFolder(options.program)) {
        std::fprintf(stderr, "tavrinctl run: %s\n", problem->c_str());
        return kExitFailure;
    }

    core::ProgramParts parts(options.program, messages);
    core::ApplicationCore& app = parts.core;
    HeadlessView view(loop, stdout, stderr);
    parts.view.setTarget(&view);
    view.bind(app.session());

    if (!parts.setUp())
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
    int status = kExitOk;
    if (!app.ended() && !loop.run()) {
        std::fprintf(stderr, "tavrinctl run: the event loop failed: %s\n", std::strerror(errno));
        app.exitPath();
        status = kExitFailure;
    } else if (app.endedByFailure()) {
        // A fatal failure (the connection table) ran the exit path: not a clean end.
        status = kExitFailure;
    }
    parts.view.setTarget(nullptr);
    return status;
}

} // namespace

extern constinit const Subcommand kRunCommand{
    "run", kUsage,
    "run Tavrin without a window: the daemon, Setting.ini, filtering, status every second", run};

} // namespace tavrin::ctl
