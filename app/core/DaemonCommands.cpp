#include "DaemonCommands.h"

#include "ProcessControl.h"

namespace tavrin::core {

std::vector<std::string> DaemonCommandLine::serviceArguments() const {
    std::vector<std::string> out;
    if (queue)
        out.insert(out.end(), {"--queue", std::to_string(*queue)});
    out.insert(out.end(), {"--chains", chainPrefix});
    return out;
}

std::vector<std::string> DaemonCommandLine::cleanupArguments() const {
    return {"--remove", "--chains", chainPrefix};
}

std::vector<std::string> detachArgumentsFor(const std::vector<std::string>& arguments) {
    std::string prefix = kDefaultChainPrefix;
    // As the daemon reads its command line: the last prefix given counts.
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--chains" && i + 1 < arguments.size())
            prefix = arguments[++i];
        else if (arguments[i].starts_with("--chains="))
            prefix = arguments[i].substr(9);
    }
    return {"--detach", "--chains", prefix};
}

bool DaemonHookBypass::detach(std::string& error) {
    ServiceConfig config;
    if (m_driver.QueryConfig(config) != kServiceOk) {
        error = "the service " + m_driver.serviceName() + " has no record";
        return false;
    }
    std::vector<std::string> argv{config.executable};
    const std::vector<std::string> detach = detachArgumentsFor(config.arguments);
    argv.insert(argv.end(), detach.begin(), detach.end());
    const int status = runCommand(argv, error);
    if (status == 0)
        return true;
    if (status > 0)
        error = config.executable + " --detach exited with status " + std::to_string(status);
    return false;
}

} // namespace tavrin::core
