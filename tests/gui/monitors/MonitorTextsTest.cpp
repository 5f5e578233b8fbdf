// The monitors' texts without a window: connection cells, sort keys and the row
// filter, packet rows and TCP flags, and the values both give external commands.
#include "ConnectionColumns.h"
#include "MonitorFixtures.h"
#include "PacketBuilder.h"
#include "PacketInfo.h"
#include "ProcessTable.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <ctime>

namespace tavrin::ui {
namespace {

using ovlank::test::ip;
using ovlank::test::PacketBuilder;
using test::entryOf;

TcpConnection connection(const char* local, uint16_t localPort, const char* remote,
                         uint16_t remotePort, uint32_t state = kTcpEstablished, int32_t pid = 7) {
    TcpConnection c;
    c.state = state;
    c.localAddr = ::inet_addr(local);
    c.localPort = htons(localPort);
    c.remoteAddr = ::inet_addr(remote);
    c.remotePort = htons(remotePort);
    c.processId = pid;
    return c;
}

ConnectionNames named(std::string_view host = "", std::string_view path = "/usr/sbin/sshd") {
    static std::string name;
    name = displayNameOfPath(path);
    return {host, path, name};
}

struct CellCase {
    const char* what;
    TcpConnection record;
    int column;
    std::string expected;
};

TEST(ConnectionCells, ShowWhatTheRecordHolds) {
    TcpConnection c = connection("192.168.7.2", 5000, "10.1.2.3", 23, kTcpTimeWait, -1);
    c.age = 75;
    c.lastUpBytes = 1536;
    c.lastDownBytes = 0;
    TcpConnection young = c;
    young.age = 5;
    TcpConnection listening = connection("0.0.0.0", 80, "0.0.0.0", 0, kTcpListening, 1);
    TcpConnection strange = c;
    strange.state = 99;
    const CellCase cases[] = {
        {"protocol", c, kConnProtocol, "TCP"},
        {"up", c, kConnUp, "1.5 KB/s"},
        {"down", c, kConnDown, "0.0 KB/s"},
        {"local address", c, kConnLocalAddress, "192.168.7.2"},
        {"local port in host order", c, kConnLocalPort, "5000"},
        {"remote address", c, kConnRemoteAddress, "10.1.2.3"},
        {"remote port with its service", c, kConnRemotePort, "23 (telnet)"},
        {"a listener's remote port", listening, kConnRemotePort, "0"},
        {"state", c, kConnState, "TIME_WAIT"},
        {"unknown state", strange, kConnState, "???"},
        {"duration", c, kConnDuration, "1分15秒"},
        {"short duration", young, kConnDuration, "0分05秒"},
        {"unknown process id", c, kConnProcessId, "不明"},
        {"known process id", listening, kConnProcessId, "1"},
    };
    for (const CellCase& k : cases)
        EXPECT_EQ(connectionCellText(k.record, k.column, named()), k.expected) << k.what;

    const std::string unknown = displayNameOfPath(kUnknownProcess);
    const ConnectionNames none{"", kUnknownProcess, unknown};
    EXPECT_EQ(connectionCellText(c, kConnProcessName, none), "不明");
    EXPECT_EQ(connectionCellText(c, kConnRemoteHost, none), "検索中...");
    EXPECT_EQ(connectionCellText(c, kConnRemoteHost, named("mail.example.com")),
              "mail.example.com");
    EXPECT_EQ(connectionCellText(c, kConnProcessName, named()), "sshd");
    EXPECT_EQ(connectionCellText(c, kConnProcessPath, named()), "/usr/sbin/sshd");
    const std::string system = displayNameOfPath("N/A (error)");
    EXPECT_EQ(connectionCellText(c, kConnProcessName, {"", "N/A (error)", system}),
              "[System Process]");
}

struct OrderCase {
    const char* what;
    int column;
    TcpConnection a;
    ConnectionNames aNames;
    TcpConnection b;
    ConnectionNames bNames;
    int sign; // of compare(a, b)
};

int sign(int v) {
    return (v > 0) - (v < 0);
}

TEST(ConnectionCells, SortKeysCompareAsNumbersAndNamesWithoutCase) {
    TcpConnection slow = connection("10.0.0.1", 1, "10.0.0.2", 2);
    TcpConnection fast = slow;
    fast.lastUpBytes = 10;
    fast.lastDownBytes = 10;
    const std::string sshd = "sshd";
    const std::string upper = "SSHD";
    const std::string alpha = "alpha";
    const OrderCase cases[] = {
        {"addresses as host-order numbers",
         kConnLocalAddress,
         connection("9.255.255.255", 1, "1.1.1.1", 1),
         {},
         connection("10.0.0.1", 1, "1.1.1.1", 1),
         {},
         -1},
        {"remote addresses likewise",
         kConnRemoteAddress,
         connection("1.1.1.1", 1, "10.0.0.1", 1),
         {},
         connection("1.1.1.1", 1, "9.0.0.9", 1),
         {},
         1},
        {"ports in host order",
         kConnLocalPort,
         connection("1.1.1.1", 1, "1.1.1.1", 1),
         {},
         connection("1.1.1.1", 256, "1.1.1.1", 1),
         {},
         -1},
        {"remote ports in host order",
         kConnRemotePort,
         connection("1.1.1.1", 1, "1.1.1.1", 256),
         {},
         connection("1.1.1.1", 1, "1.1.1.1", 1),
         {},
         1},
        {"bandwidth up", kConnUp, slow, {}, fast, {}, -1},
        {"bandwidth down", kConnDown, fast, {}, slow, {}, 1},
        {"process ids signed",
         kConnProcessId,
         connection("1.1.1.1", 1, "1.1.1.1", 1, 5, -1),
         {},
         connection("1.1.1.1", 1, "1.1.1.1", 1, 5, 0),
         {},
         -1},
        {"states",
         kConnState,
         connection("1.1.1.1", 1, "1.1.1.1", 1, kTcpListening),
         {},
         connection("1.1.1.1", 1, "1.1.1.1", 1, kTcpTimeWait),
         {},
         -1},
        {"host names without case",
         kConnRemoteHost,
         slow,
         {"Mail.Example.com", "", ""},
         slow,
         {"mail.example.COM", "", ""},
         0},
        {"a pending name first", kConnRemoteHost, slow, {"", "", ""}, slow, {"a", "", ""}, -1},
        {"process names without case",
         kConnProcessName,
         slow,
         {"", "", sshd},
         slow,
         {"", "", upper},
         0},
        {"the path column sorts by process name",
         kConnProcessPath,
         slow,
         {"", "/z/sshd", sshd},
         slow,
         {"", "/a/alpha", alpha},
         1},
        {"the protocol column has no key", kConnProtocol, slow, {}, fast, {}, 0},
    };
    for (const OrderCase& k : cases) {
        EXPECT_EQ(sign(compareConnections(k.a, k.aNames, k.b, k.bNames, k.column)), k.sign)
            << k.what;
        EXPECT_EQ(sign(compareConnections(k.b, k.bNames, k.a, k.aNames, k.column)), -k.sign)
            << k.what << " (swapped)";
    }
}

TEST(ConnectionCells, RowFilterOfTheTwoBoxes) {
    struct Case {
        uint32_t state;
        bool listening;
        bool activeOnly;
        bool shown;
    };
    const Case cases[] = {
        {kTcpListening, false, false, false}, {kTcpListening, false, true, false},
        {kTcpListening, true, false, true},   {kTcpListening, true, true, true},
        {kTcpEstablished, false, true, true}, {kTcpSynSent, false, true, true},
        {kTcpSynReceived, false, true, true}, {kTcpTimeWait, false, true, false},
        {kTcpCloseWait, true, true, false},   {kTcpTimeWait, false, false, true},
        {kTcpClosed, true, true, false},
    };
    for (const Case& k : cases) {
        const TcpConnection c = connection("1.1.1.1", 1, "2.2.2.2", 2, k.state);
        EXPECT_EQ(connectionShown(c, k.listening, k.activeOnly), k.shown)
            << tcpStateText(k.state) << " listening " << k.listening << " active " << k.activeOnly;
    }
}

constexpr char kEveryPlaceholder[] =
    "%LocalAddr%:%LocalPort% %RemoteAddr%:%RemotePort% %RemoteHost% %RemoteDomain% "
    "%ProcessName% %ProcessID% %ProcessPath% %ProcessDir% %SrcAddr% %SrcPort% %DestAddr% "
    "%DestPort% %UserIn%";

TEST(ConnectionCells, ARowFillsItsPlaceholdersAndLeavesTheRestOpen) {
    const TcpConnection c =
        connection("192.168.7.2", 40000, "203.0.113.9", 443, kTcpEstablished, 1234);
    EXPECT_EQ(
        commands::fillRow(kEveryPlaceholder, connectionPlaceholders(c, named("www.example.co.jp"))),
        "192.168.7.2:40000 203.0.113.9:443 www.example.co.jp example.co.jp sshd 1234 "
        "/usr/sbin/sshd /usr/sbin/ %SrcAddr% %SrcPort% %DestAddr% %DestPort% %UserIn%");

    // Unreadable owner; host still pending; an unknown owner's id is asked, not -1
    // written as 4294967295.
    const TcpConnection unknown = connection("192.168.7.2", 1, "10.0.0.1", 2, kTcpEstablished, -1);
    const std::string system = displayNameOfPath("N/A (security restriction)");
    EXPECT_EQ(commands::fillRow(
                  "[%RemoteHost%][%RemoteDomain%][%ProcessName%][%ProcessDir%]["
                  "%ProcessPath%][%ProcessID%]",
                  connectionPlaceholders(unknown, {"", "N/A (security restriction)", system})),
              // Values holding blanks are quoted, so each stays the one word it fills.
              "[][][\"[System Process]\"][N/A][\"N/A (security restriction)\"][%ProcessID%]");
}

std::vector<std::string> row(const PacketInfo& p, PacketListKind kind, uint32_t number = 1) {
    std::vector<std::string> cells;
    for (int c = 0; c < packetColumnCount(kind); ++c)
        cells.push_back(packetCellText(p, number, c, kind));
    return cells;
}

std::string localTime(int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    ::localtime_r(&t, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

TEST(PacketRows, TcpUdpAndIcmpRowsInBothKindsOfList) {
    const int64_t when = 1700000000;
    const PacketInfo tcp = PacketInfo::fromEntry(
        entryOf(PacketBuilder::tcp(ip(10, 0, 0, 2), 1025, ip(10, 0, 0, 1), 80, 0x12)
                    .id(0xBEEF)
                    .window(8192)
                    .payload(26)),
        when);
    EXPECT_EQ(row(tcp, PacketListKind::Tcp, 42),
              (std::vector<std::string>{"42", localTime(when), "TCP", "80", "48879", "64",
                                        "10.0.0.2", "10.0.0.1", "1025", "80",
                                        std::to_string(0x12340000u), "0", "ACK,SYN", "8192"}));

    const PacketInfo udp = PacketInfo::fromEntry(
        entryOf(PacketBuilder::udp(ip(192, 168, 7, 2), 5353, ip(224, 0, 0, 251), 5353).payload(4)),
        when);
    EXPECT_EQ(row(udp, PacketListKind::Udp),
              (std::vector<std::string>{"1", localTime(when), "UDP", "46", "257", "64",
                                        "192.168.7.2", "224.0.0.251", "5353", "5353"}));
    // In a TCP-style list ("全て") a UDP packet has ports but no TCP columns.
    const std::vector<std::string> udpInAll = row(udp, PacketListKind::Tcp);
    EXPECT_EQ(udpInAll[2], "UDP");
    EXPECT_EQ(udpInAll[8], "5353");
    EXPECT_EQ(std::vector<std::string>(udpInAll.begin() + 10, udpInAll.end()),
              (std::vector<std::string>{"", "", "", ""}));

    const PacketInfo icmp =
        PacketInfo::fromEntry(entryOf(PacketBuilder::icmp(ip(10, 0, 0, 1), ip(10, 0, 0, 2))), when);
    const std::vector<std::string> icmpRow = row(icmp, PacketListKind::Tcp);
    EXPECT_EQ(icmpRow[2], "ICMP");
    EXPECT_EQ(icmpRow[3], "42");
    EXPECT_EQ(std::vector<std::string>(icmpRow.begin() + 8, icmpRow.end()),
              (std::vector<std::string>(6, "")));

    const PacketInfo gre = PacketInfo::fromEntry(
        entryOf(PacketBuilder::other(47, ip(10, 0, 0, 1), ip(10, 0, 0, 2)).payload(8)), when);
    EXPECT_EQ(row(gre, PacketListKind::Tcp)[2], "その他");
}

TEST(PacketRows, BytesTheDaemonDidNotCaptureAreNeverShown) {
    // A later fragment carries payload where ports would be; a cut header has no
    // flags or window.
    const PacketInfo fragment = PacketInfo::fromEntry(
        entryOf(
            PacketBuilder::tcp(ip(10, 0, 0, 2), 1025, ip(10, 0, 0, 1), 80).fragment(100, false)),
        0);
    const std::vector<std::string> cells = row(fragment, PacketListKind::Tcp);
    EXPECT_EQ(std::vector<std::string>(cells.begin() + 8, cells.end()),
              (std::vector<std::string>(6, "")));

    const PacketInfo cut = PacketInfo::fromEntry(
        entryOf(
            PacketBuilder::tcp(ip(10, 0, 0, 2), 1025, ip(10, 0, 0, 1), 80, 0x02).cutTransportTo(8)),
        0);
    const std::vector<std::string> cutCells = row(cut, PacketListKind::Tcp);
    EXPECT_EQ(cutCells[8], "1025");
    EXPECT_EQ(cutCells[10], std::to_string(0x12340000u));
    EXPECT_EQ(cutCells[11], "");
    EXPECT_EQ(cutCells[12], "");
    EXPECT_EQ(cutCells[13], "");

    // An entry claiming more than it holds is read as far as it can hold.
    ovlank::CaptureEntry lying = entryOf(PacketBuilder::tcp(ip(1, 1, 1, 1), 1, ip(2, 2, 2, 2), 2));
    lying.length = 0xFFFFFFFFu;
    EXPECT_EQ(PacketInfo::fromEntry(lying, 0).transportBytes, 20);
}

TEST(PacketRows, FlagTextsListTheSetFlagsInTheirOrder) {
    const std::pair<uint8_t, const char*> cases[] = {
        {0x00, ""},        {0x12, "ACK,SYN"}, {0x18, "ACK,PSH"}, {0x3F, "URG,ACK,PSH,RST,SYN,FIN"},
        {0x11, "ACK,FIN"}, {0x04, "RST"},     {0xC0, ""}, // ECE and CWR are not listed
    };
    for (const auto& [flags, text] : cases)
        EXPECT_EQ(tcpFlagsText(flags), text) << int{flags};
}

TEST(PacketRows, APacketRowFillsAddressesAndPortsOnly) {
    const PacketInfo udp = PacketInfo::fromEntry(
        entryOf(PacketBuilder::udp(ip(10, 0, 0, 2), 40000, ip(10, 0, 0, 1), 53)), 0);
    EXPECT_EQ(commands::fillRow(kEveryPlaceholder, packetPlaceholders(udp)),
              "%LocalAddr%:%LocalPort% %RemoteAddr%:%RemotePort% %RemoteHost% %RemoteDomain% "
              "%ProcessName% %ProcessID% %ProcessPath% %ProcessDir% 10.0.0.2 40000 10.0.0.1 53 "
              "%UserIn%");
    const PacketInfo icmp =
        PacketInfo::fromEntry(entryOf(PacketBuilder::icmp(ip(10, 0, 0, 1), ip(10, 0, 0, 2))), 0);
    EXPECT_EQ(commands::fillRow("ping %SrcAddr% %SrcPort%", packetPlaceholders(icmp)),
              "ping 10.0.0.1 %SrcPort%");
}

} // namespace
} // namespace tavrin::ui
