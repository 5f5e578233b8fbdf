#include "DaemonOptions.h"

#include "ArgumentParser.h"
#include "OvlankProtocol.h"

#include <sys/un.h>

#include <algorithm>
#include <charconv>
#include <memory>
#include <vector>

namespace ovlank {
namespace {

bool parseNumber(std::string_view text, unsigned long maximum, unsigned long& value) {
    if (text.empty() || text.front() == '+' || text.front() == '-') {
        return false;
    }
    const auto* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && value <= maximum;
}

std::string checkDevicePath(std::string_view path) {
    if (path.empty() || path.front() != '/') {
        return "the device path must be absolute";
    }
    if (path.size() >= sizeof(sockaddr_un::sun_path)) {
        return "the device path is longer than " +
               std::to_string(sizeof(sockaddr_un::sun_path) - 1) + " bytes";
    }
    if (path.back() == '/' || path.find('\0') != std::string_view::npos) {
        return "the device path must name a file, not a folder";
    }
    const auto lastSlash = path.rfind('/');
    const std::string_view name = path.substr(lastSlash + 1);
    if (name == "." || name == "..") {
        return "the device path must name a file, not a folder";
    }
    for (size_t start = 1; start < path.size();) {
        const size_t slash = std::min(path.find('/', start), path.size());
        const std::string_view part = path.substr(start, slash - start);
        if (part.empty() || part == "..") {
            return "the device path may not contain empty or \"..\" components";
        }
        start = slash + 1;
    }
    return {};
}

} // namespace

namespace {

constexpr char kDescription[] =
    "Ovlank: the packet filter daemon of Tavrin. It decides for every IPv4 packet of\n"
    "this network namespace whether it passes, through a netfilter queue, and is\n"
    "controlled through its socket. Runs in the foreground until SIGTERM, SIGINT or\n"
    "SIGHUP. With --remove or --detach it clears up after a daemon instead and ends.";

constexpr char kExitStatuses[] =
    "exit status: 0 done (also when nothing was left), 1 failed, 2 bad command line,\n"
    "             3 refused because a daemon still runs with that prefix or device";

// The command line with its options bound to `options`; the checks give the
// daemon's own messages.
std::unique_ptr<tavrin::cli::ArgumentParser> commandLine(std::string_view programName,
                                                         DaemonOptions& options,
                                                         std::string& device, std::string& queue,
                                                         std::string& queues) {
    auto line = std::make_unique<tavrin::cli::ArgumentParser>(
        std::string(programName),
        std::vector<std::string>{"[--device PATH] [--queue N] [--queues COUNT] [--chains PREFIX]",
                                 "--remove --chains PREFIX [--device PATH]",
                                 "--detach --chains PREFIX"},
        kDescription);
    CLI::App& app = line->app();
    app.add_option("--device", device,
                   "control socket (default " + std::string(kDefaultDevicePath) + ")")
        ->type_name("PATH")
        ->check([](const std::string& value) {
            const std::string problem = checkDevicePath(value);
            return problem.empty() ? problem : problem + ": " + value;
        });
    app.add_option("--queue", queue,
                   "first netfilter queue number (default " + std::to_string(kDefaultQueue) + ")")
        ->type_name("N")
        ->check([](const std::string& value) {
            unsigned long number = 0;
            return parseNumber(value, 65535, number)
                       ? std::string()
                       : "the queue number must be 0 to 65535: " + value;
        });
    app.add_option("--queues", queues,
                   "number of queues, one reader thread each (default: one per core, at most " +
                       std::to_string(kMaxQueueCount) + ")")
        ->type_name("COUNT")
        ->check([](const std::string& value) {
            unsigned long count = 0;
            return parseNumber(value, kMaxQueueCount, count) && count != 0
                       ? std::string()
                       : "the queue count must be 1 to " + std::to_string(kMaxQueueCount) + ": " +
                             value;
        });
    app.add_option("--chains", options.chainPrefix,
                   "prefix of the iptables chains PREFIX_IN and PREFIX_OUT (default " +
                       std::string(kDefaultChainPrefix) + ")")
        ->type_name("PREFIX")
        ->check([](const std::string& value) {
            return isValidChainPrefix(value) ? std::string()
                                             : std::string("the chain prefix must have ") +
                                                   kChainPrefixRule + ": " + value;
        });
    CLI::Option* remove =
        app.add_flag("--remove")
            ->description(
                "remove what a daemon that was killed left behind: the chains PREFIX_IN and "
                "PREFIX_OUT, the jumps to them and, with --device, its socket; refused while a "
                "daemon runs with that prefix or device");
    CLI::Option* detach = app.add_flag("--detach")
                              ->description("remove only the jumps to PREFIX_IN and PREFIX_OUT, so "
                                            "that traffic passes a daemon "
                                            "that does not answer; it puts them back once it runs");
    remove->excludes(detach);
    app.footer(kExitStatuses);
    return line;
}

} // namespace

ParsedOptions parseDaemonOptions(std::span<const std::string_view> args) {
    ParsedOptions result;
    DaemonOptions options;
    options.devicePath = kDefaultDevicePath;
    std::string device;
    std::string queue;
    std::string queues;
    const auto line = commandLine("Ovlank", options, device, queue, queues);
    const std::vector<std::string> words(args.begin(), args.end());
    const auto parsed = line->parse(words);
    if (parsed == tavrin::cli::ArgumentParser::Result::Help) {
        result.helpRequested = true;
        return result;
    }
    if (parsed == tavrin::cli::ArgumentParser::Result::Error) {
        result.error = line->error();
        return result;
    }
    CLI::App& app = line->app();
    const bool removeMode = app.count("--remove") > 0;
    const bool detachMode = app.count("--detach") > 0;
    options.mode = removeMode   ? DaemonMode::Remove
                   : detachMode ? DaemonMode::Detach
                                : DaemonMode::Serve;
    if (app.count("--device") > 0) {
        options.devicePath = device;
        options.deviceGiven = true;
    }
    unsigned long number = 0;
    if (app.count("--queue") > 0 && parseNumber(queue, 65535, number))
        options.firstQueue = static_cast<uint16_t>(number);
    if (app.count("--queues") > 0 && parseNumber(queues, kMaxQueueCount, number))
        options.queueCount = static_cast<unsigned>(number);

    if (options.mode != DaemonMode::Serve) {
        const std::string mode = removeMode ? "--remove" : "--detach";
        for (const char* option : {"--queue", "--queues"}) {
            if (app.count(option) > 0) {
                result.error = mode + " takes no " + option;
                return result;
            }
        }
        if (options.mode == DaemonMode::Detach && options.deviceGiven) {
            result.error = "--detach takes no --device";
            return result;
        }
        if (app.count("--chains") == 0) {
            result.error = mode + " needs --chains PREFIX";
            return result;
        }
    }
    if (options.queueCount != 0 && options.firstQueue + options.queueCount - 1u > 65535u) {
        result.error = "the queues " + std::to_string(options.firstQueue) + " to " +
                       std::to_string(options.firstQueue + options.queueCount - 1u) +
                       " go past 65535";
        return result;
    }
    result.options = std::move(options);
    return result;
}

std::string daemonUsage(std::string_view programName) {
    DaemonOptions options;
    std::string device;
    std::string queue;
    std::string queues;
    return commandLine(programName, options, device, queue, queues)->help();
}

std::string daemonShortUsage(std::string_view programName) {
    DaemonOptions options;
    std::string device;
    std::string queue;
    std::string queues;
    return commandLine(programName, options, device, queue, queues)->usage();
}

unsigned effectiveQueueCount(const DaemonOptions& options, unsigned usableCores) {
    unsigned count = options.queueCount != 0 ? options.queueCount : usableCores;
    count = std::clamp(count, 1u, kMaxQueueCount);
    return std::min(count, 65536u - options.firstQueue);
}

} // namespace ovlank
