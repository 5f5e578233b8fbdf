// The netlink reply readers on arbitrary datagrams: every message length is checked
// against the bytes received.
#include "SockDiag.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first four bytes pick the request's sequence number.
    uint32_t sequence = 0;
    if (size >= sizeof(sequence)) {
        std::memcpy(&sequence, data, sizeof(sequence));
        data += sizeof(sequence);
        size -= sizeof(sequence);
    }
    const std::span<const unsigned char> datagram(data, size);
    std::vector<tavrin::DiagTcpSocket> sockets;
    tavrin::parseTcpDumpBatch(datagram, sequence, sockets);
    tavrin::parseAckBatch(datagram, sequence);
    // Each socket record takes more than a netlink header's worth of bytes.
    if (sockets.size() > size / 16)
        __builtin_trap();
    return 0;
}
