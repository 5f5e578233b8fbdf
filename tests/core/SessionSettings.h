// Settings files, packets and connection tables the session tests share.
#pragma once

#include "CoreHarness.h"
#include "PacketBuilder.h"

#include <memory>
#include <string>
#include <vector>

namespace tavrin::core::test {

// A packet filter section; `extra` lines override the defaults given here.
inline std::string packetSection(int n, const std::string& extra) {
    return "[PacketFilter" + std::to_string(n) + "]\nPROTOCOL=17\nDIR=DOWN\nMY_IP_MASK=0.0.0.0\n" +
           "AVAILABLE=TRUE\nID=" + std::to_string(n) + "\n" + extra;
}

inline std::string common(const std::string& extra = {}) {
    return "[Common Settings]\nAUTO_SAVE=FALSE\n" + extra;
}

// Three filters: UDP port 5555 dropped, a disabled one, UDP port 6666 limited to 10 KB/s.
inline std::string threeFilters(const std::string& commonExtra = {}) {
    return common(commonExtra) +
           packetSection(1,
                         "MY_PORT=5555\nIS_MY_ALL_PORT=FALSE\nDROP=TRUE\nDROP_SYN_ONLY=FALSE\n") +
           packetSection(2, "AVAILABLE=FALSE\nDROP=TRUE\nDROP_SYN_ONLY=FALSE\n") +
           packetSection(3, "MY_PORT=6666\nIS_MY_ALL_PORT=FALSE\nDO_BAND=TRUE\nBANDWIDTH=10\n"
                            "MINIMUM_PACKET_SIZE=0\n");
}

inline ovlank::test::PacketBuilder toLocal(uint16_t port, size_t payload = 100) {
    return ovlank::test::PacketBuilder::udp(kRemote, 40000, kLocal, port).payload(payload);
}

// A connection table as the test sets it.
class RowsTable final : public TcpTableSource {
public:
    explicit RowsTable(std::shared_ptr<std::vector<TcpRow>> rows) : m_rows(std::move(rows)) {}
    bool read(std::vector<TcpRow>& rows, std::string&) override {
        rows = *m_rows;
        return true;
    }
    bool hasOwners() const override { return true; }

private:
    std::shared_ptr<std::vector<TcpRow>> m_rows;
};

} // namespace tavrin::core::test
