// Which process owns each local TCP port, for a connection table whose rows carry no
// owners. The key is the port exactly as the table stores it (network order); the
// first holder wins, holders taken in ascending process id and descriptor order.
#pragma once

#include "SocketOwnerIndex.h"
#include "TcpTableSource.h"

#include <cstdint>
#include <map>
#include <optional>
#include <span>

namespace tavrin {

class Messages;

using PortProcessMap = std::map<uint16_t, uint32_t>;

class PortProcessMapper {
public:
    virtual ~PortProcessMapper() = default;
    // The map for the table `rows` just read, possibly empty (holders could not be
    // listed), or nothing when the mapping is unavailable.
    virtual std::optional<PortProcessMap> build(std::span<const TcpRow> rows) = 0;
};

// Joins the socket inodes of the rows with the descriptors in /proc/<pid>/fd.
class ProcPortProcessMapper final : public PortProcessMapper {
public:
    explicit ProcPortProcessMapper(Messages& messages) : m_messages(messages) {}

    std::optional<PortProcessMap> build(std::span<const TcpRow> rows) override;

private:
    Messages& m_messages;
    SocketOwnerIndex m_index;
    bool m_errorShown = false; // the failure message appears once per run
};

} // namespace tavrin
