#include "PortProcessMap.h"

#include "Messages.h"
#include "ProcNetTcpTable.h"

#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

namespace tavrin {

std::optional<PortProcessMap> ProcPortProcessMapper::build() {
    std::vector<ProcTcpEntry> entries;
    std::string error;
    if (!readProcNetTcp(entries, error))
        return std::nullopt;

    std::unordered_map<uint64_t, uint16_t> portOfInode;
    std::vector<uint64_t> inodes;
    inodes.reserve(entries.size());
    for (const ProcTcpEntry& entry : entries) {
        if (entry.inode == 0)
            continue;
        portOfInode.emplace(entry.inode, static_cast<uint16_t>(entry.row.localPort));
        inodes.push_back(entry.inode);
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
