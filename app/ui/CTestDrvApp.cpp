#include "CTestDrvApp.h"

#include "CTestDrvDlg.h"
#include "Icons.h"
#include "PrivateFolder.h"
#include "ProgramParts.h"
#include "QtMessages.h"
#include "SignalWatcher.h"
#include "SingleInstance.h"
#include "TextConversion.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLibraryInfo>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QTranslator>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrin::ui {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr char kNotReady[] = "少し待った後、再度起動させてください。";
constexpr char kNoMutex[] = "ミューテックスの生成に失敗。";
// The lock is held by Tavrin without a window: the service, or tavrinctl run.
constexpr char kRunsHeadless[] =
    "Tavrinはウィンドウなしで動作中です（サービスtavrin、またはtavrinctl run）。\n"
    "ウィンドウで使うには、先にそちらを終了させてから起動してください。";

bool haveDisplay() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && *platform != '\0')
        return true; // the caller chose (offscreen, vnc, ...)
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return true;
    }
    return false;
}

// Qt ends a program that cannot reach its display with an abort; this says why in
// one line and ends it with a status instead of a core dump.
void displayFailureHandler(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtFatalMsg) {
        std::fprintf(stderr,
                     "Tavrin: the display cannot be used (%s); to run Tavrin without a window "
                     "use tavrinctl run\n",
                     qUtf8Printable(text.section(QLatin1Char('\n'), 0, 0)));
        std::_Exit(kExitFailure);
    }
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "%s\n", qUtf8Printable(text));
}

struct CommandLine {
    core::ProgramOptions options;
    bool ok = true;
};

CommandLine parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Tavrin: a personal IPv4 packet filter (runs as root)."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption dir(QStringLiteral("dir"),
                                 QStringLiteral("Keep Setting.ini and ExternalCommand.ini in DIR "
                                                "(created when missing)."),
                                 QStringLiteral("DIR"));
    const QCommandLineOption runtime(
        QStringLiteral("runtime-dir"),
        QStringLiteral("Run-time folder for the daemon's socket, the instance lock and the "
                       "service records (default /run/tavrin)."),
        QStringLiteral("DIR"));
    const QCommandLineOption queue(QStringLiteral("queue"),
                                   QStringLiteral("First netfilter queue of the daemon."),
                                   QStringLiteral("N"));
    const QCommandLineOption chains(QStringLiteral("chains"),
                                    QStringLiteral("Prefix of the daemon's iptables chains."),
                                    QStringLiteral("PREFIX"));
    parser.addOptions({dir, runtime, queue, chains});
    parser.process(arguments); // --help and --version end here

    CommandLine line;
    auto fail = [&line](const std::string& text) {
        std::fprintf(stderr, "Tavrin: %s\n", text.c_str());
        line.ok = false;
    };
    if (!parser.positionalArguments().isEmpty())
        fail("unexpected argument '" + toUtf8(parser.positionalArguments().front()) + "'");
    if (parser.isSet(dir))
        if (auto problem = core::setSettingsFolder(line.options, toUtf8(parser.value(dir))))
            fail(*problem);
    if (parser.isSet(runtime))
        if (auto problem = core::setRuntimeFolder(line.options, toUtf8(parser.value(runtime))))
            fail(*problem);
    if (parser.isSet(queue))
        if (auto problem = core::addQueueOption(line.options, toUtf8(parser.value(queue))))
            fail(*problem);
    if (parser.isSet(chains))
        if (auto problem = core::addChainsOption(line.options, toUtf8(parser.value(chains))))
            fail(*problem);
    return line;
}

void loadTranslations(QApplication& app) {
    // Qt's own texts (the file dialog, an edit box's menu) in Japanese where the
    // system has them; the program's own texts are Japanese already.
    auto* translator = new QTranslator(&app);
    if (translator->load(QLocale(QLocale::Japanese), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(translator);
}

} // namespace

int CTestDrvApp::run(int argc, char** argv, const std::function<void(CTestDrvDlg&)>& started) {
    SignalWatcher::blockLeaveSignals();
    if (!haveDisplay()) {
        std::fprintf(stderr, "Tavrin: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                             "to run Tavrin without a window use tavrinctl run\n");
        return kExitFailure;
    }
    // Root's programs reach a Wayland desktop through XWayland only.
    if (std::getenv("PKEXEC_UID") != nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr)
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);

    qInstallMessageHandler(displayFailureHandler);
    QApplication app(argc, argv);
    qInstallMessageHandler(nullptr);
    QApplication::setApplicationName(QString::fromUtf8(core::kProgramName));
    QApplication::setApplicationVersion(QStringLiteral("1.30"));
    QApplication::setWindowIcon(programIcon());
    // The window hides in the tray; only the exit path ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    loadTranslations(app);

    const CommandLine line = parseCommandLine(QApplication::arguments());
    if (!line.ok)
        return kExitUsage;

    QtMessages boxes;
    Messages& messages = boxes;
    core::SingleInstance instance(core::instanceFolderFor(line.options.runtimeFolder),
                                  core::kProgramName);
    switch (instance.acquire()) {
    case core::SingleInstance::Result::First: break;
    case core::SingleInstance::Result::OtherRestored: return kExitOk;
    case core::SingleInstance::Result::OtherHeadless:
        messages.show(kRunsHeadless);
        return kExitFailure;
    case core::SingleInstance::Result::OtherNotReady: messages.show(kNotReady); return kExitFailure;
    case core::SingleInstance::Result::Failed:
        std::fprintf(stderr, "Tavrin: %s\n", instance.error().c_str());
        messages.show(kNoMutex);
        return kExitFailure;
    }
    if (auto problem = core::enterSettingsFolder(line.options)) {
        std::fprintf(stderr, "Tavrin: %s\n", problem->c_str());
        messages.show("設定フォルダを使用できません。\n" + *problem);
        return kExitFailure;
    }

    core::ProgramParts parts(line.options, messages);
    if (!parts.setUp())
        return kExitFailure;

    CTestDrvDlg dialog({parts.core, parts.network, parts.adapters, parts.commands, messages});
    parts.view.setTarget(&dialog);
    boxes.setParent(&dialog);
    // The window goes before the parts; nothing may reach it once it is gone.
    struct Detach {
        core::ForwardingView& view;
        QtMessages& messages;
        ~Detach() {
            view.setTarget(nullptr);
            messages.setParent(nullptr);
        }
    } detach{parts.view, boxes};

    QObject::connect(&dialog, &CTestDrvDlg::programEnded, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    dialog.initialise();
    if (dialog.ended())
        return parts.core.endedByFailure() ? kExitFailure : kExitOk;

    if (!instance.announce())
        std::fprintf(stderr, "Tavrin: %s\n", instance.error().c_str());
    if (instance.knockFd() >= 0) {
        auto* knock = new QSocketNotifier(instance.knockFd(), QSocketNotifier::Read, &dialog);
        QObject::connect(knock, &QSocketNotifier::activated, &dialog, [&instance, &dialog] {
            if (instance.takeShowRequests().total() > 0)
                dialog.restoreWindow();
        });
    }

    SignalWatcher leaveSignals;
    QObject::connect(&leaveSignals, &SignalWatcher::leaveRequested, &dialog, [&dialog](int) {
        // A box or sheet open now is answered as closed; the way out comes after it.
        for (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr;
             modal = QApplication::activeModalWidget()) {
            modal->close();
            if (QApplication::activeModalWidget() == modal)
                break;
        }
        QMetaObject::invokeMethod(
            &dialog, [&dialog] { dialog.leaveUnattended(); }, Qt::QueuedConnection);
    });
    // The desktop session ends (logout, shutdown): the same way out, asking nobody.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &dialog,
                     [&dialog](QSessionManager&) { dialog.leaveUnattended(); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &dialog, [&dialog] {
        if (!dialog.ended() && !dialog.leaveUnattended())
            dialog.leaveUnattended();
    });

    if (started)
        started(dialog);
    QApplication::exec();
    return parts.core.endedByFailure() ? kExitFailure : kExitOk;
}

} // namespace tavrin::ui
