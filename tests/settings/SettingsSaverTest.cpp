#include "SettingsSaver.h"
#include "FilePrivateProfile.h"
#include "PosixFileSystem.h"
#include "ProfileDocument.h"
#include "RecordingMessages.h"
#include "SaveTestSupport.h"
#include "SettingsTestSupport.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <functional>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tavrin::settings;
using namespace tavrin::test;

namespace {

const std::string kOld = "[Common Settings]\nAUTO_SAVE=TRUE\nNOICON=FALSE\n\n"
                         "[PacketFilter1]\nPROTOCOL=6\n\n[PacketFilter2]\nPROTOCOL=17\n";
const std::string kOlder = "[Common Settings]\nAUTO_SAVE=FALSE\n";

const std::vector<Entry> kNew = {
    {"Common Settings", "AUTO_SAVE", "FALSE"},
    {"Common Settings", "NOICON", "TRUE"},
    {"PacketFilter1", "PROTOCOL", "1"},
};

} // namespace

TEST(SettingsSaver, FullSaveReplacesTheFileAndKeepsThePreviousOne) {
    TempFolder dir;
    const std::string file = dir.file("Setting.ini");
    writeBytes(file, kOld);
    writeBytes(file + ".autobak", kOlder);
    // A private file stays private, and so does its backup.
    ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
    ASSERT_EQ(::chmod((file + ".autobak").c_str(), 0644), 0);

    const SaveRun run = saveEntries(SaveKind::Full, file, kNew);
    EXPECT_TRUE(run.ok);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((file + ".autobak").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_TRUE(run.messages.empty());
    // Filter sections that the model no longer has are gone.
    EXPECT_EQ(readBytes(file), "[Common Settings]\nAUTO_SAVE=FALSE\nNOICON=TRUE\n\n"
                               "[PacketFilter1]\nPROTOCOL=1\n");
    EXPECT_EQ(readBytes(file + ".autobak"), kOld);
    EXPECT_FALSE(fileExists(file + ".tmp"));
    EXPECT_FALSE(fileExists(file + ".autobak.tmp"));
}

TEST(SettingsSaver, OptionsOnlySaveLeavesFilterSectionsAlone) {
    TempFolder dir;
    const std::string file = dir.file("Setting.ini");
    writeBytes(file, kOld);

    const SaveRun run = saveEntries(SaveKind::OptionsOnly, file, kNew);
    EXPECT_TRUE(run.ok);
    EXPECT_EQ(readBytes(file), "[Common Settings]\nAUTO_SAVE=FALSE\nNOICON=TRUE\n\n"
                               "[PacketFilter1]\nPROTOCOL=6\n\n[PacketFilter2]\nPROTOCOL=17\n");
    EXPECT_EQ(readBytes(file + ".autobak"), kOld);
}

TEST(SettingsSaver, CreatesAMissingFileWithoutABackup) {
    TempFolder dir;
    const std::string file = dir.file("Setting.ini");
    for (SaveKind kind : {SaveKind::OptionsOnly, SaveKind::Full}) {
        ::unlink(file.c_str());
        const SaveRun run = saveEntries(kind, file, kNew);
        EXPECT_TRUE(run.ok);
        EXPECT_FALSE(fileExists(file + ".autobak"));
        EXPECT_NE(readBytes(file).find("NOICON=TRUE"), std::string::npos);
    }
}

TEST(SettingsSaver, AnEmptyFileDoesNotPushOutTheBackup) {
    TempFolder dir;
    const std::string file = dir.file("Setting.ini");
    writeBytes(file, "");
    writeBytes(file + ".autobak", kOld);
    EXPECT_TRUE(saveEntries(SaveKind::Full, file, kNew).ok);
    EXPECT_EQ(readBytes(file + ".autobak"), kOld);
}

TEST(SettingsSaver, AProtectedFileIsReportedAndKept) {
    TempFolder dir;
    const std::string file = dir.file("Setting.ini");
    writeBytes(file, kOld);
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);

    SaveRun run = saveEntries(SaveKind::Full, file, kNew);
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.messages, (std::vector<std::string>{kMessageFileInUse}));
    EXPECT_EQ(readBytes(file), kOld);

    run = saveEntries(SaveKind::OptionsOnly, file, kNew);
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.messages, (std::vector<std::string>{kMessageWriteFailed}));
    EXPECT_EQ(readBytes(file), kOld);
}

TEST(SettingsSaver, ARefusedSaveLeavesTheFileAndTheBackupAsTheyWere) {
    // Every check that can refuse a save runs before the backup is touched: the
    // previous generation is still there, byte for byte.
    struct Case {
        const char* what;
        SaveKind kind;
        std::vector<Entry> entries;
        // Makes the refusing state in the folder; returns the path to save through.
        std::function<std::string(const TempFolder&)> prepare;
        std::string message;
    };
    const auto plain = [](const TempFolder& dir) { return dir.file("Setting.ini"); };
    const auto protectedFile = [](const TempFolder& dir) {
        EXPECT_EQ(::chmod(dir.file("Setting.ini").c_str(), 0444), 0);
        return dir.file("Setting.ini");
    };
    // A link in a folder anyone may write: another user could point it anywhere.
    const auto linkInOpenFolder = [](const TempFolder& dir) {
        EXPECT_EQ(::mkdir(dir.file("open").c_str(), 0777), 0);
        EXPECT_EQ(::chmod(dir.file("open").c_str(), 0777), 0);
        EXPECT_EQ(::symlink(dir.file("Setting.ini").c_str(), dir.file("open/Setting.ini").c_str()),
                  0);
        return dir.file("open/Setting.ini");
    };
    // A private link to a file in a folder anyone may write.
    const auto targetInOpenFolder = [](const TempFolder& dir) {
        EXPECT_EQ(::mkdir(dir.file("open").c_str(), 0777), 0);
        EXPECT_EQ(::chmod(dir.file("open").c_str(), 0777), 0);
        EXPECT_EQ(::rename(dir.file("Setting.ini").c_str(), dir.file("open/Setting.ini").c_str()),
                  0);
        EXPECT_EQ(::mkdir(dir.file("mine").c_str(), 0755), 0);
        EXPECT_EQ(::symlink("../open/Setting.ini", dir.file("mine/Setting.ini").c_str()), 0);
        return dir.file("mine/Setting.ini");
    };
    const std::vector<Entry> badKey = {{"Common Settings", "NOICON", "TRUE"},
                                       {"Common Settings", "BAD=KEY", "1"}};
    const Case cases[] = {
        {"full save of a protected file", SaveKind::Full, kNew, protectedFile, kMessageFileInUse},
        {"options-only save of a protected file", SaveKind::OptionsOnly, kNew, protectedFile,
         kMessageWriteFailed},
        {"full save of a key the file cannot hold", SaveKind::Full, badKey, plain,
         kMessageWriteFailed},
        {"options-only save of a key the file cannot hold", SaveKind::OptionsOnly, badKey, plain,
         kMessageWriteFailed},
        {"full save through a link in an open folder", SaveKind::Full, kNew, linkInOpenFolder,
         "open/Setting.ini"},
        {"options-only save through a link in an open folder", SaveKind::OptionsOnly, kNew,
         linkInOpenFolder, "open/Setting.ini"},
        {"full save through a link to an open folder", SaveKind::Full, kNew, targetInOpenFolder,
         "mine/Setting.ini"},
    };
    for (const Case& c : cases) {
        TempFolder dir;
        writeBytes(dir.file("Setting.ini"), kOld);
        const std::string file = c.prepare(dir);
        // The backup sits beside the name the save was given.
        writeBytes(file + ".autobak", kOlder);
        const SaveRun run = saveEntries(c.kind, file, c.entries);
        EXPECT_FALSE(run.ok) << c.what;
        // The link refusals name the file they were asked to save.
        const std::string message = c.message.find("Setting.ini") != std::string::npos
                                        ? unsafeLinkMessage(dir.file(c.message))
                                        : c.message;
        EXPECT_EQ(run.messages, (std::vector<std::string>{message})) << c.what;
        EXPECT_EQ(readBytes(file), kOld) << c.what;
        EXPECT_EQ(readBytes(file + ".autobak"), kOlder) << c.what;
        EXPECT_FALSE(fileExists(file + ".tmp")) << c.what;
        EXPECT_FALSE(fileExists(file + ".autobak.tmp")) << c.what;
    }
}

namespace {

std::string linkText(const std::string& path) {
    char buffer[4096];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
    return n < 0 ? std::string() : std::string(buffer, static_cast<size_t>(n));
}

unsigned modeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

} // namespace

TEST(SettingsSaver, ASymbolicLinkStaysALinkAndItsTargetIsSaved) {
    // The settings kept elsewhere (a dotfiles folder), linked from the program's
    // folder: relative links, and a link to a link.
    for (SaveKind kind : {SaveKind::Full, SaveKind::OptionsOnly}) {
        for (const bool chained : {false, true}) {
            TempFolder dir;
            ASSERT_EQ(::mkdir(dir.file("conf").c_str(), 0700), 0);
            ASSERT_EQ(::mkdir(dir.file("app").c_str(), 0755), 0);
            const std::string target = dir.file("conf/Setting.ini");
            writeBytes(target, kOld);
            ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
            const std::string link = dir.file("app/Setting.ini");
            if (chained) {
                ASSERT_EQ(::symlink("conf/Setting.ini", dir.file("conf-link").c_str()), 0);
                ASSERT_EQ(::symlink("../conf-link", link.c_str()), 0);
            } else {
                ASSERT_EQ(::symlink("../conf/Setting.ini", link.c_str()), 0);
            }

            const SaveRun run = saveEntries(kind, link, kNew);
            EXPECT_TRUE(run.ok);
            EXPECT_TRUE(run.messages.empty());
            EXPECT_EQ(linkText(link), chained ? "../conf-link" : "../conf/Setting.ini");
            EXPECT_NE(readBytes(target).find("NOICON=TRUE"), std::string::npos);
            EXPECT_EQ(modeOf(target), 0640u);
            // The backup is the program's, beside the link, as private as the file.
            EXPECT_EQ(readBytes(link + ".autobak"), kOld);
            EXPECT_EQ(modeOf(link + ".autobak"), 0640u);
            EXPECT_FALSE(fileExists(target + ".tmp"));
            EXPECT_FALSE(fileExists(link + ".tmp"));
        }
    }

    // A link whose file is not there yet gets it made where it points.
    TempFolder dir;
    ASSERT_EQ(::mkdir(dir.file("conf").c_str(), 0700), 0);
    ASSERT_EQ(::symlink("conf/Setting.ini", dir.file("Setting.ini").c_str()), 0);
    EXPECT_TRUE(saveEntries(SaveKind::Full, dir.file("Setting.ini"), kNew).ok);
    EXPECT_EQ(linkText(dir.file("Setting.ini")), "conf/Setting.ini");
    EXPECT_NE(readBytes(dir.file("conf/Setting.ini")).find("NOICON=TRUE"), std::string::npos);

    // A loop of links is no file to save.
    ASSERT_EQ(::symlink("loop-b", dir.file("loop-a").c_str()), 0);
    ASSERT_EQ(::symlink("loop-a", dir.file("loop-b").c_str()), 0);
    const SaveRun loop = saveEntries(SaveKind::Full, dir.file("loop-a"), kNew);
    EXPECT_FALSE(loop.ok);
    EXPECT_EQ(loop.messages, (std::vector<std::string>{kMessageWriteFailed}));
    EXPECT_EQ(linkText(dir.file("loop-a")), "loop-b");
}

TEST(SettingsSaver, AFileThatCannotBeReadStopsTheSaveBeforeAnythingIsWritten) {
    TempFolder dir;
    const std::string file = dir.file("Setting.ini");
    ASSERT_EQ(::mkdir(file.c_str(), 0755), 0);
    const SaveRun run = saveEntries(SaveKind::Full, file, kNew);
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.messages, (std::vector<std::string>{kMessageBackupFailed}));
    EXPECT_FALSE(fileExists(file + ".autobak"));
}

// Kills a child process at every file operation of a save in turn and checks that
// the settings file is then the old one or the new one in full, never a mix.
TEST(SettingsSaver, DeathAtAnyStepLeavesTheOldOrTheNewFileWhole) {
    for (SaveKind kind : {SaveKind::Full, SaveKind::OptionsOnly}) {
        TempFolder reference;
        const std::string referenceFile = reference.file("Setting.ini");
        writeBytes(referenceFile, kOld);
        ASSERT_TRUE(saveEntries(kind, referenceFile, kNew).ok);
        const std::string expectedNew = readBytes(referenceFile);
        ASSERT_NE(expectedNew, kOld);

        bool completed = false;
        int deaths = 0;
        for (int dieAt = 0; dieAt < 200 && !completed; ++dieAt) {
            TempFolder dir;
            const std::string file = dir.file("Setting.ini");
            writeBytes(file, kOld);
            writeBytes(file + ".autobak", kOlder);

            const pid_t pid = ::fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                DyingFileSystem fs(dieAt);
                FilePrivateProfile profile(fs);
                RecordingMessages messages;
                SettingsSaver saver(fs, profile, messages);
                ::_exit(saver.saveFile(kind, file, writeEntries(kNew)) ? 0 : 3);
            }
            int status = 0;
            ASSERT_EQ(::waitpid(pid, &status, 0), pid);
            if (WIFEXITED(status)) {
                ASSERT_EQ(WEXITSTATUS(status), 0) << "save failed without dying";
                completed = true;
            } else {
                ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
                ++deaths;
            }

            const std::string now = readBytes(file);
            EXPECT_TRUE(now == kOld || now == expectedNew) << "death at " << dieAt << ":\n" << now;
            const std::string backup = readBytes(file + ".autobak");
            EXPECT_TRUE(backup == kOlder || backup == kOld) << "death at " << dieAt;
            if (now == expectedNew) {
                EXPECT_EQ(backup, kOld) << "death at " << dieAt;
            }

            // The next save after a death goes through and cleans up after it.
            if (!completed) {
                EXPECT_TRUE(saveEntries(kind, file, kNew).ok);
                EXPECT_EQ(readBytes(file), expectedNew);
                EXPECT_FALSE(fileExists(file + ".tmp"));
            }
        }
        EXPECT_TRUE(completed);
        EXPECT_GE(deaths, 6);
    }
}

namespace {

struct ProgramSave {
    bool ok;
    std::vector<std::string> messages;
};

// The whole save as the program runs it, with the external command file beside.
ProgramSave programSave(SaveKind kind, const IniFileObject& edited, IniFileObject& inForce,
                        const std::string& file, const std::string& commandFile) {
    const auto adapters = sampleAdapters();
    PosixFileSystem fs;
    FilePrivateProfile profile(fs);
    RecordingMessages messages;
    tavrin::commands::ExternalCommandIni commands(fs, messages, commandFile);
    commands.load();
    SettingsSaver saver(fs, profile, messages);
    const bool ok = saver.save(kind, edited, inForce, *adapters, file, &commands);
    return {ok, messages.texts()};
}

tavrin::PacketFilter namedFilter(const char* name) {
    tavrin::PacketFilter f;
    f.filterName = name;
    return f;
}

} // namespace

TEST(SettingsSaver, SavesTheEditedSettingsAndTheCommands) {
    TempFolder dir;
    const std::string file = dir.file("Setting.ini");
    const std::string commandFile = dir.file("ExternalCommand.ini");
    IniFileObject edited;
    edited.SetNoIcon(1);
    edited.AddPacketFilter(namedFilter("web"));
    edited.AddPacketFilter(namedFilter("mail"));
    IniFileObject inForce;
    inForce.AddPacketFilter(namedFilter("old"));

    ProgramSave run = programSave(SaveKind::Full, edited, inForce, file, commandFile);
    EXPECT_TRUE(run.ok);
    EXPECT_TRUE(run.messages.empty());
    EXPECT_EQ(inForce.PacketFilterCount(), 2);
    EXPECT_TRUE(fileExists(commandFile)); // the default set, written with the settings
    const auto adapters = sampleAdapters();
    ReadResult back = readSettings(file, *adapters);
    EXPECT_EQ(back.model.GetNoIcon(), 1);
    ASSERT_EQ(back.model.PacketFilterCount(), 2);
    EXPECT_EQ(back.model.PacketFilterAt(1)->filterName, "mail");

    // Options only: the settings in force keep their filters, and so does the file.
    IniFileObject optionsEdited;
    optionsEdited.SetNoIcon(0);
    optionsEdited.SetWindowRect({1, 2, 3, 4});
    run = programSave(SaveKind::OptionsOnly, optionsEdited, inForce, file, commandFile);
    EXPECT_TRUE(run.ok);
    EXPECT_EQ(inForce.PacketFilterCount(), 2);
    EXPECT_EQ(inForce.GetNoIcon(), 0);
    back = readSettings(file, *adapters);
    EXPECT_EQ(back.model.GetNoIcon(), 0);
    EXPECT_EQ(back.model.GetWindowRect(), (WindowRect{1, 2, 3, 4}));
    EXPECT_EQ(back.model.PacketFilterCount(), 2);
    EXPECT_EQ(readBytes(file + ".autobak").find("NOICON=TRUE") != std::string::npos, true);

    // A text that would read back as another filter ("a,b" reads as "a") is never
    // written: the save fails with its message and the file stays as it was.
    const std::string before = readBytes(file);
    for (const char* text : {"a,b", "two\nlines", "cr\r"}) {
        EXPECT_FALSE(tavrin::isStorableText(text)) << text;
        IniFileObject unstorable;
        unstorable.AddPacketFilter(namedFilter("web"));
        unstorable.PacketFilterAt(0)->appName = text;
        const std::string backup = readBytes(file + ".autobak");
        run = programSave(SaveKind::Full, unstorable, inForce, file, commandFile);
        EXPECT_FALSE(run.ok) << text;
        EXPECT_EQ(run.messages, (std::vector<std::string>{kMessageWriteFailed})) << text;
        EXPECT_EQ(readBytes(file), before) << text;
        EXPECT_EQ(readBytes(file + ".autobak"), backup) << text;
    }
    tavrin::DynamicFilter dynamic;
    dynamic.runningProcessName = "x,y";
    IniFileObject unstorable;
    unstorable.AddDynamicFilter(dynamic);
    EXPECT_FALSE(programSave(SaveKind::Full, unstorable, inForce, file, commandFile).ok);
    EXPECT_EQ(readBytes(file), before);
}

TEST(SettingsSaver, AStoppedSaveLeavesTheCommandFileAloneAFailedWriteDoesNot) {
    TempFolder dir;
    const std::string file = dir.file("Setting.ini");
    const std::string commandFile = dir.file("ExternalCommand.ini");
    writeBytes(file, kOld);
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    IniFileObject edited;
    IniFileObject inForce;

    // Stopped before writing: the file is protected.
    ProgramSave run = programSave(SaveKind::Full, edited, inForce, file, commandFile);
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.messages, (std::vector<std::string>{kMessageFileInUse}));
    EXPECT_FALSE(fileExists(commandFile));
    EXPECT_EQ(readBytes(file), kOld);

    // The write itself failed: the message, then the commands are saved all the same.
    run = programSave(SaveKind::OptionsOnly, edited, inForce, file, commandFile);
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.messages, (std::vector<std::string>{kMessageWriteFailed}));
    EXPECT_TRUE(fileExists(commandFile));
    EXPECT_EQ(readBytes(file), kOld);
}
