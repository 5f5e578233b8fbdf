#include "ExternalCommandIni.h"
#include "FileSystem.h"
#include "PosixFileSystem.h"
#include "RecordingMessages.h"
#include "TempFolder.h"
#include "TextEncoding.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace tavrin::commands;
using tavrin::settings::PosixFileSystem;
using tavrin::test::readBytes;
using tavrin::test::RecordingMessages;
using tavrin::test::TempFolder;
using tavrin::test::writeBytes;

namespace {

struct Store {
    explicit Store(const std::string& path) : ini(fs, messages, path) {}
    PosixFileSystem fs;
    RecordingMessages messages;
    ExternalCommandIni ini;
};

} // namespace

TEST(ExternalCommandIni, AMissingFileGivesTheDefaultSetAndSavingCreatesIt) {
    TempFolder dir;
    const std::string path = dir.file("ExternalCommand.ini");
    Store store(path);
    EXPECT_EQ(store.ini.load(), 0);
    ASSERT_EQ(store.ini.records().size(), 8u);
    EXPECT_EQ(store.ini.records(), ExternalCommandIni::defaultCommands());
    const auto& r = store.ini.records();
    EXPECT_EQ(r[0], (ExternalCommand{1, 0, "ping[CM](&P)", "ping -c 4 %RemoteAddr%", 1}));
    EXPECT_EQ(r[2].name, "net send[CM](&N)");
    EXPECT_EQ(r[2].commandLine, "logger -n %RemoteAddr% \"%UserIn%\"");
    EXPECT_EQ(r[6], (ExternalCommand{1, 0, "tracert dest[PM](&R)", "traceroute %DestAddr%", 2}));
    EXPECT_EQ(r[7], (ExternalCommand{0, 0, "netstat", "ss -tuan", 1}));

    EXPECT_EQ(store.ini.save(), 1);
    EXPECT_TRUE(store.messages.texts().empty());
    const std::string text = readBytes(path);
    EXPECT_EQ(text.substr(0, text.find('\n')), "[External Command1]");
    EXPECT_NE(text.find("\n1,0,1,ping[CM](&P),ping -c 4 %RemoteAddr%\n"), std::string::npos);
    EXPECT_NE(text.find("\n0,0,1,netstat,ss -tuan\n"), std::string::npos);

    Store again(path);
    EXPECT_EQ(again.ini.load(), 1);
    EXPECT_EQ(again.ini.records(), ExternalCommandIni::defaultCommands());
}

TEST(ExternalCommandIni, ReadsLinesFieldByField) {
    TempFolder dir;
    const std::string path = dir.file("ExternalCommand.ini");
    writeBytes(path, "[External Command1]\r\n"
                     "1,0,2,grep,grep -e a,b -e c\r\n"    // commas in the command line
                     "1,0,1,three numbers and a name\r\n" // no fourth comma: skipped
                     "1,0,1,empty line,\r\n"              // empty command line
                     "\r\n"
                     "7x,  -3,1z,odd numbers, keep  blanks \r\n"
                     "a,,b,no digits,x\n"
                     "1,1,1,last,no line end");
    Store store(path);
    EXPECT_EQ(store.ini.load(), 1);
    EXPECT_EQ(store.ini.records(),
              (std::vector<ExternalCommand>{{1, 0, "grep", "grep -e a,b -e c", 2},
                                            {1, 0, "empty line", "", 1},
                                            {7, -3, "odd numbers", " keep  blanks ", 1},
                                            {0, 0, "no digits", "x", 0},
                                            {1, 1, "last", "no line end", 1}}));
}

TEST(ExternalCommandIni, AHeaderOnlyFileIsAnEmptyListAndAWindowsFileIsConverted) {
    TempFolder dir;
    const std::string path = dir.file("ExternalCommand.ini");
    writeBytes(path, "[External Command1]\r\n");
    Store store(path);
    EXPECT_EQ(store.ini.load(), 1);
    EXPECT_TRUE(store.ini.records().empty());

    // "ping[接続](&P)" and a command line in CP932.
    writeBytes(path,
               "[External Command1]\r\n1,0,1,ping[\x90\xDA\x91\xB1](&P),ping %RemoteAddr%\r\n");
    EXPECT_EQ(store.ini.load(), 1);
    ASSERT_EQ(store.ini.records().size(), 1u);
    EXPECT_EQ(store.ini.records()[0].name, "ping[接続](&P)");
    EXPECT_EQ(store.ini.save(), 1);
    EXPECT_EQ(readBytes(path), "[External Command1]\n1,0,1,ping[接続](&P),ping %RemoteAddr%\n");
}

TEST(ExternalCommandIni, AStrayByteCostsOnlyItsOwnLine) {
    TempFolder dir;
    const std::string path = dir.file("ExternalCommand.ini");
    // UTF-8 with one command in Latin-1 ("café" and "é" before a comma).
    const std::string stray = "1,0,2,caf\xE9,echo caf\xE9";
    const std::string file = "[External Command1]\n1,0,1,ping[接続](&P),ping %RemoteAddr%\n" +
                             stray + "\n0,0,1,夜間の確認,ss -tuan\n";
    writeBytes(path, file);
    Store store(path);
    EXPECT_EQ(store.ini.load(), 1);
    EXPECT_EQ(store.messages.texts(),
              (std::vector<std::string>{tavrin::settings::mixedEncodingMessage(path, 3)}));
    EXPECT_EQ(store.ini.records(),
              (std::vector<ExternalCommand>{{1, 0, "ping[接続](&P)", "ping %RemoteAddr%", 1},
                                            {1, 0, "caf?", "echo caf?", 2},
                                            {0, 0, "夜間の確認", "ss -tuan", 1}}));

    // Saving without touching that command leaves its bytes as they were.
    EXPECT_EQ(store.ini.save(), 1);
    EXPECT_EQ(readBytes(path), file);
    ASSERT_TRUE(store.ini.remove(0));
    ASSERT_TRUE(store.ini.add({1, 0, "新規", "echo new", 1}));
    EXPECT_EQ(store.ini.save(), 1);
    EXPECT_EQ(readBytes(path), "[External Command1]\n" + stray +
                                   "\n0,0,1,夜間の確認,ss -tuan\n1,0,1,新規,echo new\n");

    // Once the user changed it, it is written as it is now.
    ASSERT_TRUE(store.ini.replace(0, {1, 0, "café", "echo café", 2}));
    EXPECT_EQ(store.ini.save(), 1);
    EXPECT_EQ(readBytes(path), "[External Command1]\n1,0,2,café,echo café\n"
                               "0,0,1,夜間の確認,ss -tuan\n1,0,1,新規,echo new\n");
    Store again(path);
    EXPECT_EQ(again.ini.load(), 1);
    EXPECT_TRUE(again.messages.texts().empty());
}

TEST(ExternalCommandIni, EditsKeepOrderAndRefuseWhatWouldBreakTheFile) {
    TempFolder dir;
    Store store(dir.file("ExternalCommand.ini"));
    const ExternalCommand a{1, 0, "a", "echo a", 1};
    const ExternalCommand b{0, 0, "b", "echo b,c", 1};
    const ExternalCommand c{1, 1, "c", "echo c", 2};
    EXPECT_TRUE(store.ini.add(a));
    EXPECT_TRUE(store.ini.add(b));
    EXPECT_TRUE(store.ini.add(c));
    EXPECT_FALSE(store.ini.add({1, 0, "x,y", "echo", 1}));
    EXPECT_FALSE(store.ini.add({1, 0, "x\ny", "echo", 1}));
    EXPECT_FALSE(store.ini.add({1, 0, "x", "echo\n2,0,1,injected,rm", 1}));
    EXPECT_EQ(store.ini.records(), (std::vector<ExternalCommand>{a, b, c}));

    const ExternalCommand d{1, 0, "d", "echo d", 2};
    EXPECT_TRUE(store.ini.replace(1, d));
    EXPECT_FALSE(store.ini.replace(3, d));
    EXPECT_FALSE(store.ini.replace(0, {1, 0, "e,f", "", 1}));
    EXPECT_EQ(store.ini.records(), (std::vector<ExternalCommand>{a, d, c}));
    EXPECT_FALSE(store.ini.remove(3));
    EXPECT_TRUE(store.ini.remove(0));
    EXPECT_EQ(store.ini.records(), (std::vector<ExternalCommand>{d, c}));

    EXPECT_EQ(store.ini.save(), 1);
    Store again(store.ini.path());
    EXPECT_EQ(again.ini.load(), 1);
    EXPECT_EQ(again.ini.records(), (std::vector<ExternalCommand>{d, c}));
}

TEST(ExternalCommandIni, CountsAndMenuEntriesFollowTargetAndMenuFlag) {
    TempFolder dir;
    Store store(dir.file("ExternalCommand.ini"));
    store.ini.load(); // the default set
    EXPECT_EQ(store.ini.count(kTargetAny), 8);
    // netstat is not in the menu but still counts.
    EXPECT_EQ(store.ini.count(kTargetTcpConnectionMonitor), 4);
    EXPECT_EQ(store.ini.count(kTargetPacketMonitor), 4);

    ASSERT_NE(store.ini.menuCommand(1, 2), nullptr);
    EXPECT_EQ(store.ini.menuCommand(1, 2)->name, "net send[CM](&N)");
    EXPECT_EQ(store.ini.menuCommand(1, 3), nullptr);
    ASSERT_NE(store.ini.menuCommand(2, 0), nullptr);
    EXPECT_EQ(store.ini.menuCommand(2, 0)->name, "ping src[PM](&P)");
    EXPECT_EQ(store.ini.menuCommand(2, 3)->name, "tracert dest[PM](&R)");
    EXPECT_EQ(store.ini.menuCommand(2, 4), nullptr);
    EXPECT_EQ(store.ini.menuCommand(kTargetAny, 6)->name, "tracert dest[PM](&R)");
    EXPECT_EQ(store.ini.menuCommand(kTargetAny, 7), nullptr);
    EXPECT_EQ(store.ini.menuCommand(1, -1), nullptr);

    // A target of 0 read from the file shows in neither menu.
    EXPECT_TRUE(store.ini.add({1, 0, "nowhere", "x", 0}));
    EXPECT_EQ(store.ini.count(1) + store.ini.count(2), 8);
    EXPECT_EQ(store.ini.menuCommand(1, 3), nullptr);
    EXPECT_EQ(store.ini.menuCommand(2, 4), nullptr);
}

TEST(ExternalCommandIni, AFailedSaveShowsThePathAndKeepsFileAndList) {
    TempFolder dir;
    const std::string path = dir.file("ExternalCommand.ini");
    writeBytes(path, "[External Command1]\n1,0,1,old,echo old\n");
    Store store(path);
    ASSERT_EQ(store.ini.load(), 1);
    ASSERT_TRUE(store.ini.add({1, 0, "new", "echo new", 1}));
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);

    EXPECT_EQ(store.ini.save(), 0);
    EXPECT_EQ(store.messages.texts(), (std::vector<std::string>{path + "の保存に失敗。"}));
    EXPECT_EQ(readBytes(path), "[External Command1]\n1,0,1,old,echo old\n");
    EXPECT_EQ(store.ini.records().size(), 2u);

    // Deleting the file while the program runs: the next save makes it again.
    ASSERT_EQ(::unlink(path.c_str()), 0);
    EXPECT_EQ(store.ini.save(), 1);
    EXPECT_EQ(readBytes(path), "[External Command1]\n1,0,1,old,echo old\n1,0,1,new,echo new\n");
}

TEST(ExternalCommandIni, AFileThatCannotBeReadIsNeverOverwritten) {
    TempFolder dir;
    const std::string folder = dir.file("ExternalCommand.ini");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    // A FIFO too: refused at once rather than waited on for a writer.
    const std::string fifo = dir.file("fifo.ini");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    for (const std::string& path : {folder, fifo}) {
        Store store(path);
        EXPECT_EQ(store.ini.load(), 0);
        EXPECT_EQ(store.ini.records(), ExternalCommandIni::defaultCommands());
        EXPECT_TRUE(store.ini.lastError());
        EXPECT_EQ(store.ini.save(), 0);
        EXPECT_EQ(store.messages.texts(), (std::vector<std::string>{path + "の保存に失敗。"}));
    }
    struct stat st {};
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST(ExternalCommandIni, SavesThroughAPrivateLinkAndRefusesAnOpenOne) {
    TempFolder dir;
    ASSERT_EQ(::mkdir(dir.file("conf").c_str(), 0700), 0);
    const std::string target = dir.file("conf/ExternalCommand.ini");
    const std::string old = "[External Command1]\n1,0,1,old,echo old\n";
    writeBytes(target, old);
    ASSERT_EQ(::chmod(target.c_str(), 0600), 0);

    const std::string link = dir.file("ExternalCommand.ini");
    ASSERT_EQ(::symlink("conf/ExternalCommand.ini", link.c_str()), 0);
    Store store(link);
    ASSERT_EQ(store.ini.load(), 1);
    ASSERT_TRUE(store.ini.add({1, 0, "new", "echo new", 1}));
    EXPECT_EQ(store.ini.save(), 1);
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(readBytes(target), old + "1,0,1,new,echo new\n");
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // The same link in a folder that anyone may write: another user could point it
    // at any file, so nothing is written.
    ASSERT_EQ(::mkdir(dir.file("open").c_str(), 0777), 0);
    ASSERT_EQ(::chmod(dir.file("open").c_str(), 0777), 0);
    const std::string openLink = dir.file("open/ExternalCommand.ini");
    ASSERT_EQ(::symlink(target.c_str(), openLink.c_str()), 0);
    Store open(openLink);
    ASSERT_EQ(open.ini.load(), 1);
    ASSERT_TRUE(open.ini.remove(0));
    EXPECT_EQ(open.ini.save(), 0);
    EXPECT_EQ(open.messages.texts(),
              (std::vector<std::string>{tavrin::settings::unsafeLinkMessage(openLink)}));
    EXPECT_EQ(readBytes(target), old + "1,0,1,new,echo new\n");
    ASSERT_EQ(::lstat(openLink.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}
