#include "DaemonOptions.h"

#include "OvlankProtocol.h"

#include <sys/un.h>

#include <algorithm>
#include <charconv>
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

ParsedOptions parseDaemonOptions(std::span<const std::string_view> args) {
    ParsedOptions result;
    DaemonOptions options;
    options.devicePath = kDefaultDevicePath;
    std::vector<std::string_view> seen;

    for (size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        if (arg == "-h" || arg == "--help") {
            result.helpRequested = true;
            return result;
        }
        std::string_view name = arg;
        std::optional<std::string_view> value;
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
        }
        if (name == "--remove" || name == "--detach") {
            if (value) {
                result.error = std::string(name) + " takes no value";
                return result;
            }
            const DaemonMode mode = name == "--remove" ? DaemonMode::Remove : DaemonMode::Detach;
            if (options.mode != DaemonMode::Serve) {
                result.error = options.mode == mode ? std::string(name) + " given twice"
                                                    : "--remove and --detach cannot be combined";
                return result;
            }
            options.mode = mode;
            continue;
        }
        if (name != "--device" && name != "--queue" && name != "--queues" && name != "--chains") {
            result.error = arg.starts_with("-") ? "unknown option " + std::string(arg)
                                                : "unexpected argument " + std::string(arg);
            return result;
        }
        if (std::find(seen.begin(), seen.end(), name) != seen.end()) {
            result.error = std::string(name) + " given twice";
            return result;
        }
        seen.push_back(name);
        if (!value) {
            if (i + 1 >= args.size()) {
                result.error = std::string(name) + " needs a value";
                return result;
            }
            value = args[++i];
        }

        if (name == "--device") {
            if (auto problem = checkDevicePath(*value); !problem.empty()) {
                result.error = problem + ": " + std::string(*value);
                return result;
            }
            options.devicePath = std::string(*value);
            options.deviceGiven = true;
        } else if (name == "--queue") {
            unsigned long number = 0;
            if (!parseNumber(*value, 65535, number)) {
                result.error = "the queue number must be 0 to 65535: " + std::string(*value);
                return result;
            }
            options.firstQueue = static_cast<uint16_t>(number);
        } else if (name == "--queues") {
            unsigned long count = 0;
            if (!parseNumber(*value, kMaxQueueCount, count) || count == 0) {
                result.error = "the queue count must be 1 to " + std::to_string(kMaxQueueCount) +
                               ": " + std::string(*value);
                return result;
            }
            options.queueCount = static_cast<unsigned>(count);
        } else {
            if (!isValidChainPrefix(*value)) {
                result.error = std::string("the chain prefix must have ") + kChainPrefixRule +
                               ": " + std::string(*value);
                return result;
            }
            options.chainPrefix = std::string(*value);
        }
    }
    if (options.mode != DaemonMode::Serve) {
        const std::string mode = options.mode == DaemonMode::Remove ? "--remove" : "--detach";
        for (const std::string_view option : {"--queue", "--queues"}) {
            if (std::find(seen.begin(), seen.end(), option) != seen.end()) {
                result.error = mode + " takes no " + std::string(option);
                return result;
            }
        }
        if (options.mode == DaemonMode::Detach && options.deviceGiven) {
            result.error = "--detach takes no --device";
            return result;
        }
        if (std::find(seen.begin(), seen.end(), "--chains") == seen.end()) {
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
    const std::string name(programName);
    std::string text =
        "usage: " + name + " [--device PATH] [--queue N] [--queues COUNT] [--chains PREFIX]\n";
    text += "       " + name + " --remove --chains PREFIX [--device PATH]\n";
    text += "       " + name + " --detach --chains PREFIX\n";
    text += "  --device PATH    control socket (default " + std::string(kDefaultDevicePath) + ")\n";
    text += "  --queue N        first netfilter queue number (default " +
            std::to_string(kDefaultQueue) + ")\n";
    text += "  --queues COUNT   number of queues, one reader thread each (default: one per "
            "core, at most " +
            std::to_string(kMaxQueueCount) + ")\n";
    text += "  --chains PREFIX  prefix of the iptables chains PREFIX_IN and PREFIX_OUT (default " +
            std::string(kDefaultChainPrefix) + ")\n";
    text +=
        "  --remove         remove what a daemon that was killed left behind: the chains\n"
        "                   PREFIX_IN and PREFIX_OUT, the jumps to them and, with --device,\n"
        "                   its socket; refused while a daemon runs with that prefix or device\n";
    text +=
        "  --detach         remove only the jumps to PREFIX_IN and PREFIX_OUT, so that traffic\n"
        "                   passes a daemon that does not answer; it puts them back once it runs\n";
    text += "exit status: 0 done (also when nothing was left), 1 failed, 2 bad command line,\n"
            "             3 refused because a daemon still runs with that prefix or device\n";
    return text;
}

unsigned effectiveQueueCount(const DaemonOptions& options, unsigned usableCores) {
    unsigned count = options.queueCount != 0 ? options.queueCount : usableCores;
    count = std::clamp(count, 1u, kMaxQueueCount);
    return std::min(count, 65536u - options.firstQueue);
}

} // namespace ovlank
