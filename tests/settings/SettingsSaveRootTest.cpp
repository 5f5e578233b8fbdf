// Saving on a full disk and in a read-only folder, made real with a small tmpfs and
// a read-only bind mount in a mount namespace private to this test process.
#include "ExternalCommandIni.h"
#include "FilePrivateProfile.h"
#include "PosixFileSystem.h"
#include "RecordingMessages.h"
#include "SaveTestSupport.h"
#include "SettingsSaver.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tavrin::settings;
using namespace tavrin::test;
using tavrin::commands::ExternalCommandIni;

namespace {

const std::string kOld = "[Common Settings]\nAUTO_SAVE=TRUE\n\n[PacketFilter1]\nPROTOCOL=6\n";
const std::string kCommands = "[External Command1]\n1,0,1,old,echo old\n";

// Enough keys that the new file needs several pages.
std::vector<Entry> bigSettings() {
    std::vector<Entry> entries;
    for (int i = 0; i < 60; ++i)
        entries.push_back(
            {"PacketFilter" + std::to_string(i + 1), "COMMENT", std::string(200, 'c')});
    entries.push_back({"Common Settings", "AUTO_SAVE", "FALSE"});
    return entries;
}

class Unmount final {
public:
    explicit Unmount(std::string target) : m_target(std::move(target)) {}
    ~Unmount() { ::umount2(m_target.c_str(), MNT_DETACH); }
    Unmount(const Unmount&) = delete;
    Unmount& operator=(const Unmount&) = delete;

private:
    std::string m_target;
};

SaveRun saveCommands(const std::string& file) {
    PosixFileSystem fs;
    RecordingMessages messages;
    ExternalCommandIni ini(fs, messages, file);
    ini.load();
    ini.add({1, 0, "new", "echo new", 1});
    const bool ok = ini.save() == 1;
    return {ok, messages.texts()};
}

// Fills the file system of `dir` and then frees `freeBytes` of it again.
void fillLeaving(const std::string& filler, off_t freeBytes) {
    const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const std::string chunk(4096, 'f');
    while (::write(fd, chunk.data(), chunk.size()) > 0) {
    }
    ASSERT_EQ(errno, ENOSPC);
    struct stat st {};
    ASSERT_EQ(::fstat(fd, &st), 0);
    ASSERT_EQ(::ftruncate(fd, std::max<off_t>(0, st.st_size - freeBytes)), 0);
    ::close(fd);
}

class SaveOnMounts : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_ready = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0 &&
                  ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    }
    void SetUp() override {
        if (!s_ready)
            GTEST_SKIP() << "needs root and a private mount namespace";
    }
    static bool s_ready;
};
bool SaveOnMounts::s_ready = false;

} // namespace

TEST_F(SaveOnMounts, AFullDiskKeepsTheOldFilesAndSaysSo) {
    TempFolder dir;
    ASSERT_EQ(::mount("tavrin-settings", dir.path().c_str(), "tmpfs", 0, "size=256k,mode=0755"), 0);
    Unmount unmount(dir.path());
    const std::string file = dir.file("Setting.ini");
    const std::string commands = dir.file("ExternalCommand.ini");
    writeBytes(file, kOld);
    writeBytes(commands, kCommands);

    // No room even for the backup.
    fillLeaving(dir.file("filler"), 0);
    SaveRun saved = saveEntries(SaveKind::Full, file, bigSettings());
    EXPECT_FALSE(saved.ok);
    EXPECT_EQ(saved.messages, (std::vector<std::string>{kMessageBackupFailed}));
    EXPECT_EQ(readBytes(file), kOld);
    EXPECT_FALSE(fileExists(file + ".autobak"));
    EXPECT_FALSE(fileExists(file + ".autobak.tmp"));

    saved = saveCommands(commands);
    EXPECT_FALSE(saved.ok);
    EXPECT_EQ(saved.messages, (std::vector<std::string>{commands + "の保存に失敗。"}));
    EXPECT_EQ(readBytes(commands), kCommands);
    EXPECT_FALSE(fileExists(commands + ".tmp"));

    // Room for the backup but not for the new file.
    fillLeaving(dir.file("filler"), 2 * 4096);
    for (SaveKind kind : {SaveKind::Full, SaveKind::OptionsOnly}) {
        saved = saveEntries(
            kind, file,
            kind == SaveKind::Full
                ? bigSettings()
                : std::vector<Entry>{{"Common Settings", "COMMENT", std::string(12000, 'x')}});
        EXPECT_FALSE(saved.ok);
        EXPECT_EQ(saved.messages, (std::vector<std::string>{kMessageWriteFailed}));
        EXPECT_EQ(readBytes(file), kOld);
        EXPECT_EQ(readBytes(file + ".autobak"), kOld);
        EXPECT_FALSE(fileExists(file + ".tmp"));
    }

    // With room again, the same save goes through.
    ASSERT_EQ(::unlink(dir.file("filler").c_str()), 0);
    saved = saveEntries(SaveKind::Full, file, bigSettings());
    EXPECT_TRUE(saved.ok);
    EXPECT_NE(readBytes(file).find("[PacketFilter60]"), std::string::npos);
    EXPECT_TRUE(saveCommands(commands).ok);
}

TEST_F(SaveOnMounts, AReadOnlyFolderKeepsTheOldFilesAndSaysSo) {
    TempFolder dir;
    const std::string file = dir.file("Setting.ini");
    const std::string commands = dir.file("ExternalCommand.ini");
    writeBytes(file, kOld);
    writeBytes(commands, kCommands);
    ASSERT_EQ(::mount(dir.path().c_str(), dir.path().c_str(), nullptr, MS_BIND, nullptr), 0);
    Unmount unmount(dir.path());
    ASSERT_EQ(
        ::mount(nullptr, dir.path().c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr),
        0);

    for (SaveKind kind : {SaveKind::Full, SaveKind::OptionsOnly}) {
        const SaveRun saved = saveEntries(kind, file, bigSettings());
        EXPECT_FALSE(saved.ok);
        EXPECT_EQ(saved.messages, (std::vector<std::string>{kMessageBackupFailed}));
        EXPECT_EQ(readBytes(file), kOld);
    }
    const SaveRun saved = saveCommands(commands);
    EXPECT_FALSE(saved.ok);
    EXPECT_EQ(saved.messages, (std::vector<std::string>{commands + "の保存に失敗。"}));
    EXPECT_EQ(readBytes(commands), kCommands);

    // Without a file there is nothing to back up; the write itself then fails.
    const SaveRun missing = saveEntries(SaveKind::Full, dir.file("Other.ini"), bigSettings());
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.messages, (std::vector<std::string>{kMessageWriteFailed}));
    EXPECT_FALSE(fileExists(dir.file("Other.ini")));
}
