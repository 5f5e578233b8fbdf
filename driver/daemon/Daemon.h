// The Ovlank daemon: the engine with its netfilter hook and control socket.
// Start-up and unload are short named steps; every failure is one line on
// standard error.
#pragma once

#include "DaemonOptions.h"
#include "JournalLines.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ovlank {

class ControlServer;
class DeviceSocket;
class Engine;
class InstanceLock;
class NetfilterHook;

class Daemon final {
public:
    using Log = std::function<void(tavrin::journal::Priority, const std::string& line)>;

    Daemon(DaemonOptions options, unsigned queueCount, Log log);
    ~Daemon();
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    // Starts, serves until SIGTERM, SIGINT or SIGHUP or a fatal error, unloads.
    // Returns the process exit code.
    int run();

private:
    // Start-up steps, in order. Each logs its own failure.
    bool blockTerminationSignals();
    bool createEventDescriptors();
    bool claimQueuesAndChains();
    bool openDevice();
    bool clearLeftoverChains();
    bool createEngine();
    bool createServer();
    // Unload steps.
    void unloadEngine();
    void closeDevice();
    void reportBypassedPackets(bool final);

    DaemonOptions m_options;
    unsigned m_queueCount;
    Log m_log;
    std::vector<std::unique_ptr<InstanceLock>> m_locks;
    std::unique_ptr<DeviceSocket> m_device;
    std::unique_ptr<NetfilterHook> m_hook;
    std::unique_ptr<Engine> m_engine;
    std::unique_ptr<ControlServer> m_server;
    int m_signalFd = -1;
    int m_fatalFd = -1;
    int m_timerFd = -1;
    std::atomic<bool> m_fatal{false};
    uint64_t m_bypassedReported = 0;
    unsigned m_ticks = 0;
};

} // namespace ovlank
