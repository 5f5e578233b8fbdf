#include "PortProcessMap.h"

#include "Messages.h"

#include <cstdio>
#include <unordered_map>
#include <vector>

namespace tavrin {

std::optional<PortProcessMap> ProcPortProcessMapper::build(std::span<const TcpRow> rows) {
    std::unordered_map<uint64_t, uint16_t> portOfInode;
    std::vector<uint64_t> inodes;
    inodes.reserve(rows.size());
    for (const TcpRow& row : rows) {
        if (row.inode == 0)
            continue;
        portOfInode.emplace(row.inode, static_cast<uint16_t>(row.localPort));
        inodes.push_back(row.inode);
    }

    PortProcessMap map;
    int status = 0;
    if (!m_index.update(inodes, status)) {
        if (!m_errorShown) {
            m_errorShown = true;
            char text[512];
            std::snprintf(
                text, sizeof(text),
                "error open handlelist\nerror code: %d\n何度もこのエラーが出る場合はオ"
                "プションの「プロセスとポートのマッピングをしない」にチェックをしてください",
                status);
            m_messages.show(text);
        }
        return map;
    }
    for (const auto& [pid, process] : m_index.processes()) {
        for (const uint64_t inode : process.sockets) {
            const auto port = portOfInode.find(inode);
            if (port != portOfInode.end())
                map.try_emplace(port->second, static_cast<uint32_t>(pid));
        }
    }
    return map;
}

} // namespace tavrin
