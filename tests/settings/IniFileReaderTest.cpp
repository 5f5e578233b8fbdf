#include "IniFileReader.h"
#include "SettingsTestSupport.h"
#include "TempFolder.h"
#include "TestPaths.h"
#include "TextEncoding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace tavrin;
using namespace tavrin::settings;
using namespace tavrin::test;

namespace {

std::string dataFile(const char* name) {
    return std::string(kDataDir) + "/settings/" + name;
}

std::vector<std::string> names(const IniFileObject& m) {
    std::vector<std::string> out;
    for (const auto& f : m.PacketFilters())
        out.push_back(f->filterName.str());
    return out;
}

std::vector<PortRange> ports(std::initializer_list<std::pair<uint16_t, uint16_t>> ranges) {
    std::vector<PortRange> out;
    for (auto [lo, hi] : ranges)
        out.push_back(PortRange::fromHost(lo, hi));
    return out;
}

} // namespace

TEST(IniFileReader, AFileWithOnlyTheCommonSectionGivesItsOptionsAndNoFilters) {
    const auto adapters = sampleAdapters();
    const ReadResult r = readSettings(dataFile("only_common.ini"), *adapters);
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.messages.empty());
    EXPECT_EQ(r.model.PacketFilterCount(), 0);
    EXPECT_EQ(r.model.DynamicFilterCount(), 0);
    EXPECT_EQ(r.model.GetAutoSave(), 0);
    EXPECT_EQ(r.model.GetStartupOn(), 1);
    EXPECT_EQ(r.model.GetPortProcessMapping(), 1);
    EXPECT_EQ(r.model.GetMaxPacketCaptureNum(), 250);
    EXPECT_EQ(r.model.GetBandwidthControlTime(), 250);
    EXPECT_EQ(r.model.GetColumnSize(ColumnList::Filter, 0), 10);
    EXPECT_EQ(r.model.GetColumnSize(ColumnList::Filter, 1), 59);
    EXPECT_EQ(r.model.GetColumnSize(ColumnList::Filter, 2), 30);
    EXPECT_EQ(r.model.GetWindowRect(), (WindowRect{200, 100, 1000, 600}));
    EXPECT_EQ(r.model.GetMessageFlag(0), 1);
}

TEST(IniFileReader, TakesFilterSectionsOnlyInNumberingOrder) {
    const auto adapters = sampleAdapters();
    const ReadResult r = readSettings(dataFile("numbering.ini"), *adapters);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(names(r.model), (std::vector<std::string>{"first", "second", "third", "fourth"}));
    // Stored IDs stay; filters without one get the smallest free IDs.
    std::vector<int32_t> ids;
    for (const auto& f : r.model.PacketFilters())
        ids.push_back(f->id);
    EXPECT_EQ(ids, (std::vector<int32_t>{4, 7, 1, 2}));

    ASSERT_EQ(r.model.DynamicFilterCount(), 2);
    EXPECT_EQ(r.model.DynamicFilterAt(0)->filterName, "dynamic first");
    EXPECT_EQ(r.model.DynamicFilterAt(0)->id, 1);
    EXPECT_EQ(r.model.DynamicFilterAt(1)->filterName, "dynamic second");
    EXPECT_EQ(r.model.DynamicFilterAt(1)->id, 2);
    EXPECT_EQ(r.model.DynamicFilterAt(1)->targetFilterIds, (std::vector<int32_t>{4, 7}));
}

TEST(IniFileReader, ReadsEveryFilterKeyWithItsValueRules) {
    const auto adapters = sampleAdapters();
    const ReadResult r = readSettings(dataFile("values.ini"), *adapters);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.model.PacketFilterCount(), 2);

    const PacketFilter& a = *r.model.PacketFilterAt(0);
    EXPECT_EQ(a.protocol, 17);
    EXPECT_EQ(a.adapterIndex, 2);
    EXPECT_EQ(a.otherIp, ip("10.1.2.3"));
    EXPECT_EQ(a.myIp, ip("192.168.1.10"));
    EXPECT_EQ(a.isMyIp, 0);
    EXPECT_EQ(a.otherIpMask, ip("255.255.0.0"));
    // Stored ranges are parsed without checks: out of range and words give 0.
    EXPECT_EQ(a.otherPorts, ports({{20, 21}, {80, 80}, {0, 1023}, {0, 0}, {0, 0}}));
    EXPECT_EQ(a.isOtherAllPort, 0);
    EXPECT_EQ(a.myIpMask, ip("255.255.255.0"));
    EXPECT_EQ(a.myPorts, ports({{8080, 8080}}));
    EXPECT_EQ(a.isMyAllPort, 0);
    EXPECT_EQ(a.drop, 1);
    EXPECT_EQ(a.dropSynOnly, 0);
    EXPECT_EQ(a.bandwidth, 64);
    EXPECT_EQ(a.doBand, 1);
    EXPECT_EQ(a.minimumPacketSize, 500);
    EXPECT_EQ(a.direction, kDirectionDown);
    EXPECT_EQ(a.available, 0);
    EXPECT_EQ(a.comment, "x=y"); // a value may hold "="
    EXPECT_EQ(a.appName, "firefox-esr");
    EXPECT_EQ(a.filterName, "a"); // a text ends at its first ","
    EXPECT_EQ(a.id, 9);

    const PacketFilter& b = *r.model.PacketFilterAt(1);
    const PacketFilter defaults;
    EXPECT_EQ(b.direction, -1);
    EXPECT_EQ(b.otherIp, 0xFFFFFFFFu);
    EXPECT_EQ(b.myIpMask, defaults.myIpMask); // an empty value keeps the default
    EXPECT_EQ(b.otherIpMask, 0u);             // missing: every remote address
    EXPECT_EQ(b.protocol, 0xFFFF);            // never wraps to 0, which would match all
    EXPECT_EQ(b.adapterIndex, -1);            // no adapter of that name now,
    EXPECT_EQ(b.adapterName, "eth9");         // but the filter keeps it
    EXPECT_EQ(b.filterName, "blanks around");
    EXPECT_EQ(b.comment, "far in");
    EXPECT_EQ(b.appName, "spaced app");
    EXPECT_EQ(b.id, 1);
    EXPECT_EQ(r.messages, (std::vector<std::string>{"無効な方向です：up"}));

    ASSERT_EQ(r.model.DynamicFilterCount(), 1);
    const DynamicFilter& d = *r.model.DynamicFilterAt(0);
    EXPECT_EQ(d.drop, 1);
    EXPECT_EQ(d.dropSynOnly, 0);
    EXPECT_EQ(d.bandwidth, 5);
    EXPECT_EQ(d.doBand, 1);
    EXPECT_EQ(d.minimumPacketSize, 60);
    EXPECT_EQ(d.available, 0);
    EXPECT_EQ(d.comment, "while backing up");
    EXPECT_EQ(d.filterName, "backup");
    EXPECT_EQ(d.runningProcessName, "rsync");
    EXPECT_EQ(d.connectingProcessName, "ssh");
    EXPECT_EQ(d.totalUpLow, 10);
    EXPECT_EQ(d.totalUpHigh, 20);
    EXPECT_EQ(d.totalDownLow, 30);
    EXPECT_EQ(d.totalDownHigh, 40);
    EXPECT_EQ(d.filterBandwidthLow, 50);
    EXPECT_EQ(d.filterBandwidthHigh, 60);
    EXPECT_EQ(d.triggerFilterId, 9);
    EXPECT_EQ(d.targetFilterIds, (std::vector<int32_t>{9, 1}));
    EXPECT_EQ(d.id, 1); // dynamic filters are numbered anew; an ID key is not theirs
}

TEST(IniFileReader, UnderstandsTheOldestFormat) {
    const auto adapters = sampleAdapters();
    const ReadResult r = readSettings(dataFile("legacy.ini"), *adapters);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.model.PacketFilterCount(), 4);
    EXPECT_EQ(r.model.GetNoIcon(), 1);
    const PacketFilter& first = *r.model.PacketFilterAt(0);
    const PacketFilter& second = *r.model.PacketFilterAt(1);
    const PacketFilter& third = *r.model.PacketFilterAt(2);
    const PacketFilter& fourth = *r.model.PacketFilterAt(3);
    // The later of ADAPTER_NAME and ADAPTER_INDEX wins; an index is the kernel's
    // interface index, and a listed one binds by that adapter's name.
    EXPECT_EQ(first.adapterIndex, 3);
    EXPECT_EQ(first.adapterName, "wlan0");
    EXPECT_EQ(second.adapterIndex, 2);
    EXPECT_EQ(second.adapterName, "eth0");
    // Once marked, a mask read while the remote address is still 0 is 0.
    EXPECT_EQ(first.otherIpMask, 0u);
    EXPECT_EQ(second.otherIpMask, ip("255.0.0.0"));
    EXPECT_EQ(third.otherIpMask, 0u);
    EXPECT_EQ(third.otherIp, ip("10.0.0.1"));
    EXPECT_EQ(fourth.otherIpMask, 0u);

    // The mark belongs to that file: the next file reads its masks as written.
    TempFolder dir;
    writeBytes(dir.file("Setting.ini"), "[PacketFilter1]\nOTHER_IP_MASK=255.255.255.0\n");
    const ReadResult next = readSettings(dir.file("Setting.ini"), *adapters);
    EXPECT_EQ(next.model.PacketFilterAt(0)->otherIpMask, ip("255.255.255.0"));
}

TEST(IniFileReader, ReadsAWindowsFileInCp932) {
    const auto adapters = sampleAdapters();
    const ReadResult r = readSettings(dataFile("windows_cp932.ini"), *adapters);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.model.GetAutoSave(), 0);
    ASSERT_EQ(r.model.PacketFilterCount(), 1);
    EXPECT_EQ(r.model.PacketFilterAt(0)->filterName, "ウェブ制限");
    EXPECT_EQ(r.model.PacketFilterAt(0)->comment, "日本語のコメント");
    EXPECT_EQ(r.model.PacketFilterAt(0)->appName, "ブラウザ.exe");
    EXPECT_EQ(r.model.PacketFilterAt(0)->direction, kDirectionUp);
}

std::string nameCutMessage(const std::string& name) {
    return "フィルタ名が半角100文字（全角50文字）を超えています。フィルタ「" + name +
           "」は名前の最初の半角100文字分だけを読み込みました。";
}

std::string commentCutMessage(const std::string& name) {
    return "コメントが半角127文字（全角63文字）を超えています。フィルタ「" + name +
           "」はコメントの最初の半角127文字分だけを読み込みました。";
}

TEST(IniFileReader, AWindowsFileKeepsNamesAndCommentsWithinTheLimitsItHad) {
    // The Windows version counted bytes of CP932: 1 for ASCII and half-width
    // katakana, 2 for a kanji. Texts it wrote read back whole; longer ones (a hand
    // edit) are cut there, never inside a character, and named in a message.
    struct Case {
        const char* what;
        std::string name;
        std::string comment;
        std::string nameKept;
        std::string commentKept;
        bool nameCut;
        bool commentCut;
    };
    const std::string x99(99, 'x');
    const Case cases[] = {
        {"kanji at the limits", repeated("漢", 50), repeated("字", 63), repeated("漢", 50),
         repeated("字", 63), false, false},
        {"kanji past the limits", repeated("漢", 51), repeated("字", 64), repeated("漢", 50),
         repeated("字", 63), true, true},
        {"half-width katakana at the limits", repeated("ｶ", 100), repeated("ｷ", 127),
         repeated("ｶ", 100), repeated("ｷ", 127), false, false},
        {"half-width katakana past the limits", repeated("ｶ", 101), repeated("ｷ", 128),
         repeated("ｶ", 100), repeated("ｷ", 127), true, true},
        {"mixed at the limits", "ab" + repeated("漢", 49), "ｱ" + repeated("字", 63),
         "ab" + repeated("漢", 49), "ｱ" + repeated("字", 63), false, false},
        {"mixed: the kanji needing the last column alone goes", x99 + "漢",
         "ｱｲ" + repeated("字", 63), x99, "ｱｲ" + repeated("字", 62), true, true},
    };
    std::string text = "[Common Settings]\nAUTO_SAVE=FALSE\n";
    int n = 0;
    for (const Case& c : cases) {
        text += "[PacketFilter" + std::to_string(++n) + "]\nFILTER_NAME=" + c.name +
                "\nCOMMENT=" + c.comment + "\n";
    }
    text += "[DynamicFilter1]\nFILTER_NAME=" + repeated("夜", 51) +
            "\nCOMMENT=" + repeated("間", 64) + "\n";
    TempFolder dir;
    writeBytes(dir.file("Setting.ini"), toWindowsFile(text));

    const auto adapters = sampleAdapters();
    const ReadResult r = readSettings(dir.file("Setting.ini"), *adapters);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.model.PacketFilterCount(), static_cast<int>(std::size(cases)));
    std::vector<std::string> expected;
    n = 0;
    for (const Case& c : cases) {
        const PacketFilter& f = *r.model.PacketFilterAt(n++);
        EXPECT_EQ(f.filterName.str(), c.nameKept) << c.what;
        EXPECT_EQ(f.comment.str(), c.commentKept) << c.what;
        if (c.nameCut)
            expected.push_back(nameCutMessage(c.nameKept));
        if (c.commentCut)
            expected.push_back(commentCutMessage(c.nameKept));
    }
    ASSERT_EQ(r.model.DynamicFilterCount(), 1);
    EXPECT_EQ(r.model.DynamicFilterAt(0)->filterName.str(), repeated("夜", 50));
    EXPECT_EQ(r.model.DynamicFilterAt(0)->comment.str(), repeated("間", 63));
    expected.push_back(nameCutMessage(repeated("夜", 50)));
    expected.push_back(commentCutMessage(repeated("夜", 50)));
    EXPECT_EQ(r.messages, expected);

    // What was read is written as it is and reads back without a message.
    ASSERT_TRUE(writeSettings(r.model, dir.file("Setting.ini"), *adapters));
    const ReadResult again = readSettings(dir.file("Setting.ini"), *adapters);
    EXPECT_TRUE(again.messages.empty());
    EXPECT_EQ(again.model.PacketFilterAt(0)->filterName.str(), repeated("漢", 50));
    EXPECT_EQ(again.model.PacketFilterAt(2)->comment.str(), repeated("ｷ", 127));
}

TEST(IniFileReader, AUtf8FileWithOneStrayByteKeepsItsJapaneseTexts) {
    // One Latin-1 "é" in a comment of a file the program wrote: the other lines
    // stay UTF-8, that line is read as CP932, and the user is told where it is.
    TempFolder dir;
    const std::string file = dir.file("Setting.ini");
    const std::string stray = "COMMENT=caf\xE9s au lait";
    writeBytes(file, "[Common Settings]\nAUTO_SAVE=FALSE\n\n"
                     "[PacketFilter1]\nFILTER_NAME=許可\nCOMMENT=社内サーバー\n\n"
                     "[PacketFilter2]\nFILTER_NAME=夜間\n" +
                         stray + "\nAPPNAME=ブラウザ\n");
    const auto adapters = sampleAdapters();
    const ReadResult r = readSettings(file, *adapters);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.model.PacketFilterCount(), 2);
    EXPECT_EQ(r.model.PacketFilterAt(0)->filterName, "許可");
    EXPECT_EQ(r.model.PacketFilterAt(0)->comment, "社内サーバー");
    EXPECT_EQ(r.model.PacketFilterAt(1)->filterName, "夜間");
    EXPECT_EQ(r.model.PacketFilterAt(1)->appName, "ブラウザ");
    EXPECT_EQ(r.model.PacketFilterAt(1)->comment, "caf駸 au lait");
    EXPECT_EQ(r.messages, (std::vector<std::string>{mixedEncodingMessage(file, 10)}));

    // Reading wrote nothing; an options-only save leaves that line as it was, so
    // the user can still mend it by hand; a full save writes what the model holds.
    IniFileObject changed = r.model;
    changed.SetAutoSave(1);
    ASSERT_TRUE(writeSettings(changed, file, *adapters, true));
    const std::string afterOptions = readBytes(file);
    EXPECT_NE(afterOptions.find("AUTO_SAVE=TRUE\n"), std::string::npos);
    EXPECT_NE(afterOptions.find("\n" + stray + "\n"), std::string::npos);
    EXPECT_NE(afterOptions.find("FILTER_NAME=許可\n"), std::string::npos);
    const size_t strayLine =
        std::count(afterOptions.begin(), afterOptions.begin() + afterOptions.find(stray), '\n') + 1;
    EXPECT_EQ(readSettings(file, *adapters).messages,
              (std::vector<std::string>{mixedEncodingMessage(file, strayLine)}));

    ASSERT_TRUE(writeSettings(changed, file, *adapters));
    const ReadResult full = readSettings(file, *adapters);
    EXPECT_TRUE(full.messages.empty());
    EXPECT_EQ(full.model.PacketFilterAt(1)->comment, "caf駸 au lait");
    EXPECT_EQ(full.model.PacketFilterAt(0)->filterName, "許可");
}

TEST(IniFileReader, FailsQuietlyWithoutAFileOrSections) {
    const auto adapters = sampleAdapters();
    TempFolder dir;
    ReadResult r = readSettings(dir.file("missing.ini"), *adapters);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.messages.empty());

    writeBytes(dir.file("empty.ini"), "");
    r = readSettings(dir.file("empty.ini"), *adapters);
    EXPECT_FALSE(r.ok);
    writeBytes(dir.file("junk.ini"), std::string("\x00\x01\xff garbage without sections\n", 29));
    r = readSettings(dir.file("junk.ini"), *adapters);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.messages.empty());
    EXPECT_EQ(r.model.PacketFilterCount(), 0);
}

TEST(IniFileReader, ReadsPastTheOriginalTableSizesAndCutsPortListsAtSixteen) {
    const auto adapters = sampleAdapters();
    TempFolder dir;
    std::string text = "[Common Settings]\nNOT_SHOW_MESSAGE=0,1,1,1,1\n";
    // 100 packet and 100 dynamic filters: far more than 65 sections.
    for (int i = 1; i <= 100; ++i) {
        text += "[PacketFilter" + std::to_string(i) + "]\n";
        text += "FILTER_NAME=" + std::string(90, 'n') + std::to_string(i) + "\n";
        // A long line of many items and an item over 31 bytes.
        text += "COMMENT=" + std::string(120, 'c') + "\n";
        for (int k = 0; k < 150; ++k) // far more than 128 lines in a section
            text += "UNKNOWN" + std::to_string(k) + "=x\n";
        text += "MY_PORT=";
        for (int p = 0; p < 20; ++p)
            text += std::to_string(10000 + p) + "-" + std::to_string(20000 + p) + ",";
        text += "\n";
    }
    for (int i = 1; i <= 100; ++i)
        text += "[DynamicFilter" + std::to_string(i) + "]\nTARGET_FILTER_ID=1,2,3\n";
    writeBytes(dir.file("big.ini"), text);

    const ReadResult r = readSettings(dir.file("big.ini"), *adapters);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.model.GetMessageFlag(1), 1);
    ASSERT_EQ(r.model.PacketFilterCount(), 100);
    ASSERT_EQ(r.model.DynamicFilterCount(), 100);
    const PacketFilter& last = *r.model.PacketFilterAt(99);
    EXPECT_EQ(last.filterName.str(), std::string(90, 'n') + "100");
    EXPECT_EQ(last.comment.str(), std::string(120, 'c'));
    ASSERT_EQ(last.myPorts.size(), 16u);
    EXPECT_EQ(last.myPorts[15], PortRange::fromHost(10015, 20015));
    // Past 63 there are no IDs left.
    EXPECT_EQ(r.model.PacketFilterAt(62)->id, 63);
    EXPECT_EQ(r.model.PacketFilterAt(63)->id, 0);
    EXPECT_EQ(r.model.DynamicFilterAt(99)->id, 0);
    // One message per filter whose port list was cut, naming it.
    ASSERT_EQ(r.messages.size(), 100u);
    EXPECT_NE(r.messages[0].find("「" + std::string(90, 'n') + "1」"), std::string::npos);
}

TEST(IniFileReader, KeepsIdsUniqueAndWithinRange) {
    const auto adapters = sampleAdapters();
    TempFolder dir;
    writeBytes(dir.file("ids.ini"), "[PacketFilter1]\nID=3\n[PacketFilter2]\nID=3\n"
                                    "[PacketFilter3]\nID=64\n[PacketFilter4]\nID=-2\n"
                                    "[PacketFilter5]\nID=63\n");
    const ReadResult r = readSettings(dir.file("ids.ini"), *adapters);
    std::vector<int32_t> ids;
    for (const auto& f : r.model.PacketFilters())
        ids.push_back(f->id);
    EXPECT_EQ(ids, (std::vector<int32_t>{3, 1, 2, 4, 63}));

    // An explicit ID stays even when an earlier section has none: that one gets a
    // free ID only after every section was read.
    writeBytes(dir.file("later.ini"), "[PacketFilter1]\nFILTER_NAME=no id\n"
                                      "[PacketFilter2]\nID=1\n[PacketFilter3]\nID=x\n");
    const ReadResult later = readSettings(dir.file("later.ini"), *adapters);
    ids.clear();
    for (const auto& f : later.model.PacketFilters())
        ids.push_back(f->id);
    EXPECT_EQ(ids, (std::vector<int32_t>{2, 1, 3}));
}

TEST(IniFileReader, AFilterKeepsTheNameOfAnAdapterThatIsNotThere) {
    const auto adapters = sampleAdapters(); // eth0 and wlan0, no wg0
    TempFolder dir;
    writeBytes(dir.file("in.ini"), "[PacketFilter1]\nADAPTER_NAME=wg0\nCOMMENT=lone\rCR\n"
                                   "[PacketFilter2]\nADAPTER_INDEX=77\n"
                                   "[PacketFilter3]\nADAPTER_NAME=none\n");
    const ReadResult r = readSettings(dir.file("in.ini"), *adapters);
    ASSERT_EQ(r.model.PacketFilterCount(), 3);
    EXPECT_EQ(r.model.PacketFilterAt(0)->adapterIndex, -1);
    EXPECT_EQ(r.model.PacketFilterAt(0)->adapterName, "wg0");
    // A lone CR reads as a blank, so that the text can be written back.
    EXPECT_EQ(r.model.PacketFilterAt(0)->comment, "lone CR");
    // A legacy index that names no interface leaves the filter without an adapter.
    EXPECT_EQ(r.model.PacketFilterAt(1)->adapterIndex, -1);
    EXPECT_EQ(r.model.PacketFilterAt(1)->adapterName, "");

    ASSERT_TRUE(writeSettings(r.model, dir.file("out.ini"), *adapters));
    const std::string written = readBytes(dir.file("out.ini"));
    EXPECT_NE(written.find("[PacketFilter1]\nPROTOCOL=6\nADAPTER_NAME=wg0\n"), std::string::npos);
    EXPECT_NE(written.find("[PacketFilter2]\nPROTOCOL=6\nADAPTER_NAME=none\n"), std::string::npos);
    EXPECT_NE(written.find("[PacketFilter3]\nPROTOCOL=6\nADAPTER_NAME=none\n"), std::string::npos);
    EXPECT_NE(written.find("COMMENT=lone CR\n"), std::string::npos);

    // The index a vanished adapter left behind may belong to another one by now
    // (here eth0's): the name the filter is bound to is what is written.
    IniFileObject stale = r.model;
    stale.PacketFilterAt(0)->adapterIndex = 2;
    ASSERT_TRUE(writeSettings(stale, dir.file("stale.ini"), *adapters));
    EXPECT_NE(
        readBytes(dir.file("stale.ini")).find("[PacketFilter1]\nPROTOCOL=6\nADAPTER_NAME=wg0\n"),
        std::string::npos);
}

namespace {

// The machine's files, counting how often a whole file is read.
class CountingFileSystem final : public FileSystem {
public:
    std::error_code readFile(const std::string& path, std::string& bytes) override {
        ++reads;
        return m_real.readFile(path, bytes);
    }
    std::error_code writeNewFile(const std::string& path, std::string_view bytes,
                                 std::optional<FileOwner> owner) override {
        return m_real.writeNewFile(path, bytes, owner);
    }
    std::error_code rename(const std::string& from, const std::string& to) override {
        return m_real.rename(from, to);
    }
    std::error_code remove(const std::string& path) override { return m_real.remove(path); }
    std::error_code syncDirectory(const std::string& directory) override {
        return m_real.syncDirectory(directory);
    }
    FileStatus status(const std::string& path) override { return m_real.status(path); }
    FileStatus linkStatus(const std::string& path) override { return m_real.linkStatus(path); }
    std::error_code readLink(const std::string& path, std::string& target) override {
        return m_real.readLink(path, target);
    }
    std::optional<std::vector<unsigned>> groupMembers(unsigned gid) override {
        return m_real.groupMembers(gid);
    }

    int reads = 0;

private:
    PosixFileSystem m_real;
};

} // namespace

TEST(IniFileReader, ReadsTheFileOnceHoweverManySectionsItHas) {
    const auto adapters = sampleAdapters();
    TempFolder dir;
    const std::string file = dir.file("Setting.ini");
    std::string text = "[Common Settings]\nAUTO_SAVE=FALSE\n";
    for (int i = 1; i <= 1000; ++i)
        text += "[PacketFilter" + std::to_string(i) + "]\n[Other" + std::to_string(i) + "]\n";
    writeBytes(file, text);

    CountingFileSystem fs;
    FilePrivateProfile profile(fs);
    RecordingMessages messages;
    IniFileObject model;
    ASSERT_TRUE(IniFileReader(profile, *adapters, messages).ReadIniFile(model, file));
    EXPECT_EQ(model.PacketFilterCount(), 1000);
    EXPECT_EQ(model.GetAutoSave(), 0);
    EXPECT_EQ(fs.reads, 1);

    // The next read sees the file as it is by then.
    writeBytes(file, "[PacketFilter1]\n");
    IniFileObject next;
    ASSERT_TRUE(IniFileReader(profile, *adapters, messages).ReadIniFile(next, file));
    EXPECT_EQ(next.PacketFilterCount(), 1);
    EXPECT_EQ(fs.reads, 2);
}

namespace {

// A profile whose buffers are always too small, a state no real file of a size the
// system reads can make.
class TooSmallProfile final : public PrivateProfile {
public:
    explicit TooSmallProfile(bool namesFit) : m_namesFit(namesFit) {}
    uint32_t getSectionNames(std::span<char> b, const std::string&) override {
        if (m_namesFit) {
            static const char names[] = "PacketFilter1\0PacketFilter2\0";
            std::memcpy(b.data(), names, sizeof names);
            return sizeof names - 1;
        }
        return tooSmall(b);
    }
    uint32_t getSection(std::string_view section, std::span<char> b, const std::string&) override {
        if (section == "PacketFilter1") {
            static const char lines[] = "FILTER_NAME=kept\0";
            std::memcpy(b.data(), lines, sizeof lines);
            return sizeof lines - 1;
        }
        return tooSmall(b);
    }
    bool writeString(std::string_view, std::string_view, std::string_view,
                     const std::string&) override {
        return false;
    }
    void beginNewFile(const std::string&) override {}
    bool flush(const std::string&) override { return false; }
    void discard(const std::string&) override {}

    size_t largestBuffer = 0;

private:
    uint32_t tooSmall(std::span<char> b) {
        largestBuffer = std::max(largestBuffer, b.size());
        b[b.size() - 2] = '\0';
        b[b.size() - 1] = '\0';
        return static_cast<uint32_t>(b.size() - 2);
    }
    bool m_namesFit;
};

} // namespace

TEST(IniFileReader, ReportsBuffersThatCannotHoldTheFile) {
    const auto adapters = sampleAdapters();
    RecordingMessages messages;
    IniFileObject model;

    TooSmallProfile names(false);
    EXPECT_FALSE(IniFileReader(names, *adapters, messages).ReadIniFile(model, "x"));
    EXPECT_EQ(names.largestBuffer, kMaxBufferSize);
    ASSERT_EQ(messages.recorded().size(), 1u);
    EXPECT_EQ(messages.recorded()[0].text,
              "IniReader::ReadIniFile:セクション用バッファが足りません");
    EXPECT_EQ(messages.recorded()[0].caption, "確認");

    messages.clear();
    TooSmallProfile data(true);
    EXPECT_FALSE(IniFileReader(data, *adapters, messages).ReadIniFile(model, "x"));
    ASSERT_EQ(messages.recorded().size(), 1u);
    EXPECT_EQ(messages.recorded()[0].text, "IniReader::ReadIniFile:データ用バッファが足りません");
    EXPECT_EQ(messages.recorded()[0].caption, "確認");
    // What was read before stays.
    ASSERT_EQ(model.PacketFilterCount(), 1);
    EXPECT_EQ(model.PacketFilterAt(0)->filterName, "kept");
}
