// tavrinctl run: the whole program without a window. Single instance, the daemon
// brought up, Setting.ini loaded, the filtering session and every timer on an
// event loop; the status bar printed every second and every message on standard
// error; SIGINT, SIGTERM, SIGHUP or SIGQUIT leave through the exit path.
#include "ArgumentParser.h"
#include "HeadlessView.h"
#include "JournalLines.h"
#include "PrivateFolder.h"
#include "ProgramParts.h"
#include "RunLoop.h"
#include "ServiceNotify.h"
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

// Reads the command line into `options`; the exit status when the run ends here
// (--help, or a bad command line), else nothing.
std::optional<int> parse(int argc, char** argv, RunOptions& options) {
    cli::ArgumentParser line(
        "tavrinctl run", {kUsage},
        "Runs Tavrin without a window: brings up the Ovlank daemon, reads Setting.ini and\n"
        "ExternalCommand.ini from the settings folder, starts the filtering session and\n"
        "prints the UP and DOWN figures every second on standard output and every\n"
        "message on standard error. SIGINT, SIGTERM, SIGHUP or SIGQUIT leave through the\n"
        "exit path. Only one Tavrin, with or without a window, runs at a time.");
    CLI::App& app = line.app();
    // Each value goes through the check the window uses for the same option.
    auto check = [&options](auto setter) {
        return [&options, setter](const std::string& value) {
            return setter(options.program, value).value_or(std::string());
        };
    };
    app.add_option("--dir")
        ->description("settings folder, made for root's eyes only when missing "
                      "(default: the program's folder, or /var/lib/tavrin when installed)")
        ->type_name("DIR")
        ->check(check(core::setSettingsFolder));
    app.add_flag("--filter", options.filter,
                 "switch filtering on at once (else as STARTUP_ON in Setting.ini says)");
    app.add_option("--runtime-dir")
        ->description("run-time folder: the daemon's socket, the instance lock and the service "
                      "records (default /run/tavrin)")
        ->type_name("DIR")
        ->check(check(core::setRuntimeFolder));
    app.add_option("--queue")
        ->description("first netfilter queue of the daemon")
        ->type_name("N")
        ->check(check(core::addQueueOption));
    app.add_option("--chains")
        ->description("prefix of the daemon's iptables chains (default OVLANK)")
        ->type_name("PREFIX")
        ->check(check(core::addChainsOption));
    app.footer("exit status: 0 after the exit path, 1 when the start-up failed or a fatal\n"
               "failure ended it, 2 for a bad command line, 3 when another Tavrin runs");
    const auto result = line.parse(argc, argv);
    if (result == cli::ArgumentParser::Result::Run)
        return std::nullopt;
    return line.report(result);
}

int run(int argc, char** argv) {
    RunOptions options;
    if (const auto status = parse(argc, argv, options))
        return *status;
    std::signal(SIGPIPE, SIG_IGN);
    // Before any thread starts, so that every thread leaves the signals to the loop.
    RunLoop loop;
    // Nobody can answer a question here: every question is answered yes, which saves
    // unsaved settings and lets the exit path through.
    StreamMessages stream(stderr, Answer::Yes);
    Messages& messages = stream;

    const journal::LineWriter err(stderr);
    core::SingleInstance instance(core::instanceFolderFor(options.program.runtimeFolder),
                                  core::kProgramName, core::SingleInstance::Kind::Headless);
    switch (instance.acquire()) {
    case core::SingleInstance::Result::First: break;
    case core::SingleInstance::Result::OtherRestored:
        err.write(journal::Priority::Warning,
                  "tavrinctl run: Tavrin already runs with its window, which was brought up; "
                  "only one Tavrin runs at a time, so this run ends");
        return kExitOtherInstance;
    case core::SingleInstance::Result::OtherHeadless:
        err.write(journal::Priority::Warning,
                  "tavrinctl run: Tavrin already runs without a window (tavrinctl run or the "
                  "tavrin service); only one Tavrin runs at a time, so this run ends");
        return kExitOtherInstance;
    case core::SingleInstance::Result::OtherNotReady:
        messages.show("少し待った後、再度起動させてください。");
        return kExitFailure;
    case core::SingleInstance::Result::Failed:
        messages.show("ミューテックスの生成に失敗。");
        err.write(journal::Priority::Error, "tavrinctl run: " + instance.error());
        return kExitFailure;
    }
    if (auto problem = core::enterSettingsFolder(options.program)) {
        err.write(journal::Priority::Error, "tavrinctl run: " + *problem);
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
    if (!instance.announce())
        err.write(journal::Priority::Warning, "tavrinctl run: " + instance.error());
    // The service manager's start ends here: the program is up (and filtering when
    // asked), or it already ended.
    if (!app.ended())
        notifyServiceManager("READY=1");

    loop.startTimer(core::kTimerLocalAddresses, core::kLocalAddressesPeriod,
                    [&app] { app.session().addressTick(); });
    loop.startTimer(core::kTimerConnections, core::kConnectionsPeriod,
                    [&app] { app.session().connectionTick(); });
    if (instance.knockFd() >= 0) {
        loop.watchReadable(instance.knockFd(), [&instance, &err] {
            const core::SingleInstance::Knocks knocks = instance.takeShowRequests();
            if (knocks.windows > 0)
                err.write(journal::Priority::Notice,
                          "tavrinctl run: Tavrin was started with its window while this run "
                          "holds the instance; it was told so and ended");
            if (knocks.headless > 0)
                err.write(journal::Priority::Notice,
                          "tavrinctl run: another tavrinctl run was started; it found this one "
                          "running and ended");
        });
    }
    SignalExit leave(app, stderr);
    loop.onSignal([&leave, &loop](int) {
        notifyServiceManager("STOPPING=1");
        if (leave())
            loop.quit();
    });
    int status = kExitOk;
    if (!app.ended() && !loop.run()) {
        err.write(journal::Priority::Error,
                  std::string("tavrinctl run: the event loop failed: ") + std::strerror(errno));
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
