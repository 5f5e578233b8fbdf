// Host names for remote addresses, looked up in the background. The connection
// monitor asks the cache (never waiting on the network) and queues what it misses;
// one worker at idle priority resolves the queue in order, one address at a time,
// and stores every answer, failures as the dotted address, so none is asked twice.
#pragma once

#include "HostLookup.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace tavrin {

class Messages;

class HostNameResolver final {
public:
    static constexpr size_t kMaxNameLength = 255; // bytes
    // The cache is emptied after this many stored names, so that changed reverse
    // records show up again and the cache cannot grow without bound.
    static constexpr unsigned kNamesBeforeClearing = 1000;

    // `pause` is how long the worker waits after work arrives before it starts a
    // batch, so that lookups never crowd the once-a-second redraw. The lookup is
    // shared because a worker abandoned in the middle of one (see stop) may still
    // be using it after the resolver is gone.
    explicit HostNameResolver(std::shared_ptr<HostLookup> lookup,
                              std::chrono::milliseconds pause = std::chrono::seconds(1));
    ~HostNameResolver();
    HostNameResolver(const HostNameResolver&) = delete;
    HostNameResolver& operator=(const HostNameResolver&) = delete;

    // Checks that this machine's name and address can be had ("ホスト名取得エラー",
    // "IP アドレス取得エラー" otherwise; the program goes on either way) unless told
    // not to, then starts the worker. A resolver starts once: after stop() it stays
    // stopped, as an abandoned worker may still be finishing its lookup.
    void start(Messages& messages, bool checkLocalHost = true);

    // Ends the worker without waiting on the network: an idle worker is joined, one
    // in the middle of a lookup is left to finish it on its own and then end (its
    // answer goes nowhere). Idempotent.
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
    // Everything the worker touches, owned jointly with it so that an abandoned
    // worker outlives the resolver safely.
    struct State;
    static void run(const std::shared_ptr<State>& state);

    std::shared_ptr<State> m_state;
    std::thread m_worker;
    bool m_started = false;
};

} // namespace tavrin
