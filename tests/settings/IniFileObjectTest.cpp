#include "IniFileObject.h"
#include "RecordingMessages.h"
#include "SettingsTestSupport.h"

#include <gtest/gtest.h>

using namespace tavrin;
using namespace tavrin::settings;
using tavrin::test::ip;
using tavrin::test::RecordingMessages;

namespace {

PacketFilter named(const char* name, int32_t id = 0, int32_t available = 1) {
    PacketFilter f;
    f.filterName = name;
    f.id = id;
    f.available = available;
    return f;
}

std::vector<int32_t> ids(const IniFileObject& m) {
    std::vector<int32_t> out;
    for (const auto& f : m.PacketFilters())
        out.push_back(f->id);
    return out;
}

} // namespace

TEST(IniFileObject, AssignsTheSmallestFreeIdPerList) {
    IniFileObject m;
    RecordingMessages messages;
    PacketFilter a = named("a");
    m.AddPacketFilter(a);
    m.AddPacketFilter(named("b"));
    m.AddPacketFilter(named("c"));
    EXPECT_EQ(ids(m), (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(a.id, 0); // the caller keeps its own record as it was

    ASSERT_TRUE(m.RemovePacketFilter(m.IndexOfPacketFilterId(2), messages));
    m.AddPacketFilter(named("d"));
    EXPECT_EQ(ids(m), (std::vector<int32_t>{1, 3, 2}));
    m.AddPacketFilter(named("e", 5)); // a given ID stays, even with 4 free
    m.AddPacketFilter(named("f"));
    EXPECT_EQ(ids(m), (std::vector<int32_t>{1, 3, 2, 5, 4}));

    // The dynamic list has its own IDs.
    DynamicFilter d;
    m.AddDynamicFilter(d);
    m.AddDynamicFilter(d);
    EXPECT_EQ(m.DynamicFilterAt(0)->id, 1);
    EXPECT_EQ(m.DynamicFilterAt(1)->id, 2);

    // When all 63 are in use the next one gets 0, and nothing finds it by ID.
    m.ClearPacketFilters();
    for (int i = 0; i < 64; ++i)
        m.AddPacketFilter(named("x"));
    EXPECT_EQ(m.PacketFilterAt(62)->id, 63);
    EXPECT_EQ(m.PacketFilterAt(63)->id, 0);
    EXPECT_EQ(m.FindPacketFilterById(0), nullptr);
    EXPECT_EQ(m.IndexOfPacketFilterId(0), -1);
    EXPECT_TRUE(messages.texts().empty());
}

TEST(IniFileObject, PositionsAndLookUps) {
    IniFileObject m;
    RecordingMessages messages;
    m.AddPacketFilter(named("on1", 0, 1));
    m.AddPacketFilter(named("off", 0, 0));
    m.AddPacketFilter(named("on2", 0, 1));

    auto nth = m.NthAvailablePacketFilter(1);
    ASSERT_TRUE(nth.has_value());
    EXPECT_EQ(nth->position, 2);
    EXPECT_EQ(nth->filter->filterName, "on2");
    EXPECT_EQ(m.NthAvailablePacketFilter(0)->position, 0);
    EXPECT_FALSE(m.NthAvailablePacketFilter(2).has_value());
    EXPECT_FALSE(m.NthAvailablePacketFilter(-1).has_value());
    EXPECT_EQ(m.AvailablePacketFilterCount(), 2);
    EXPECT_EQ(m.PacketFilterCount(), 3);

    EXPECT_EQ(m.IdAtPosition(1), 2);
    EXPECT_EQ(m.IdAtPosition(-1), 0);
    EXPECT_EQ(m.IdAtPosition(3), 0);
    EXPECT_EQ(m.IndexOfPacketFilterId(3), 2);
    EXPECT_EQ(m.IndexOfPacketFilterId(9), -1);
    ASSERT_NE(m.FindPacketFilterById(2), nullptr);
    EXPECT_EQ(m.FindPacketFilterById(2)->filterName, "off");

    EXPECT_TRUE(m.SwapPacketFilters(0, 2));
    EXPECT_FALSE(m.SwapPacketFilters(0, 3));
    EXPECT_TRUE(m.InsertPacketFilter(1, named("ins", 40)));
    EXPECT_TRUE(m.InsertPacketFilter(4, named("end")));
    EXPECT_FALSE(m.InsertPacketFilter(6, named("past")));
    EXPECT_FALSE(m.InsertPacketFilter(-1, named("before")));
    EXPECT_EQ(ids(m), (std::vector<int32_t>{3, 40, 2, 1, 0})); // inserting keeps the ID as it is

    EXPECT_FALSE(m.RemovePacketFilter(5, messages));
    EXPECT_FALSE(m.RemovePacketFilter(-1, messages));
    EXPECT_FALSE(m.RemoveDynamicFilter(0, messages));
    EXPECT_EQ(messages.texts(), (std::vector<std::string>(3, "indexが不正")));
    EXPECT_EQ(m.PacketFilterCount(), 5);
    EXPECT_TRUE(m.RemovePacketFilter(4, messages));
    EXPECT_EQ(ids(m), (std::vector<int32_t>{3, 40, 2, 1}));
}

TEST(IniFileObject, CopiesAreDeepAndCopyingOntoItselfChangesNothing) {
    IniFileObject a;
    a.SetAutoSave(0);
    a.SetColumnSize(ColumnList::TcpPacket, 13, 77);
    a.AddPacketFilter(named("p"));
    DynamicFilter d;
    d.targetFilterIds = {1, 2, 3};
    a.AddDynamicFilter(d);

    IniFileObject b;
    b.AddPacketFilter(named("old1"));
    b.AddPacketFilter(named("old2"));
    b = a;
    ASSERT_EQ(b.PacketFilterCount(), 1);
    EXPECT_EQ(*b.PacketFilterAt(0), *a.PacketFilterAt(0));
    EXPECT_NE(b.PacketFilterAt(0), a.PacketFilterAt(0));
    EXPECT_EQ(b.GetColumnSize(ColumnList::TcpPacket, 13), 77);
    b.DynamicFilterAt(0)->targetFilterIds.push_back(4);
    EXPECT_EQ(a.DynamicFilterAt(0)->targetFilterIds.size(), 3u);

    IniFileObject& self = a;
    a = self;
    EXPECT_EQ(a.PacketFilterCount(), 1);
    EXPECT_EQ(a.PacketFilterAt(0)->filterName, "p");
    EXPECT_EQ(a.DynamicFilterAt(0)->targetFilterIds, (std::vector<int32_t>{1, 2, 3}));

    // Options only: the filter lists stay.
    IniFileObject c;
    c.AddPacketFilter(named("mine1"));
    c.AddPacketFilter(named("mine2"));
    c.CopyOptionsFrom(a);
    EXPECT_EQ(c.GetAutoSave(), 0);
    EXPECT_EQ(c.PacketFilterCount(), 2);
    EXPECT_EQ(c.DynamicFilterCount(), 0);
}

TEST(IniFileObject, OptionSettersKeepTheirRules) {
    IniFileObject m;
    m.SetColumnSize(ColumnList::UdpPacket, 9, 11);
    m.SetColumnSize(ColumnList::UdpPacket, 10, 12); // past the ten columns
    m.SetColumnOrder(ColumnList::DynamicFilter, 7, 1);
    EXPECT_EQ(m.GetColumnSize(ColumnList::UdpPacket, 9), 11);
    EXPECT_EQ(m.GetColumnSize(ColumnList::UdpPacket, 10), 0);
    EXPECT_EQ(m.Common().columnSizes[4][10], 0);
    EXPECT_EQ(m.GetColumnOrder(ColumnList::DynamicFilter, 6), 6);

    m.SetWindowRect({-32000, -32000, -31840, -31970}); // minimised: not kept
    EXPECT_EQ(m.GetWindowRect(), (WindowRect{0, 0, 800, 500}));
    m.SetWindowRect({-5, 0, 0, 300});
    EXPECT_EQ(m.GetWindowRect(), (WindowRect{-5, 0, 0, 300}));
    m.SetWindowRect({10, -1, 100, 100});
    EXPECT_EQ(m.GetWindowRect(), (WindowRect{-5, 0, 0, 300}));

    m.SetMessageFlag(1);
    m.SetMessageFlag(2);
    EXPECT_EQ(m.GetMessageFlag(0), 0);
    EXPECT_EQ(m.GetMessageFlag(1), 1);
    EXPECT_EQ(m.GetMessageFlag(2), 0);

    // 63 as the Windows version counted: a kanji takes 2, a half-width katakana 1.
    m.SetCommonSectionName(std::string(60, 'a') + "日本");
    EXPECT_EQ(m.GetCommonSectionName(), std::string(60, 'a') + "日");
    m.SetCommonSectionName(std::string(59, 'a') + "日本語");
    EXPECT_EQ(m.GetCommonSectionName(), std::string(59, 'a') + "日本");
    m.SetCommonSectionName(std::string(60, 'a') + "ｱｲｳｴ");
    EXPECT_EQ(m.GetCommonSectionName(), std::string(60, 'a') + "ｱｲｳ");
}

TEST(IniFileObject, LocalAddressesFollowTheirAdapters) {
    const auto adapters = test::sampleAdapters();
    IniFileObject m;
    PacketFilter follows = named("eth0");
    follows.adapterIndex = 2;
    follows.myIp = ip("10.0.0.1");
    PacketFilter fixed = follows;
    fixed.isMyIp = 0;
    PacketFilter noAddress = follows;
    noAddress.adapterIndex = 3; // an adapter without an address
    PacketFilter gone = follows;
    gone.adapterIndex = 9; // no such adapter: the none entry's 0.0.0.0
    m.AddPacketFilter(follows);
    m.AddPacketFilter(fixed);
    m.AddPacketFilter(noAddress);
    m.AddPacketFilter(gone);

    EXPECT_TRUE(m.RefreshLocalAddresses(*adapters));
    EXPECT_EQ(m.PacketFilterAt(0)->myIp, ip("192.168.1.10"));
    EXPECT_EQ(m.PacketFilterAt(1)->myIp, ip("10.0.0.1"));
    EXPECT_EQ(m.PacketFilterAt(2)->myIp, ip("10.0.0.1"));
    EXPECT_EQ(m.PacketFilterAt(3)->myIp, ip("10.0.0.1"));
    EXPECT_FALSE(m.RefreshLocalAddresses(*adapters));
}

namespace {

// Adapter rows that the test changes between rebuilds, as interfaces come and go.
class ChangingAdapters final : public AdapterSource {
public:
    explicit ChangingAdapters(std::vector<AdapterEntry>& rows) : m_rows(rows) {}
    std::optional<std::vector<AdapterEntry>> listAdapters() override { return m_rows; }

private:
    std::vector<AdapterEntry>& m_rows;
};

} // namespace

TEST(IniFileObject, FiltersFollowTheirAdapterByNameAcrossRebuilds) {
    std::vector<AdapterEntry> rows{{2, ip("192.168.1.10"), "eth0", "eth0"}};
    AdapterList adapters(std::make_unique<ChangingAdapters>(rows));
    adapters.rebuild();

    IniFileObject m;
    PacketFilter vpn = named("vpn");
    vpn.adapterName = "wg0"; // read while wg0 was down
    vpn.myIp = ip("10.0.0.1");
    m.AddPacketFilter(vpn);
    EXPECT_FALSE(m.RefreshLocalAddresses(adapters));
    EXPECT_EQ(m.PacketFilterAt(0)->adapterIndex, -1);
    EXPECT_EQ(m.PacketFilterAt(0)->myIp, ip("10.0.0.1"));

    // wg0 comes up.
    rows.push_back({7, ip("10.8.0.2"), "wg0", "wg0"});
    adapters.rebuild();
    EXPECT_TRUE(m.RefreshLocalAddresses(adapters));
    EXPECT_EQ(m.PacketFilterAt(0)->adapterIndex, 7);
    EXPECT_EQ(m.PacketFilterAt(0)->myIp, ip("10.8.0.2"));

    // wg0 is made again: a new index and a new address.
    rows.back() = {9, ip("10.8.0.3"), "wg0", "wg0"};
    adapters.rebuild();
    EXPECT_TRUE(m.RefreshLocalAddresses(adapters));
    EXPECT_EQ(m.PacketFilterAt(0)->adapterIndex, 9);
    EXPECT_EQ(m.PacketFilterAt(0)->myIp, ip("10.8.0.3"));
    EXPECT_EQ(m.PacketFilterAt(0)->adapterName, "wg0");

    // Gone again: the binding stays, the address is the last one known.
    rows.pop_back();
    adapters.rebuild();
    EXPECT_FALSE(m.RefreshLocalAddresses(adapters));
    EXPECT_EQ(m.PacketFilterAt(0)->adapterIndex, -1);
    EXPECT_EQ(m.PacketFilterAt(0)->adapterName, "wg0");
    EXPECT_EQ(m.PacketFilterAt(0)->myIp, ip("10.8.0.3"));
}
