#include "FilePrivateProfile.h"
#include "PosixFileSystem.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace tavrin::settings;
using tavrin::test::readBytes;
using tavrin::test::TempFolder;
using tavrin::test::writeBytes;

namespace {

std::vector<std::string> names(PrivateProfile& profile, const std::string& file) {
    std::vector<char> buffer(4096);
    profile.getSectionNames(buffer, file);
    std::vector<std::string> out;
    for (size_t i = 0; buffer[i] != '\0'; i += out.back().size() + 1)
        out.emplace_back(buffer.data() + i);
    return out;
}

std::vector<std::string> lines(PrivateProfile& profile, const std::string& section,
                               const std::string& file) {
    std::vector<char> buffer(16388);
    profile.getSection(section, buffer, file);
    std::vector<std::string> out;
    for (size_t i = 0; buffer[i] != '\0'; i += out.back().size() + 1)
        out.emplace_back(buffer.data() + i);
    return out;
}

} // namespace

TEST(FilePrivateProfile, ReadsAMissingFileAsEmptyAndACp932FileAsText) {
    TempFolder dir;
    PosixFileSystem fs;
    FilePrivateProfile profile(fs);
    std::vector<char> buffer(16);
    EXPECT_EQ(profile.getSectionNames(buffer, dir.file("none.ini")), 0u);
    EXPECT_FALSE(profile.lastError());

    // "[PacketFilter1]" with FILTER_NAME=ウェブ in CP932.
    writeBytes(dir.file("win.ini"),
               "[PacketFilter1]\r\nFILTER_NAME=\x83\x45\x83\x46\x83\x75\r\nPROTOCOL=6\r\n");
    EXPECT_EQ(names(profile, dir.file("win.ini")), (std::vector<std::string>{"PacketFilter1"}));
    EXPECT_EQ(lines(profile, "PacketFilter1", dir.file("win.ini")),
              (std::vector<std::string>{"FILTER_NAME=ウェブ", "PROTOCOL=6"}));

    // Writing it back gives UTF-8 and keeps what was not touched.
    ASSERT_TRUE(profile.writeString("PacketFilter1", "PROTOCOL", "17", dir.file("win.ini")));
    ASSERT_TRUE(profile.flush(dir.file("win.ini")));
    EXPECT_EQ(readBytes(dir.file("win.ini")), "[PacketFilter1]\nFILTER_NAME=ウェブ\nPROTOCOL=17\n");
}

TEST(FilePrivateProfile, KeepsWritesUntilFlushAndReadsThemBefore) {
    TempFolder dir;
    PosixFileSystem fs;
    FilePrivateProfile profile(fs);
    const std::string file = dir.file("Setting.ini");
    writeBytes(file, "[Common Settings]\nAUTO_SAVE=TRUE\n[PacketFilter1]\nPROTOCOL=6\n");

    ASSERT_TRUE(profile.writeString("Common Settings", "AUTO_SAVE", "FALSE", file));
    EXPECT_EQ(lines(profile, "Common Settings", file),
              (std::vector<std::string>{"AUTO_SAVE=FALSE"}));
    EXPECT_EQ(readBytes(file), "[Common Settings]\nAUTO_SAVE=TRUE\n[PacketFilter1]\nPROTOCOL=6\n");
    ASSERT_TRUE(profile.flush(file));
    EXPECT_EQ(readBytes(file), "[Common Settings]\nAUTO_SAVE=FALSE\n[PacketFilter1]\nPROTOCOL=6\n");
    EXPECT_FALSE(tavrin::test::fileExists(temporaryFileFor(file)));

    // A new file leaves the old one in place until it is flushed, then replaces it.
    profile.beginNewFile(file);
    ASSERT_TRUE(profile.writeString("Common Settings", "NOICON", "TRUE", file));
    EXPECT_EQ(names(profile, file), (std::vector<std::string>{"Common Settings"}));
    EXPECT_NE(readBytes(file).find("PacketFilter1"), std::string::npos);
    ASSERT_TRUE(profile.flush(file));
    EXPECT_EQ(readBytes(file), "[Common Settings]\nNOICON=TRUE\n");

    // Discarded writes never reach the file.
    ASSERT_TRUE(profile.writeString("Common Settings", "NOICON", "FALSE", file));
    profile.discard(file);
    EXPECT_TRUE(profile.flush(file));
    EXPECT_EQ(readBytes(file), "[Common Settings]\nNOICON=TRUE\n");
}

TEST(FilePrivateProfile, NeverReplacesAProtectedOrUnreadableFile) {
    TempFolder dir;
    PosixFileSystem fs;
    FilePrivateProfile profile(fs);

    const std::string readOnly = dir.file("ro.ini");
    writeBytes(readOnly, "[S]\nK=1\n");
    ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
    ASSERT_TRUE(profile.writeString("S", "K", "2", readOnly));
    EXPECT_FALSE(profile.flush(readOnly));
    EXPECT_EQ(profile.lastError(), std::errc::permission_denied);
    EXPECT_EQ(readBytes(readOnly), "[S]\nK=1\n");

    // A folder where the file should be cannot be read, so it is not written either.
    const std::string folder = dir.file("folder.ini");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    EXPECT_FALSE(profile.writeString("S", "K", "1", folder));
    std::vector<char> buffer(64, 'x');
    EXPECT_EQ(profile.getSectionNames(buffer, folder), 0u);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_TRUE(profile.lastError());

    // A FIFO is refused at once rather than waited on for a writer, and never replaced.
    const std::string fifo = dir.file("fifo.ini");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_EQ(profile.getSectionNames(buffer, fifo), 0u);
    EXPECT_EQ(profile.lastError(), std::errc::invalid_argument);
    EXPECT_FALSE(profile.writeString("S", "K", "1", fifo));
    profile.beginNewFile(fifo);
    ASSERT_TRUE(profile.writeString("S", "K", "1", fifo));
    EXPECT_FALSE(profile.flush(fifo));
    struct stat st {};
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST(FilePrivateProfile, NeverWritesThroughALinkPlantedAsItsTemporaryFile) {
    TempFolder dir;
    PosixFileSystem fs;
    FilePrivateProfile profile(fs);
    const std::string file = dir.file("Setting.ini");
    const std::string victim = dir.file("victim");
    writeBytes(victim, "precious\n");
    ASSERT_EQ(::symlink(victim.c_str(), temporaryFileFor(file).c_str()), 0);

    ASSERT_TRUE(profile.writeString("S", "K", "1", file));
    ASSERT_TRUE(profile.flush(file));
    EXPECT_EQ(readBytes(file), "[S]\nK=1\n");
    EXPECT_EQ(readBytes(victim), "precious\n");
    struct stat st {};
    ASSERT_EQ(::lstat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_FALSE(tavrin::test::fileExists(temporaryFileFor(file)));
}
