// One TCP connection as the connection table keeps it, and the ordered set of them.
// Addresses and ports stay exactly as the kernel's tables store them: network byte
// order, a port in the low 16 bits of its field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include <arpa/inet.h>

namespace tavrin {

// State numbers as the rest of the program knows them.
enum TcpState : uint32_t {
    kTcpClosed = 1,
    kTcpListening = 2,
    kTcpSynSent = 3,
    kTcpSynReceived = 4,
    kTcpEstablished = 5,
    kTcpFinWait1 = 6,
    kTcpFinWait2 = 7,
    kTcpCloseWait = 8,
    kTcpClosing = 9,
    kTcpLastAck = 10,
    kTcpTimeWait = 11,
    kTcpDeleteTcb = 12,
};

// "ESTABLISHED", ...; "???" for a number outside 1 to 12.
std::string_view tcpStateText(uint32_t state);

struct TcpConnection {
    uint32_t state = 0;
    uint32_t localAddr = 0;     // network order
    uint32_t localPort = 0;     // network order in the low 16 bits
    uint32_t remoteAddr = 0;    // network order
    uint32_t remotePort = 0;    // like localPort; 0 whenever remoteAddr is 0
    int32_t processId = -1;     // -1 when unknown
    uint32_t age = 0;           // earlier refreshes in which this connection was present
    uint32_t upBytes = 0;       // wire bytes sent since this record was made
    uint32_t downBytes = 0;     // wire bytes received since this record was made
    uint32_t lastUpBytes = 0;   // upBytes of the previous refresh's record
    uint32_t lastDownBytes = 0; // downBytes of the previous refresh's record
};
static_assert(sizeof(TcpConnection) == 44, "eleven 32-bit fields");

// A port kept in network order in the low 16 bits, in host order.
inline uint16_t portHostOrder(uint32_t storedPort) {
    return ntohs(static_cast<uint16_t>(storedPort));
}

// The local port in host order, the table's first sort key.
inline uint16_t localPortHostOrder(const TcpConnection& c) {
    return portHostOrder(c.localPort);
}

// Same connection: equal local and remote endpoints. State and owner do not count.
bool sameConnection(const TcpConnection& a, const TcpConnection& b);

// The table's order: local port in host order, then the stored local address, remote
// port and remote address as unsigned values. Records with equal local ports are
// adjacent, which the port lists of process-bound filters rely on.
struct ConnectionOrder {
    bool operator()(const TcpConnection& a, const TcpConnection& b) const;
};

// The connections in ConnectionOrder, one record per identity. Kept as a sorted
// vector: it is rebuilt wholesale once a second and searched per captured packet.
class ConnectionSet final {
public:
    using const_iterator = std::vector<TcpConnection>::const_iterator;

    // Replaces the contents with `records`, in the order given. Where several records
    // share an identity the first one stays and the later ones are dropped.
    void assign(std::vector<TcpConnection> records);

    // For every record whose connection is also in `previous`: age becomes the
    // previous age plus one, and the previous byte counts become the last period's.
    void carryOver(const ConnectionSet& previous);

    // Adds one record unless its identity is already present; true when added.
    bool insert(const TcpConnection& record);

    // The record with the identity of `key` (only its endpoints are read).
    const TcpConnection* find(const TcpConnection& key) const;
    TcpConnection* find(const TcpConnection& key);

    void clear() { m_records.clear(); }
    size_t size() const { return m_records.size(); }
    bool empty() const { return m_records.empty(); }
    const_iterator begin() const { return m_records.begin(); }
    const_iterator end() const { return m_records.end(); }
    const TcpConnection& operator[](size_t i) const { return m_records[i]; }

private:
    std::vector<TcpConnection> m_records;
};

} // namespace tavrin
