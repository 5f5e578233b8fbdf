// The process table and the socket holders over the real /proc, with processes and
// sockets the test makes.
#include "ProcessTable.h"
#include "CEnumProcess.h"
#include "SocketOwnerIndex.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tavrin {
namespace {

namespace fs = std::filesystem;

std::string ownPath() {
    return fs::read_symlink("/proc/self/exe").string();
}

// A copy of sleep(1) under a name no other process has, started `count` times.
class NamedSleepers {
public:
    explicit NamedSleepers(int count) {
        m_folder = fs::temp_directory_path() / ("tavrin-netinfo-" + std::to_string(::getpid()));
        fs::create_directories(m_folder);
        m_name = "TvNi-Sleep-" + std::to_string(::getpid());
        m_path = m_folder / m_name;
        fs::copy_file("/bin/sleep", m_path, fs::copy_options::overwrite_existing);
        for (int i = 0; i < count; ++i) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::execl(m_path.c_str(), m_name.c_str(), "60", static_cast<char*>(nullptr));
                ::_exit(127);
            }
            m_pids.push_back(pid);
        }
        // Wait until each child runs the copy (its exe link points at it).
        for (const pid_t pid : m_pids) {
            for (int tries = 0; tries < 1000; ++tries) {
                std::error_code ignored;
                if (fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ignored) == m_path)
                    break;
                ::usleep(2000);
            }
        }
    }
    ~NamedSleepers() {
        for (const pid_t pid : m_pids) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }
    const std::string& name() const { return m_name; }
    const fs::path& path() const { return m_path; }
    const std::vector<pid_t>& pids() const { return m_pids; }

private:
    fs::path m_folder;
    fs::path m_path;
    std::string m_name;
    std::vector<pid_t> m_pids;
};

std::string upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

TEST(ProcessTable, NamesThisProcessAndRunningCopiesOfAProgram) {
    NamedSleepers sleepers(2);
    CEnumProcess enumerator;
    ProcessTable table;
    table.rebuild(enumerator);

    const auto self = static_cast<int32_t>(::getpid());
    EXPECT_EQ(table.processPath(self), ownPath());
    EXPECT_EQ(table.processDisplayName(self), fs::path(ownPath()).filename().string());

    // Any case finds the lowest id running that file.
    const pid_t lowest = std::min(sleepers.pids()[0], sleepers.pids()[1]);
    EXPECT_EQ(table.processIdByName(upper(sleepers.name())), lowest);
    EXPECT_EQ(table.processIdByName(sleepers.name() + "x"), -1);
    EXPECT_EQ(table.processDisplayName(sleepers.pids()[1]), sleepers.name());
}

TEST(ProcessTable, AProgramWhoseFileWasReplacedKeepsItsName) {
    NamedSleepers sleepers(1);
    fs::remove(sleepers.path()); // what a package upgrade does to a running daemon
    CEnumProcess enumerator;
    ProcessTable table;
    table.rebuild(enumerator);
    EXPECT_EQ(table.processPath(sleepers.pids()[0]), sleepers.path().string());
    EXPECT_EQ(table.processIdByName(sleepers.name()), sleepers.pids()[0]);
}

TEST(ProcessTable, UnlistedIdsAreUnknownAndKernelThreadsAreSystemProcesses) {
    CEnumProcess enumerator;
    ProcessTable table;
    table.rebuild(enumerator);
    EXPECT_EQ(table.processPath(-1), "不明");
    EXPECT_EQ(table.processDisplayName(-1), "不明");
    EXPECT_EQ(table.processPath(INT32_MAX), "不明");
    EXPECT_EQ(table.processDisplayName(0), "不明");

    // Kernel threads have no executable.
    int32_t kernelThread = -1;
    for (const auto& [id, text] : table.entries()) {
        std::ifstream cmdline("/proc/" + std::to_string(id) + "/cmdline");
        if (cmdline && cmdline.peek() == EOF && text == kProcessError) {
            kernelThread = static_cast<int32_t>(id);
            break;
        }
    }
    if (kernelThread == -1)
        GTEST_SKIP() << "no kernel thread visible in this process namespace";
    EXPECT_EQ(table.processDisplayName(kernelThread), "[System Process]");
    // "N/A" texts never match a name, not even their own.
    EXPECT_EQ(table.processIdByName(kProcessError), -1);
}

TEST(CEnumProcess, MethodsAndTheirListings) {
    CEnumProcess enumerator;
    ASSERT_EQ(enumerator.availableMethods(), CEnumProcess::kMethodPath | CEnumProcess::kMethodName);
    EXPECT_EQ(enumerator.method(), CEnumProcess::kMethodName);
    EXPECT_EQ(enumerator.selectMethod(CEnumProcess::kMethodTasks), CEnumProcess::kMethodName);
    EXPECT_EQ(enumerator.selectMethod(CEnumProcess::kMethodPath | CEnumProcess::kMethodTasks),
              CEnumProcess::kMethodName);
    EXPECT_EQ(enumerator.selectMethod(3), 3);
    EXPECT_EQ(enumerator.selectMethod(CEnumProcess::kMethodPath), CEnumProcess::kMethodPath);

    // Paths, in ascending id order, this process among them.
    CProcessEntry entry;
    std::vector<uint32_t> ids;
    std::string ownText;
    for (bool more = enumerator.first(entry); more; more = enumerator.next(entry)) {
        ids.push_back(entry.processId);
        EXPECT_EQ(entry.taskHandle, 0);
        if (entry.processId == static_cast<uint32_t>(::getpid()))
            ownText = entry.name;
    }
    EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
    EXPECT_EQ(std::set<uint32_t>(ids.begin(), ids.end()).size(), ids.size());
    EXPECT_EQ(ownText, ownPath());

    // Short names, as the kernel keeps them: a program's first 15 bytes.
    enumerator.selectMethod(CEnumProcess::kMethodName);
    ownText.clear();
    for (bool more = enumerator.first(entry); more; more = enumerator.next(entry)) {
        EXPECT_FALSE(entry.name.starts_with("/")) << entry.name;
        if (entry.processId == static_cast<uint32_t>(::getpid()))
            ownText = entry.name;
    }
    EXPECT_EQ(ownText, fs::path(ownPath()).filename().string().substr(0, 15));

    EXPECT_EQ(enumerator.selectMethod(CEnumProcess::kMethodNone), CEnumProcess::kMethodNone);
    EXPECT_FALSE(enumerator.first(entry));
    EXPECT_FALSE(enumerator.next(entry));
}

TEST(ProcessNames, DisplayNames) {
    EXPECT_EQ(displayNameOfPath("/usr/sbin/sshd"), "sshd");
    EXPECT_EQ(displayNameOfPath("/opt/app/bin/server.bin"), "server.bin");
    EXPECT_EQ(displayNameOfPath("kworker/0:1"), "0:1");
    EXPECT_EQ(displayNameOfPath("bash"), "bash");
    EXPECT_EQ(displayNameOfPath("不明"), "不明");
    EXPECT_EQ(displayNameOfPath("N/A (error)"), "[System Process]");
    EXPECT_EQ(displayNameOfPath("N/A (security restriction)"), "[System Process]");
    EXPECT_EQ(fileNameOfPath("/usr/bin/"), "");
}

uint64_t inodeOf(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 ? info.st_ino : 0;
}

TEST(SocketOwnerIndex, LooksForASocketOnlyWhenItIsStillUnheldAtTheNextUpdate) {
    SocketOwnerIndex index;
    int error = 0;
    // Socket inodes are 32-bit numbers: no process holds this one, like a socket
    // closed between the table and the walk.
    const uint64_t nobodys[] = {uint64_t{1} << 40};
    ASSERT_TRUE(index.update(nobodys, error));
    EXPECT_FALSE(index.lastUpdate().sweep);
    ASSERT_TRUE(index.update(nobodys, error));
    EXPECT_TRUE(index.lastUpdate().sweep);
    EXPECT_TRUE(index.lastUpdate().fullSweep);
    EXPECT_EQ(index.ownerOf(nobodys[0]), -1);
    // Known to belong to nobody visible: not looked for again.
    ASSERT_TRUE(index.update(nobodys, error));
    EXPECT_FALSE(index.lastUpdate().sweep);

    // A new socket in a reused descriptor number, the count unchanged: found by the
    // update after the one that first saw it unheld.
    const int first = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(first, 0);
    uint64_t held[] = {inodeOf(first)};
    ASSERT_TRUE(index.update(held, error));
    EXPECT_EQ(index.ownerOf(held[0]), ::getpid());
    const int second = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::dup3(second, first, O_CLOEXEC), first);
    ::close(second);
    held[0] = inodeOf(first);
    ASSERT_TRUE(index.update(held, error));
    ASSERT_TRUE(index.update(held, error));
    EXPECT_EQ(index.ownerOf(held[0]), ::getpid());
    ::close(first);
}

} // namespace
} // namespace tavrin
