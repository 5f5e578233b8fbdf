// Reads the kernel's rtnetlink link and IPv4 address dumps. Kept apart from the
// socket so that every byte it is handed can be checked, and fuzzed, on its own.
#pragma once

#include "AdapterList.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tavrin {

struct LinkRecord {
    int32_t index = 0;
    uint32_t flags = 0; // IFF_*
    uint16_t type = 0;  // ARPHRD_*
    std::string name;
    std::string alias; // set with "ip link set NAME alias TEXT"
    std::string kind;  // driver kind of virtual links ("veth", "bridge", ...)
};

struct AddressRecord {
    int32_t index = 0;
    uint32_t address = 0; // network order
};

// Where one dump stands after the datagrams read so far.
struct DumpState {
    bool done = false;        // the end of the dump was seen
    bool failed = false;      // the kernel reported an error, or a message was malformed
    bool interrupted = false; // the tables changed during the dump; ask again
};

// Each call takes one datagram and appends what it holds. Messages of another
// sequence number are skipped; nothing past the datagram is ever read.
void parseLinkDatagram(std::span<const uint8_t> datagram, uint32_t sequence,
                       std::vector<LinkRecord>& links, DumpState& state);
void parseAddressDatagram(std::span<const uint8_t> datagram, uint32_t sequence,
                          std::vector<AddressRecord>& addresses, DumpState& state);

// The adapters in link order, loopback left out, each with its first IPv4 address.
std::vector<AdapterEntry> adaptersFromDump(const std::vector<LinkRecord>& links,
                                           const std::vector<AddressRecord>& addresses);

// The alias when one is set, else "NAME (KIND)" with the link's kind or type.
std::string adapterDescription(const LinkRecord& link);

} // namespace tavrin
