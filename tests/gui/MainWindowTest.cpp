// The main window on the core's harness: the exit path's questions as the window
// asks them, the close button, starting minimised, the tray and its menu, the
// status bar, the option sheet's effects and the window's place in the settings.
#include "GuiHarness.h"

#include "BandwidthMonitor.h"
#include "COptionSheet.h"
#include "CTabPerformance.h"
#include "CTabStartup.h"
#include "PacketBuilder.h"
#include "StatusPanes.h"
#include "TrayIcon.h"
#include "ui_CTabPerformance.h"
#include "ui_CTabStartup.h"

#include <QAction>
#include <QMenu>
#include <QSignalSpy>
#include <QTimer>
#include <QWindow>

#include <sys/stat.h>

namespace tavrin::ui::test {

namespace {

using tavrin::test::RecordedMessage;
using Kind = RecordedMessage::Kind;
using ovlank::test::ip;
using ovlank::test::PacketBuilder;

constexpr uint32_t kLocal = core::test::kLocal;
constexpr uint32_t kRemote = core::test::kRemote;

// One filter dropping UDP to local port 5353 from anywhere.
std::string settings(const std::string& common) {
    return "[Common Settings]\n" + common +
           "[PacketFilter1]\nFILTER_NAME=drop mdns\nPROTOCOL=17\nDIR=DOWN\nMY_IP_MASK=0.0.0.0\n"
           "MY_PORT=5353\nIS_MY_ALL_PORT=FALSE\nOTHER_IP_MASK=0.0.0.0\nIS_OTHER_ALL_PORT=TRUE\n"
           "DROP=TRUE\nAVAILABLE=TRUE\nID=1\n";
}

PacketBuilder mdnsIn() {
    return PacketBuilder::udp(kRemote, 40000, kLocal, 5353).payload(20);
}

// Counts the times a widget is shown.
class ShowCounter final : public QObject {
public:
    int shows = 0;

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Show)
            ++shows;
        return QObject::eventFilter(object, event);
    }
};

// Runs `inside` on the next modal dialog once it is open.
void whenModalOpens(std::function<void(QWidget*)> inside) {
    QTimer::singleShot(0, [inside] {
        QWidget* modal = QApplication::activeModalWidget();
        QVERIFY(modal != nullptr);
        inside(modal);
    });
}

} // namespace

class MainWindowTest final : public QObject {
    Q_OBJECT

private slots:
    void exitQuestions_data();
    void exitQuestions();
    void leavingUnattended_data();
    void leavingUnattended();
    void closeButtonHidesWhenAsked_data();
    void closeButtonHidesWhenAsked();
    void startingMinimisedNeverShowsTheWindow_data();
    void startingMinimisedNeverShowsTheWindow();
    void aWindowHiddenInAVanishedTrayComesBack();
    void trayMenuGraysTheCommandThatCannotRun();
    void statusBarBeforeAndAfterAMeasurement();
    void optionsOkAppliesTrayPeriodAndSavesOnlyOptions();
    void optionsCancelChangesNothing();
    void windowRectangleIsKeptInTheSettings();
};

void MainWindowTest::exitQuestions_data() {
    QTest::addColumn<bool>("autoSave");
    QTest::addColumn<bool>("confirmClose");
    QTest::addColumn<bool>("edited");
    QTest::addColumn<QList<int>>("answers"); // Answer values, in order
    QTest::addColumn<QStringList>("asked");
    QTest::addColumn<bool>("ends");
    QTest::addColumn<bool>("editSaved");

    const int yes = static_cast<int>(Answer::Yes);
    const int no = static_cast<int>(Answer::No);
    const int cancel = static_cast<int>(Answer::Cancel);
    const QString save = QString::fromUtf8(core::kSaveQuestion);
    const QString close = QString::fromUtf8(core::kCloseQuestion);
    QTest::newRow("saved, no confirmation")
        << false << false << false << QList<int>{} << QStringList{} << true << false;
    QTest::newRow("saved, confirmation declined")
        << false << true << false << QList<int>{no} << QStringList{close} << false << false;
    QTest::newRow("saved, confirmation accepted")
        << false << true << false << QList<int>{yes} << QStringList{close} << true << false;
    QTest::newRow("edited, save question cancelled")
        << false << true << true << QList<int>{cancel} << QStringList{save} << false << false;
    QTest::newRow("edited, not saved, no confirmation after the question")
        << false << true << true << QList<int>{no} << QStringList{save} << true << false;
    QTest::newRow("edited, saved, no confirmation after the question")
        << false << true << true << QList<int>{yes} << QStringList{save} << true << true;
    QTest::newRow("auto-save, confirmation still asked and declined")
        << true << true << true << QList<int>{no} << QStringList{close} << false << true;
    QTest::newRow("auto-save, no confirmation")
        << true << false << true << QList<int>{} << QStringList{} << true << true;
}

// The window's close button with CLOSE_BUTTON_ACTION 0 runs the exit path: the
// questions come in their order, a refusal keeps the window and filtering as they
// were, and an end closes the window and tells the program to quit.
void MainWindowTest::exitQuestions() {
    QFETCH(bool, autoSave);
    QFETCH(bool, confirmClose);
    QFETCH(bool, edited);
    QFETCH(QList<int>, answers);
    QFETCH(QStringList, asked);
    QFETCH(bool, ends);
    QFETCH(bool, editSaved);

    GuiHarness gui;
    const std::string common = std::string("AUTO_SAVE=") + (autoSave ? "TRUE" : "FALSE") +
                               "\nCONFIRM_CLOSE=" + (confirmClose ? "TRUE" : "FALSE") +
                               "\nSTARTUP_ON=TRUE\n";
    QVERIFY(gui.start(settings(common)));
    CTestDrvDlg& dialog = gui.dialog();
    QVERIFY(dialog.isVisible());
    QVERIFY(gui.core.m_core.session().filtering());
    if (edited) {
        // As the filter page does it: AUTO_SAVE saves at the rebuild, so the edit
        // is made with it off and the option set afterwards.
        gui.core.m_core.edited().SetAutoSave(0);
        gui.core.m_core.edited().PacketFilterAt(0)->filterName = std::string_view("renamed");
        gui.core.m_core.filtersChanged();
        gui.core.m_core.edited().SetAutoSave(autoSave ? 1 : 0);
    }
    for (int answer : answers)
        gui.core.m_messages.script(static_cast<Answer>(answer));
    gui.core.m_messages.clear();
    QSignalSpy ended(&dialog, &CTestDrvDlg::programEnded);

    dialog.close();
    QCoreApplication::processEvents();

    QStringList questions;
    for (const RecordedMessage& m : gui.core.m_messages.recorded()) {
        QCOMPARE(m.kind == Kind::Message, false);
        questions << QString::fromStdString(m.text);
    }
    QCOMPARE(questions, asked);
    QCOMPARE(dialog.ended(), ends);
    QCOMPARE(ended.count(), ends ? 1 : 0);
    QCOMPARE(dialog.isVisible(), !ends);
    const std::string file = gui.core.m_folder.read("Setting.ini");
    QCOMPARE(file.find("renamed") != std::string::npos, editSaved);
    if (!ends) {
        // Staying means staying as before: the session runs and drops what it dropped.
        QVERIFY(gui.core.m_core.session().filtering());
        QVERIFY(gui.core.m_core.session().running());
        QVERIFY(!gui.core.decide(mdnsIn()));
        QVERIFY(dialog.timerRunning(core::kTimerConnections));
    } else {
        QVERIFY(!gui.core.m_core.session().running());
        QVERIFY(!dialog.timerRunning(core::kTimerConnections));
        QVERIFY(!dialog.timerRunning(core::kTimerDrainPackets));
        QVERIFY(!dialog.tray().exists());
    }
}

void MainWindowTest::leavingUnattended_data() {
    QTest::addColumn<bool>("autoSave");
    QTest::addColumn<bool>("fileProtected");
    QTest::addColumn<int>("callsToEnd");
    QTest::addColumn<bool>("editSaved");
    QTest::newRow("edit kept out without AUTO_SAVE") << false << false << 1 << false;
    QTest::newRow("edit saved under AUTO_SAVE") << true << false << 1 << true;
    QTest::newRow("a failed save keeps the program once") << true << true << 2 << false;
}

// A signal or the desktop session ending: nobody is asked, not even under
// CONFIRM_CLOSE; the filters are saved only under AUTO_SAVE, and a save that fails
// keeps the program until it is asked to leave a second time.
void MainWindowTest::leavingUnattended() {
    QFETCH(bool, autoSave);
    QFETCH(bool, fileProtected);
    QFETCH(int, callsToEnd);
    QFETCH(bool, editSaved);
    GuiHarness gui;
    QVERIFY(gui.start(settings("AUTO_SAVE=FALSE\nCONFIRM_CLOSE=TRUE\n")));
    gui.core.m_core.edited().PacketFilterAt(0)->filterName = std::string_view("renamed");
    gui.core.m_core.filtersChanged();
    gui.core.m_core.edited().SetAutoSave(autoSave ? 1 : 0);
    if (fileProtected)
        QVERIFY(::chmod((gui.core.m_folder / "Setting.ini").c_str(), 0444) == 0);
    gui.core.m_messages.clear();
    int calls = 0;
    while (!gui.dialog().ended() && calls < 3) {
        gui.dialog().leaveUnattended();
        ++calls;
    }
    QCOMPARE(calls, callsToEnd);
    QVERIFY(gui.dialog().ended());
    for (const RecordedMessage& m : gui.core.m_messages.recorded())
        QCOMPARE(m.kind, Kind::Message); // a failed save says why; nothing is asked
    QCOMPARE(gui.core.m_messages.recorded().empty(), !fileProtected);
    const std::string file = gui.core.m_folder.read("Setting.ini");
    QCOMPARE(file.find("renamed") != std::string::npos, editSaved);
    QVERIFY(!gui.core.m_core.session().running());
}

void MainWindowTest::closeButtonHidesWhenAsked_data() {
    QTest::addColumn<bool>("tray");
    QTest::newRow("into the tray") << true;
    QTest::newRow("onto the task bar without a tray") << false;
}

// CLOSE_BUTTON_ACTION 1: the close button hides the window as minimising does,
// asks nothing and ends nothing; the tray icon (or the task bar) brings it back.
void MainWindowTest::closeButtonHidesWhenAsked() {
    QFETCH(bool, tray);
    GuiHarness gui(tray);
    QVERIFY(gui.start(settings("AUTO_SAVE=FALSE\nCONFIRM_CLOSE=TRUE\nCLOSE_BUTTON_ACTION=1\n")));
    CTestDrvDlg& dialog = gui.dialog();
    dialog.close();
    QCoreApplication::processEvents();
    QVERIFY(gui.core.m_messages.recorded().empty());
    QVERIFY(!dialog.ended());
    QVERIFY(dialog.windowHidden());
    QVERIFY(gui.core.m_core.session().hidden());
    if (tray) {
        QVERIFY(!dialog.isVisible());
        emit dialog.tray().leftClicked();
    } else {
        // Hiding it would leave nothing to bring it back with.
        QVERIFY(dialog.isVisible());
        QVERIFY(dialog.isMinimized());
        dialog.restoreWindow();
    }
    QCoreApplication::processEvents();
    QVERIFY(dialog.isVisible());
    QVERIFY(!dialog.isMinimized());
    QVERIFY(!dialog.windowHidden());
    QVERIFY(!gui.core.m_core.session().hidden());
}

void MainWindowTest::startingMinimisedNeverShowsTheWindow_data() {
    QTest::addColumn<bool>("tray");
    QTest::addColumn<bool>("noIcon");
    QTest::addColumn<bool>("shownMinimised"); // else never shown
    QTest::newRow("tray icon") << true << false << false;
    QTest::newRow("no icon wanted") << true << true << false;
    QTest::newRow("no icon wanted, no tray") << false << true << false;
    QTest::newRow("no tray to hide in") << false << false << true;
}

// STARTUP_MINIMIZE: the window never appears as a normal window. Hidden where the
// tray icon (or, with NOICON, a second start) can bring it back; minimised on the
// task bar where there is no tray.
void MainWindowTest::startingMinimisedNeverShowsTheWindow() {
    QFETCH(bool, tray);
    QFETCH(bool, noIcon);
    QFETCH(bool, shownMinimised);
    GuiHarness gui(tray);
    ShowCounter counter;
    QVERIFY(gui.start(settings(std::string("STARTUP_MINIMIZE=TRUE\nNOICON=") +
                               (noIcon ? "TRUE" : "FALSE") + "\n"),
                      [&counter](CTestDrvDlg& dialog) { dialog.installEventFilter(&counter); }));
    CTestDrvDlg& dialog = gui.dialog();
    QTest::qWait(200);
    QVERIFY(dialog.windowHidden());
    QVERIFY(gui.core.m_core.session().hidden());
    QCOMPARE(dialog.tray().exists(), !noIcon);
    if (shownMinimised) {
        QVERIFY(dialog.isMinimized());
    } else {
        QCOMPARE(counter.shows, 0);
        QVERIFY(!dialog.isVisible());
    }
    // The way back: the tray icon, or a second start's knock.
    if (tray && !noIcon)
        emit dialog.tray().leftClicked();
    else
        dialog.restoreWindow();
    QCoreApplication::processEvents();
    QVERIFY(dialog.isVisible());
    QVERIFY(!dialog.isMinimized());
    QVERIFY(!dialog.windowHidden());
}

// A panel that restarts takes the tray away: the hidden window comes back rather
// than staying out of reach, and the icon returns with the next tray.
void MainWindowTest::aWindowHiddenInAVanishedTrayComesBack() {
    GuiHarness gui(true);
    QVERIFY(gui.start(settings("")));
    CTestDrvDlg& dialog = gui.dialog();
    dialog.minimiseWindow();
    QVERIFY(!dialog.isVisible());
    gui.setTrayAvailable(false);
    dialog.tray().poll();
    QCoreApplication::processEvents();
    QVERIFY(dialog.isVisible());
    QVERIFY(!dialog.windowHidden());
    QVERIFY(dialog.tray().exists());
    QVERIFY(!dialog.tray().shown());
    gui.setTrayAvailable(true);
    dialog.tray().poll();
    QVERIFY(dialog.tray().shown());
    // With the tray back, minimising hides the window in it again.
    dialog.minimiseWindow();
    QVERIFY(!dialog.isVisible());
}

// The tray menu offers start while filtering is off and stop while it is on, as
// the buttons and the menu do: one action each.
void MainWindowTest::trayMenuGraysTheCommandThatCannotRun() {
    GuiHarness gui(true);
    QVERIFY(gui.start(settings("")));
    CTestDrvDlg& dialog = gui.dialog();
    QAction* start = nullptr;
    QAction* stop = nullptr;
    for (QAction* a : dialog.trayMenu()->actions()) {
        if (a->text() == QStringLiteral("フィルタリング開始(&S)"))
            start = a;
        if (a->text() == QStringLiteral("フィルタリング終了(&E)"))
            stop = a;
    }
    QVERIFY(start && stop);
    QVERIFY(start->isEnabled());
    QVERIFY(!stop->isEnabled());
    QVERIFY(gui.core.decide(mdnsIn())); // not filtering yet
    start->trigger();
    QVERIFY(!start->isEnabled());
    QVERIFY(stop->isEnabled());
    QVERIFY(!gui.core.decide(mdnsIn()));
    stop->trigger();
    QVERIFY(start->isEnabled());
    QVERIFY(!stop->isEnabled());
    QVERIFY(gui.core.decide(mdnsIn()));

    // A refused switch changes nothing the user sees.
    gui.core.m_engine.refuseNext(ovlank::START_FILTERING);
    start->trigger();
    QVERIFY(start->isEnabled());
    QVERIFY(!stop->isEnabled());
    QCOMPARE(gui.core.m_messages.texts().back(),
             std::string("FAILED: DeviceIoControl START_FILTERING"));
}

// "未測定" until the first measured second; then the figures of that second.
void MainWindowTest::statusBarBeforeAndAfterAMeasurement() {
    GuiHarness gui;
    QVERIFY(gui.start(settings("")));
    StatusPanes& panes = gui.dialog().panes();
    QCOMPARE(panes.paneText(core::kPaneTotal), QStringLiteral(" TOTAL "));
    QCOMPARE(panes.paneText(core::kPaneUp), QStringLiteral(" UP    未測定"));
    QCOMPARE(panes.paneText(core::kPaneDown), QStringLiteral(" DOWN    未測定"));

    // 1536 wire bytes out (1522 IP bytes + 14) and 1024 in, within one second.
    QVERIFY(gui.core.decide(PacketBuilder::udp(kLocal, 40000, kRemote, 53).payload(1494)));
    QVERIFY(gui.core.decide(PacketBuilder::udp(kRemote, 53, kLocal, 40000).payload(982)));
    gui.core.m_core.session().readCounters();
    gui.core.m_core.session().secondTick();
    QCOMPARE(panes.paneText(core::kPaneUp), QStringLiteral(" UP     1.5 KB/s"));
    QCOMPARE(panes.paneText(core::kPaneDown), QStringLiteral(" DOWN     1.0 KB/s"));
}

// OK in the option sheet: NOICON takes the icon away at once, a new period
// rebuilds the session with timers at that period, and only the options reach the
// file (an unsaved filter edit stays unsaved).
void MainWindowTest::optionsOkAppliesTrayPeriodAndSavesOnlyOptions() {
    GuiHarness gui(true);
    QVERIFY(gui.start(settings("AUTO_SAVE=FALSE\n")));
    CTestDrvDlg& dialog = gui.dialog();
    QVERIFY(dialog.tray().exists());
    gui.core.m_core.edited().PacketFilterAt(0)->filterName = std::string_view("unsaved edit");
    gui.core.m_core.filtersChanged();
    gui.core.m_engine.clear();

    whenModalOpens([](QWidget* modal) {
        auto* sheet = qobject_cast<COptionSheet*>(modal);
        QVERIFY(sheet);
        sheet->startupPage()->form().noIcon->setChecked(true);
        sheet->performancePage()->form().period->setText(QStringLiteral("500"));
        sheet->accept();
    });
    dialog.action(kCommandOptions)->trigger();

    QVERIFY(!dialog.tray().exists());
    QVERIFY(dialog.timerRunning(core::kTimerReadCounters));
    const std::vector<std::string> names = gui.core.m_engine.names();
    QVERIFY(std::find(names.begin(), names.end(), "STOP_IP_HOOK") != names.end());
    QVERIFY(std::find(names.begin(), names.end(), "START_IP_HOOK") != names.end());
    QCOMPARE(gui.core.m_core.inForce().GetBandwidthControlTime(), 500);
    const std::string file = gui.core.m_folder.read("Setting.ini");
    QVERIFY(file.find("BANDWIDTH_CONTROL_TIME=500") != std::string::npos);
    QVERIFY(file.find("NOICON=TRUE") != std::string::npos);
    QVERIFY(file.find("unsaved edit") == std::string::npos);
    QVERIFY(!gui.core.m_core.settingsSaved());

    // Clearing the box brings the icon back; the same period rebuilds nothing.
    gui.core.m_engine.clear();
    whenModalOpens([](QWidget* modal) {
        auto* sheet = qobject_cast<COptionSheet*>(modal);
        QVERIFY(sheet);
        sheet->startupPage()->form().noIcon->setChecked(false);
        sheet->accept();
    });
    dialog.action(kCommandOptions)->trigger();
    QVERIFY(dialog.tray().exists());
    QVERIFY(gui.core.m_engine.names().empty());
}

void MainWindowTest::optionsCancelChangesNothing() {
    GuiHarness gui(true);
    QVERIFY(gui.start(settings("AUTO_SAVE=FALSE\n")));
    const std::string before = gui.core.m_folder.read("Setting.ini");
    whenModalOpens([](QWidget* modal) {
        auto* sheet = qobject_cast<COptionSheet*>(modal);
        QVERIFY(sheet);
        sheet->startupPage()->form().noIcon->setChecked(true);
        sheet->performancePage()->form().period->setText(QStringLiteral("49"));
        sheet->reject();
    });
    gui.dialog().action(kCommandOptions)->trigger();
    QVERIFY(gui.dialog().tray().exists());
    QCOMPARE(gui.core.m_core.edited().GetBandwidthControlTime(), 250);
    QCOMPARE(gui.core.m_core.edited().GetNoIcon(), 0);
    QCOMPARE(gui.core.m_folder.read("Setting.ini"), before);
    QVERIFY(gui.core.m_messages.recorded().empty());
}

// Moves and size changes after initialisation go to WINDOW_SIZE; a maximised or
// minimised window leaves the last normal rectangle there; the next start puts
// the window back there.
void MainWindowTest::windowRectangleIsKeptInTheSettings() {
    GuiHarness gui;
    QVERIFY(gui.start(settings("WINDOW_SIZE=20,30,520,830\n")));
    CTestDrvDlg& dialog = gui.dialog();
    QCOMPARE(dialog.geometry(), QRect(30, 20, 800, 500));
    dialog.setGeometry(40, 50, 700, 450);
    QCoreApplication::processEvents();
    settings::WindowRect expected{40, 50, 740, 500};
    QCOMPARE(gui.core.m_core.edited().GetWindowRect(), expected);
    dialog.showMaximized();
    QCoreApplication::processEvents();
    QCOMPARE(gui.core.m_core.edited().GetWindowRect(), expected);
    dialog.showNormal();
    QVERIFY(dialog.exitCommand());
    const std::string file = gui.core.m_folder.read("Setting.ini");
    QVERIFY2(file.find("WINDOW_SIZE=50,40,500,740") != std::string::npos, file.c_str());
}

} // namespace tavrin::ui::test

QTEST_MAIN(tavrin::ui::test::MainWindowTest)
#include "MainWindowTest.moc"
