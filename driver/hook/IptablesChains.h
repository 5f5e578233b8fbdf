// The daemon's own iptables chains: PREFIX_IN (jumped to from INPUT for packets
// not arriving on lo) and PREFIX_OUT (jumped to from OUTPUT), each sending every
// IPv4 packet to the daemon's netfilter queues with --queue-bypass. They live at
// the end of the mangle table's chains, so that a packet the daemon accepts still
// meets the host's own filter rules afterwards. Each chain starts with a rule
// without target whose packet counter tells how many packets entered it, so that
// those the queues never saw can be counted.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ovlank {

class IptablesChains final {
public:
    IptablesChains(std::string prefix, uint16_t firstQueue, unsigned queueCount);

    // Replaces whatever chains of this prefix are left over, in one transaction:
    // either everything is in place afterwards or nothing has changed.
    bool install(std::string& error);
    // Removes the jumps to this prefix's chains and the chains themselves, and
    // nothing else. Succeeds when there was nothing to remove; `found` (when given)
    // tells whether there was anything. The jumps go first, so that `counted` (when
    // given) receives the final count of the packets that entered the chains; it
    // stays empty when no counting rule was found.
    bool remove(std::string& error, std::optional<uint64_t>* counted = nullptr,
                bool* found = nullptr);
    // Removes only the jumps to this prefix's chains: traffic then passes without
    // entering them, and the chains stay for whoever attaches them again.
    bool detach(std::string& error, bool* found = nullptr);
    // Packets that have entered the chains since they were installed.
    std::optional<uint64_t> countedPackets() const;

    const std::string& inputChain() const { return m_inputChain; }
    const std::string& outputChain() const { return m_outputChain; }

    // Script building and parsing, apart from running the tools so that they can be
    // tested. Saved text may carry counters ("[packets:bytes] -A ...") or not.
    std::string installScript(const std::string& savedMangle) const;
    // Empty when nothing of this prefix is present in `savedMangle`.
    std::string removalScript(const std::string& savedMangle) const;
    // The sum of the counting rules of both chains; empty when either is missing.
    std::optional<uint64_t> countedIn(const std::string& savedWithCounters) const;
    // True when the chains in `savedMangle` carry the mark that their install made
    // the mangle table: only then may removing them take the table away.
    bool madeTheTable(const std::string& savedMangle) const;
    // True when the saved table has only its built-in chains, each accepting, with no
    // rules and no other chains: such a table filters nothing and may be dropped.
    static bool tableIsEmpty(const std::string& savedTable);

private:
    // Deletes the jumps found in `saved` and saves it again when there were any.
    bool removeJumps(std::string& saved, std::string& error, bool& found) const;
    // A "-D" line for every rule outside our chains that jumps to one of them.
    std::string jumpsToOurChains(const std::string& savedMangle) const;
    bool chainDeclared(const std::string& savedMangle, const std::string& chain) const;
    std::string queueTarget() const;

    std::string m_inputChain;
    std::string m_outputChain;
    uint16_t m_firstQueue;
    unsigned m_queueCount;
};

} // namespace ovlank
