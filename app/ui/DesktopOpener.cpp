#include "DesktopOpener.h"

#include "InvokingUser.h"
#include "ProgramParts.h"
#include "TextConversion.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace tavrin::ui {

namespace {

// Starts `argv` as `user`, detached: the intermediate child ends at once and is
// reaped here, so the opener never becomes a zombie of ours.
bool spawnAs(const commands::InvokingUser& user, const std::vector<std::string>& argv) {
    std::vector<std::string> env = commands::userEnvironment(user, environ);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (std::string& a : args)
        argp.push_back(a.data());
    argp.push_back(nullptr);
    // Where the program file is, found with the user's PATH before the fork.
    std::string program = argv.front();
    if (program.find('/') == std::string::npos) {
        for (const char* dir : {"/usr/local/bin/", "/usr/bin/", "/bin/"}) {
            const std::string candidate = dir + program;
            if (::access(candidate.c_str(), X_OK) == 0) {
                program = candidate;
                break;
            }
        }
    }

    const pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child == 0) {
        if (::fork() != 0)
            ::_exit(0);
        ::setsid();
        const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        if (null >= 0) {
            ::dup2(null, 0);
            ::dup2(null, 1);
        }
        // Nothing of root's open files may reach the user's program.
        ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
        if (!commands::becomeUser(user))
            ::_exit(127);
        // A user without a home (nobody) still gets the page opened.
        if (::chdir(user.home.c_str()) != 0 && ::chdir("/") != 0)
            ::_exit(127);
        ::execve(program.c_str(), argp.data(), envp.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

DesktopOpener::DesktopOpener(QObject* parent) : QObject(parent) {}

QString DesktopOpener::readMePath() {
    const QString own = QString::fromStdString(core::programFolder());
    const QStringList folders = {QDir::currentPath(), own, QStringLiteral(TAVRIN_DOC_FOLDER)};
    for (const QString& folder : folders) {
        for (const char* name : {"README.md", "Readme.txt"}) {
            const QFileInfo file(QDir(folder), QString::fromUtf8(name));
            if (!folder.isEmpty() && file.isFile())
                return file.absoluteFilePath();
        }
    }
    return {};
}

QUrl DesktopOpener::homePage() {
    return QUrl(QStringLiteral(TAVRIN_HOME_PAGE));
}

bool DesktopOpener::openReadMe() {
    const QString path = readMePath();
    if (path.isEmpty())
        return false;
    return open(QUrl::fromLocalFile(path));
}

bool DesktopOpener::openHomePage() {
    return open(homePage());
}

bool DesktopOpener::open(const QUrl& url) {
    bool done = false;
    if (const auto user = commands::invokingUser())
        done = spawnAs(*user, {toUtf8(m_launcher), toUtf8(url.toString(QUrl::FullyEncoded))});
    else
        done = QDesktopServices::openUrl(url);
    if (done)
        emit opened(url);
    return done;
}

} // namespace tavrin::ui
