// One rule of the list: what it matches, what it does, and its byte counter.
#pragma once

#include "OvlankProtocol.h"
#include "PacketFields.h"
#include "PortList.h"
#include "PortRangeSet.h"

#include <cstdint>

namespace ovlank {

class Rule final {
public:
    // A record is usable only if its range counts stay within the 16 ranges it holds.
    static bool isValid(const DriverRule& record);

    // The match and action fields of ADD_FILTER and CHANGE_FILTER; addresses are kept
    // ANDed with their masks. Counter and port list are left alone.
    void setMatchAndAction(const DriverRule& record);

    // The state of a freshly added rule beyond its record: counter 0, no port list.
    void resetRuntime() {
        m_byteCounter = 0;
        m_portList.reset();
    }

    // Protocol and addresses: all a packet of another protocol than TCP and UDP is
    // matched on.
    bool matchesProtocolAndAddresses(const PacketFields& packet) const {
        if (m_protocol != 0 && m_protocol != packet.protocol)
            return false;
        if (m_sourceAddress != 0 && m_sourceAddress != (packet.sourceAddress & m_sourceMask))
            return false;
        if (m_destinationAddress != 0 &&
            m_destinationAddress != (packet.destinationAddress & m_destinationMask))
            return false;
        return true;
    }

    bool portRangesMatch(const PacketFields& packet) const {
        if (!packet.portsKnown)
            return m_sourceRanges.isAny() && m_destinationRanges.isAny();
        if (!m_destinationRanges.isAny() && !m_destinationRanges.contains(packet.destinationPort))
            return false;
        return m_sourceRanges.isAny() || m_sourceRanges.contains(packet.sourcePort);
    }

    bool portListMatches(const PacketFields& packet) const {
        if (!packet.portsKnown)
            return !m_portList.restricts();
        return m_portList.matches(packet.sourcePort, packet.destinationPort);
    }

    bool block() const { return m_block; }
    bool connectionRequestsOnly() const { return m_connectionRequestsOnly; }

    // The rule's budget for this period is spent and the packet is big enough to be
    // held back.
    bool overLimit(uint32_t wireSize) const {
        return m_limit != 0 && m_byteCounter >= m_limit && wireSize > m_minimumSize;
    }

    // Counting is one 32-bit addition; it wraps like the counter it models.
    void count(uint32_t wireSize) { m_byteCounter += wireSize; }
    uint32_t byteCounter() const { return m_byteCounter; }
    void resetCounter() { m_byteCounter = 0; }

    PortList& portList() { return m_portList; }

private:
    // Hot fields first: the rule walk touches these for every packet.
    uint16_t m_protocol = 0;
    bool m_block = false;
    bool m_connectionRequestsOnly = false;
    uint32_t m_sourceAddress = 0;
    uint32_t m_destinationAddress = 0;
    uint32_t m_sourceMask = 0;
    uint32_t m_destinationMask = 0;
    uint32_t m_limit = 0;
    uint32_t m_minimumSize = 0;
    uint32_t m_byteCounter = 0;
    PortRangeSet m_sourceRanges;
    PortRangeSet m_destinationRanges;
    PortList m_portList;
};

} // namespace ovlank
