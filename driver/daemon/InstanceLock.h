// A claim on a name within this network namespace, held for the daemon's life
// and released by the kernel when the process ends, however it ends. Used so that
// two daemons never read the same queue or manage the same chains.
#pragma once

#include <memory>
#include <string>

namespace ovlank {

class InstanceLock final {
public:
    // nullptr when another process holds the name (or the claim failed: see `error`).
    static std::unique_ptr<InstanceLock> claim(const std::string& name, std::string& error);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

private:
    explicit InstanceLock(int fd) : m_fd(fd) {}
    int m_fd;
};

} // namespace ovlank
