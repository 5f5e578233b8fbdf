#include "DeviceSocket.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <vector>

namespace ovlank {
namespace {

namespace fs = std::filesystem;

class DeviceSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/dmn-device-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_root = pattern;
        m_folder = m_root + "/run";
        m_path = m_folder + "/Ovlank";
    }
    void TearDown() override { fs::remove_all(m_root); }

    // A socket file with nobody listening, as a crashed daemon leaves it.
    void makeStaleSocket(const std::string& path) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        ::close(fd);
    }

    std::string m_root, m_folder, m_path;
};

TEST_F(DeviceSocketTest, CreatesAPrivateSocketAndRemovesItOnClose) {
    std::string error;
    {
        auto device = DeviceSocket::create(m_path, error);
        ASSERT_TRUE(device) << error;
        struct stat info {};
        ASSERT_EQ(::lstat(m_path.c_str(), &info), 0);
        EXPECT_TRUE(S_ISSOCK(info.st_mode));
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        ASSERT_EQ(::lstat(m_folder.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0755u);
        EXPECT_TRUE(socketAnswers(m_path));

        // A second daemon on the same device is refused and leaves the first alone.
        EXPECT_FALSE(DeviceSocket::create(m_path, error));
        EXPECT_EQ(error, "another daemon already serves " + m_path);
        EXPECT_TRUE(socketAnswers(m_path));
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(m_path)));
}

TEST_F(DeviceSocketTest, TakesOverAStaleSocket) {
    fs::create_directories(m_folder);
    fs::permissions(m_folder, fs::perms(0755));
    makeStaleSocket(m_path);
    ASSERT_FALSE(socketAnswers(m_path));
    std::string error;
    auto device = DeviceSocket::create(m_path, error);
    ASSERT_TRUE(device) << error;
    EXPECT_TRUE(socketAnswers(m_path));
}

TEST_F(DeviceSocketTest, NeverFollowsOrReplacesWhatIsNotASocket) {
    fs::create_directories(m_folder);
    fs::permissions(m_folder, fs::perms(0755));
    const std::string target = m_root + "/target";
    std::ofstream(target) << "keep me";
    fs::create_symlink(target, m_path);
    std::string error;
    EXPECT_FALSE(DeviceSocket::create(m_path, error));
    EXPECT_EQ(error, m_path + " exists and is not a socket; remove it first");
    EXPECT_TRUE(fs::is_symlink(m_path));
    std::ifstream kept(target);
    std::string content;
    std::getline(kept, content);
    EXPECT_EQ(content, "keep me");

    fs::remove(m_path);
    std::ofstream(m_path) << "plain file";
    EXPECT_FALSE(DeviceSocket::create(m_path, error));
    EXPECT_TRUE(fs::is_regular_file(m_path));
}

TEST_F(DeviceSocketTest, RefusesFoldersOthersCouldTamperWith) {
    fs::create_directories(m_folder);
    fs::permissions(m_folder, fs::perms(0777));
    std::string error;
    EXPECT_FALSE(DeviceSocket::create(m_path, error));
    EXPECT_EQ(error, "the device folder " + m_folder + " is writable by other users");

    fs::remove(m_folder);
    const std::string real = m_root + "/real";
    fs::create_directories(real);
    fs::permissions(real, fs::perms(0755));
    fs::create_directory_symlink(real, m_folder);
    EXPECT_FALSE(DeviceSocket::create(m_path, error));
    EXPECT_EQ(error, "the device folder " + m_folder + " is not a folder (or is a symlink)");
    EXPECT_FALSE(fs::exists(real + "/Ovlank"));
}

TEST_F(DeviceSocketTest, LeavesASuccessorsSocketInPlace) {
    std::string error;
    auto first = DeviceSocket::create(m_path, error);
    ASSERT_TRUE(first) << error;
    // An operator removed the path and a new daemon bound it meanwhile.
    ASSERT_EQ(::unlink(m_path.c_str()), 0);
    auto second = DeviceSocket::create(m_path, error);
    ASSERT_TRUE(second) << error;
    first.reset();
    EXPECT_TRUE(socketAnswers(m_path));
}

TEST_F(DeviceSocketTest, RemovingAStaleSocketLeavesEverythingElse) {
    struct Case {
        const char* what;
        std::function<void(const std::string& path)> make;
        StaleSocket outcome;
        bool remains;
    };
    std::unique_ptr<DeviceSocket> live;
    const std::vector<Case> cases = {
        {"no folder", [](const std::string&) {}, StaleSocket::Absent, false},
        {"no socket", [&](const std::string&) { fs::create_directories(m_folder); },
         StaleSocket::Absent, false},
        {"stale", [&](const std::string& path) { makeStaleSocket(path); }, StaleSocket::Removed,
         false},
        {"answering",
         [&](const std::string& path) {
             std::string error;
             live = DeviceSocket::create(path, error);
             ASSERT_TRUE(live) << error;
         },
         StaleSocket::Live, true},
        {"plain file", [](const std::string& path) { std::ofstream(path) << "keep"; },
         StaleSocket::Failed, true},
    };
    for (const auto& [what, make, outcome, remains] : cases) {
        SCOPED_TRACE(what);
        fs::remove_all(m_folder);
        if (std::string(what) != "no folder") {
            fs::create_directories(m_folder);
            fs::permissions(m_folder, fs::perms(0755));
        }
        make(m_path);
        std::string error;
        EXPECT_EQ(removeStaleSocket(m_path, error), outcome) << error;
        EXPECT_EQ(fs::exists(fs::symlink_status(m_path)), remains);
        live.reset();
    }
    std::string error;
    fs::create_directories(m_folder);
    std::ofstream(m_path) << "keep";
    removeStaleSocket(m_path, error);
    EXPECT_EQ(error, m_path + " exists and is not a socket; remove it first");
}

} // namespace
} // namespace ovlank
