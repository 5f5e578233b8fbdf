#include "PortEntryList.h"
#include "PortSpec.h"
#include "RecordingMessages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavrin {
namespace {

using test::RecordingMessages;
using Texts = std::vector<std::string>;

const std::string kFull = "これ以上ポートを追加できません。";
const std::string kDuplicate = "そのポート番号はすでにリストにあります。";
const std::string kRange = "ポート番号は0から65535までの値を指定してください。";

TEST(PortEntryList, RemoteEntriesCarryServiceNamesAndReadBackAsRanges) {
    RecordingMessages messages;
    PortEntryList remote(PortListSide::Remote);
    EXPECT_TRUE(remote.add("443 (https)", messages));
    EXPECT_TRUE(remote.add("21-20", messages));
    EXPECT_TRUE(remote.add("8080", messages));
    EXPECT_TRUE(remote.add("20", messages));
    EXPECT_EQ(remote.entries(), (Texts{"443 (https)", "20-21 (ftp)", "8080", "20 (ftp-data)"}));
    EXPECT_TRUE(messages.texts().empty());

    const std::vector<PortRange> expected = {PortRange::single(443), PortRange::fromHost(20, 21),
                                             PortRange::single(8080), PortRange::single(20)};
    EXPECT_EQ(remote.ranges(), expected);
    EXPECT_EQ(FormatPortList(remote.ranges()), "443,20-21,8080,20");
}

TEST(PortEntryList, LocalEntriesArePlainAndDuplicatesAreRefused) {
    RecordingMessages messages;
    PortEntryList local(PortListSide::Local);
    EXPECT_TRUE(local.add("80", messages));
    EXPECT_FALSE(local.add("80", messages));
    EXPECT_FALSE(local.add("80-80", messages)); // formats as 80 too
    EXPECT_FALSE(local.add("80 (http)", messages));
    EXPECT_TRUE(local.add("443 (https)", messages));
    EXPECT_TRUE(local.add("1023-0", messages));
    EXPECT_EQ(local.entries(), (Texts{"80", "443", "0-1023"}));
    EXPECT_EQ(messages.texts(), (Texts{kDuplicate, kDuplicate, kDuplicate}));
}

TEST(PortEntryList, LoadedRangesAndTypedLabelsAreTheSameEntry) {
    const std::vector<PortRange> stored = {PortRange::single(80), PortRange::fromHost(20, 21)};
    PortEntryList remote = PortEntryList::fromRanges(PortListSide::Remote, stored);
    EXPECT_EQ(remote.entries(), (Texts{"80", "20-21"})); // no service names when opened
    RecordingMessages messages;
    EXPECT_FALSE(remote.add("80", messages));
    EXPECT_FALSE(remote.add("20-21 (ftp)", messages));
    EXPECT_EQ(messages.texts(), (Texts{kDuplicate, kDuplicate}));
    EXPECT_EQ(remote.ranges(), stored);
}

TEST(PortEntryList, SixteenEntriesAtMostAndBadTextsAddNothing) {
    RecordingMessages messages;
    PortEntryList local(PortListSide::Local);
    for (int port = 1; port <= 16; ++port)
        ASSERT_TRUE(local.add(std::to_string(port), messages));
    EXPECT_FALSE(local.add("17", messages));
    // A full list refuses before the text is even checked.
    EXPECT_FALSE(local.add("", messages));
    EXPECT_FALSE(local.add("70000", messages));
    EXPECT_EQ(messages.texts(), (Texts{kFull, kFull, kFull}));
    EXPECT_EQ(local.size(), 16u);

    local.removeAt(0);
    local.removeAt(99); // past the end: nothing happens
    EXPECT_EQ(local.size(), 15u);
    EXPECT_EQ(local.entries().front(), "2");

    messages.clear();
    EXPECT_FALSE(local.add("65536", messages));
    EXPECT_FALSE(local.add("", messages));
    EXPECT_FALSE(local.add("http", messages));
    EXPECT_EQ(messages.texts(), (Texts{kRange, kRange}));
    EXPECT_EQ(local.size(), 15u);
    EXPECT_TRUE(local.add("65535", messages));
    EXPECT_EQ(local.entries().back(), "65535");
}

} // namespace
} // namespace tavrin
