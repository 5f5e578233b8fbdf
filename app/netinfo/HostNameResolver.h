// Host names for remote addresses, looked up in the background. The connection
// monitor asks the cache (never waiting on the network) and queues what it misses;
// one worker at idle priority resolves the queue in order, one address at a time,
// and stores every answer, failures as the dotted address, so none is asked twice.
#pragma once

#include "HostLookup.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>

namespace tavrin {

class Messages;

class HostNameResolver final {
public:
    static constexpr size_t kMaxNameLength = 255; // bytes
    // The cache is emptied after this many stored names, so that changed reverse
    // records show up again and the cache cannot grow without bound.
    static constexpr unsigned kNamesBeforeClearing = 1000;

    // `pause` is how long the worker waits after work arrives before it starts a
    // batch, so that lookups never crowd the once-a-second redraw.
    explicit HostNameResolver(HostLookup& lookup,
                              std::chrono::milliseconds pause = std::chrono::seconds(1));
    ~HostNameResolver();
    HostNameResolver(const HostNameResolver&) = delete;
    HostNameResolver& operator=(const HostNameResolver&) = delete;

    // Checks that this machine's name and address can be had ("ホスト名取得エラー",
    // "IP アドレス取得エラー" otherwise; the program goes on either way), then starts
    // the worker.
    void start(Messages& messages);

    // Ends the worker, waiting for a lookup in progress to finish. Idempotent.
    void stop();

    // The cached name of `address` (network order), or "" when not resolved yet.
    std::string lookup(uint32_t address) const;

    // Queues `address` for resolution unless it is already queued.
    void enqueue(uint32_t address);

    // Addresses queued and not yet answered.
    size_t pendingCount() const;

    // Waits until the queue is empty; false when `timeout` passed first, or the
    // worker is not running or is being stopped.
    bool waitUntilIdle(std::chrono::milliseconds timeout) const;

    // The name for `address`: "localhost" for 127.0.0.1 and "0.0.0.0" for 0.0.0.0
    // without asking; else the official name, or the first alias as "NAME (Alias)",
    // or the dotted address when the lookup finds nothing. At most kMaxNameLength
    // bytes, never cut inside a character; control characters become '?'.
    static std::string makeName(HostLookup& lookup, uint32_t address);

private:
    void run();

    HostLookup& m_lookup;
    const std::chrono::milliseconds m_pause;

    // One lock for the queue and the cache, never held during a lookup or a pause.
    mutable std::mutex m_lock;
    std::condition_variable m_wake;         // the worker: work arrived, or stop
    mutable std::condition_variable m_idle; // waiters: the queue moved
    std::deque<uint32_t> m_queue;
    std::unordered_set<uint32_t> m_queued;
    std::map<uint32_t, std::string> m_cache;
    unsigned m_storedSinceClearing = 0;
    bool m_stop = false;
    bool m_running = false;
    std::thread m_worker;
};

} // namespace tavrin
