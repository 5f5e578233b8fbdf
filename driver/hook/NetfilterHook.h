// The packet hook on Linux: registering binds the daemon's netfilter queues (one
// reader thread each) and then diverts IPv4 traffic to them through the daemon's
// iptables chains; unregistering removes the chains first and then lets the
// readers decide what is still queued before the queues are released. Chains that
// could not be removed are remembered and removed at the next register or
// unregister; while registered, the chains are checked and put back when another
// program (a firewall reload) took them away.
#pragma once

#include "Engine.h"
#include "IptablesChains.h"
#include "JournalLines.h"
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
    using Log = std::function<void(tavrin::journal::Priority, const std::string& line)>;
    using Fatal = std::function<void(const std::string& line)>;

    NetfilterHook(std::string chainPrefix, uint16_t firstQueue, unsigned queueCount, Log log,
                  Fatal onFatal);
    ~NetfilterHook() override;

    // Must be set before the hook is registered.
    void setDecider(NetfilterQueue::Decide decide) { m_decide = std::move(decide); }

    // While registered, checks the chains and the jumps to them as well: success
    // when they are in place or could be put back.
    NtStatus registerHook() override;
    void unregisterHook() override;
    bool registered() const;
    // The chains are still in the firewall although unregistering tried to remove them.
    bool chainsLeft() const;

    // While registered: puts back the chains, or only the jumps to them, when they
    // are missing, and says so. Meant to be called about once a second.
    void checkChains();

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
    uint64_t receivedPackets() const;
    bool checkChainsLocked();
    bool removeChainsLocked(std::optional<uint64_t>* counted);

    IptablesChains m_chains;
    uint16_t m_firstQueue;
    unsigned m_queueCount;
    Log m_log;
    Fatal m_onFatal;
    NetfilterQueue::Decide m_decide;
    mutable std::mutex m_mutex;
    std::vector<std::unique_ptr<NetfilterQueue>> m_queues;
    uint64_t m_bypassedBefore = 0; // from hook sessions that have ended
    uint64_t m_decidedBefore = 0;
    // What the readers had received when the chains (and their counters) were last
    // put in: the counters count from there.
    uint64_t m_receivedAtInstall = 0;
    bool m_chainsLeft = false;    // a removal failed; the chains may still be there
    bool m_repairFailing = false; // the last attempt to put the chains back failed
};

} // namespace ovlank
