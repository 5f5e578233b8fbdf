#include "HostNameResolver.h"

#include "Messages.h"
#include "PlainText.h"

#include <arpa/inet.h>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <pthread.h>
#include <sched.h>
#include <unordered_set>

namespace tavrin {

namespace {

// Cuts `text` to at most `max` bytes without splitting a UTF-8 sequence, and makes
// control characters harmless for whoever prints the name.
std::string tidyName(std::string text, size_t max) {
    text.resize(utf8Prefix(text, max).size());
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            c = '?';
    }
    return text;
}

} // namespace

std::string HostNameResolver::makeName(HostLookup& lookup, uint32_t address) {
    if (address == htonl(INADDR_LOOPBACK))
        return "localhost";
    if (address == 0)
        return "0.0.0.0";
    if (const auto host = lookup.reverse(address)) {
        if (!host->officialName.empty())
            return tidyName(host->officialName, kMaxNameLength);
        if (!host->aliases.empty())
            return tidyName(host->aliases.front() + " (Alias)", kMaxNameLength);
    }
    return dottedAddress(address);
}

struct HostNameResolver::State {
    State(std::shared_ptr<HostLookup> l, std::chrono::milliseconds p)
        : lookup(std::move(l)), pause(p) {}

    const std::shared_ptr<HostLookup> lookup;
    const std::chrono::milliseconds pause;

    // One lock for the queue and the cache, never held during a lookup or a pause.
    std::mutex lock;
    std::condition_variable wake; // the worker: work arrived, or stop
    std::condition_variable idle; // waiters: the queue moved
    std::deque<uint32_t> queue;
    std::unordered_set<uint32_t> queued;
    std::map<uint32_t, std::string> cache;
    unsigned storedSinceClearing = 0;
    bool stop = false;
    bool running = false;
    bool inLookup = false; // the worker is out on the network, without the lock
};

HostNameResolver::HostNameResolver(std::shared_ptr<HostLookup> lookup,
                                   std::chrono::milliseconds pause)
    : m_state(std::make_shared<State>(std::move(lookup), pause)) {}

HostNameResolver::~HostNameResolver() {
    stop();
}

void HostNameResolver::start(Messages& messages, bool checkLocalHost) {
    if (m_started)
        return;
    m_started = true;
    if (!checkLocalHost) {
        // nothing asked of the name service before the first queued address
    } else if (const auto name = m_state->lookup->localHostName(); !name) {
        messages.show("ホスト名取得エラー");
    } else if (!m_state->lookup->resolvesToAddress(*name)) {
        messages.show("IP アドレス取得エラー");
    }
    {
        std::lock_guard lock(m_state->lock);
        m_state->stop = false;
        m_state->running = true;
    }
    m_worker = std::thread([state = m_state] { run(state); });
}

void HostNameResolver::stop() {
    State& state = *m_state;
    bool inLookup = false;
    {
        std::lock_guard lock(state.lock);
        state.stop = true;
        inLookup = state.inLookup;
    }
    state.wake.notify_all();
    state.idle.notify_all(); // nobody waits for a queue that will not move any more
    if (m_worker.joinable()) {
        // A lookup may take as long as the name service likes (an unreachable server:
        // many seconds). Nothing waits for it: the worker owns its share of the state
        // and ends by itself once the lookup returns. Without a lookup it sees the
        // stop at once.
        if (inLookup)
            m_worker.detach();
        else
            m_worker.join();
    }
    std::lock_guard lock(state.lock);
    state.running = false;
    state.idle.notify_all();
}

std::string HostNameResolver::lookup(uint32_t address) const {
    std::lock_guard lock(m_state->lock);
    const auto it = m_state->cache.find(address);
    return it == m_state->cache.end() ? std::string() : it->second;
}

void HostNameResolver::enqueue(uint32_t address) {
    {
        std::lock_guard lock(m_state->lock);
        if (!m_state->queued.insert(address).second)
            return;
        m_state->queue.push_back(address);
    }
    m_state->wake.notify_one();
}

size_t HostNameResolver::pendingCount() const {
    std::lock_guard lock(m_state->lock);
    return m_state->queue.size();
}

bool HostNameResolver::waitUntilIdle(std::chrono::milliseconds timeout) const {
    State& state = *m_state;
    std::unique_lock lock(state.lock);
    state.idle.wait_for(lock, timeout,
                        [&] { return state.queue.empty() || !state.running || state.stop; });
    return state.queue.empty();
}

void HostNameResolver::run(const std::shared_ptr<State>& shared) {
    // Idle priority: lookups get the processor only when nothing else wants it.
    sched_param parameters{};
    pthread_setschedparam(pthread_self(), SCHED_IDLE, &parameters);

    State& state = *shared;
    std::unique_lock lock(state.lock);
    while (!state.stop) {
        state.wake.wait(lock, [&] { return state.stop || !state.queue.empty(); });
        if (state.wake.wait_for(lock, state.pause, [&] { return state.stop; }))
            break;
        while (!state.stop && !state.queue.empty()) {
            // The address stays queued while it is looked up, so that it is not
            // queued a second time meanwhile.
            const uint32_t address = state.queue.front();
            state.inLookup = true;
            lock.unlock();
            std::string name = makeName(*state.lookup, address);
            lock.lock();
            state.inLookup = false;
            const bool stored = state.cache.try_emplace(address, std::move(name)).second;
            state.queue.pop_front();
            state.queued.erase(address);
            if (stored && ++state.storedSinceClearing >= kNamesBeforeClearing) {
                state.storedSinceClearing = 0;
                state.cache.clear();
            }
            state.idle.notify_all();
        }
    }
    state.idle.notify_all();
}

} // namespace tavrin
