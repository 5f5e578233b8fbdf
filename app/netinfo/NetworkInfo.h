// The program's picture of the machine's network: the TCP connection table with
// owners, ages and per-second byte counts, the process table, the host name
// resolver and the adapter list. The main dialog owns one for its whole life and drives it from its
// thread; only the resolver has a thread of its own.
#pragma once

#include "AdapterList.h"
#include "CEnumProcess.h"
#include "HostLookup.h"
#include "HostNameResolver.h"
#include "PortProcessMap.h"
#include "ProcessTable.h"
#include "TcpConnection.h"
#include "TcpTableSource.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace ovlank {
struct CaptureEntry;
}

namespace tavrin {

class Messages;

// The two settings the connection table reads, from the settings in force.
class NetworkInfoSettings {
public:
    virtual ~NetworkInfoSettings() = default;
    // SYSTEM_CHECK: use the owner table even on systems too old for it. Linux always
    // counts as new enough, so this never narrows the choice.
    virtual bool systemCheck() const = 0;
    // PORT_PROCESS_MAPPING: find owners by local port when the table has none.
    virtual bool portProcessMapping() const = 0;
};

class NetworkInfo final {
public:
    // The pieces of system access. Tests replace one where the machine cannot make
    // the state they need (a failing table, two rows with equal endpoints).
    struct Parts {
        std::unique_ptr<TcpTableSource> ownerSource; // null: no owner table here
        std::unique_ptr<TcpTableSource> plainSource;
        std::unique_ptr<PortProcessMapper> portMapper; // null: no port mapping
        std::unique_ptr<ConnectionCutter> cutter;      // null: connections cannot be cut
        std::shared_ptr<HostLookup> hostLookup;
        std::unique_ptr<AdapterSource> adapterSource; // null: the none entry alone
    };
    // The Linux implementations: sock_diag with /proc owners, /proc/net/tcp, the
    // /proc port map, SOCK_DESTROY, the system resolver and rtnetlink adapters.
    static Parts systemParts(Messages& messages);

    struct Options {
        std::chrono::milliseconds resolverPause = std::chrono::seconds(1);
        // Off: the resolver is never started, so no name is ever asked for (lookups
        // stay empty and queued addresses are never resolved).
        bool resolveNames = true;
        // Off: the start does not check this machine's own name and address.
        bool checkLocalHost = true;
    };

    // Starts the resolver (after checking the local host name and address, as the
    // options say), builds the adapter list, and picks the table source as if the
    // settings held their defaults.
    NetworkInfo(Messages& messages, Options options);
    explicit NetworkInfo(Messages& messages) : NetworkInfo(messages, Options{}) {}
    NetworkInfo(Messages& messages, Parts parts, Options options);
    ~NetworkInfo(); // stops the resolver, abandoning a lookup in progress
    NetworkInfo(const NetworkInfo&) = delete;
    NetworkInfo& operator=(const NetworkInfo&) = delete;

    // Decides the table source once the settings are read, and keeps `settings` (it
    // must outlive this object) to read PORT_PROCESS_MAPPING at every refresh.
    void selectSource(const NetworkInfoSettings& settings);
    bool ownerSourceInUse() const { return m_parts.ownerSource != nullptr; }

    // Rebuilds the table: the previous table becomes the previous set, ages and the
    // last period's byte counts carry over by identity, and the process table is
    // rebuilt. False when the system table could not be read (lastError() says why);
    // the current set is then empty.
    bool refresh();
    const std::string& lastError() const { return m_lastError; }

    // Adds one captured TCP packet's wire size to its connection: to upBytes of the
    // record whose local end is the packet's source, else to downBytes of the record
    // whose local end is its destination. Other packets count nowhere.
    void accountPacket(const ovlank::CaptureEntry& entry);

    // The current table in its order, valid until the next refresh.
    const ConnectionSet& connections() const { return m_current; }
    ConnectionSet::const_iterator begin() const { return m_current.begin(); }
    ConnectionSet::const_iterator end() const { return m_current.end(); }
    const ConnectionSet& previousConnections() const { return m_previous; }

    // Asks the kernel to end the connection: the socket the last refresh listed with
    // these endpoints (an IPv6 one carrying IPv4, one bound to a device), else any
    // IPv4 socket with them. 0 when it did, else an errno value (ENOTSUP when cutting
    // is not available). The record leaves the table at the next refresh.
    int cutConnection(const TcpConnection& connection);

    const ProcessTable& processTable() const { return m_processes; }
    CEnumProcess& processEnumerator() { return m_enumerator; }
    HostNameResolver& resolver() { return m_resolver; }

    // Rebuilt by the owner every five seconds (AdapterList::rebuild).
    AdapterList& adapters() { return m_adapters; }
    const AdapterList& adapters() const { return m_adapters; }

private:
    void buildRecords(const std::vector<TcpRow>& rows, const PortProcessMap* ports);

    Parts m_parts;
    const NetworkInfoSettings* m_settings = nullptr;
    ConnectionSet m_current;
    ConnectionSet m_previous;
    std::vector<TcpRow> m_rows;
    std::string m_lastError;
    CEnumProcess m_enumerator;
    ProcessTable m_processes;
    HostNameResolver m_resolver;
    AdapterList m_adapters;
};

} // namespace tavrin
