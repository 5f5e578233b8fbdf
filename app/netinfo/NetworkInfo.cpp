#include "NetworkInfo.h"

#include "LinuxAdapterSource.h"
#include "Messages.h"
#include "OvlankProtocol.h"
#include "ProcNetTcpTable.h"
#include "SockDiagTcpTable.h"

#include <cerrno>
#include <cstring>
#include <limits>

namespace tavrin {

namespace {

void addSaturating(uint32_t& counter, uint32_t amount) {
    counter = amount > std::numeric_limits<uint32_t>::max() - counter
                  ? std::numeric_limits<uint32_t>::max()
                  : counter + amount;
}

uint32_t read32(const uint8_t* bytes) {
    uint32_t value;
    std::memcpy(&value, bytes, sizeof(value));
    return value;
}

uint16_t read16(const uint8_t* bytes) {
    uint16_t value;
    std::memcpy(&value, bytes, sizeof(value));
    return value;
}

TcpConnection endpoints(uint32_t localAddr, uint16_t localPort, uint32_t remoteAddr,
                        uint16_t remotePort) {
    TcpConnection key;
    key.localAddr = localAddr;
    key.localPort = localPort;
    key.remoteAddr = remoteAddr;
    key.remotePort = remoteAddr == 0 ? 0 : remotePort;
    return key;
}

TcpConnection endpoints(const TcpRow& row) {
    return endpoints(row.localAddr, static_cast<uint16_t>(row.localPort), row.remoteAddr,
                     static_cast<uint16_t>(row.remotePort));
}

} // namespace

NetworkInfo::Parts NetworkInfo::systemParts(Messages& messages) {
    Parts parts;
    auto owner = std::make_unique<SockDiagTcpTable>();
    if (owner->available())
        parts.ownerSource = std::move(owner);
    parts.plainSource = std::make_unique<ProcNetTcpTable>();
    parts.portMapper = std::make_unique<ProcPortProcessMapper>(messages);
    parts.cutter = std::make_unique<SockDiagCutter>();
    parts.hostLookup = std::make_unique<SystemHostLookup>();
    parts.adapterSource = std::make_unique<LinuxAdapterSource>();
    return parts;
}

NetworkInfo::NetworkInfo(Messages& messages, Options options)
    : NetworkInfo(messages, systemParts(messages), options) {}

NetworkInfo::NetworkInfo(Messages& messages, Parts parts, Options options)
    : m_parts(std::move(parts)), m_resolver(m_parts.hostLookup, options.resolverPause),
      m_adapters(std::move(m_parts.adapterSource)) {
    if (options.resolveNames)
        m_resolver.start(messages, options.checkLocalHost);
    m_adapters.rebuild();
}

NetworkInfo::~NetworkInfo() {
    m_resolver.stop();
}

void NetworkInfo::selectSource(const NetworkInfoSettings& settings) {
    // Linux counts as the newest system, so SYSTEM_CHECK has nothing to add: the
    // owner table is used wherever the kernel offers it (ownerSourceInUse).
    m_settings = &settings;
}

bool NetworkInfo::refresh() {
    std::swap(m_previous, m_current);
    m_current.clear();
    m_lastError.clear();

    TcpTableSource* source =
        ownerSourceInUse() ? m_parts.ownerSource.get() : m_parts.plainSource.get();
    if (source == nullptr) {
        m_lastError = "no TCP table source";
        return false;
    }
    if (!source->read(m_rows, m_lastError))
        return false;
    m_processes.rebuild(m_enumerator);

    std::optional<PortProcessMap> ports;
    const bool mapping = m_settings == nullptr || m_settings->portProcessMapping();
    if (!source->hasOwners() && mapping && m_parts.portMapper != nullptr)
        ports = m_parts.portMapper->build(m_rows);
    buildRecords(m_rows, ports ? &*ports : nullptr);
    return true;
}

void NetworkInfo::buildRecords(const std::vector<TcpRow>& rows, const PortProcessMap* ports) {
    std::vector<TcpConnection> records;
    records.reserve(rows.size());
    for (const TcpRow& row : rows) {
        TcpConnection record = endpoints(row);
        record.state = row.state;
        record.processId = row.processId;
        if (ports != nullptr) {
            const auto owner = ports->find(static_cast<uint16_t>(record.localPort));
            if (owner != ports->end())
                record.processId = static_cast<int32_t>(owner->second);
        }
        records.push_back(record);
    }
    m_current.assign(std::move(records));
    m_current.carryOver(m_previous);
}

void NetworkInfo::accountPacket(const ovlank::CaptureEntry& entry) {
    // The ports are the first four transport bytes; an entry without them, or one
    // claiming more bytes than it holds, counts nowhere.
    if (entry.length < ovlank::kCaptureIpHeaderSize + 4 ||
        entry.length > ovlank::kCaptureIpHeaderSize + ovlank::kCaptureTransportSize)
        return;
    const uint8_t* ip = entry.ipHeader;
    if ((ip[0] >> 4) != 4 || ip[9] != ovlank::kProtocolTcp)
        return;
    // A later fragment carries payload where the ports would be.
    if (((ip[6] & 0x1F) | ip[7]) != 0)
        return;
    const uint32_t length =
        ((static_cast<uint32_t>(ip[2]) << 8) | ip[3]) + ovlank::kEthernetHeaderSize;
    const uint32_t source = read32(ip + 12);
    const uint32_t destination = read32(ip + 16);
    const uint16_t sourcePort = read16(entry.transport);
    const uint16_t destinationPort = read16(entry.transport + 2);

    if (TcpConnection* sent =
            m_current.find(endpoints(source, sourcePort, destination, destinationPort))) {
        addSaturating(sent->upBytes, length);
        return;
    }
    if (TcpConnection* received =
            m_current.find(endpoints(destination, destinationPort, source, sourcePort)))
        addSaturating(received->downBytes, length);
}

int NetworkInfo::cutConnection(const TcpConnection& connection) {
    if (m_parts.cutter == nullptr)
        return ENOTSUP;
    // The socket of the last table's first row with these endpoints: the one whose
    // record the table kept.
    TcpSocketId socket;
    for (const TcpRow& row : m_rows) {
        if (sameConnection(endpoints(row), connection)) {
            socket = row.socket;
            break;
        }
    }
    return m_parts.cutter->cut(connection, socket);
}

} // namespace tavrin
