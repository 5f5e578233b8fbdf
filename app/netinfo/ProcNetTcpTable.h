// The connection table without owners: the kernel's text tables /proc/net/tcp and
// /proc/net/tcp6 (of the calling thread's network namespace).
#pragma once

#include "TcpTableSource.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin {

enum class ProcTcpFile { tcp, tcp6 };

// Parses one table's text: a heading line, then one line per socket. Rows keep
// processId -1 and carry the socket's inode. Of tcp6 only the sockets that carry
// IPv4 are kept: both addresses IPv4-mapped (the remote one may be :: while
// listening). Whether a listener on :: takes IPv4 too (IPV6_V6ONLY) does not show
// there, so those are left out. False, with the line number and what is wrong in
// `error`, at the first line that does not read; `out` then holds the rows before it.
bool parseProcNetTcp(std::string_view text, ProcTcpFile file, std::vector<TcpRow>& out,
                     std::string& error);

class ProcNetTcpTable final : public TcpTableSource {
public:
    // The rows of tcp, then those of tcp6 (absent when IPv6 is off).
    bool read(std::vector<TcpRow>& rows, std::string& error) override;
    bool hasOwners() const override { return false; }

private:
    std::string m_text;
    std::vector<TcpRow> m_ipv6Rows;
};

} // namespace tavrin
