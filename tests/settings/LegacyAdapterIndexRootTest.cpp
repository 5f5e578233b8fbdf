// A legacy ADAPTER_INDEX against the real kernel, in a network namespace made for
// the test: an index that names no interface must not be taken over by the
// interface that the kernel gives that index to later.
#include "AdapterList.h"
#include "IniFileObject.h"
#include "NamespaceTest.h"
#include "SettingsTestSupport.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

using namespace tavrin;
using namespace tavrin::settings;
using namespace tavrin::test;

namespace {

class LegacyAdapterIndex : public NamespaceTest {
protected:
    void SetUp() override { makeNamespace("tvset-adp"); }

    int32_t indexOf(const char* name) {
        int32_t index = 0;
        inNamespace([&] { index = static_cast<int32_t>(::if_nametoindex(name)); });
        return index;
    }
};

} // namespace

TEST_F(LegacyAdapterIndex, AnInterfaceMadeLaterWithThatIndexDoesNotTakeTheFilter) {
    // The kernel numbers interfaces in sequence: a pair made and deleted shows which
    // index the next interface gets.
    ASSERT_EQ(ipIn({"link", "add", "probe0", "type", "veth", "peer", "name", "probe1"}), 0)
        << m_lastError;
    const int32_t dangling = std::max(indexOf("probe0"), indexOf("probe1")) + 1;
    ASSERT_GT(dangling, 1);
    ASSERT_EQ(ipIn({"link", "del", "probe0"}), 0) << m_lastError;

    TempFolder dir;
    const std::string file = dir.file("Setting.ini");
    writeBytes(file, "[PacketFilter1]\nFILTER_NAME=old\nADAPTER_INDEX=" + std::to_string(dangling) +
                         "\nIS_MY_IP=TRUE\nMY_IP=192.168.1.7\n");
    std::unique_ptr<AdapterList> adapters;
    inNamespace([&] {
        adapters = std::make_unique<AdapterList>();
        adapters->rebuild();
    });
    ReadResult loaded = readSettings(file, *adapters);
    ASSERT_TRUE(loaded.ok);
    const PacketFilter& filter = *loaded.model.PacketFilterAt(0);
    EXPECT_EQ(filter.adapterIndex, -1);
    EXPECT_EQ(filter.adapterName, "");

    // The next interface gets the index the file named, and an address.
    ASSERT_EQ(ipIn({"link", "add", "late0", "type", "veth", "peer", "name", "late1"}), 0)
        << m_lastError;
    const std::string late = indexOf("late0") == dangling ? "late0" : "late1";
    ASSERT_EQ(indexOf(late.c_str()), dangling);
    ASSERT_EQ(ipIn({"addr", "add", "10.214.9.1/24", "dev", late}), 0) << m_lastError;
    inNamespace([&] { adapters->rebuild(); });
    ASSERT_EQ(adapters->addressByIndex(dangling), ip("10.214.9.1"));

    // The timers' refresh finds nothing for the filter: no adapter, no new address.
    EXPECT_FALSE(loaded.model.RefreshLocalAddresses(*adapters));
    EXPECT_EQ(filter.adapterIndex, -1);
    EXPECT_EQ(filter.adapterName, "");
    EXPECT_EQ(filter.myIp, ip("192.168.1.7"));
    ASSERT_TRUE(writeSettings(loaded.model, file, *adapters));
    EXPECT_NE(readBytes(file).find("ADAPTER_NAME=none\n"), std::string::npos);
}
