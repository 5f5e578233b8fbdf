#include "ServiceFolder.h"

#include "NumberText.h"
#include "PrivateFolder.h"
#include "ProcessControl.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tavrin::core {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPollInterval = std::chrono::milliseconds(20);
constexpr size_t kMaxRecordSize = 64 * 1024;

ScmOutcome outcome(ScmStatus status, std::string text = {}) {
    return {status, std::move(text)};
}

bool validServiceName(const std::string& name) {
    if (name.empty() || name.size() > 64)
        return false;
    for (char c : name) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!ok)
            return false;
    }
    return true;
}

bool oneLine(const std::string& value) {
    return value.find('\n') == std::string::npos && value.find('\0') == std::string::npos;
}

bool validConfig(const ServiceConfig& config) {
    bool valid = !config.executable.empty() && !config.devicePath.empty() &&
                 oneLine(config.executable) && oneLine(config.devicePath);
    for (const std::string& a : config.arguments)
        valid = valid && oneLine(a);
    for (const std::string& a : config.cleanupArguments)
        valid = valid && oneLine(a);
    return valid;
}

// The command line a service's process runs, for messages.
std::string commandLineOf(const ServiceConfig& config) {
    std::string text = config.executable + " --device " + config.devicePath;
    for (const std::string& a : config.arguments)
        text += " " + a;
    return text;
}

// The last non-empty line of a service's log, to tell the user why it ended.
std::string lastLogLine(int folderFd, const std::string& logName) {
    const int fd = ::openat(folderFd, logName.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::array<char, 4096> tail{};
    const off_t size = ::lseek(fd, 0, SEEK_END);
    const off_t from =
        size > static_cast<off_t>(tail.size()) ? size - static_cast<off_t>(tail.size()) : 0;
    const ssize_t got = ::pread(fd, tail.data(), tail.size(), from);
    ::close(fd);
    if (got <= 0)
        return {};
    std::string text(tail.data(), static_cast<size_t>(got));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    const size_t nl = text.rfind('\n');
    return nl == std::string::npos ? text : text.substr(nl + 1);
}

} // namespace

std::string formatServiceRecord(const ServiceFolder::Record& record) {
    std::string text = "executable=" + record.config.executable + "\n";
    text += "device=" + record.config.devicePath + "\n";
    for (const std::string& a : record.config.arguments)
        text += "argument=" + a + "\n";
    for (const std::string& a : record.config.cleanupArguments)
        text += "cleanup=" + a + "\n";
    text += "pid=" + std::to_string(record.pid) + "\n";
    text += "starttime=" + std::to_string(record.startTime) + "\n";
    return text;
}

bool parseServiceRecord(const std::string& text, ServiceFolder::Record& record) {
    ServiceFolder::Record out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            return false;
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        if (key == "executable") {
            out.config.executable = value;
        } else if (key == "device") {
            out.config.devicePath = value;
        } else if (key == "argument") {
            out.config.arguments.push_back(value);
        } else if (key == "cleanup") {
            out.config.cleanupArguments.push_back(value);
        } else if (key == "pid") {
            const std::optional<uint64_t> number = parseWholeDecimal(value);
            if (!number || *number > 0x7FFFFFFF)
                return false;
            out.pid = static_cast<pid_t>(*number);
        } else if (key == "starttime") {
            const std::optional<uint64_t> number = parseWholeDecimal(value);
            if (!number)
                return false;
            out.startTime = *number;
        } else {
            return false;
        }
    }
    if (out.config.executable.empty() || out.config.devicePath.empty())
        return false;
    record = std::move(out);
    return true;
}

// The opened folder for one operation; closing it releases the lock.
class ServiceFolder::Session {
public:
    explicit Session(const std::string& folder) : m_fd(openPrivateFolder(folder, m_error)) {}
    ~Session() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool opened() const { return m_fd >= 0; }
    const std::string& error() const { return m_error; }
    int fd() const { return m_fd; }

    // False when another process holds the lock.
    bool lock() { return ::flock(m_fd, LOCK_EX | LOCK_NB) == 0; }

    // The outcome that ends an operation before it starts: the folder did not open,
    // or a change finds the lock held by another process.
    std::optional<ScmOutcome> refusal(Access access) {
        if (!opened())
            return outcome(ScmStatus::Failed, m_error);
        if (access == Access::Change && !lock())
            return outcome(ScmStatus::DatabaseLocked);
        return std::nullopt;
    }

    enum class Read { Ok, Missing, Corrupt };
    Read readRecord(const std::string& name, Record& record) {
        const int fd = ::openat(m_fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            return errno == ENOENT ? Read::Missing : Read::Corrupt;
        struct stat st {};
        std::string text;
        bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                  static_cast<size_t>(st.st_size) <= kMaxRecordSize;
        if (ok) {
            text.resize(static_cast<size_t>(st.st_size));
            ok = ::read(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        }
        ::close(fd);
        return ok && parseServiceRecord(text, record) ? Read::Ok : Read::Corrupt;
    }

    bool writeRecord(const std::string& name, const Record& record) {
        const std::string temporary = name + ".tmp";
        const std::string text = formatServiceRecord(record);
        const int fd = ::openat(m_fd, temporary.c_str(),
                                O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0)
            return false;
        const bool written =
            ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        const bool closed = ::close(fd) == 0;
        if (!written || !closed || ::renameat(m_fd, temporary.c_str(), m_fd, name.c_str()) != 0) {
            ::unlinkat(m_fd, temporary.c_str(), 0);
            return false;
        }
        return true;
    }

    // The service is not running (any more): its record keeps no process.
    void writeRecordWithoutProcess(const std::string& name, Record& record) {
        record.pid = 0;
        record.startTime = 0;
        writeRecord(name, record);
    }

    bool removeRecord(const std::string& name) { return ::unlinkat(m_fd, name.c_str(), 0) == 0; }

private:
    std::string m_error;
    int m_fd;
};

ServiceFolder::ServiceFolder(std::string folder, DeviceOpener& probe)
    : ServiceFolder(std::move(folder), probe, Timing{}) {}

ServiceFolder::ServiceFolder(std::string folder, DeviceOpener& probe, Timing timing)
    : m_folder(std::move(folder)), m_probe(probe), m_timing(timing) {}

void ServiceFolder::addSystemService(const std::string& name, SystemService& service) {
    m_systemServices[name] = &service;
}

std::string ServiceFolder::logPath(const std::string& name) const {
    return m_folder + "/" + name + ".log";
}

ScmOutcome ServiceFolder::openManager() {
    if (::geteuid() != 0)
        return outcome(ScmStatus::AccessDenied);
    Session session(m_folder);
    if (!session.opened())
        return outcome(ScmStatus::AccessDenied, session.error());
    return outcome(ScmStatus::Ok);
}

ScmOutcome ServiceFolder::createService(const std::string& name, const ServiceConfig& config) {
    if (m_systemServices.count(name) != 0)
        return outcome(ScmStatus::Exists);
    if (!validServiceName(name))
        return outcome(ScmStatus::Failed, "invalid service name: " + name);
    if (!validConfig(config))
        return outcome(ScmStatus::Failed, "invalid service configuration");
    Session session(m_folder);
    if (auto refused = session.refusal(Access::Change))
        return *refused;
    Record existing;
    if (session.readRecord(name, existing) != Session::Read::Missing)
        return outcome(ScmStatus::Exists);
    Record record;
    record.config = config;
    if (!session.writeRecord(name, record))
        return outcome(ScmStatus::Failed, m_folder + "/" + name + ": " + std::strerror(errno));
    return outcome(ScmStatus::Ok);
}

ScmOutcome ServiceFolder::openService(const std::string& name) {
    if (m_systemServices.count(name) != 0)
        return outcome(ScmStatus::Ok);
    if (!validServiceName(name))
        return outcome(ScmStatus::NoSuchService);
    Session session(m_folder);
    Record record;
    if (auto refused = loadRecord(session, Access::Read, name, record))
        return *refused;
    return outcome(ScmStatus::Ok);
}

std::optional<ScmOutcome> ServiceFolder::loadRecord(Session& session, Access access,
                                                    const std::string& name, Record& record) const {
    if (auto refused = session.refusal(access))
        return refused;
    switch (session.readRecord(name, record)) {
    case Session::Read::Ok: return std::nullopt;
    case Session::Read::Missing: return outcome(ScmStatus::NoSuchService);
    case Session::Read::Corrupt: break;
    }
    return outcome(ScmStatus::Failed, m_folder + "/" + name + ": unreadable service record");
}

bool ServiceFolder::deviceAnswers(const std::string& devicePath) {
    std::string error;
    std::unique_ptr<DeviceLink> link = m_probe.open(devicePath, error);
    if (!link)
        return false;
    std::array<uint8_t, 4> version{};
    return link->control(ovlank::GET_VERSION, {}, version).has_value();
}

ScmOutcome ServiceFolder::startService(const std::string& name) {
    if (auto system = m_systemServices.find(name); system != m_systemServices.end())
        return system->second->start();
    if (!validServiceName(name))
        return outcome(ScmStatus::NoSuchService);
    Session session(m_folder);
    Record record;
    if (auto refused = loadRecord(session, Access::Change, name, record))
        return *refused;
    if (processAlive(record.pid, record.startTime))
        return outcome(ScmStatus::AlreadyRunning);
    if (record.pid != 0) {
        clearUp(session, name, record.config); // it ended without a stop
        session.writeRecordWithoutProcess(name, record);
    }
    return startDaemon(session, name, record);
}

ScmOutcome ServiceFolder::startDaemon(Session& session, const std::string& name, Record& record) {
    const ServiceConfig& config = record.config;
    // Someone else's daemon on our device would answer in place of ours.
    if (deviceAnswers(config.devicePath))
        return outcome(ScmStatus::Failed,
                       config.devicePath + " is already served by a process of another service");
    if (::access(config.executable.c_str(), X_OK) != 0)
        return outcome(ScmStatus::Failed, config.executable + ": " + std::strerror(errno));

    const std::string logName = name + ".log";
    const int log = ::openat(session.fd(), logName.c_str(),
                             O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (log < 0)
        return outcome(ScmStatus::Failed, logPath(name) + ": " + std::strerror(errno));
    std::vector<std::string> argv{config.executable, "--device", config.devicePath};
    argv.insert(argv.end(), config.arguments.begin(), config.arguments.end());
    std::string error;
    const pid_t pid = spawnDetached(argv, log, error);
    ::close(log);
    if (pid < 0)
        return outcome(ScmStatus::Failed, error);
    record.pid = pid;
    record.startTime = processStartTime(pid);
    session.writeRecord(name, record);

    const auto deadline = Clock::now() + m_timing.startWait;
    while (true) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            session.writeRecordWithoutProcess(name, record);
            std::string text = config.executable;
            text += WIFEXITED(status) ? " exited with status " + std::to_string(WEXITSTATUS(status))
                                      : " was killed by signal " + std::to_string(WTERMSIG(status));
            text += " before its device answered";
            if (const std::string last = lastLogLine(session.fd(), logName); !last.empty())
                text += ": " + last;
            clearUp(session, name, config);
            return outcome(ScmStatus::Failed, text);
        }
        if (deviceAnswers(config.devicePath))
            return outcome(ScmStatus::Ok);
        if (Clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(kPollInterval);
    }
    // A daemon that never answered would later count as running; end it.
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    session.writeRecordWithoutProcess(name, record);
    clearUp(session, name, config);
    return outcome(ScmStatus::Failed, config.devicePath + " did not answer within " +
                                          std::to_string(m_timing.startWait.count() / 1000) +
                                          " s (see " + logPath(name) + ")");
}

void ServiceFolder::clearUp(Session& session, const std::string& name,
                            const ServiceConfig& config) {
    if (config.cleanupArguments.empty())
        return;
    // Its lines follow the process's own in the service's log.
    const int log = ::openat(session.fd(), (name + ".log").c_str(),
                             O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
    std::vector<std::string> argv{config.executable};
    argv.insert(argv.end(), config.cleanupArguments.begin(), config.cleanupArguments.end());
    argv.insert(argv.end(), {"--device", config.devicePath});
    std::string error;
    const int status = runCommand(argv, log, error);
    if (log >= 0) {
        if (status != 0) {
            const std::string line =
                "clearing up after " + name +
                " failed: " + (status < 0 ? error : "status " + std::to_string(status)) + "\n";
            [[maybe_unused]] const ssize_t written = ::write(log, line.data(), line.size());
        }
        ::close(log);
    }
}

ScmOutcome ServiceFolder::changeServiceConfig(const std::string& name,
                                              const ServiceConfig& config) {
    if (m_systemServices.count(name) != 0)
        return outcome(ScmStatus::Ok);
    if (!validServiceName(name))
        return outcome(ScmStatus::NoSuchService);
    if (!validConfig(config))
        return outcome(ScmStatus::Failed, "invalid service configuration");
    Session session(m_folder);
    Record record;
    if (auto refused = loadRecord(session, Access::Change, name, record))
        return *refused;
    if (record.config == config)
        return outcome(ScmStatus::Ok);
    if (processAlive(record.pid, record.startTime))
        return outcome(ScmStatus::AlreadyRunning,
                       "pid " + std::to_string(record.pid) + ": " + commandLineOf(record.config));
    // A process of the old configuration that ended without clearing up left its
    // things under the old names; only the old configuration can find them.
    if (record.pid != 0)
        clearUp(session, name, record.config);
    record.config = config;
    record.pid = 0;
    record.startTime = 0;
    if (!session.writeRecord(name, record))
        return outcome(ScmStatus::Failed, m_folder + "/" + name + ": " + std::strerror(errno));
    return outcome(ScmStatus::Ok);
}

ScmOutcome ServiceFolder::queryServiceConfig(const std::string& name, ServiceConfig& config) {
    if (m_systemServices.count(name) != 0)
        return outcome(ScmStatus::Failed, name + " is part of the system and has no record");
    if (!validServiceName(name))
        return outcome(ScmStatus::NoSuchService);
    Session session(m_folder);
    Record record;
    if (auto refused = loadRecord(session, Access::Read, name, record))
        return *refused;
    config = record.config;
    return outcome(ScmStatus::Ok);
}

ScmOutcome ServiceFolder::queryServiceStatus(const std::string& name, ServiceState& state) {
    if (m_systemServices.count(name) != 0) {
        state = ServiceState::Running;
        return outcome(ScmStatus::Ok);
    }
    if (!validServiceName(name))
        return outcome(ScmStatus::NoSuchService);
    Session session(m_folder);
    Record record;
    if (auto refused = loadRecord(session, Access::Read, name, record))
        return *refused;
    if (!processAlive(record.pid, record.startTime))
        state = ServiceState::Stopped;
    else if (processStopped(record.pid, record.startTime))
        state = ServiceState::Paused;
    else
        state = ServiceState::Running;
    return outcome(ScmStatus::Ok);
}

ScmOutcome ServiceFolder::stopService(const std::string& name) {
    if (m_systemServices.count(name) != 0)
        return outcome(ScmStatus::Failed, name + " is part of the system and is never stopped");
    if (!validServiceName(name))
        return outcome(ScmStatus::NoSuchService);
    Session session(m_folder);
    Record record;
    if (auto refused = loadRecord(session, Access::Change, name, record))
        return *refused;
    if (!processAlive(record.pid, record.startTime)) {
        // It ended on its own since it was started (a crash, a kill): nobody cleared up.
        if (record.pid != 0)
            clearUp(session, name, record.config);
        session.writeRecordWithoutProcess(name, record);
        return outcome(ScmStatus::NotRunning);
    }
    auto waitForEnd = [&](std::chrono::milliseconds limit) {
        const auto deadline = Clock::now() + limit;
        while (processAlive(record.pid, record.startTime)) {
            if (Clock::now() >= deadline)
                return false;
            std::this_thread::sleep_for(kPollInterval);
        }
        return true;
    };
    ::kill(record.pid, SIGTERM);
    // A daemon that is stopped (frozen) gets to handle it and clear up itself.
    ::kill(record.pid, SIGCONT);
    bool ended = waitForEnd(m_timing.stopWait);
    bool killed = false;
    if (!ended) {
        // It had its chance to remove its hook; traffic passes without it anyway.
        ::kill(record.pid, SIGKILL);
        killed = true;
        ended = waitForEnd(std::chrono::seconds(2));
    }
    if (!ended)
        return outcome(ScmStatus::Failed,
                       name + " (pid " + std::to_string(record.pid) + ") did not end");
    if (killed)
        clearUp(session, name, record.config);
    session.writeRecordWithoutProcess(name, record);
    return outcome(ScmStatus::Ok);
}

ScmOutcome ServiceFolder::deleteService(const std::string& name) {
    if (m_systemServices.count(name) != 0)
        return outcome(ScmStatus::Failed, name + " is part of the system and is never deleted");
    if (!validServiceName(name))
        return outcome(ScmStatus::NoSuchService);
    Session session(m_folder);
    if (auto refused = session.refusal(Access::Change))
        return *refused;
    if (!session.removeRecord(name))
        return outcome(errno == ENOENT ? ScmStatus::NoSuchService : ScmStatus::Failed,
                       m_folder + "/" + name + ": " + std::strerror(errno));
    return outcome(ScmStatus::Ok);
}

} // namespace tavrin::core
