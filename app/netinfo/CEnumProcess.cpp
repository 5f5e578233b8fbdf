#include "CEnumProcess.h"

#include "SocketOwnerIndex.h"

#include <cerrno>
#include <cstdio>
#include <string_view>

#include <fcntl.h>
#include <unistd.h>

namespace tavrin {

namespace {

constexpr std::string_view kDeletedSuffix = " (deleted)";

// The short name; false when the process has ended.
bool readShortName(int32_t pid, std::string& name) {
    char path[40];
    std::snprintf(path, sizeof(path), "/proc/%d/comm", static_cast<int>(pid));
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char text[64];
    const ssize_t n = ::read(fd, text, sizeof(text));
    ::close(fd);
    if (n <= 0)
        return false;
    size_t length = static_cast<size_t>(n);
    if (text[length - 1] == '\n')
        --length;
    name.assign(text, length);
    return true;
}

} // namespace

std::string processExecutablePath(int32_t pid) {
    char path[40];
    std::snprintf(path, sizeof(path), "/proc/%d/exe", static_cast<int>(pid));
    std::string target(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink(path, target.data(), target.size());
        if (n < 0) {
            if (errno == EACCES || errno == EPERM)
                return kProcessSecurityRestriction;
            return kProcessError;
        }
        if (static_cast<size_t>(n) < target.size()) {
            target.resize(static_cast<size_t>(n));
            break;
        }
        if (target.size() >= 65536)
            return kProcessError;
        target.resize(target.size() * 2);
    }
    if (target.size() > kDeletedSuffix.size() && target.ends_with(kDeletedSuffix))
        target.resize(target.size() - kDeletedSuffix.size());
    return target;
}

CEnumProcess::CEnumProcess() {
    char buffer[16];
    if (::readlink("/proc/self/exe", buffer, sizeof(buffer)) >= 0)
        m_available |= kMethodPath;
    std::string name;
    if (readShortName(static_cast<int32_t>(::getpid()), name))
        m_available |= kMethodName;
    if (m_available & kMethodPath)
        m_method = kMethodPath;
    if (m_available & kMethodName)
        m_method = kMethodName;
}

int CEnumProcess::selectMethod(int method) {
    if (method != kMethodTasks && (method & ~m_available) == 0)
        m_method = method;
    return m_method;
}

bool CEnumProcess::fill(CProcessEntry& entry) {
    const int32_t pid = m_ids[m_position];
    entry.processId = static_cast<uint32_t>(pid);
    entry.taskHandle = 0;
    if (m_method & kMethodName)
        return readShortName(pid, entry.name);
    entry.name = processExecutablePath(pid);
    return true;
}

bool CEnumProcess::first(CProcessEntry& entry) {
    m_ids.clear();
    m_position = 0;
    if (m_method == kMethodNone)
        return false;
    int error = 0;
    if (!listProcessIds(m_ids, error))
        return false;
    for (; m_position < m_ids.size(); ++m_position) {
        if (fill(entry))
            return true;
    }
    return false;
}

bool CEnumProcess::next(CProcessEntry& entry) {
    if (m_method == kMethodNone)
        return false;
    entry.taskHandle = 0;
    while (m_position < m_ids.size()) {
        ++m_position;
        if (m_position < m_ids.size() && fill(entry))
            return true;
    }
    return false;
}

} // namespace tavrin
