// The service control manager as DriverService sees it: services registered by
// name, started, stopped and deleted. On Linux the real one is ServiceFolder.
#pragma once

#include <string>
#include <vector>

namespace tavrin::core {

enum class ScmStatus {
    Ok,
    AccessDenied,   // the manager cannot be opened with full access; `text` is empty
                    // when missing rights (not root) are the reason, else it says why
    DatabaseLocked, // another process holds the manager's database
    Exists,         // create: a service of that name is already registered
    NoSuchService,
    AlreadyRunning, // start: the service runs already; change: it runs with another
                    // configuration, which `text` describes
    NotRunning,     // stop: there is nothing to stop
    Failed,         // anything else; `text` says what
};

struct ScmOutcome {
    ScmStatus status = ScmStatus::Failed;
    std::string text; // the system's description of a failure
    bool ok() const { return status == ScmStatus::Ok; }
};

// What a service runs: the executable, the device it must offer once started, and
// arguments of its own.
struct ServiceConfig {
    std::string executable;
    std::string devicePath;
    std::vector<std::string> arguments;
    // What makes the executable clear up after a process of this service that ended
    // without doing so itself (killed, crashed): the manager runs it with these
    // arguments whenever it finds such a process gone. Empty: nothing to clear up.
    std::vector<std::string> cleanupArguments = {};

    bool operator==(const ServiceConfig&) const = default;
};

enum class ServiceState {
    Stopped, // no process runs for the service
    Running,
    Paused, // its process exists but is stopped (SIGSTOP) and cannot answer
};

class ServiceControlManager {
public:
    virtual ~ServiceControlManager() = default;

    virtual ScmOutcome openManager() = 0;
    virtual ScmOutcome createService(const std::string& name, const ServiceConfig& config) = 0;
    virtual ScmOutcome openService(const std::string& name) = 0;
    // Returns once the service's device answers, or with the reason it did not start.
    virtual ScmOutcome startService(const std::string& name) = 0;
    virtual ScmOutcome stopService(const std::string& name) = 0;
    virtual ScmOutcome deleteService(const std::string& name) = 0;
    // Makes `config` the service's configuration for its next start. A service whose
    // process runs with another configuration keeps it: AlreadyRunning, with a text
    // that names that process and what it runs.
    virtual ScmOutcome changeServiceConfig(const std::string& name,
                                           const ServiceConfig& config) = 0;
    // The configuration the service was last started with, or will be started with.
    virtual ScmOutcome queryServiceConfig(const std::string& name, ServiceConfig& config) = 0;
    virtual ScmOutcome queryServiceStatus(const std::string& name, ServiceState& state) = 0;
};

// A service that the system itself provides: always registered, never created,
// stopped or deleted by the program; starting it makes sure the facility works.
class SystemService {
public:
    virtual ~SystemService() = default;
    virtual ScmOutcome start() = 0;
};

} // namespace tavrin::core
