#include "AdapterDumpParser.h"

#include <cstring>
#include <optional>

// glibc's net/if.h must come before the kernel's headers, which then defer to it.
#include <net/if.h>
#include <netinet/in.h>

#include <linux/if_arp.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>

namespace tavrin {
namespace {

constexpr size_t align4(size_t n) {
    return (n + 3) & ~size_t{3};
}

constexpr size_t kMessageHeadSize = align4(sizeof(nlmsghdr));
constexpr size_t kAttributeHeadSize = align4(sizeof(rtattr));

// Calls visit(type, payload) for every attribute in bytes; false when an
// attribute claims more bytes than there are.
template <class Visit> bool forEachAttribute(std::span<const uint8_t> bytes, Visit visit) {
    size_t offset = 0;
    while (bytes.size() - offset >= kAttributeHeadSize) {
        rtattr head;
        std::memcpy(&head, bytes.data() + offset, sizeof head);
        if (head.rta_len < kAttributeHeadSize || head.rta_len > bytes.size() - offset)
            return false;
        visit(static_cast<uint16_t>(head.rta_type & NLA_TYPE_MASK),
              bytes.subspan(offset + kAttributeHeadSize, head.rta_len - kAttributeHeadSize));
        offset += std::min(align4(head.rta_len), bytes.size() - offset);
    }
    return true;
}

// A string attribute: its bytes up to the first NUL, or all of them.
std::string attributeText(std::span<const uint8_t> payload) {
    size_t n = 0;
    while (n < payload.size() && payload[n] != 0)
        ++n;
    return std::string(reinterpret_cast<const char*>(payload.data()), n);
}

// Walks the messages of one datagram; onMessage(type, payload) returns false for
// a malformed message.
template <class OnMessage>
void forEachMessage(std::span<const uint8_t> datagram, uint32_t sequence, DumpState& state,
                    OnMessage onMessage) {
    size_t offset = 0;
    while (!state.done && !state.failed && datagram.size() - offset >= kMessageHeadSize) {
        nlmsghdr head;
        std::memcpy(&head, datagram.data() + offset, sizeof head);
        if (head.nlmsg_len < kMessageHeadSize || head.nlmsg_len > datagram.size() - offset) {
            state.failed = true;
            return;
        }
        const auto payload =
            datagram.subspan(offset + kMessageHeadSize, head.nlmsg_len - kMessageHeadSize);
        offset += std::min(align4(head.nlmsg_len), datagram.size() - offset);
        if (head.nlmsg_seq != sequence)
            continue;
        if ((head.nlmsg_flags & NLM_F_DUMP_INTR) != 0)
            state.interrupted = true;
        switch (head.nlmsg_type) {
        case NLMSG_DONE: state.done = true; break;
        case NLMSG_NOOP: break;
        case NLMSG_ERROR: {
            int32_t error = -1;
            if (payload.size() >= sizeof error)
                std::memcpy(&error, payload.data(), sizeof error);
            if (error != 0)
                state.failed = true;
            break;
        }
        default:
            if (!onMessage(head.nlmsg_type, payload))
                state.failed = true;
            break;
        }
    }
}

const char* typeText(uint16_t type) {
    switch (type) {
    case ARPHRD_ETHER: return "Ethernet";
    case ARPHRD_PPP: return "PPP";
    case ARPHRD_INFINIBAND: return "InfiniBand";
    case ARPHRD_IEEE80211:
    case ARPHRD_IEEE80211_RADIOTAP: return "Wi-Fi";
    case ARPHRD_NONE: return "point-to-point";
    case ARPHRD_TUNNEL:
    case ARPHRD_TUNNEL6:
    case ARPHRD_SIT:
    case ARPHRD_IPGRE:
    case ARPHRD_IP6GRE: return "tunnel";
    default: return "network interface";
    }
}

} // namespace

void parseLinkDatagram(std::span<const uint8_t> datagram, uint32_t sequence,
                       std::vector<LinkRecord>& links, DumpState& state) {
    forEachMessage(datagram, sequence, state, [&](uint16_t type, std::span<const uint8_t> body) {
        if (type != RTM_NEWLINK)
            return true;
        constexpr size_t kInfoSize = align4(sizeof(ifinfomsg));
        if (body.size() < kInfoSize)
            return false;
        ifinfomsg info;
        std::memcpy(&info, body.data(), sizeof info);
        LinkRecord link;
        link.index = info.ifi_index;
        link.flags = info.ifi_flags;
        link.type = info.ifi_type;
        const bool wellFormed =
            forEachAttribute(body.subspan(kInfoSize), [&](uint16_t attr, auto data) {
                if (attr == IFLA_IFNAME) {
                    link.name = attributeText(data);
                } else if (attr == IFLA_IFALIAS) {
                    link.alias = attributeText(data);
                } else if (attr == IFLA_LINKINFO) {
                    forEachAttribute(data, [&](uint16_t inner, auto innerData) {
                        if (inner == IFLA_INFO_KIND)
                            link.kind = attributeText(innerData);
                    });
                }
            });
        if (!wellFormed)
            return false;
        links.push_back(std::move(link));
        return true;
    });
}

void parseAddressDatagram(std::span<const uint8_t> datagram, uint32_t sequence,
                          std::vector<AddressRecord>& addresses, DumpState& state) {
    forEachMessage(datagram, sequence, state, [&](uint16_t type, std::span<const uint8_t> body) {
        if (type != RTM_NEWADDR)
            return true;
        constexpr size_t kInfoSize = align4(sizeof(ifaddrmsg));
        if (body.size() < kInfoSize)
            return false;
        ifaddrmsg info;
        std::memcpy(&info, body.data(), sizeof info);
        if (info.ifa_family != AF_INET)
            return true;
        // IFA_LOCAL is the own address; on point-to-point links IFA_ADDRESS is the peer's.
        std::optional<uint32_t> local;
        std::optional<uint32_t> address;
        const bool wellFormed =
            forEachAttribute(body.subspan(kInfoSize), [&](uint16_t attr, auto data) {
                uint32_t value = 0;
                if (data.size() != sizeof value)
                    return;
                std::memcpy(&value, data.data(), sizeof value);
                if (attr == IFA_LOCAL)
                    local = value;
                else if (attr == IFA_ADDRESS)
                    address = value;
            });
        if (!wellFormed)
            return false;
        if (local || address)
            addresses.push_back(
                AddressRecord{static_cast<int32_t>(info.ifa_index), local ? *local : *address});
        return true;
    });
}

std::vector<AdapterEntry> adaptersFromDump(const std::vector<LinkRecord>& links,
                                           const std::vector<AddressRecord>& addresses) {
    std::vector<AdapterEntry> out;
    for (const LinkRecord& link : links) {
        if ((link.flags & IFF_LOOPBACK) != 0 || link.type == ARPHRD_LOOPBACK)
            continue;
        AdapterEntry entry;
        entry.index = link.index;
        for (const AddressRecord& a : addresses) {
            if (a.index == link.index) {
                entry.address = a.address;
                break;
            }
        }
        entry.description = adapterDescription(link);
        entry.name = link.name;
        out.push_back(std::move(entry));
    }
    return out;
}

std::string adapterDescription(const LinkRecord& link) {
    if (!link.alias.empty())
        return link.alias;
    std::string out = link.name;
    out.append(" (");
    out.append(link.kind.empty() ? std::string(typeText(link.type)) : link.kind);
    out.push_back(')');
    return out;
}

} // namespace tavrin
