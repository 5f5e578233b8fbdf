#include "ConnectionColumns.h"

#include "ConnectionText.h"
#include "PlainText.h"
#include "PortSpec.h"
#include "ProcessTable.h"
#include "RegistrableDomain.h"

#include <cstdio>

namespace tavrin::ui {

const std::array<ColumnHeading, kConnColumnCount> kConnectionHeadings = {{
    {"プロトコル", true, "TCP"},
    {"帯域(UP)", true, "9999.9 KB/s"},
    {"帯域(DOWN)", true, "9999.9 KB/s"},
    {"ローカルIPアドレス", false, "255.255.255.255"},
    {"ローカルポート", true, "65535"},
    {"リモートIPアドレス", false, "255.255.255.255"},
    {"リモートホスト名", false},
    {"リモートポート", true, "65535"},
    {"状態", false, "ESTABLISHED"},
    {"接続時間", true, "999分59秒"},
    {"プロセス名", false},
    {"プロセスID", true, "4194304"},
    {"プロセスのパス", false},
}};

namespace {

std::string kilobytesPerSecond(uint32_t bytes) {
    char text[48];
    std::snprintf(text, sizeof text, "%.1f KB/s", static_cast<double>(bytes) / 1024.0);
    return text;
}

template <typename T> int compareNumbers(T a, T b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

bool unavailablePath(std::string_view path) {
    return path.starts_with("N/A");
}

// Drive and directory of a path: everything up to its last '/', that one included.
std::string_view directoryOfPath(std::string_view path) {
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash + 1);
}

} // namespace

int compareIgnoringCase(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z')
            x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y)
            return x < y ? -1 : 1;
    }
    return compareNumbers(a.size(), b.size());
}

std::string connectionCellText(const TcpConnection& c, int column, const ConnectionNames& names) {
    switch (column) {
    case kConnProtocol: return "TCP";
    case kConnUp: return kilobytesPerSecond(c.lastUpBytes);
    case kConnDown: return kilobytesPerSecond(c.lastDownBytes);
    case kConnLocalAddress: return dottedAddress(c.localAddr);
    case kConnLocalPort: return std::to_string(portHostOrder(c.localPort));
    case kConnRemoteAddress: return dottedAddress(c.remoteAddr);
    case kConnRemoteHost:
        return names.hostName.empty() ? std::string(kHostNamePending) : std::string(names.hostName);
    case kConnRemotePort: {
        const auto port = static_cast<uint16_t>(c.remotePort);
        return FormatPortLabel(PortRange{port, port});
    }
    case kConnState: return std::string(tcpStateText(c.state));
    case kConnDuration: return connectionDurationText(c.age);
    case kConnProcessName: return std::string(names.processName);
    case kConnProcessId: return processIdText(c.processId);
    case kConnProcessPath: return std::string(names.processPath);
    default: return {};
    }
}

int compareConnections(const TcpConnection& a, const ConnectionNames& aNames,
                       const TcpConnection& b, const ConnectionNames& bNames, int column) {
    switch (column) {
    case kConnUp: return compareNumbers(a.lastUpBytes, b.lastUpBytes);
    case kConnDown: return compareNumbers(a.lastDownBytes, b.lastDownBytes);
    case kConnLocalAddress: return compareNumbers(ntohl(a.localAddr), ntohl(b.localAddr));
    case kConnLocalPort:
        return compareNumbers(portHostOrder(a.localPort), portHostOrder(b.localPort));
    case kConnRemoteAddress: return compareNumbers(ntohl(a.remoteAddr), ntohl(b.remoteAddr));
    case kConnRemoteHost: return compareIgnoringCase(aNames.hostName, bNames.hostName);
    case kConnRemotePort:
        return compareNumbers(portHostOrder(a.remotePort), portHostOrder(b.remotePort));
    case kConnState: return compareNumbers(a.state, b.state);
    case kConnDuration: return compareNumbers(a.age, b.age);
    case kConnProcessName:
    case kConnProcessPath: return compareIgnoringCase(aNames.processName, bNames.processName);
    case kConnProcessId: return compareNumbers(a.processId, b.processId);
    default: return 0; // the protocol column: every row is TCP
    }
}

bool connectionShown(const TcpConnection& c, bool showListening, bool activeOnly) {
    if (!showListening && c.state == kTcpListening)
        return false;
    if (activeOnly && (c.state < kTcpListening || c.state > kTcpEstablished))
        return false;
    return true;
}

commands::PlaceholderValues connectionPlaceholders(const TcpConnection& c,
                                                   const ConnectionNames& names) {
    const std::string_view path = names.processPath;
    commands::PlaceholderValues values = {
        {"%LocalAddr%", dottedAddress(c.localAddr)},
        {"%LocalPort%", std::to_string(portHostOrder(c.localPort))},
        {"%RemoteAddr%", dottedAddress(c.remoteAddr)},
        {"%RemotePort%", std::to_string(portHostOrder(c.remotePort))},
        {"%RemoteHost%", std::string(names.hostName)},
        {"%RemoteDomain%", registrableDomain(names.hostName)},
        {"%ProcessName%",
         unavailablePath(path) ? std::string(kSystemProcess) : std::string(fileNameOfPath(path))},
        {"%ProcessPath%", std::string(path)},
        {"%ProcessDir%",
         unavailablePath(path) ? std::string("N/A") : std::string(directoryOfPath(path))},
    };
    if (c.processId != -1)
        values.emplace_back("%ProcessID%", std::to_string(static_cast<uint32_t>(c.processId)));
    return values;
}

} // namespace tavrin::ui
