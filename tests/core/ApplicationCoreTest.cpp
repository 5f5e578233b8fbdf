// Start-up, saving and the exit path of the core, on real settings files.
#include "CoreHarness.h"
#include "HeadlessView.h"
#include "ReadAll.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>

namespace tavrin::core {
namespace {

using Strings = std::vector<std::string>;
using tavrin::test::RecordedMessage;

constexpr char kFilters[] = "[Common Settings]\nAUTO_SAVE=FALSE\n"
                            "[PacketFilter1]\nPROTOCOL=17\nFILTER_NAME=first\nID=1\n"
                            "[PacketFilter2]\nPROTOCOL=6\nFILTER_NAME=second\nID=2\n";

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

class ApplicationCoreTest : public ::testing::Test, protected test::CoreHarness {
protected:
    // An edit as the filter page makes it: the name of the first filter, and a
    // rebuild of the session.
    void editFilters() {
        m_core.edited().PacketFilterAt(0)->filterName = std::string_view("edited");
        m_core.filtersChanged();
    }
    std::string settingsFile() const { return m_folder.read("Setting.ini"); }
    bool sessionEnded() const {
        const auto names = m_engine.names();
        return names.size() >= 2 && names[names.size() - 2] == "STOP_IP_HOOK" &&
               names.back() == "CLEAR_FILTER";
    }
};

TEST_F(ApplicationCoreTest, AMissingSettingsFileIsCreatedWithDefaults) {
    ASSERT_TRUE(setUp(""));
    EXPECT_EQ(m_engine.names(),
              (Strings{"GET_VERSION", "STOP_IP_HOOK", "CLEAR_FILTER", "STOP_FILTERING"}));
    const std::string written = settingsFile();
    EXPECT_NE(written.find("[Common Settings]"), std::string::npos);
    EXPECT_NE(written.find("INI_FILE_VERSION=1300"), std::string::npos);
    EXPECT_NE(written.find("AUTO_SAVE=TRUE"), std::string::npos);
    EXPECT_TRUE(exists(m_folder / "ExternalCommand.ini"));
    EXPECT_TRUE(m_core.settingsSaved());
    EXPECT_TRUE(m_messages.texts().empty()) << ::testing::PrintToString(m_messages.texts());
}

TEST_F(ApplicationCoreTest, StartupOnSwitchesFilteringOnAfterTheSessionStarted) {
    ASSERT_TRUE(start("[Common Settings]\nAUTO_SAVE=FALSE\nSTARTUP_ON=TRUE\n"
                      "DO_DYNAMIC_FILTERING=FALSE\n"));
    EXPECT_EQ(m_engine.names(), (Strings{"SET_LOCALIP", "START_IP_HOOK", "START_FILTERING"}));
    EXPECT_TRUE(m_core.session().filtering());
    EXPECT_FALSE(m_core.session().dynamicFiltering());
    EXPECT_EQ(m_view.events.back(), "filtering on");
}

TEST_F(ApplicationCoreTest, LeavingWithSavedSettingsAsksNothingAndKeepsTheFilters) {
    ASSERT_TRUE(start(kFilters));
    m_core.edited().SetMaxPacketCaptureNum(300);
    EXPECT_TRUE(m_core.exitPath());
    EXPECT_TRUE(m_messages.recorded().empty());
    EXPECT_TRUE(sessionEnded());
    ASSERT_GE(m_view.events.size(), 3u);
    EXPECT_EQ(Strings(m_view.events.end() - 3, m_view.events.end()),
              (Strings{"timers off", "ending", "end"}));
    // Options are saved even so; the filter sections stay as they were.
    const std::string written = settingsFile();
    EXPECT_NE(written.find("MAX_PACKET_CAPTURE_NUM=300"), std::string::npos);
    EXPECT_NE(written.find("FILTER_NAME=first"), std::string::npos);
    EXPECT_TRUE(m_core.ended());
    EXPECT_FALSE(m_core.endedByFailure());
}

TEST_F(ApplicationCoreTest, CancelInTheSaveQuestionKeepsTheProgramRunning) {
    ASSERT_TRUE(start(kFilters));
    m_core.startFiltering();
    editFilters();
    m_engine.clear();
    m_messages.script(Answer::Cancel);
    EXPECT_FALSE(m_core.exitPath());
    ASSERT_EQ(m_messages.recorded().size(), 1u);
    const RecordedMessage& asked = m_messages.recorded()[0];
    EXPECT_EQ(asked.kind, RecordedMessage::Kind::YesNoCancel);
    EXPECT_EQ(asked.text, "設定は保存されていません。保存して終了しますか？");
    EXPECT_EQ(asked.caption, "Tavrin");
    EXPECT_TRUE(m_engine.names().empty()); // the session was not touched
    EXPECT_TRUE(m_core.session().filtering());
    EXPECT_FALSE(m_core.ended());
}

TEST_F(ApplicationCoreTest, NoLeavesTheFiltersUnsavedButKeepsTheOptions) {
    ASSERT_TRUE(start("[Common Settings]\nAUTO_SAVE=FALSE\nCONFIRM_CLOSE=TRUE\n"
                      "[PacketFilter1]\nFILTER_NAME=first\nID=1\n"));
    editFilters();
    m_core.edited().SetMaxPacketCaptureNum(300);
    m_messages.script(Answer::No);
    EXPECT_TRUE(m_core.exitPath());
    // After the save question the close question is not asked.
    EXPECT_EQ(m_messages.texts(), (Strings{"設定は保存されていません。保存して終了しますか？"}));
    const std::string written = settingsFile();
    EXPECT_NE(written.find("FILTER_NAME=first"), std::string::npos);
    EXPECT_EQ(written.find("FILTER_NAME=edited"), std::string::npos);
    EXPECT_NE(written.find("MAX_PACKET_CAPTURE_NUM=300"), std::string::npos);
    EXPECT_TRUE(sessionEnded());
}

TEST_F(ApplicationCoreTest, YesSavesTheFiltersAndCloseIsNotAskedAfterwards) {
    ASSERT_TRUE(start("[Common Settings]\nAUTO_SAVE=FALSE\nCONFIRM_CLOSE=TRUE\n"
                      "[PacketFilter1]\nFILTER_NAME=first\nID=1\n"));
    editFilters();
    m_messages.script(Answer::Yes);
    EXPECT_TRUE(m_core.exitPath());
    EXPECT_EQ(m_messages.texts(), (Strings{"設定は保存されていません。保存して終了しますか？"}));
    EXPECT_NE(settingsFile().find("FILTER_NAME=edited"), std::string::npos);
    EXPECT_TRUE(sessionEnded());
}

TEST_F(ApplicationCoreTest, AutoSaveSavesWithoutAskingButCloseIsStillConfirmed) {
    ASSERT_TRUE(start("[Common Settings]\nAUTO_SAVE=TRUE\nCONFIRM_CLOSE=TRUE\n"
                      "[PacketFilter1]\nFILTER_NAME=first\nID=1\n"));
    editFilters(); // with AUTO_SAVE the rebuild itself saves
    EXPECT_NE(settingsFile().find("FILTER_NAME=edited"), std::string::npos);
    m_core.edited().PacketFilterAt(0)->filterName = std::string_view("again");
    m_core.edited().PacketFilterAt(0)->comment = std::string_view("unsaved");
    m_engine.clear();
    m_messages.script(Answer::No);
    EXPECT_FALSE(m_core.exitPath());
    ASSERT_EQ(m_messages.recorded().size(), 1u);
    EXPECT_EQ(m_messages.recorded()[0].kind, RecordedMessage::Kind::YesNo);
    EXPECT_EQ(m_messages.recorded()[0].text, "終了してよろしいですか？");
    EXPECT_TRUE(m_engine.names().empty());
    EXPECT_FALSE(m_core.ended());

    m_messages.script(Answer::Yes);
    EXPECT_TRUE(m_core.exitPath());
    EXPECT_TRUE(sessionEnded());
}

TEST_F(ApplicationCoreTest, AFailedSaveKeepsTheProgramWithItsSession) {
    ASSERT_TRUE(start(kFilters));
    editFilters();
    // A protected file: the full save refuses to replace it.
    ASSERT_EQ(::chmod((m_folder / "Setting.ini").c_str(), 0444), 0);
    m_engine.clear();
    m_messages.script(Answer::Yes);
    EXPECT_FALSE(m_core.exitPath());
    EXPECT_TRUE(m_core.exitSaveFailed());
    EXPECT_EQ(m_messages.texts(), (Strings{"設定は保存されていません。保存して終了しますか？",
                                           "設定を保存できません。ファイルが使用中です。"}));
    EXPECT_TRUE(m_engine.names().empty());
    EXPECT_TRUE(m_core.session().running());
    EXPECT_FALSE(m_core.ended());

    // AUTO_SAVE does not ask, and its failed save keeps the program just the same.
    m_core.edited().SetAutoSave(1);
    m_messages.clear();
    EXPECT_FALSE(m_core.exitPath());
    EXPECT_EQ(m_messages.texts(), (Strings{"設定を保存できません。ファイルが使用中です。"}));
    EXPECT_FALSE(m_core.ended());

    // tavrinctl run has nobody to ask: it says so once, and the next signal leaves
    // without the save, through the rest of the exit path.
    std::FILE* err = std::tmpfile();
    ASSERT_NE(err, nullptr);
    ctl::SignalExit leave(m_core, err);
    EXPECT_FALSE(leave());
    EXPECT_FALSE(m_core.ended());
    EXPECT_EQ(test::fileText(err),
              "tavrinctl run: the settings could not be saved, so Tavrin keeps "
              "running; a second signal ends it without saving\n");
    EXPECT_TRUE(leave());
    EXPECT_TRUE(m_core.ended());
    EXPECT_TRUE(sessionEnded());
    EXPECT_EQ(m_view.events.back(), "end");
    EXPECT_NE(settingsFile().find("FILTER_NAME=first"), std::string::npos);
    EXPECT_EQ(test::fileText(err).find('\n'), test::fileText(err).size() - 1); // said once
    std::fclose(err);
}

TEST_F(ApplicationCoreTest, ANewBandwidthPeriodRebuildsTheSessionAndIsSaved) {
    ASSERT_TRUE(start(kFilters));
    m_engine.clear();
    m_core.edited().SetBandwidthControlTime(300);
    m_core.optionsAccepted();
    EXPECT_EQ(m_engine.names().front(), "STOP_IP_HOOK");
    EXPECT_EQ(m_engine.names().back(), "START_IP_HOOK");
    EXPECT_EQ(m_view.timerPeriod, std::chrono::milliseconds(300));
    EXPECT_NE(settingsFile().find("BANDWIDTH_CONTROL_TIME=300"), std::string::npos);

    m_engine.clear();
    m_core.edited().SetMaxPacketCaptureNum(150);
    m_core.optionsAccepted();
    EXPECT_TRUE(m_engine.names().empty()); // same period: no rebuild
    EXPECT_NE(settingsFile().find("MAX_PACKET_CAPTURE_NUM=150"), std::string::npos);
}

// The connection table of a system that cannot give it.
class FailingTable final : public TcpTableSource {
public:
    bool read(std::vector<TcpRow>&, std::string& error) override {
        error = "table unavailable";
        return false;
    }
    bool hasOwners() const override { return true; }
};

class BrokenTableTest : public ::testing::Test, protected test::CoreHarness {
protected:
    BrokenTableTest() : test::CoreHarness(std::make_unique<FailingTable>()) {}
};

TEST_F(BrokenTableTest, AFailedConnectionTableEndsTheProgramThroughTheExitPath) {
    ASSERT_TRUE(setUp("[Common Settings]\nAUTO_SAVE=FALSE\nSTARTUP_ON=TRUE\n"
                      "[PacketFilter1]\nPROTOCOL=17\nFILTER_NAME=first\nID=1\n"));
    m_core.initialise();
    EXPECT_EQ(m_messages.texts(),
              (Strings{"TCPテーブルの取得に失敗しました。Tavrinを終了します。\n"
                       "何度もこのメッセージが出る場合はWindowsを再起動してください。"}));
    EXPECT_TRUE(m_core.ended());
    EXPECT_EQ(m_view.events.back(), "end");
    EXPECT_FALSE(m_engine.hookRegistered()); // the start stopped where the program ended
    EXPECT_FALSE(m_view.timersRunning);
    EXPECT_TRUE(m_core.endedByFailure());
    // STARTUP_ON does not reach a daemon whose session has already ended.
    for (const std::string& name : m_engine.names())
        EXPECT_NE(name, "START_FILTERING");
    EXPECT_EQ(std::count(m_view.events.begin(), m_view.events.end(), "filtering on"), 0);
}

} // namespace
} // namespace tavrin::core
