#include "TcpConnection.h"

#include <algorithm>
#include <array>
#include <utility>

namespace tavrin {

std::string_view tcpStateText(uint32_t state) {
    static constexpr std::array<std::string_view, 13> kTexts = {
        "???",       "CLOSED",     "LISTENING", "SYN_SENT", "SYN_RCVD",  "ESTABLISHED", "FIN_WAIT1",
        "FIN_WAIT2", "CLOSE_WAIT", "CLOSING",   "LAST_ACK", "TIME_WAIT", "DELETE_TCB",
    };
    return state < kTexts.size() ? kTexts[state] : kTexts[0];
}

bool sameConnection(const TcpConnection& a, const TcpConnection& b) {
    return a.localPort == b.localPort && a.localAddr == b.localAddr &&
           a.remotePort == b.remotePort && a.remoteAddr == b.remoteAddr;
}

bool ConnectionOrder::operator()(const TcpConnection& a, const TcpConnection& b) const {
    const uint16_t pa = localPortHostOrder(a);
    const uint16_t pb = localPortHostOrder(b);
    if (pa != pb)
        return pa < pb;
    // The full stored port decides between fields that differ only above bit 15, so
    // the order never calls two records equivalent that are not the same connection.
    if (a.localPort != b.localPort)
        return a.localPort < b.localPort;
    if (a.localAddr != b.localAddr)
        return a.localAddr < b.localAddr;
    if (a.remotePort != b.remotePort)
        return a.remotePort < b.remotePort;
    return a.remoteAddr < b.remoteAddr;
}

void ConnectionSet::assign(std::vector<TcpConnection> records) {
    // A stable sort keeps equal identities in their given order, so unique() keeps
    // the first of them.
    std::stable_sort(records.begin(), records.end(), ConnectionOrder{});
    records.erase(std::unique(records.begin(), records.end(), sameConnection), records.end());
    m_records = std::move(records);
}

void ConnectionSet::carryOver(const ConnectionSet& previous) {
    // Both sets are in the same order, so one walk finds every match.
    const ConnectionOrder before;
    auto old = previous.m_records.begin();
    for (TcpConnection& record : m_records) {
        while (old != previous.m_records.end() && before(*old, record))
            ++old;
        if (old == previous.m_records.end())
            break;
        if (sameConnection(*old, record)) {
            record.age = old->age + 1;
            record.lastUpBytes = old->upBytes;
            record.lastDownBytes = old->downBytes;
        }
    }
}

bool ConnectionSet::insert(const TcpConnection& record) {
    const auto at = std::lower_bound(m_records.begin(), m_records.end(), record, ConnectionOrder{});
    if (at != m_records.end() && sameConnection(*at, record))
        return false;
    m_records.insert(at, record);
    return true;
}

const TcpConnection* ConnectionSet::find(const TcpConnection& key) const {
    const auto at = std::lower_bound(m_records.begin(), m_records.end(), key, ConnectionOrder{});
    if (at != m_records.end() && sameConnection(*at, key))
        return &*at;
    return nullptr;
}

TcpConnection* ConnectionSet::find(const TcpConnection& key) {
    return const_cast<TcpConnection*>(std::as_const(*this).find(key));
}

} // namespace tavrin
