#include "NetfilterHook.h"

#include "QueueStatistics.h"

#include <algorithm>

namespace ovlank {

using tavrin::journal::Priority;

NetfilterHook::NetfilterHook(std::string chainPrefix, uint16_t firstQueue, unsigned queueCount,
                             Log log, Fatal onFatal)
    : m_chains(std::move(chainPrefix), firstQueue, queueCount), m_firstQueue(firstQueue),
      m_queueCount(queueCount == 0 ? 1 : queueCount), m_log(std::move(log)),
      m_onFatal(std::move(onFatal)) {}

NetfilterHook::~NetfilterHook() {
    unregisterHook();
}

bool NetfilterHook::registered() const {
    std::lock_guard lock(m_mutex);
    return !m_queues.empty();
}

bool NetfilterHook::chainsLeft() const {
    std::lock_guard lock(m_mutex);
    return m_chainsLeft;
}

NtStatus NetfilterHook::registerHook() {
    std::lock_guard lock(m_mutex);
    if (!m_queues.empty()) {
        return checkChainsLocked() ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
    }
    if (!m_decide) {
        m_log(Priority::Error, "cannot start the hook: no decision is attached");
        return STATUS_UNSUCCESSFUL;
    }
    std::vector<std::unique_ptr<NetfilterQueue>> queues;
    for (unsigned i = 0; i < m_queueCount; ++i) {
        auto queue =
            std::make_unique<NetfilterQueue>(static_cast<uint16_t>(m_firstQueue + i), m_decide);
        std::string error;
        if (!queue->open(error)) {
            m_log(Priority::Error, "cannot start the hook: " + error);
            return STATUS_UNSUCCESSFUL; // the queues opened so far close on return
        }
        queues.push_back(std::move(queue));
    }
    for (auto& queue : queues) {
        queue->start(m_onFatal);
    }
    // Readers first, then the rules: no packet is diverted before someone reads it.
    // The install replaces chains an earlier removal left.
    std::string error;
    if (!m_chains.install(error)) {
        m_log(Priority::Error, "cannot start the hook: " + error);
        return STATUS_UNSUCCESSFUL;
    }
    m_chainsLeft = false;
    m_repairFailing = false;
    m_receivedAtInstall = 0;
    m_queues = std::move(queues);
    return STATUS_SUCCESS;
}

bool NetfilterHook::removeChainsLocked(std::optional<uint64_t>* counted) {
    std::string error;
    if (!m_chains.remove(error, counted)) {
        m_log(Priority::Error,
              "cannot remove the chains " + m_chains.inputChain() + " and " +
                  m_chains.outputChain() + ": " + error +
                  "; trying again at the next start or stop of the hook and at exit");
        m_chainsLeft = true;
        return false;
    }
    if (m_chainsLeft) {
        m_log(Priority::Notice, "removed the chains " + m_chains.inputChain() + " and " +
                                    m_chains.outputChain() + " that an earlier attempt left");
    }
    m_chainsLeft = false;
    return true;
}

void NetfilterHook::unregisterHook() {
    std::lock_guard lock(m_mutex);
    if (m_queues.empty()) {
        if (m_chainsLeft) {
            removeChainsLocked(nullptr);
        }
        return;
    }
    std::optional<uint64_t> counted;
    removeChainsLocked(&counted);
    // Chains that stay would keep feeding the queues, so the drain has a deadline;
    // once the queues are gone, what still enters the chains passes undecided. All
    // queues drain at once, so the deadline holds for the hook as a whole.
    for (auto& queue : m_queues) {
        queue->beginDrain();
    }
    for (auto& queue : m_queues) {
        queue->drainAndStop();
    }
    m_bypassedBefore += sessionBypassed(counted);
    for (auto& queue : m_queues) {
        m_decidedBefore += queue->packets();
    }
    m_queues.clear();
}

void NetfilterHook::checkChains() {
    std::lock_guard lock(m_mutex);
    if (!m_queues.empty()) {
        checkChainsLocked();
    }
}

bool NetfilterHook::checkChainsLocked() {
    const std::string chains = m_chains.inputChain() + " and " + m_chains.outputChain();
    const uint64_t received = receivedPackets();
    std::string error;
    IptablesChains::State found = IptablesChains::State::InPlace;
    if (!m_chains.repair(error, found)) {
        if (!m_repairFailing) {
            m_log(Priority::Error, "cannot put back the chains " + chains + ": " + error);
        }
        m_repairFailing = true;
        return false;
    }
    m_repairFailing = false;
    if (found == IptablesChains::State::Missing) {
        m_log(Priority::Warning,
              "the chains " + chains +
                  " were gone (the mangle table was reloaded?); installed them again");
        m_receivedAtInstall = received;
    } else if (found == IptablesChains::State::Detached) {
        m_log(Priority::Warning, "the jumps to the chains " + chains + " were gone; put them back");
    }
    return true;
}

bool NetfilterHook::removeLeftoverChains(std::string& error) {
    return m_chains.remove(error);
}

uint64_t NetfilterHook::sessionBypassed(std::optional<uint64_t> counted) const {
    // The id gaps are packets the kernel let pass because our socket was full; they
    // are certain, but a full queue leaves no gap, so the chains' count decides.
    uint64_t gaps = 0;
    for (const auto& queue : m_queues) {
        gaps += queue->bypassed();
    }
    if (!counted) {
        return gaps;
    }
    // Read after the count, waiting before received: a packet moving on meanwhile
    // is subtracted twice rather than not at all, so the result never runs ahead.
    uint64_t accounted = 0;
    for (const auto& queue : m_queues) {
        if (auto stats = readQueueStatistics(queue->number())) {
            accounted += stats->waiting;
        }
    }
    accounted += receivedPackets() - m_receivedAtInstall;
    return std::max(gaps, *counted > accounted ? *counted - accounted : 0);
}

uint64_t NetfilterHook::receivedPackets() const {
    uint64_t total = 0;
    for (const auto& queue : m_queues) {
        total += queue->packets();
    }
    return total;
}

uint64_t NetfilterHook::bypassedPackets() const {
    std::lock_guard lock(m_mutex);
    if (m_queues.empty()) {
        return m_bypassedBefore;
    }
    return m_bypassedBefore + sessionBypassed(m_chains.countedPackets());
}

uint64_t NetfilterHook::decidedPackets() const {
    std::lock_guard lock(m_mutex);
    uint64_t total = m_decidedBefore;
    for (const auto& queue : m_queues) {
        total += queue->packets();
    }
    return total;
}

} // namespace ovlank
