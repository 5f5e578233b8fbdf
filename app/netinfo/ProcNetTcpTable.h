// The connection table without owners: the kernel's text table /proc/net/tcp (of the
// calling thread's network namespace).
#pragma once

#include "TcpTableSource.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin {

struct ProcTcpEntry {
    TcpRow row;         // processId stays -1
    uint64_t inode = 0; // 0 when no process holds the socket
};

// Parses the table's text: a heading line, then one line per socket. False, with
// the line number and what is wrong in `error`, at the first line that does not
// read; `out` then holds the lines before it.
bool parseProcNetTcp(std::string_view text, std::vector<ProcTcpEntry>& out, std::string& error);

// Reads and parses the table. False with a description in `error`.
bool readProcNetTcp(std::vector<ProcTcpEntry>& out, std::string& error);

class ProcNetTcpTable final : public TcpTableSource {
public:
    bool read(std::vector<TcpRow>& rows, std::string& error) override;
    bool hasOwners() const override { return false; }

private:
    std::vector<ProcTcpEntry> m_entries;
};

} // namespace tavrin
