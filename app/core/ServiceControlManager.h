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
    AlreadyRunning, // start: the service runs already
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
};

// A service that the system itself provides: always registered, never created,
// stopped or deleted by the program; starting it makes sure the facility works.
class SystemService {
public:
    virtual ~SystemService() = default;
    virtual ScmOutcome start() = 0;
};

} // namespace tavrin::core
