// The one lock between the packet hook and the control requests. The hook must not
// sleep or enter the kernel, and every critical section under this lock is a few
// hundred nanoseconds at most, so waiting is a busy spin.
#pragma once

#include <atomic>

namespace ovlank {

class SpinLock final {
public:
    void lock() noexcept {
        for (;;) {
            if (!m_locked.exchange(true, std::memory_order_acquire))
                return;
            // Spin on a plain load so the waiting core does not keep stealing the line.
            while (m_locked.load(std::memory_order_relaxed))
                relax();
        }
    }

    void unlock() noexcept { m_locked.store(false, std::memory_order_release); }

private:
    static void relax() noexcept {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#elif defined(__aarch64__)
        asm volatile("yield");
#endif
    }

    std::atomic<bool> m_locked{false};
};

class SpinLockGuard final {
public:
    explicit SpinLockGuard(SpinLock& lock) noexcept : m_lock(lock) { m_lock.lock(); }
    ~SpinLockGuard() { m_lock.unlock(); }
    SpinLockGuard(const SpinLockGuard&) = delete;
    SpinLockGuard& operator=(const SpinLockGuard&) = delete;

private:
    SpinLock& m_lock;
};

} // namespace ovlank
