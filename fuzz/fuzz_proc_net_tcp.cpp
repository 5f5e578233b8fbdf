// The text table reader on arbitrary bytes, read as either table: it must refuse or
// read, never overrun.
#include "ProcNetTcpTable.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const auto file : {tavrin::ProcTcpFile::tcp, tavrin::ProcTcpFile::tcp6}) {
        std::vector<tavrin::TcpRow> rows;
        std::string error;
        const bool ok = tavrin::parseProcNetTcp(text, file, rows, error);
        // A refusal always says why; a success never does. Only tcp6 rows are IPv6 sockets.
        if (ok != error.empty())
            __builtin_trap();
        for (const tavrin::TcpRow& row : rows) {
            if (row.socket.ipv6 != (file == tavrin::ProcTcpFile::tcp6))
                __builtin_trap();
        }
    }
    return 0;
}
