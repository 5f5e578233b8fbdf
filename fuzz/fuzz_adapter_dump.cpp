// Netlink dumps as the adapter list reads them. The kernel is trusted to be sane,
// but the parser must not read past a datagram whatever lengths it claims.
#include "AdapterDumpParser.h"

#include <cstdint>
#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    // Sequence numbers the generated messages can match: 0 and 1.
    for (uint32_t sequence = 0; sequence < 2; ++sequence) {
        std::vector<tavrin::LinkRecord> links;
        std::vector<tavrin::AddressRecord> addresses;
        tavrin::DumpState linkState;
        tavrin::DumpState addressState;
        tavrin::parseLinkDatagram(bytes, sequence, links, linkState);
        tavrin::parseAddressDatagram(bytes, sequence, addresses, addressState);
        const auto adapters = tavrin::adaptersFromDump(links, addresses);
        if (adapters.size() > links.size())
            std::abort();
    }
    return 0;
}
