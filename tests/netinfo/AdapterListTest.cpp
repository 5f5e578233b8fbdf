#include "AdapterList.h"
#include "AdapterDumpParser.h"

#include <arpa/inet.h>
#include <cstring>
#include <gtest/gtest.h>

// glibc's net/if.h must come before the kernel's headers.
#include <net/if.h>

#include <linux/if_arp.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>

#include <optional>
#include <vector>

namespace tavrin {
namespace {

uint32_t ip(const char* dotted) {
    in_addr a{};
    inet_pton(AF_INET, dotted, &a);
    return a.s_addr;
}

// Stands in for the system when a test needs a table the machine cannot make:
// a failing query, or adapters with chosen addresses and indices.
class FixedAdapterSource final : public AdapterSource {
public:
    explicit FixedAdapterSource(std::optional<std::vector<AdapterEntry>>* rows) : m_rows(rows) {}
    std::optional<std::vector<AdapterEntry>> listAdapters() override { return *m_rows; }

private:
    std::optional<std::vector<AdapterEntry>>* m_rows;
};

class AdapterListLogic : public ::testing::Test {
protected:
    AdapterList makeList() { return AdapterList(std::make_unique<FixedAdapterSource>(&rows)); }
    std::optional<std::vector<AdapterEntry>> rows;
};

const AdapterEntry kNone{-1, 0, "指定無し", "none"};

TEST_F(AdapterListLogic, NoneEntryComesFirstThenTheAdapters) {
    rows = std::vector<AdapterEntry>{{2, ip("192.168.1.10"), "eth0 (Ethernet)", "eth0"}};
    AdapterList list = makeList();
    EXPECT_EQ(list.entries(), std::vector<AdapterEntry>{kNone}); // before the first rebuild
    EXPECT_TRUE(list.rebuild());
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0], kNone);
    EXPECT_EQ(list[1], (AdapterEntry{2, ip("192.168.1.10"), "eth0 (Ethernet)", "eth0"}));

    // The SET_LOCALIP body: count 2, then 0.0.0.0 and 192.168.1.10 in network order.
    const std::vector<uint8_t> expected = {2, 0, 0, 0, 0, 0, 0, 0, 192, 168, 1, 10};
    EXPECT_EQ(list.localAddressListRecord(), expected);
}

TEST_F(AdapterListLogic, LookupsFallBackToTheNoneEntry) {
    rows = std::vector<AdapterEntry>{
        {2, ip("192.168.1.10"), "first", "eth0"},
        {3, 0, "unplugged", "eth1"},
        {5, ip("192.168.1.10"), "same address", "eth2"},
        {7, ip("10.0.0.1"), "同じ名前", "wlan0"},
    };
    AdapterList list = makeList();
    list.rebuild();

    EXPECT_EQ(list.addressByIndex(2), ip("192.168.1.10"));
    EXPECT_EQ(list.addressByIndex(3), 0u);
    EXPECT_EQ(list.addressByIndex(9), 0u); // unknown index: the none entry's 0.0.0.0
    EXPECT_EQ(list.addressByIndex(-1), 0u);

    EXPECT_EQ(list.indexByAddress(ip("192.168.1.10")), 2); // the first of two
    EXPECT_EQ(list.indexByAddress(ip("10.0.0.1")), 7);
    EXPECT_EQ(list.indexByAddress(ip("10.9.9.9")), -1);
    EXPECT_EQ(list.indexByAddress(0), -1); // 0.0.0.0 finds the none entry, not eth1

    EXPECT_EQ(list.nameByIndex(-1), "none");
    EXPECT_EQ(list.nameByIndex(5), "eth2");
    EXPECT_EQ(list.nameByIndex(42), "none");

    EXPECT_EQ(list.indexByName("none"), -1);
    EXPECT_EQ(list.indexByName("eth1"), 3);
    EXPECT_EQ(list.indexByName("ETH1"), -1); // names compare exactly
    EXPECT_EQ(list.indexByName("eth"), -1);
    EXPECT_EQ(list.indexByName(""), -1);
}

TEST_F(AdapterListLogic, RebuildReplacesTheWholeListAndFailureLeavesOnlyNone) {
    rows = std::vector<AdapterEntry>{{2, ip("192.168.1.10"), "a", "eth0"},
                                     {3, ip("192.168.2.10"), "b", "eth1"}};
    AdapterList list = makeList();
    list.rebuild();
    ASSERT_EQ(list.size(), 3u);

    rows = std::vector<AdapterEntry>{{3, ip("192.168.2.11"), "b", "eth1"}};
    EXPECT_TRUE(list.rebuild());
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list.addressByIndex(3), ip("192.168.2.11"));
    EXPECT_EQ(list.addressByIndex(2), 0u);

    rows = std::nullopt;
    EXPECT_FALSE(list.rebuild());
    EXPECT_EQ(list.entries(), std::vector<AdapterEntry>{kNone});
    EXPECT_EQ(list.localAddressListRecord(), (std::vector<uint8_t>{1, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(list.indexByName("eth1"), -1);
}

// Builds rtnetlink dump datagrams the way the kernel lays them out.
class Datagram {
public:
    Datagram& link(uint32_t seq, int index, unsigned flags, uint16_t type, const char* name,
                   const char* alias = nullptr, const char* kind = nullptr,
                   bool nameTerminated = true) {
        const size_t start = beginMessage(RTM_NEWLINK, seq);
        ifinfomsg info{};
        info.ifi_family = AF_UNSPEC;
        info.ifi_index = index;
        info.ifi_flags = flags;
        info.ifi_type = type;
        append(&info, sizeof info);
        attribute(IFLA_IFNAME, name, std::strlen(name) + (nameTerminated ? 1 : 0));
        if (alias != nullptr)
            attribute(IFLA_IFALIAS, alias, std::strlen(alias) + 1);
        if (kind != nullptr) {
            const size_t nest = beginAttribute(IFLA_LINKINFO);
            attribute(IFLA_INFO_KIND, kind, std::strlen(kind) + 1);
            endAttribute(nest);
        }
        endMessage(start);
        return *this;
    }
    Datagram& address(uint32_t seq, int index, uint8_t family, std::optional<uint32_t> local,
                      std::optional<uint32_t> address) {
        const size_t start = beginMessage(RTM_NEWADDR, seq);
        ifaddrmsg info{};
        info.ifa_family = family;
        info.ifa_prefixlen = 24;
        info.ifa_index = static_cast<uint32_t>(index);
        append(&info, sizeof info);
        if (address)
            attribute(IFA_ADDRESS, &*address, 4);
        if (local)
            attribute(IFA_LOCAL, &*local, 4);
        endMessage(start);
        return *this;
    }
    Datagram& addressAttribute(uint32_t seq, int index, uint16_t type, const void* data,
                               size_t size) {
        const size_t start = beginMessage(RTM_NEWADDR, seq);
        ifaddrmsg info{};
        info.ifa_family = AF_INET;
        info.ifa_index = static_cast<uint32_t>(index);
        append(&info, sizeof info);
        attribute(type, data, size);
        endMessage(start);
        return *this;
    }
    Datagram& control(uint16_t type, uint32_t seq, int32_t error = 0, uint16_t flags = 0) {
        const size_t start = beginMessage(type, seq, flags);
        append(&error, sizeof error);
        endMessage(start);
        return *this;
    }
    Datagram& interruptedLink(uint32_t seq, int index, const char* name) {
        link(seq, index, 0, ARPHRD_ETHER, name);
        nlmsghdr head;
        std::memcpy(&head, m_bytes.data() + m_lastMessage, sizeof head);
        head.nlmsg_flags |= NLM_F_DUMP_INTR;
        std::memcpy(m_bytes.data() + m_lastMessage, &head, sizeof head);
        return *this;
    }
    std::vector<uint8_t>& bytes() { return m_bytes; }

private:
    void append(const void* data, size_t size) {
        const auto* p = static_cast<const uint8_t*>(data);
        m_bytes.insert(m_bytes.end(), p, p + size);
        while (m_bytes.size() % 4 != 0)
            m_bytes.push_back(0);
    }
    size_t beginMessage(uint16_t type, uint32_t seq, uint16_t flags = NLM_F_MULTI) {
        m_lastMessage = m_bytes.size();
        nlmsghdr head{};
        head.nlmsg_type = type;
        head.nlmsg_flags = flags;
        head.nlmsg_seq = seq;
        append(&head, sizeof head);
        return m_lastMessage;
    }
    void endMessage(size_t start) {
        const auto length = static_cast<uint32_t>(m_bytes.size() - start);
        std::memcpy(m_bytes.data() + start, &length, sizeof length);
    }
    size_t beginAttribute(uint16_t type) {
        const size_t start = m_bytes.size();
        rtattr head{};
        head.rta_type = type;
        append(&head, sizeof head);
        return start;
    }
    void endAttribute(size_t start) {
        const auto length = static_cast<uint16_t>(m_bytes.size() - start);
        std::memcpy(m_bytes.data() + start, &length, sizeof length);
    }
    void attribute(uint16_t type, const void* data, size_t size) {
        rtattr head{};
        head.rta_type = type;
        head.rta_len = static_cast<uint16_t>(sizeof head + size);
        append(&head, sizeof head);
        append(data, size);
    }

    std::vector<uint8_t> m_bytes;
    size_t m_lastMessage = 0;
};

TEST(AdapterDump, LinksAndAddressesBecomeAdaptersInLinkOrder) {
    Datagram linkDump;
    linkDump.link(7, 1, IFF_LOOPBACK | IFF_UP, ARPHRD_LOOPBACK, "lo")
        .link(7, 4, IFF_UP, ARPHRD_ETHER, "enp3s0", "社内LAN")
        .link(7, 2, 0, ARPHRD_ETHER, "veth-b", nullptr, "veth")
        .link(7, 9, 0, ARPHRD_PPP, "ppp0")
        .link(8, 11, 0, ARPHRD_ETHER, "stale") // an earlier request's answer
        .control(NLMSG_DONE, 7);
    std::vector<LinkRecord> links;
    DumpState linkState;
    parseLinkDatagram(linkDump.bytes(), 7, links, linkState);
    EXPECT_TRUE(linkState.done);
    EXPECT_FALSE(linkState.failed);
    ASSERT_EQ(links.size(), 4u);
    EXPECT_EQ(links[1].alias, "社内LAN");
    EXPECT_EQ(links[2].kind, "veth");

    Datagram addressDump;
    addressDump.address(9, 1, AF_INET, ip("127.0.0.1"), ip("127.0.0.1"))
        .address(9, 4, AF_INET6, std::nullopt, ip("1.2.3.4")) // not IPv4: ignored
        .address(9, 4, AF_INET, ip("192.168.0.20"), ip("192.168.0.20"))
        .address(9, 4, AF_INET, ip("192.168.0.21"), ip("192.168.0.21"))
        // Point-to-point: IFA_ADDRESS is the peer, IFA_LOCAL the own address.
        .address(9, 9, AF_INET, ip("10.64.0.2"), ip("10.64.0.1"))
        .address(9, 33, AF_INET, ip("10.1.1.1"), std::nullopt) // no such link
        .control(NLMSG_DONE, 9);
    std::vector<AddressRecord> addresses;
    DumpState addressState;
    parseAddressDatagram(addressDump.bytes(), 9, addresses, addressState);
    EXPECT_TRUE(addressState.done);
    EXPECT_FALSE(addressState.failed);

    const std::vector<AdapterEntry> expected = {
        {4, ip("192.168.0.20"), "社内LAN", "enp3s0"},
        {2, 0, "veth-b (veth)", "veth-b"},
        {9, ip("10.64.0.2"), "ppp0 (PPP)", "ppp0"},
    };
    EXPECT_EQ(adaptersFromDump(links, addresses), expected);
}

TEST(AdapterDump, ErrorsInterruptionsAndMultipartDumps) {
    std::vector<LinkRecord> links;

    DumpState error;
    Datagram errorDump;
    errorDump.control(NLMSG_ERROR, 3, -EPERM);
    parseLinkDatagram(errorDump.bytes(), 3, links, error);
    EXPECT_TRUE(error.failed);

    DumpState ack; // an error message carrying 0 is an acknowledgement
    Datagram ackDump;
    ackDump.control(NLMSG_ERROR, 3, 0).control(NLMSG_DONE, 3);
    parseLinkDatagram(ackDump.bytes(), 3, links, ack);
    EXPECT_FALSE(ack.failed);
    EXPECT_TRUE(ack.done);

    DumpState parts; // a dump that spans two datagrams
    Datagram first;
    first.link(5, 2, 0, ARPHRD_ETHER, "eth0");
    parseLinkDatagram(first.bytes(), 5, links, parts);
    EXPECT_FALSE(parts.done);
    Datagram second;
    second.interruptedLink(5, 3, "eth1").control(NLMSG_DONE, 5);
    parseLinkDatagram(second.bytes(), 5, links, parts);
    EXPECT_TRUE(parts.done);
    EXPECT_TRUE(parts.interrupted);
    ASSERT_EQ(links.size(), 2u);
    EXPECT_EQ(links[1].name, "eth1");
}

TEST(AdapterDump, MalformedMessagesAreRefusedWithoutReadingPastThem) {
    Datagram good;
    good.link(1, 2, 0, ARPHRD_ETHER, "eth0", "an alias", "veth");
    const std::vector<uint8_t> whole = good.bytes();

    // Every cut of the message: nothing is read past the cut, and a message whose
    // length runs past the datagram is refused.
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        std::vector<uint8_t> bytes(whole.begin(), whole.begin() + static_cast<long>(cut));
        std::vector<LinkRecord> links;
        DumpState state;
        parseLinkDatagram(bytes, 1, links, state);
        EXPECT_TRUE(links.empty()) << "cut at " << cut;
        EXPECT_EQ(state.failed, cut >= sizeof(nlmsghdr)) << "cut at " << cut;
    }

    // An attribute that claims more bytes than its message holds.
    std::vector<uint8_t> bytes = whole;
    const size_t firstAttribute = NLMSG_LENGTH(sizeof(ifinfomsg));
    const uint16_t hugeLength = 0x4000;
    std::memcpy(bytes.data() + firstAttribute, &hugeLength, sizeof hugeLength);
    std::vector<LinkRecord> links;
    DumpState state;
    parseLinkDatagram(bytes, 1, links, state);
    EXPECT_TRUE(state.failed);
    EXPECT_TRUE(links.empty());

    // A name without its terminating NUL ends with its attribute.
    Datagram unterminated;
    unterminated.link(1, 2, 0, ARPHRD_ETHER, "eth0", nullptr, nullptr, false)
        .link(1, 3, 0, ARPHRD_ETHER, "eth1");
    std::vector<LinkRecord> named;
    DumpState namedState;
    parseLinkDatagram(unterminated.bytes(), 1, named, namedState);
    EXPECT_FALSE(namedState.failed);
    ASSERT_EQ(named.size(), 2u);
    EXPECT_EQ(named[0].name, "eth0");
    EXPECT_EQ(named[1].name, "eth1");

    // An address attribute of the wrong size is ignored, not read.
    Datagram oddAddress;
    const uint64_t eightBytes = 0x0102030405060708;
    const uint16_t twoBytes = 0x0102;
    oddAddress.addressAttribute(1, 2, IFA_LOCAL, &eightBytes, sizeof eightBytes)
        .addressAttribute(1, 2, IFA_ADDRESS, &twoBytes, sizeof twoBytes);
    std::vector<AddressRecord> addresses;
    DumpState addressState;
    parseAddressDatagram(oddAddress.bytes(), 1, addresses, addressState);
    EXPECT_FALSE(addressState.failed);
    EXPECT_TRUE(addresses.empty());
}

TEST(AdapterDump, DescriptionsNameTheKindOfLink) {
    LinkRecord link;
    link.name = "eth0";
    link.type = ARPHRD_ETHER;
    EXPECT_EQ(adapterDescription(link), "eth0 (Ethernet)");
    link.kind = "bridge";
    EXPECT_EQ(adapterDescription(link), "eth0 (bridge)");
    link.alias = "Office network";
    EXPECT_EQ(adapterDescription(link), "Office network");
    LinkRecord tunnel;
    tunnel.name = "tun0";
    tunnel.type = ARPHRD_NONE;
    EXPECT_EQ(adapterDescription(tunnel), "tun0 (point-to-point)");
}

} // namespace
} // namespace tavrin
