// Which process owns each local TCP port, for a connection table whose rows carry no
// owners. The key is the port exactly as the table stores it (network order); the
// first holder wins, holders taken in ascending process id and descriptor order.
#pragma once

#include "SocketOwnerIndex.h"

#include <cstdint>
#include <map>
#include <optional>

namespace tavrin {

class Messages;

using PortProcessMap = std::map<uint16_t, uint32_t>;

class PortProcessMapper {
public:
    virtual ~PortProcessMapper() = default;
    // The map, possibly empty (holders could not be listed), or nothing when the
    // mapping is unavailable (the socket table itself could not be read).
    virtual std::optional<PortProcessMap> build() = 0;
};

// Joins the socket inodes of /proc/net/tcp with the descriptors in /proc/<pid>/fd.
class ProcPortProcessMapper final : public PortProcessMapper {
public:
    explicit ProcPortProcessMapper(Messages& messages) : m_messages(messages) {}

    std::optional<PortProcessMap> build() override;

private:
    Messages& m_messages;
    SocketOwnerIndex m_index;
    bool m_errorShown = false; // the failure message appears once per run
};

} // namespace tavrin
