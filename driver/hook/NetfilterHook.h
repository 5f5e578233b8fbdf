// The packet hook on Linux: registering binds the daemon's netfilter queues (one
// reader thread each) and then diverts IPv4 traffic to them through the daemon's
// iptables chains; unregistering removes the chains first and then lets the
// readers decide what is still queued before the queues are released.
#pragma once

#include "Engine.h"
#include "IptablesChains.h"
#include "NetfilterQueue.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace ovlank {

class NetfilterHook final : public HookRegistrar {
public:
    using Log = std::function<void(const std::string& line)>;

    NetfilterHook(std::string chainPrefix, uint16_t firstQueue, unsigned queueCount, Log log,
                  Log onFatal);
    ~NetfilterHook() override;

    // Must be set before the hook is registered.
    void setDecider(NetfilterQueue::Decide decide) { m_decide = std::move(decide); }

    NtStatus registerHook() override;
    void unregisterHook() override;
    bool registered() const;

    // Removes chains of this prefix that a daemon which died without cleaning up left.
    bool removeLeftoverChains(std::string& error);

    // Packets that passed without a decision because the daemon could not keep up
    // (its queue or its socket was full), since start: those that entered the
    // chains, less those the readers received and those still waiting.
    uint64_t bypassedPackets() const;
    uint64_t decidedPackets() const;

private:
    // The running session's share; `counted` is what entered the chains so far.
    uint64_t sessionBypassed(std::optional<uint64_t> counted) const;

    IptablesChains m_chains;
    uint16_t m_firstQueue;
    unsigned m_queueCount;
    Log m_log;
    Log m_onFatal;
    NetfilterQueue::Decide m_decide;
    mutable std::mutex m_mutex;
    std::vector<std::unique_ptr<NetfilterQueue>> m_queues;
    uint64_t m_bypassedBefore = 0; // from hook sessions that have ended
    uint64_t m_decidedBefore = 0;
};

} // namespace ovlank
