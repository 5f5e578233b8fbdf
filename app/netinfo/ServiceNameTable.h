// Well-known service names of single ports (and of the FTP pair 20-21), used to
// label port ranges in the filter lists and the connection monitor.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace tavrin {

struct ServiceNameRow {
    uint16_t port; // host order
    std::string_view name;
};

class ServiceNameTable final {
public:
    // Both ports in network order, as filters and connection records hold them.
    // The name of the port when both are equal and the port has a row, "ftp" for
    // the range 20-21, otherwise empty.
    static std::string_view serviceName(uint16_t lowNetworkOrder, uint16_t highNetworkOrder);

    // The name of one port given in host order, or empty.
    static std::string_view nameOfPort(uint16_t hostPort);

    // Every single-port row, ordered by port.
    static std::span<const ServiceNameRow> rows();

    static constexpr uint16_t kFtpRangeLow = 20;
    static constexpr uint16_t kFtpRangeHigh = 21;
    static constexpr std::string_view kFtpRangeName = "ftp";
};

} // namespace tavrin
