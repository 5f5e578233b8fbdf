// The service control manager on Linux: a service is a record file in a root-owned
// run-time folder naming its executable, device and arguments, plus the process it
// runs as. Starting launches the executable detached and waits until its device
// answers; stopping sends SIGTERM. An advisory lock on the folder is the database
// lock: every change takes it, and another process holding it gives DatabaseLocked.
// A process that ended without its own clean-up (killed by the stop, crashed, or
// ended during its start) is cleared up after with the record's clean-up command
// before anything else is done with the service.
#pragma once

#include "DeviceLink.h"
#include "ServiceControlManager.h"

#include <chrono>
#include <map>
#include <optional>
#include <sys/types.h>

namespace tavrin::core {

class ServiceFolder final : public ServiceControlManager {
public:
    struct Timing {
        std::chrono::milliseconds startWait{10000}; // until the device must answer
        std::chrono::milliseconds stopWait{5000};   // after SIGTERM, before SIGKILL
    };

    // `probe` opens devices to see whether a started service answers.
    ServiceFolder(std::string folder, DeviceOpener& probe);
    ServiceFolder(std::string folder, DeviceOpener& probe, Timing timing);

    // Registers a service the system provides itself under `name`.
    void addSystemService(const std::string& name, SystemService& service);

    ScmOutcome openManager() override;
    ScmOutcome createService(const std::string& name, const ServiceConfig& config) override;
    ScmOutcome openService(const std::string& name) override;
    ScmOutcome startService(const std::string& name) override;
    ScmOutcome stopService(const std::string& name) override;
    ScmOutcome deleteService(const std::string& name) override;
    ScmOutcome changeServiceConfig(const std::string& name, const ServiceConfig& config) override;
    ScmOutcome queryServiceConfig(const std::string& name, ServiceConfig& config) override;
    ScmOutcome queryServiceStatus(const std::string& name, ServiceState& state) override;

    const std::string& folder() const { return m_folder; }
    // Where a service's standard output and error go: "<folder>/<name>.log".
    std::string logPath(const std::string& name) const;

    // One record as stored.
    struct Record {
        ServiceConfig config;
        pid_t pid = 0;
        uint64_t startTime = 0;
    };

private:
    class Session;
    // Reading needs only the open folder; a change also needs its lock.
    enum class Access { Read, Change };

    // Opens the session for `access` and reads the record of `name` into `record`. The
    // outcome that ends the operation when any of that fails; nothing when the record
    // was read.
    std::optional<ScmOutcome> loadRecord(Session& session, Access access, const std::string& name,
                                         Record& record) const;
    ScmOutcome startDaemon(Session& session, const std::string& name, Record& record);
    // Runs the configuration's clean-up command, its output added to the service's log.
    void clearUp(Session& session, const std::string& name, const ServiceConfig& config);
    bool deviceAnswers(const std::string& devicePath);

    std::string m_folder;
    DeviceOpener& m_probe;
    Timing m_timing;
    std::map<std::string, SystemService*> m_systemServices;
};

// The text form of a record and back; parsing refuses anything it does not know.
std::string formatServiceRecord(const ServiceFolder::Record& record);
bool parseServiceRecord(const std::string& text, ServiceFolder::Record& record);

} // namespace tavrin::core
