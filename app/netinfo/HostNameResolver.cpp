#include "HostNameResolver.h"

#include "Messages.h"
#include "PlainText.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sched.h>

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

HostNameResolver::HostNameResolver(HostLookup& lookup, std::chrono::milliseconds pause)
    : m_lookup(lookup), m_pause(pause) {}

HostNameResolver::~HostNameResolver() {
    stop();
}

void HostNameResolver::start(Messages& messages) {
    if (m_worker.joinable())
        return;
    if (const auto name = m_lookup.localHostName(); !name)
        messages.show("ホスト名取得エラー");
    else if (!m_lookup.resolvesToAddress(*name))
        messages.show("IP アドレス取得エラー");
    {
        std::lock_guard lock(m_lock);
        m_stop = false;
        m_running = true;
    }
    m_worker = std::thread([this] { run(); });
}

void HostNameResolver::stop() {
    {
        std::lock_guard lock(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    m_idle.notify_all(); // nobody waits for a queue that will not move any more
    if (m_worker.joinable())
        m_worker.join();
    std::lock_guard lock(m_lock);
    m_running = false;
    m_idle.notify_all();
}

std::string HostNameResolver::lookup(uint32_t address) const {
    std::lock_guard lock(m_lock);
    const auto it = m_cache.find(address);
    return it == m_cache.end() ? std::string() : it->second;
}

void HostNameResolver::enqueue(uint32_t address) {
    {
        std::lock_guard lock(m_lock);
        if (!m_queued.insert(address).second)
            return;
        m_queue.push_back(address);
    }
    m_wake.notify_one();
}

size_t HostNameResolver::pendingCount() const {
    std::lock_guard lock(m_lock);
    return m_queue.size();
}

bool HostNameResolver::waitUntilIdle(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_lock);
    m_idle.wait_for(lock, timeout, [&] { return m_queue.empty() || !m_running || m_stop; });
    return m_queue.empty();
}

void HostNameResolver::run() {
    // Idle priority: lookups get the processor only when nothing else wants it.
    sched_param parameters{};
    pthread_setschedparam(pthread_self(), SCHED_IDLE, &parameters);

    std::unique_lock lock(m_lock);
    while (!m_stop) {
        m_wake.wait(lock, [&] { return m_stop || !m_queue.empty(); });
        if (m_wake.wait_for(lock, m_pause, [&] { return m_stop; }))
            break;
        while (!m_stop && !m_queue.empty()) {
            // The address stays queued while it is looked up, so that it is not
            // queued a second time meanwhile.
            const uint32_t address = m_queue.front();
            lock.unlock();
            std::string name = makeName(m_lookup, address);
            lock.lock();
            const bool stored = m_cache.try_emplace(address, std::move(name)).second;
            m_queue.pop_front();
            m_queued.erase(address);
            if (stored && ++m_storedSinceClearing >= kNamesBeforeClearing) {
                m_storedSinceClearing = 0;
                m_cache.clear();
            }
            m_idle.notify_all();
        }
    }
    m_idle.notify_all();
}

} // namespace tavrin
