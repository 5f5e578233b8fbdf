#include "DriverService.h"

#include "OvlankProtocol.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrin::core {

namespace {

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

DriverService::DriverService(DriverServiceSetup setup) : m_setup(std::move(setup)) {}

DriverService::~DriverService() {
    Close();
}

std::string controlFailedText(uint32_t code) {
    const char* name = ovlank::controlCodeName(code);
    return std::string("FAILED: DeviceIoControl ") + (name != nullptr ? name : "?");
}

int DriverService::findDriverFile(std::string_view name, std::string& path) const {
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) == nullptr)
        return kServiceNoDirectory;
    std::string candidate = std::string(cwd) + "/" + std::string(name);
    if (isRegularFile(candidate)) {
        path = std::move(candidate);
        return kServiceOk;
    }
    if (m_setup.systemDriverFolder.empty())
        return kServiceNoDirectory;
    candidate = m_setup.systemDriverFolder + "/" + std::string(name);
    if (isRegularFile(candidate)) {
        path = std::move(candidate);
        return kServiceOk;
    }
    return kServiceNoDriverFile;
}

bool DriverService::openManager() {
    const ScmOutcome opened = m_setup.manager.openManager();
    if (!opened.ok() && !opened.text.empty())
        report(opened.text);
    return opened.ok();
}

void DriverService::report(const std::string& text) {
    m_lastFailure = text;
    if (!m_quiet)
        m_setup.messages.show(text);
}

ServiceConfig DriverService::config() const {
    return {m_driverFilePath, m_devicePath, m_setup.serviceArguments, m_setup.cleanupArguments};
}

void DriverService::attach(std::unique_ptr<DeviceLink> link) {
    m_device = std::move(link);
    if (m_device && m_stallHandler)
        m_device->setStallHandler(m_stallAfter, m_stallHandler);
}

void DriverService::releaseTexts() {
    std::string().swap(m_serviceName);
    std::string().swap(m_driverFilePath);
    std::string().swap(m_devicePath);
}

int DriverService::Initialize(std::string_view name, std::string_view filePath,
                              std::string_view devicePath) {
    if (m_initialized && Remove(false) != kServiceOk)
        return kServiceReinitFailed;
    try {
        std::string file;
        if (!filePath.empty()) {
            file = filePath;
        } else if (int found = findDriverFile(name, file); found != kServiceOk) {
            return found;
        }
        const std::string_view device = devicePath.empty() ? name : devicePath;
        std::string path;
        if ((!device.empty() && device[0] == '/') || (device.size() > 1 && device[1] == '/'))
            path = device;
        else
            path = m_setup.deviceFolder + std::string(device);
        m_serviceName = name;
        m_driverFilePath = std::move(file);
        m_devicePath = std::move(path);
    } catch (const std::bad_alloc&) {
        releaseTexts();
        return kServiceNoMemory;
    }
    m_initialized = true;
    return kServiceOk;
}

int DriverService::Install(bool start, bool removeOnClose) {
    if (m_installed) {
        // The bring-up retries Open after a locked database; an installed service must
        // then be started again, or the retry would end without trying.
        return start ? Start() : kServiceOk;
    }
    if (!m_initialized)
        return kServiceNotInitialized;
    m_removeOnClose = removeOnClose;
    if (!openManager())
        return kServiceNoManager;
    if (!m_setup.manager.createService(m_serviceName, config()).ok() &&
        !m_setup.manager.openService(m_serviceName).ok())
        return kServiceNoService;
    m_installed = true;
    return start ? Start() : kServiceOk;
}

int DriverService::Open(std::string_view name, std::string_view filePath,
                        std::string_view devicePath, bool start, bool removeOnClose) {
    if (int result = Initialize(name, filePath, devicePath); result != kServiceOk)
        return result;
    return Install(start, removeOnClose);
}

int DriverService::Start() {
    if (m_started)
        return kServiceOk;
    if (!openManager())
        return kServiceNoManager;
    if (!m_setup.manager.openService(m_serviceName).ok())
        return kServiceNoService;
    // A record left by an earlier run may name another executable or other
    // arguments: this run's are the ones to start. A process still running with the
    // old ones is used as it is, and the user is told which it is.
    const ScmOutcome changed = m_setup.manager.changeServiceConfig(m_serviceName, config());
    if (changed.status == ScmStatus::DatabaseLocked)
        return kServiceDatabaseLocked;
    if (changed.status == ScmStatus::AlreadyRunning)
        report("起動済みの" + m_serviceName + "が別の引数で動作しています。この" + m_serviceName +
               "をそのまま使います。\n" + changed.text);
    else if (!changed.ok() && !changed.text.empty())
        report(changed.text);
    const ScmOutcome started = m_setup.manager.startService(m_serviceName);
    if (started.status == ScmStatus::DatabaseLocked)
        return kServiceDatabaseLocked;
    if (started.status != ScmStatus::Ok && started.status != ScmStatus::AlreadyRunning) {
        report(started.text);
        if (!m_removeOnClose)
            return kServiceNotStarted;
        if (!m_setup.manager.deleteService(m_serviceName).ok())
            return kServiceDeleteFailed;
        m_installed = false;
        return kServiceNotStartedDeleted;
    }
    m_started = true;
    return OpenDevice();
}

int DriverService::OpenDevice() {
    m_device.reset();
    std::string error;
    attach(m_setup.opener.open(m_devicePath, error));
    if (!m_device) {
        report(m_devicePath + " のオープンに失敗");
        report(error);
        return kServiceNoDevice;
    }
    return kServiceOk;
}

int DriverService::ReopenDevice() {
    m_device.reset();
    std::string error;
    attach(m_setup.opener.open(m_devicePath, error));
    if (!m_device) {
        m_lastFailure = m_devicePath + ": " + error;
        return kServiceNoDevice;
    }
    return kServiceOk;
}

bool DriverService::DeviceRefuses() {
    return m_initialized && m_setup.opener.refuses(m_devicePath);
}

// The queries leave lastFailure() alone: it keeps the reason of the last real failure.
int DriverService::QueryStatus(ServiceState& state) {
    const ScmOutcome outcome = m_setup.manager.queryServiceStatus(m_serviceName, state);
    if (outcome.ok())
        return kServiceOk;
    return outcome.status == ScmStatus::AccessDenied ? kServiceNoManager : kServiceNoService;
}

int DriverService::QueryConfig(ServiceConfig& config) {
    const ScmOutcome outcome = m_setup.manager.queryServiceConfig(m_serviceName, config);
    if (outcome.ok())
        return kServiceOk;
    return outcome.status == ScmStatus::AccessDenied ? kServiceNoManager : kServiceNoService;
}

void DriverService::SetStallHandler(std::chrono::milliseconds after,
                                    std::function<void()> handler) {
    m_stallAfter = after;
    m_stallHandler = std::move(handler);
    if (m_device)
        m_device->setStallHandler(m_stallAfter, m_stallHandler);
}

int DriverService::Stop() {
    if (!m_started)
        return kServiceOk;
    if (!openManager())
        return kServiceNoManager;
    if (!m_setup.manager.openService(m_serviceName).ok())
        return kServiceNoService;
    m_device.reset();
    const ScmOutcome stopped = m_setup.manager.stopService(m_serviceName);
    // A daemon that already ended is stopped as far as anyone can tell; treating it as a
    // failure would leave its service record behind for good.
    if (stopped.status != ScmStatus::Ok && stopped.status != ScmStatus::NotRunning)
        return kServiceStopFailed;
    m_started = false;
    return kServiceOk;
}

int DriverService::Remove(bool force) {
    int result = kServiceOk;
    if (m_started && m_removeOnClose) {
        result = Stop();
        if (result == kServiceOk) {
            if (!openManager())
                result = kServiceNoManager;
            else if (!m_setup.manager.openService(m_serviceName).ok())
                result = kServiceNoService;
            else if (!m_setup.manager.deleteService(m_serviceName).ok())
                result = kServiceDeleteFailed;
            else
                m_installed = false;
        }
    }
    if (m_initialized) {
        if (result != kServiceOk && !force)
            return result;
        m_initialized = false;
        releaseTexts();
    }
    return result;
}

void DriverService::Close() {
    m_device.reset();
    Remove(false);
}

int DriverService::Send(uint32_t code, std::span<const uint8_t> input) {
    if (!m_device)
        return kServiceNoDevice;
    const std::optional<ControlReply> reply = m_device->control(code, input, {});
    if (!reply)
        m_device.reset(); // the link is unusable; whoever keeps the service opens it again
    if (!reply || !ovlank::ntSuccess(reply->status))
        return kServiceControlFailed;
    return kServiceOk;
}

int DriverService::Receive(uint32_t code, std::span<uint8_t> output) {
    if (!m_device)
        return kServiceNoDevice;
    const std::optional<ControlReply> reply = m_device->control(code, {}, output);
    if (!reply)
        m_device.reset();
    if (!reply || !ovlank::ntSuccess(reply->status))
        return kServiceControlFailed;
    return static_cast<int>(reply->information);
}

} // namespace tavrin::core
