#include "ServiceNameTable.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace tavrin {
namespace {

// The well-known names written out once more in their published form, so that a
// slip in the compiled table shows.
constexpr const char* kPublishedList =
    "1 \"tcpmux\", 2 \"compressnet\", 3 \"compressnet\", 5 \"rje\", 7 \"echo\", "
    "9 \"discard\", 11 \"systat\", 13 \"daytime\", 17 \"qotd\", 18 \"msp\", 19 \"chargen\", "
    "20 \"ftp-data\", 21 \"ftp-control\", 22 \"ssh\", 23 \"telnet\", 25 \"smtp\", "
    "27 \"nsw-fe\", 29 \"msg-icp\", 31 \"msg-auth\", 33 \"dsp\", 37 \"time\", 38 \"rap\", "
    "39 \"rlp\", 41 \"graphics\", 42 \"name\", 43 \"nicname\", 44 \"mpm-flags\", 45 \"mpm\", "
    "46 \"mpm-snd\", 47 \"ni-ftp\", 48 \"auditd\", 49 \"tacacs\", 50 \"re-mail-ck\", "
    "51 \"la-maint\", 52 \"xns-time\", 53 \"domain\", 54 \"xns-ch\", 55 \"isi-gl\", "
    "56 \"xns-auth\", 58 \"xns-mail\", 61 \"ni-mail\", 62 \"acas\", 63 \"whois++\", "
    "64 \"covia\", 65 \"tacacs-ds\", 66 \"sql*net\", 67 \"bootps\", 68 \"bootpc\", "
    "69 \"tftp\", 70 \"gopher\", 71 \"netrjs-1\", 72 \"netrjs-2\", 73 \"netrjs-3\", "
    "74 \"netrjs-4\", 76 \"deos\", 78 \"vettcp\", 79 \"finger\", 80 \"http\", "
    "81 \"hosts2-ns\", 82 \"xfer\", 83 \"mit-ml-dev\", 84 \"ctf\", 85 \"mit-ml-dev\", "
    "86 \"mfcobol\", 88 \"kerberos\", 89 \"su-mit-tg\", 90 \"dnsix\", 91 \"mit-dov\", "
    "92 \"npp\", 93 \"dcp\", 94 \"objcall\", 95 \"supdup\", 96 \"dixie\", 97 \"swift-rvf\", "
    "98 \"tacnews\", 99 \"metagram\", 100 \"newacct\", 101 \"hostname\", 102 \"iso-tsap\", "
    "103 \"gppitnp\", 104 \"acr-nema\", 105 \"csnet-ns\", 106 \"3com-tsmux\", "
    "107 \"rtelnet\", 108 \"snagas\", 109 \"pop2\", 110 \"pop3\", 111 \"sunrpc\", "
    "112 \"mcidas\", 113 \"auth\", 114 \"audionews\", 115 \"sftp\", 116 \"ansanotify\", "
    "117 \"uucp-path\", 118 \"sqlserv\", 119 \"nntp\", 120 \"cfdptkt\", 121 \"erpc\", "
    "122 \"smakynet\", 123 \"ntp\", 124 \"ansatrader\", 125 \"locus-map\", 126 \"unitary\", "
    "127 \"locus-con\", 128 \"gss-xlicen\", 129 \"pwdgen\", 130 \"cisco-fna\", "
    "131 \"cisco-tna\", 132 \"cisco-sys\", 133 \"statsrv\", 134 \"ingres-net\", "
    "135 \"epmap\", 136 \"profile\", 137 \"netbios-ns\", 138 \"netbios-dgm\", "
    "139 \"netbios-ssn\", 140 \"emfis-data\", 141 \"emfis-cntl\", 142 \"bl-idm\", "
    "143 \"imap\", 144 \"uma\", 145 \"uaac\", 146 \"iso-tp0\", 147 \"iso-ip\", "
    "148 \"jargon\", 149 \"aed-512\", 150 \"sql-net\", 151 \"hems\", 152 \"bftp\", "
    "153 \"sgmp\", 154 \"netsc-prod\", 155 \"netsc-dev\", 156 \"sqlsrv\", 157 \"knet-cmp\", "
    "158 \"pcmail-srv\", 159 \"nss-routing\", 160 \"sgmp-traps\", 161 \"snmp\", "
    "162 \"snmptrap\", 163 \"cmip-man\", 164 \"cmip-agent\", 165 \"xns-courier\", "
    "166 \"s-net\", 167 \"namp\", 168 \"rsvd\", 169 \"send\", 170 \"print-srv\", "
    "171 \"multiplex\", 172 \"cl/1\", 173 \"xyplex-mux\", 174 \"mailq\", 175 \"vmnet\", "
    "176 \"genrad-mux\", 177 \"xdmcp\", 178 \"nextstep\", 179 \"bgp\", 180 \"ris\", "
    "181 \"unify\", 182 \"audit\", 183 \"ocbinder\", 184 \"ocserver\", 185 \"remote-kis\", "
    "186 \"kis\", 187 \"aci\", 188 \"mumps\", 189 \"qft\", 190 \"gacp\", 191 \"prospero\", "
    "192 \"osu-nms\", 193 \"srmp\", 194 \"irc\", 195 \"dn6-nlm-aud\", 196 \"dn6-smm-red\", "
    "197 \"dls\", 198 \"dls-mon\", 199 \"smux\", 200 \"src\", 201 \"at-rtmp\", "
    "202 \"at-nbp\", 203 \"at-3\", 204 \"at-echo\", 205 \"at-5\", 206 \"at-zis\", "
    "207 \"at-7\", 208 \"at-8\", 209 \"qmtp\", 210 \"z39.50\", 211 \"914c/g\", 212 \"anet\", "
    "213 \"ipx\", 214 \"vmpwscs\", 215 \"softpc\", 216 \"CAIlic\", 443 \"https\", "
    "1863 \"msnp\", 2010 \"kaze\", 2011 \"kaze\", 6699 \"winmx\"";

// Reads "1 "tcpmux", 2 "compressnet", ..." into (port, name) pairs.
std::vector<std::pair<int, std::string>> publishedRows() {
    std::vector<std::pair<int, std::string>> rows;
    const std::string text(kPublishedList);
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t open = text.find('"', pos);
        if (open == std::string::npos)
            break;
        const size_t close = text.find('"', open + 1);
        const size_t numberStart = text.find_first_of("0123456789", pos);
        const int port = std::stoi(text.substr(numberStart, open - numberStart));
        rows.emplace_back(port, text.substr(open + 1, close - open - 1));
        pos = close + 1;
    }
    return rows;
}

std::string_view nameOf(uint16_t low, uint16_t high) {
    return ServiceNameTable::serviceName(htons(low), htons(high));
}

TEST(ServiceNameTable, HoldsEveryPublishedRowExactly) {
    const auto expected = publishedRows();
    ASSERT_EQ(expected.size(), 198u);
    const auto rows = ServiceNameTable::rows();
    ASSERT_EQ(rows.size(), expected.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].port, expected[i].first) << "row " << i;
        EXPECT_EQ(rows[i].name, expected[i].second) << "row " << i;
        const auto port = static_cast<uint16_t>(expected[i].first);
        EXPECT_EQ(nameOf(port, port), expected[i].second) << "port " << port;
    }
}

TEST(ServiceNameTable, SinglePortsAndTheFtpRange) {
    EXPECT_EQ(nameOf(23, 23), "telnet");
    EXPECT_EQ(nameOf(20, 21), "ftp");
    EXPECT_EQ(nameOf(20, 20), "ftp-data");
    EXPECT_EQ(nameOf(21, 21), "ftp-control");
    EXPECT_EQ(nameOf(2010, 2010), "kaze");
    EXPECT_EQ(nameOf(2011, 2011), "kaze");
    EXPECT_EQ(nameOf(85, 85), "mit-ml-dev");
    EXPECT_EQ(nameOf(83, 83), "mit-ml-dev");
    EXPECT_EQ(nameOf(216, 216), "CAIlic");
    EXPECT_EQ(nameOf(6699, 6699), "winmx");
    EXPECT_EQ(nameOf(443, 443), "https");
}

TEST(ServiceNameTable, UnknownPortsAndOtherRangesHaveNoName) {
    EXPECT_EQ(nameOf(23, 24), "");
    EXPECT_EQ(nameOf(8080, 8080), "");
    EXPECT_EQ(nameOf(21, 20), ""); // only the ordered pair is the ftp range
    EXPECT_EQ(nameOf(20, 22), "");
    EXPECT_EQ(nameOf(0, 0), "");
    EXPECT_EQ(nameOf(4, 4), "");     // between rows
    EXPECT_EQ(nameOf(217, 217), ""); // just past the dense block
    EXPECT_EQ(nameOf(65535, 65535), "");
    // Ports are taken in network order: port 80 given in host order is port 20480.
    EXPECT_EQ(ServiceNameTable::serviceName(80, 80), "");
    EXPECT_EQ(ServiceNameTable::nameOfPort(80), "http");
}

} // namespace
} // namespace tavrin
