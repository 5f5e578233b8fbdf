// The adapter list against the real kernel: a network namespace made for the
// test, with a veth pair in it, one end with addresses and one without.
#include "AdapterList.h"
#include "NamespaceTest.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace tavrin {
namespace {

using test::runProcess;

uint32_t ip(const char* dotted) {
    in_addr a{};
    inet_pton(AF_INET, dotted, &a);
    return a.s_addr;
}

class AdapterNamespace : public tavrin::test::NamespaceTest {
protected:
    void SetUp() override {
        makeNamespace("tvmodel-adp");
        if (IsSkipped() || HasFatalFailure())
            return;
        // Inside the namespace the names are ours alone.
        ASSERT_EQ(
            ipIn({"link", "add", kWithAddress, "type", "veth", "peer", "name", kWithoutAddress}), 0)
            << m_lastError;
        ASSERT_EQ(ipIn({"addr", "add", "10.213.7.1/24", "dev", kWithAddress}), 0) << m_lastError;
        ASSERT_EQ(ipIn({"addr", "add", "10.213.8.1/24", "dev", kWithAddress}), 0) << m_lastError;
        ASSERT_EQ(ipIn({"link", "set", kWithAddress, "alias", "テスト用アダプタ"}), 0)
            << m_lastError;
        ASSERT_EQ(ipIn({"link", "set", kWithAddress, "up"}), 0) << m_lastError;
    }

    // The interfaces of the namespace in the order the system lists them.
    std::vector<std::string> systemOrder() {
        const auto result = runProcess({"ip", "-n", m_namespace, "-o", "link", "show"});
        std::vector<std::string> names;
        std::istringstream lines(result.out);
        std::string line;
        while (std::getline(lines, line)) {
            // "3: tva@tvb: <BROADCAST,..." → "tva"
            const size_t colon = line.find(": ");
            if (colon == std::string::npos)
                continue;
            std::string name = line.substr(colon + 2);
            name = name.substr(0, name.find_first_of(":@"));
            if (name != "lo")
                names.push_back(name);
        }
        return names;
    }

    static constexpr const char* kWithAddress = "tva";
    static constexpr const char* kWithoutAddress = "tvb";
};

TEST_F(AdapterNamespace, ListsEveryAdapterButLoopbackWithItsFirstAddress) {
    std::vector<AdapterEntry> entries;
    int withIndex = 0;
    int withoutIndex = 0;
    bool rebuilt = false;
    inNamespace([&] {
        AdapterList list;
        rebuilt = list.rebuild();
        entries = list.entries();
        withIndex = static_cast<int>(::if_nametoindex(kWithAddress));
        withoutIndex = static_cast<int>(::if_nametoindex(kWithoutAddress));
    });
    ASSERT_TRUE(rebuilt);
    ASSERT_GT(withIndex, 0);
    ASSERT_GT(withoutIndex, 0);

    const AdapterEntry withAddress{withIndex, ip("10.213.7.1"), "テスト用アダプタ", kWithAddress};
    const AdapterEntry withoutAddress{withoutIndex, 0, "tvb (veth)", kWithoutAddress};
    const std::vector<std::string> order = systemOrder();
    ASSERT_EQ(order.size(), 2u);
    std::vector<AdapterEntry> expected = {AdapterList::noneEntry()};
    for (const std::string& name : order)
        expected.push_back(name == kWithAddress ? withAddress : withoutAddress);
    EXPECT_EQ(entries, expected);
}

TEST_F(AdapterNamespace, LookupsAndRebuildFollowTheKernel) {
    inNamespace([&] {
        AdapterList list;
        ASSERT_TRUE(list.rebuild());
        const auto withIndex = static_cast<int32_t>(::if_nametoindex(kWithAddress));
        EXPECT_EQ(list.indexByName(kWithAddress), withIndex);
        EXPECT_EQ(list.indexByName("lo"), -1);
        EXPECT_EQ(list.nameByIndex(withIndex), kWithAddress);
        EXPECT_EQ(list.addressByIndex(withIndex), ip("10.213.7.1"));
        EXPECT_EQ(list.indexByAddress(ip("10.213.7.1")), withIndex);
        EXPECT_EQ(list.indexByAddress(ip("10.213.8.1")), -1); // only first addresses count
        EXPECT_EQ(list.indexByAddress(ip("127.0.0.1")), -1);

        const std::vector<uint8_t> record = list.localAddressListRecord();
        ASSERT_EQ(record.size(), 16u);
        EXPECT_EQ(record[0], 3); // none and the two veth ends

        // The first address goes away: the next one becomes the adapter's address.
        ASSERT_EQ(ipIn({"addr", "del", "10.213.7.1/24", "dev", kWithAddress}), 0) << m_lastError;
        ASSERT_TRUE(list.rebuild());
        EXPECT_EQ(list.addressByIndex(withIndex), ip("10.213.8.1"));

        ASSERT_EQ(ipIn({"addr", "flush", "dev", kWithAddress}), 0) << m_lastError;
        ASSERT_TRUE(list.rebuild());
        EXPECT_EQ(list.addressByIndex(withIndex), 0u);
        EXPECT_EQ(list.size(), 3u);

        ASSERT_EQ(ipIn({"link", "del", kWithAddress}), 0) << m_lastError; // takes its peer along
        ASSERT_TRUE(list.rebuild());
        EXPECT_EQ(list.entries(), std::vector<AdapterEntry>{AdapterList::noneEntry()});
    });
}

} // namespace
} // namespace tavrin
