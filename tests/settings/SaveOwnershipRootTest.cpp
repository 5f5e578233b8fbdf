// Saves run as root over files and links that belong to an unprivileged user: the
// files stay theirs, and a link that user (or any user but the file's owner) could
// redirect is never followed.
#include "ExternalCommandIni.h"
#include "FileSystem.h"
#include "PosixFileSystem.h"
#include "RecordingMessages.h"
#include "SaveTestSupport.h"
#include "SettingsSaver.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <functional>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tavrin::settings;
using namespace tavrin::test;
using tavrin::commands::ExternalCommandIni;

namespace {

const std::string kOld = "[Common Settings]\nAUTO_SAVE=TRUE\n\n[PacketFilter1]\nPROTOCOL=6\n";
const std::string kOlder = "[Common Settings]\nAUTO_SAVE=FALSE\n";
const std::vector<Entry> kNew = {{"Common Settings", "NOICON", "TRUE"},
                                 {"PacketFilter1", "PROTOCOL", "17"}};

struct Owner {
    uid_t uid;
    gid_t gid;
    unsigned mode;
    bool operator==(const Owner&) const = default;
};

Owner ownerOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return {0, 0, 0};
    return {st.st_uid, st.st_gid, static_cast<unsigned>(st.st_mode & 07777)};
}

bool isLink(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

class SaveAsRoot : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root to hand files to another user";
        const passwd* pw = ::getpwnam("nobody");
        if (pw == nullptr)
            GTEST_SKIP() << "no unprivileged user 'nobody'";
        m_user = {pw->pw_uid, pw->pw_gid, 0};
        // The folder itself must be reachable for the files below to be theirs.
        ASSERT_EQ(::chmod(m_dir.path().c_str(), 0755), 0);
    }

    // A folder of the test's folder, with that owner, group and mode.
    std::string folder(const char* name, uid_t uid, gid_t gid, mode_t mode) {
        const std::string path = m_dir.file(name);
        EXPECT_EQ(::mkdir(path.c_str(), 0700), 0) << path;
        EXPECT_EQ(::chown(path.c_str(), uid, gid), 0) << path;
        EXPECT_EQ(::chmod(path.c_str(), mode), 0) << path;
        return path;
    }

    // A file with that contents, owner, group and mode.
    void file(const std::string& path, const std::string& bytes, uid_t uid, gid_t gid,
              mode_t mode) {
        writeBytes(path, bytes);
        EXPECT_EQ(::chown(path.c_str(), uid, gid), 0) << path;
        EXPECT_EQ(::chmod(path.c_str(), mode), 0) << path;
    }

    TempFolder m_dir;
    Owner m_user{};
};

} // namespace

TEST_F(SaveAsRoot, AUserFileKeepsItsOwnerAndMode) {
    for (SaveKind kind : {SaveKind::Full, SaveKind::OptionsOnly}) {
        const std::string dir = m_dir.path();
        const std::string settings = dir + "/Setting.ini";
        file(settings, kOld, m_user.uid, m_user.gid, 0640);
        const SaveRun run = saveEntries(kind, settings, kNew);
        EXPECT_TRUE(run.ok);
        EXPECT_TRUE(run.messages.empty());
        const Owner expected{m_user.uid, m_user.gid, 0640};
        EXPECT_EQ(ownerOf(settings), expected);
        EXPECT_NE(readBytes(settings).find("NOICON=TRUE"), std::string::npos);
        // The backup holds the same settings: it is theirs and as private.
        EXPECT_EQ(ownerOf(settings + ".autobak"), expected);
        EXPECT_EQ(readBytes(settings + ".autobak"), kOld);
    }

    const std::string commands = m_dir.file("ExternalCommand.ini");
    file(commands, "[External Command1]\n1,0,1,old,echo old\n", m_user.uid, m_user.gid, 0600);
    PosixFileSystem fs;
    RecordingMessages messages;
    ExternalCommandIni store(fs, messages, commands);
    ASSERT_EQ(store.load(), 1);
    ASSERT_TRUE(store.add({1, 0, "new", "echo new", 1}));
    EXPECT_EQ(store.save(), 1);
    EXPECT_EQ(ownerOf(commands), (Owner{m_user.uid, m_user.gid, 0600}));
    EXPECT_NE(readBytes(commands).find("echo new"), std::string::npos);
}

TEST_F(SaveAsRoot, ALinkIntoTheUsersOwnFolderIsFollowed) {
    const std::string home = folder("home", m_user.uid, m_user.gid, 0755);
    const std::string target = home + "/Setting.ini";
    file(target, kOld, m_user.uid, m_user.gid, 0640);
    const std::string link = m_dir.file("Setting.ini");
    ASSERT_EQ(::symlink("home/Setting.ini", link.c_str()), 0);
    // The user made the link: it belongs to the file's owner.
    ASSERT_EQ(::lchown(link.c_str(), m_user.uid, m_user.gid), 0);

    const SaveRun run = saveEntries(SaveKind::Full, link, kNew);
    EXPECT_TRUE(run.ok);
    EXPECT_TRUE(run.messages.empty());
    EXPECT_TRUE(isLink(link));
    EXPECT_NE(readBytes(target).find("NOICON=TRUE"), std::string::npos);
    EXPECT_EQ(ownerOf(target), (Owner{m_user.uid, m_user.gid, 0640}));
}

TEST_F(SaveAsRoot, ALinkAnotherUserCanChangeIsRefusedAndTheBackupKept) {
    // The file is root's; a link to it that the user could point elsewhere would let
    // the user choose what a root save writes.
    const std::string conf = folder("conf", 0, 0, 0700);
    const std::string target = conf + "/Setting.ini";
    struct Case {
        const char* what;
        std::function<std::string()> makeLink; // returns the link's path
    };
    int n = 0;
    const auto linkIn = [&](const std::string& dir, uid_t linkOwner) {
        const std::string link = dir + "/Setting.ini";
        EXPECT_EQ(::symlink(target.c_str(), link.c_str()), 0);
        EXPECT_EQ(::lchown(link.c_str(), linkOwner, 0), 0);
        return link;
    };
    const Case cases[] = {
        {"in the user's folder",
         [&] {
             return linkIn(
                 folder(("user" + std::to_string(++n)).c_str(), m_user.uid, m_user.gid, 0755), 0);
         }},
        // The user's primary group may write the folder.
        {"in a folder the user's group may write",
         [&] {
             return linkIn(folder(("group" + std::to_string(++n)).c_str(), 0, m_user.gid, 0775), 0);
         }},
        {"owned by the user in root's folder",
         [&] {
             return linkIn(folder(("root" + std::to_string(++n)).c_str(), 0, 0, 0755), m_user.uid);
         }},
    };
    for (const Case& c : cases) {
        for (SaveKind kind : {SaveKind::Full, SaveKind::OptionsOnly}) {
            file(target, kOld, 0, 0, 0600);
            const std::string link = c.makeLink();
            writeBytes(link + ".autobak", kOlder);
            const SaveRun run = saveEntries(kind, link, kNew);
            EXPECT_FALSE(run.ok) << c.what;
            EXPECT_EQ(run.messages, (std::vector<std::string>{unsafeLinkMessage(link)})) << c.what;
            EXPECT_TRUE(isLink(link)) << c.what;
            EXPECT_EQ(readBytes(target), kOld) << c.what;
            EXPECT_EQ(readBytes(link + ".autobak"), kOlder) << c.what;
        }
    }
}
