#include "Daemon.h"

#include "ControlServer.h"
#include "DeviceSocket.h"
#include "Engine.h"
#include "InstanceLock.h"
#include "NetfilterHook.h"

#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>

namespace ovlank {

using tavrin::journal::Priority;
namespace {

// The control loop's tick: the chains are checked at every one.
constexpr time_t kTickSeconds = 1;
// How often packets that passed without a decision are reported, when there are new ones.
constexpr unsigned kReportTicks = 10;

sigset_t terminationSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

void drain(int fd) {
    uint64_t value = 0;
    [[maybe_unused]] const auto got = ::read(fd, &value, sizeof(value));
}

} // namespace

Daemon::Daemon(DaemonOptions options, unsigned queueCount, Log log)
    : m_options(std::move(options)), m_queueCount(queueCount), m_log(std::move(log)) {}

Daemon::~Daemon() {
    m_server.reset();
    m_engine.reset();
    m_hook.reset();
    m_device.reset();
    for (int fd : {m_signalFd, m_fatalFd, m_timerFd}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

bool Daemon::blockTerminationSignals() {
    // Blocked before any thread exists, so every thread inherits the mask and the
    // signals arrive only through the signal descriptor of the main loop.
    const sigset_t set = terminationSignals();
    ::signal(SIGPIPE, SIG_IGN);
    if (::pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0 ||
        (m_signalFd = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC)) < 0) {
        m_log(Priority::Error,
              "cannot take over the termination signals: " + std::string(std::strerror(errno)));
        return false;
    }
    return true;
}

bool Daemon::createEventDescriptors() {
    m_fatalFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_timerFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_fatalFd < 0 || m_timerFd < 0) {
        m_log(Priority::Error,
              "cannot create the daemon's event descriptors: " + std::string(std::strerror(errno)));
        return false;
    }
    const itimerspec every{{kTickSeconds, 0}, {kTickSeconds, 0}};
    ::timerfd_settime(m_timerFd, 0, &every, nullptr);
    return true;
}

bool Daemon::claimQueuesAndChains() {
    std::string error;
    for (unsigned i = 0; i < m_queueCount; ++i) {
        const unsigned queue = m_options.firstQueue + i;
        auto lock = InstanceLock::claim("queue/" + std::to_string(queue), error);
        if (!lock) {
            m_log(Priority::Error,
                  error.empty() ? "another daemon already uses queue " + std::to_string(queue)
                                : error);
            return false;
        }
        m_locks.push_back(std::move(lock));
    }
    auto lock = InstanceLock::claim("chains/" + m_options.chainPrefix, error);
    if (!lock) {
        m_log(Priority::Error, error.empty() ? "another daemon already uses the chain prefix " +
                                                   m_options.chainPrefix
                                             : error);
        return false;
    }
    m_locks.push_back(std::move(lock));
    return true;
}

bool Daemon::openDevice() {
    std::string error;
    m_device = DeviceSocket::create(m_options.devicePath, error);
    if (!m_device) {
        m_log(Priority::Error, error);
        return false;
    }
    return true;
}

bool Daemon::clearLeftoverChains() {
    m_hook = std::make_unique<NetfilterHook>(m_options.chainPrefix, m_options.firstQueue,
                                             m_queueCount, m_log, [this](const std::string& line) {
                                                 m_log(Priority::Error, line);
                                                 m_fatal.store(true);
                                                 const uint64_t one = 1;
                                                 [[maybe_unused]] const auto written =
                                                     ::write(m_fatalFd, &one, sizeof(one));
                                             });
    std::string error;
    if (!m_hook->removeLeftoverChains(error)) {
        m_log(Priority::Error, "cannot remove the chains left by an earlier daemon: " + error);
        return false;
    }
    return true;
}

bool Daemon::createEngine() {
    m_engine = std::make_unique<Engine>(*m_hook);
    Engine* engine = m_engine.get();
    m_hook->setDecider([engine](std::span<const uint8_t> packet, uint32_t length) {
        return engine->decidePacket(packet, length);
    });
    return true;
}

bool Daemon::createServer() {
    Engine* engine = m_engine.get();
    m_server = std::make_unique<ControlServer>(
        m_device->fd(),
        [engine](uint32_t code, std::span<const uint8_t> input, std::span<uint8_t> output) {
            return engine->dispatch(code, input, output);
        },
        m_log);
    m_server->watch(m_signalFd, [this] {
        signalfd_siginfo info{};
        while (::read(m_signalFd, &info, sizeof(info)) == sizeof(info)) {
        }
        m_server->stop();
    });
    m_server->watch(m_fatalFd, [this] {
        drain(m_fatalFd);
        m_server->stop();
    });
    // On the control loop itself, so that a daemon which does not serve its clients
    // does not put back jumps that were taken away to route traffic past it.
    m_server->watch(m_timerFd, [this] {
        drain(m_timerFd);
        m_hook->checkChains();
        if (++m_ticks % kReportTicks == 0) {
            reportBypassedPackets(false);
        }
    });
    return true;
}

void Daemon::unloadEngine() {
    // The engine unregisters the hook (chains out, queues drained and released),
    // clears the rules and releases the local address list.
    if (m_engine) {
        m_engine->unload();
    }
    if (m_hook) {
        m_hook->unregisterHook();
    }
}

void Daemon::closeDevice() {
    m_server.reset();
    m_device.reset(); // removes the socket file
}

void Daemon::reportBypassedPackets(bool final) {
    if (!m_hook) {
        return;
    }
    const uint64_t bypassed = m_hook->bypassedPackets();
    if (bypassed != m_bypassedReported) {
        m_log(Priority::Warning,
              std::to_string(bypassed) +
                  " packets passed without a decision because the queue was full" +
                  (final ? " (total)" : " so far"));
        m_bypassedReported = bypassed;
    }
}

int Daemon::run() {
    // Start-up: each step leaves nothing behind when a later one fails, because
    // the destructors of what was made undo it.
    if (!blockTerminationSignals() || !createEventDescriptors() || !claimQueuesAndChains() ||
        !openDevice() || !clearLeftoverChains() || !createEngine() || !createServer()) {
        return 1;
    }
    int status = 0;
    try {
        m_server->run();
    } catch (const std::exception& error) {
        m_log(Priority::Error, std::string("stopping after an error: ") + error.what());
        status = 1;
    }
    if (m_fatal.load()) {
        status = 1;
    }
    // Unload.
    unloadEngine();
    closeDevice();
    reportBypassedPackets(true);
    if (m_hook && m_hook->chainsLeft()) {
        status = 1; // logged by the hook; Ovlank --remove can finish the job
    }
    return status;
}

} // namespace ovlank
