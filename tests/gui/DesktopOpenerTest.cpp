// Opening the README and the web page for the user: from a root program started
// through sudo or pkexec, the opener runs as that user, with the user's groups and
// home, and gets none of the program's descriptors.
#include "DesktopOpener.h"
#include "TempFolder.h"

#include <QDir>
#include <QTest>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <thread>

namespace tavrin::ui::test {

class DesktopOpenerTest final : public QObject {
    Q_OBJECT

private slots:
    void runsAsTheInvokingUser_data();
    void runsAsTheInvokingUser();
    void readMeIsLookedForInTheCurrentFolderFirst();
};

void DesktopOpenerTest::runsAsTheInvokingUser_data() {
    QTest::addColumn<QString>("variable");
    QTest::newRow("sudo") << "SUDO_UID";
    QTest::newRow("pkexec") << "PKEXEC_UID";
}

void DesktopOpenerTest::runsAsTheInvokingUser() {
    QFETCH(QString, variable);
    if (::geteuid() != 0)
        QSKIP("needs root to become another user");
    const struct passwd* nobody = ::getpwnam("nobody");
    QVERIFY(nobody != nullptr);

    tavrin::test::TempFolder folder;
    ::chmod(folder.path().c_str(), 0777);
    const std::string script = folder / "opener";
    folder.write("opener",
                 "#!/bin/sh\n"
                 "out=\"$(dirname \"$0\")\"\n"
                 "{ id -u; id -G; echo \"$HOME\"; echo \"$1\"; ls /proc/$$/fd | tr '\\n' ' '; "
                 "echo; } > \"$out/report.tmp\" && mv \"$out/report.tmp\" \"$out/report\"\n");
    ::chmod(script.c_str(), 0755);

    // A descriptor of the program's that must not reach the user's process.
    const int secret = ::open("/etc/hostname", O_RDONLY);
    QVERIFY(secret >= 0);
    QVERIFY(::dup2(secret, 77) == 77);
    ::unsetenv("SUDO_UID");
    ::unsetenv("PKEXEC_UID");
    ::setenv(variable.toUtf8().constData(), std::to_string(nobody->pw_uid).c_str(), 1);

    DesktopOpener opener;
    opener.setLauncher(QString::fromStdString(script));
    QVERIFY(opener.open(QUrl(QStringLiteral("https://example.org/a b"))));
    ::unsetenv(variable.toUtf8().constData());
    ::close(77);
    ::close(secret);

    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QString::fromStdString(folder / "report")), 10000);
    std::istringstream report(folder.read("report"));
    std::string uid, groups, home, url, fds;
    std::getline(report, uid);
    std::getline(report, groups);
    std::getline(report, home);
    std::getline(report, url);
    std::getline(report, fds);
    QCOMPARE(uid, std::to_string(nobody->pw_uid));
    std::istringstream groupList(groups);
    for (std::string g; groupList >> g;)
        QVERIFY2(g != "0", groups.c_str());
    QCOMPARE(home, std::string(nobody->pw_dir));
    QCOMPARE(url, std::string("https://example.org/a%20b"));
    QVERIFY2((" " + fds).find(" 77 ") == std::string::npos, fds.c_str());
}

void DesktopOpenerTest::readMeIsLookedForInTheCurrentFolderFirst() {
    tavrin::test::CurrentFolderGuard guard;
    tavrin::test::TempFolder folder;
    tavrin::test::enter(folder.path());
    QVERIFY(!DesktopOpener::readMePath().startsWith(QString::fromStdString(folder.path())));
    folder.write("Readme.txt", "the old name");
    QCOMPARE(DesktopOpener::readMePath(), QString::fromStdString(folder / "Readme.txt"));
    folder.write("README.md", "the name the project gives it");
    QCOMPARE(DesktopOpener::readMePath(), QString::fromStdString(folder / "README.md"));
}

} // namespace tavrin::ui::test

QTEST_MAIN(tavrin::ui::test::DesktopOpenerTest)
#include "DesktopOpenerTest.moc"
