// The text table reader on arbitrary bytes: it must refuse or read, never overrun.
#include "ProcNetTcpTable.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<tavrin::ProcTcpEntry> entries;
    std::string error;
    const bool ok = tavrin::parseProcNetTcp(
        std::string_view(reinterpret_cast<const char*>(data), size), entries, error);
    // A refusal always says why; a success never does.
    if (ok == error.empty())
        return 0;
    __builtin_trap();
}
