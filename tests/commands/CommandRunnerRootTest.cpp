// Runs as root: a command started by a root program that a desktop user started
// through sudo or pkexec runs as that user; and the default commands run and end
// by themselves, as root and as a user.
#include "ExternalCommandIni.h"
#include "Placeholders.h"
#include "RunnerTestSupport.h"
#include "TempFolder.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

namespace tavrin::commands::test {
namespace {

using tavrin::test::TempFolder;

// SUDO_UID or PKEXEC_UID naming nobody while the test runs.
class AsNobody final {
public:
    explicit AsNobody(const char* variable) : m_variable(variable) {
        ::unsetenv("SUDO_UID");
        ::unsetenv("PKEXEC_UID");
        if (const passwd* nobody = ::getpwnam("nobody")) {
            m_user = *nobody;
            m_home = nobody->pw_dir;
            ::setenv(variable, std::to_string(nobody->pw_uid).c_str(), 1);
        }
    }
    ~AsNobody() { ::unsetenv(m_variable); }
    bool found() const { return !m_home.empty(); }
    uid_t uid() const { return m_user.pw_uid; }
    gid_t gid() const { return m_user.pw_gid; }
    const std::string& home() const { return m_home; }

private:
    const char* m_variable;
    passwd m_user{};
    std::string m_home;
};

// The test program where the user may run it.
std::string childFor(const TempFolder& folder) {
    ::chmod(folder.path().c_str(), 0755);
    const std::string copy = folder / "command_child";
    std::filesystem::copy_file(kChild, copy);
    ::chmod(copy.c_str(), 0755);
    return copy;
}

std::string line(const std::string& text, const std::string& key) {
    const size_t at = text.find(key + " ");
    if (at == std::string::npos)
        return "?";
    const size_t end = text.find('\n', at);
    return text.substr(at + key.size() + 1, end - at - key.size() - 1);
}

TEST(RunAsUserTest, TheInvokingUserRunsTheCommandWithNothingOfRoots) {
    ASSERT_EQ(::geteuid(), 0u) << "runs as root";
    for (const char* variable : {"SUDO_UID", "PKEXEC_UID"}) {
        TempFolder folder;
        const std::string child = childFor(folder);
        AsNobody nobody(variable);
        ASSERT_TRUE(nobody.found());
        // Left open across exec on purpose: the daemon socket or the lock in real life.
        const int secret = ::open("/etc/hostname", O_RDONLY);
        ASSERT_GE(secret, 0);

        RunnerProbe probe({}, invokingUser);
        ASSERT_TRUE(probe.start(child + " ids"));
        const std::string ids = probe.waitEnd().text;
        ASSERT_TRUE(probe.start(child + " fds"));
        const std::string fds = probe.waitEnd().text;
        ::close(secret);

        const std::string uid = std::to_string(nobody.uid());
        const std::string gid = std::to_string(nobody.gid());
        EXPECT_EQ(line(ids, "uid"), uid + " " + uid) << variable << "\n" << ids;
        EXPECT_EQ(line(ids, "gid"), gid + " " + gid) << variable;
        std::istringstream groups(line(ids, "groups"));
        for (std::string g; groups >> g;)
            EXPECT_NE(g, "0") << variable << ": root's group kept";
        EXPECT_EQ(line(ids, "home"), nobody.home()) << variable;
        const std::string expectedFolder =
            std::filesystem::is_directory(nobody.home()) ? nobody.home() : "/";
        EXPECT_EQ(line(ids, "folder"), expectedFolder) << variable;
        EXPECT_EQ(fds, "fds 0 1 2\n") << variable;
    }
}

TEST(RunAsUserTest, WithoutAnInvokingUserRootRunsIt) {
    ::unsetenv("SUDO_UID");
    ::unsetenv("PKEXEC_UID");
    RunnerProbe probe({}, invokingUser);
    ASSERT_TRUE(probe.start(kChild + " ids"));
    EXPECT_EQ(line(probe.waitEnd().text, "uid"), "0 0");
}

// What each default command shows when it has done its work on the loopback address.
std::string expectedOutput(const std::string& commandLine) {
    if (commandLine.starts_with("ping"))
        return "4 packets transmitted";
    if (commandLine.starts_with("traceroute"))
        return "traceroute to 127.0.0.1";
    if (commandLine.starts_with("ss"))
        return "Netid";
    return "";
}

TEST(DefaultCommandsTest, RunAndEndByThemselvesAsRootAndAsTheUser) {
    for (const char* who : {"root", "SUDO_UID"}) {
        std::unique_ptr<AsNobody> nobody;
        if (std::string(who) != "root")
            nobody = std::make_unique<AsNobody>(who);
        RunnerProbe probe({}, invokingUser);
        for (const ExternalCommand& command : ExternalCommandIni::defaultCommands()) {
            CommandExpansion expansion(fillRow(command.commandLine, {{"%RemoteAddr%", "127.0.0.1"},
                                                                     {"%SrcAddr%", "127.0.0.1"},
                                                                     {"%DestAddr%", "127.0.0.1"}}));
            CommandExpansion::Question question;
            while (expansion.next(question))
                expansion.answer("tavrin test");
            ASSERT_TRUE(probe.start(expansion.line()));
            const RunResult result = probe.waitEnd();
            EXPECT_TRUE(result.completed) << who << ": " << command.name << "\n" << result.text;
            EXPECT_NE(result.text, kInvalidCommand) << who << ": " << command.name;
            EXPECT_NE(result.text.find(expectedOutput(command.commandLine)), std::string::npos)
                << who << ": " << command.name << "\n"
                << result.text;
        }
    }
}

} // namespace
} // namespace tavrin::commands::test
