// Lists the running processes from /proc, one at a time, either with the path of
// each executable or with each process's short name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tavrin {

inline constexpr char kProcessSecurityRestriction[] = "N/A (security restriction)";
inline constexpr char kProcessError[] = "N/A (error)";

struct CProcessEntry {
    std::string name; // executable path, or the short name (see CEnumProcess)
    uint32_t processId = 0;
    uint16_t taskHandle = 0; // always 0: there are no 16-bit tasks here
};

class CEnumProcess final {
public:
    // Method bits. 16-bit tasks have no counterpart here and are never available.
    static constexpr int kMethodNone = 0;
    static constexpr int kMethodPath = 1; // name = executable path from /proc/<pid>/exe
    static constexpr int kMethodName = 2; // name = /proc/<pid>/comm
    static constexpr int kMethodTasks = 4;

    // Finds which methods this system offers and takes the default: the short names
    // when available, else the paths.
    CEnumProcess();

    int availableMethods() const { return m_available; }
    int method() const { return m_method; }

    // Takes `method` when it is not kMethodTasks alone and every bit of it is
    // available; returns the method in force either way.
    int selectMethod(int method);

    // Hand out the processes in ascending id order; false when there is none (more).
    bool first(CProcessEntry& entry);
    bool next(CProcessEntry& entry);

private:
    // Fills `entry` for the process at the read position; false when it has ended
    // and the method cannot name it.
    bool fill(CProcessEntry& entry);

    int m_available = kMethodNone;
    int m_method = kMethodNone;
    std::vector<int32_t> m_ids;
    size_t m_position = 0;
};

// The executable of a process: its path, kProcessSecurityRestriction when we may not
// look, kProcessError when it has none (kernel threads, processes being reaped). The
// " (deleted)" the kernel appends after an upgrade replaced the file is dropped, so
// that the process keeps its name.
std::string processExecutablePath(int32_t pid);

} // namespace tavrin
