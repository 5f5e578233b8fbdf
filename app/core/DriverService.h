// One driver service and its device: registered with the service control manager,
// started, its device opened, control requests sent, and at the end stopped and
// deleted. Every operation returns 0 or one of the result codes below, which the
// program shows after "Return code : ".
#pragma once

#include "DeviceLink.h"
#include "Messages.h"
#include "ServiceControlManager.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::core {

inline constexpr int kServiceOk = 0;
inline constexpr int kServiceNoManager = -1; // not running as root
inline constexpr int kServiceNoService = -2; // neither created nor opened
inline constexpr int kServiceNoMemory = -3;
inline constexpr int kServiceNoDriverFile = -4; // neither here nor in the system folder
inline constexpr int kServiceNoDevice = -5;     // no device, or it could not be opened
inline constexpr int kServiceNotStarted = -6;   // did not start, service kept
inline constexpr int kServiceStopFailed = -7;
inline constexpr int kServiceDeleteFailed = -8;
inline constexpr int kServiceControlFailed = -9;   // a control request failed
inline constexpr int kServiceNotInitialized = -10; // Install before Initialize
inline constexpr int kServiceReinitFailed = -11;
inline constexpr int kServiceNoDirectory = -13;
inline constexpr int kServiceNotStartedDeleted = -14; // did not start, service deleted
inline constexpr int kServiceDatabaseLocked = -15;

// What a DriverService works with. The folders stand for the places the original
// platform has: the device namespace and the system drivers folder.
struct DriverServiceSetup {
    ServiceControlManager& manager;
    DeviceOpener& opener;
    Messages& messages;
    std::string deviceFolder;       // a device name NAME is opened at deviceFolder + NAME
    std::string systemDriverFolder; // searched for the driver file after the current folder
    std::vector<std::string> serviceArguments;      // handed to the service when it is created
    std::vector<std::string> cleanupArguments = {}; // its clean-up command (ServiceConfig)
};

class DriverService final {
public:
    explicit DriverService(DriverServiceSetup setup);
    ~DriverService();
    DriverService(const DriverService&) = delete;
    DriverService& operator=(const DriverService&) = delete;

    // An empty file path looks the driver file up; an empty device path is built from
    // the name.
    int Initialize(std::string_view name, std::string_view filePath, std::string_view devicePath);
    int Install(bool start, bool removeOnClose);
    int Open(std::string_view name, std::string_view filePath, std::string_view devicePath,
             bool start, bool removeOnClose);
    int Start();
    int OpenDevice();
    int Stop();
    int Remove(bool force);
    void Close();

    // A request with input and no output: 0, or -5 / -9. A request that never
    // completed (no answer in time, a broken frame) closes the device: the next
    // requests get -5 until it is opened again.
    int Send(uint32_t code, std::span<const uint8_t> input);
    // A request with output and no input: the number of bytes returned, or -5 / -9.
    int Receive(uint32_t code, std::span<uint8_t> output);

    // For keeping a started service's device: opens it again without a message (0 or
    // -5, with lastFailure() saying why), and tells a device nobody serves any more
    // from one that is there but does not answer.
    int ReopenDevice();
    bool DeviceRefuses();
    // Drops the device, as a request that never completed would.
    void CloseDevice() { m_device.reset(); }
    // The service's state and the configuration its process runs with: 0, -1 or -2
    // (no record of the service).
    int QueryStatus(ServiceState& state);
    int QueryConfig(ServiceConfig& config);
    // `handler` runs when a request has waited `after` for its answer (see DeviceLink).
    void SetStallHandler(std::chrono::milliseconds after, std::function<void()> handler);

    // While quiet, failures are not shown but kept in lastFailure(): for retries
    // that report once, in their own words.
    void setQuiet(bool quiet) { m_quiet = quiet; }
    const std::string& lastFailure() const { return m_lastFailure; }

    const std::string& serviceName() const { return m_serviceName; }
    const std::string& driverFilePath() const { return m_driverFilePath; }
    const std::string& devicePath() const { return m_devicePath; }
    bool initialized() const { return m_initialized; }
    bool installed() const { return m_installed; }
    bool started() const { return m_started; }
    bool deviceOpen() const { return m_device != nullptr; }

private:
    // A refusal for another reason than missing rights (a run-time folder that is
    // not safe, say) shows that reason: the -1 message alone would blame the rights.
    bool openManager();
    int findDriverFile(std::string_view name, std::string& path) const;
    void releaseTexts();
    ServiceConfig config() const;
    void report(const std::string& text);
    void attach(std::unique_ptr<DeviceLink> link);

    DriverServiceSetup m_setup;
    std::unique_ptr<DeviceLink> m_device;
    std::string m_serviceName;
    std::string m_driverFilePath;
    std::string m_devicePath;
    bool m_initialized = false;
    bool m_started = false;
    bool m_installed = false;
    bool m_removeOnClose = false;
    bool m_quiet = false;
    std::string m_lastFailure;
    std::chrono::milliseconds m_stallAfter{0};
    std::function<void()> m_stallHandler;
};

// What the program shows when a control request fails: "FAILED: DeviceIoControl "
// and the request's name.
std::string controlFailedText(uint32_t code);

} // namespace tavrin::core
