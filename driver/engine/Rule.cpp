#include "Rule.h"

namespace ovlank {

bool Rule::isValid(const DriverRule& record) {
    return record.sourceRangeCount <= kMaxPortRanges &&
           record.destinationRangeCount <= kMaxPortRanges;
}

void Rule::setMatchAndAction(const DriverRule& record) {
    m_protocol = record.protocol;
    m_sourceAddress = record.sourceAddress & record.sourceMask;
    m_destinationAddress = record.destinationAddress & record.destinationMask;
    m_sourceMask = record.sourceMask;
    m_destinationMask = record.destinationMask;
    m_sourceRanges.assign(record.sourceRanges, record.sourceRangeCount);
    m_destinationRanges.assign(record.destinationRanges, record.destinationRangeCount);
    m_block = record.block != 0;
    m_connectionRequestsOnly = record.connectionRequestsOnly != 0;
    m_limit = record.limit;
    m_minimumSize = record.minimumSize;
}

} // namespace ovlank
