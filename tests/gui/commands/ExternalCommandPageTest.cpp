// The external command page in the main window on the core's harness: its list and
// editor, and real commands run from it: output as it comes, the questions, the
// refusals, the abort, a flood of output, the program's end, and a monitor's menu.
#include "GuiHarness.h"

#include "CEditExternalCommand.h"
#include "CInputUserArgDlg.h"
#include "CTabExternalCommand.h"
#include "CommandListModel.h"
#include "ExternalCommandIni.h"
#include "ExternalCommandMenu.h"
#include "Placeholders.h"
#include "TextConversion.h"
#include "ui_CEditExternalCommand.h"
#include "ui_CTabExternalCommand.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTimer>

#include <csignal>
#include <fstream>
#include <sstream>

namespace tavrin::ui::test {

namespace {

const QString kChild = QStringLiteral(COMMAND_CHILD);
constexpr int kGuard = 60000; // ms: a hang guard, never a timing check

// Runs `inside` on the next modal dialog once it is open.
void whenModalOpens(std::function<void(QWidget*)> inside) {
    QTimer::singleShot(0, [inside] {
        QWidget* modal = QApplication::activeModalWidget();
        QVERIFY(modal != nullptr);
        inside(modal);
    });
}

// Answers the questions that open one after the other, recording their prompts.
void answerQuestions(QStringList answers, QStringList* prompts, bool cancelLast = false) {
    QTimer::singleShot(0, [answers, prompts, cancelLast]() mutable {
        auto* question = qobject_cast<CInputUserArgDlg*>(QApplication::activeModalWidget());
        QVERIFY2(question != nullptr, "no question open");
        QCOMPARE(question->windowTitle(), QStringLiteral("実行時ユーザー入力"));
        QVERIFY(question->field()->text().isEmpty());
        prompts->append(question->prompt()->text());
        question->field()->setText(answers.takeFirst());
        if (answers.isEmpty() && cancelLast) {
            question->reject();
            return;
        }
        if (!answers.isEmpty())
            answerQuestions(answers, prompts, cancelLast);
        question->accept();
    });
}

bool processGone(pid_t pid) {
    if (::kill(pid, 0) != 0)
        return errno == ESRCH;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');
    return close != std::string::npos && line.substr(close + 2, 1) == "Z";
}

std::vector<pid_t> pidsIn(const QString& output) {
    const QString tail = output.mid(output.indexOf(QStringLiteral("pids ")) + 5);
    std::istringstream in(tail.section(QLatin1Char('\n'), 0, 0).toStdString());
    std::vector<pid_t> pids;
    for (pid_t p; in >> p;)
        pids.push_back(p);
    return pids;
}

} // namespace

class ExternalCommandPageTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void listShowsTheCommandsAndSelectionFillsTheLine();
    void newEditAndDeleteChangeTheStore();
    void outputStreamsInOrderAndTheButtonsFollowTheRun();
    void userInputIsAskedPerOccurrenceInOrder();
    void aCancelledQuestionRunsNothing();
    void aSecondRunIsRefusedAndAbortEndsTheWholeGroup();
    void aNonProgramEndsWithItsMessage_data();
    void aNonProgramEndsWithItsMessage();
    void aFloodOfOutputKeepsTheBoxBounded();
    void theExitPathStopsARunningCommand();
    void aMonitorMenuRunsTheCommandWithTheRowFilled();
    void enterDoesNothingOnThePage();

private:
    CTabExternalCommand* page() const {
        return static_cast<CTabExternalCommand*>(m_gui->dialog().page(kPageExternalCommand));
    }
    QString output() const { return page()->form().output->toPlainText(); }
    void runTyped(const QString& line) {
        page()->form().commandLine->setText(line);
        page()->runAction()->trigger();
    }
    // Waits for the end of the run the spy watches, and takes it off the spy.
    bool waitEnd(QSignalSpy& spy) {
        for (int i = 0; i < kGuard / 50 && spy.count() == 0; ++i)
            QTest::qWait(50);
        if (spy.count() == 0)
            return false;
        spy.removeFirst();
        return true;
    }

    std::unique_ptr<GuiHarness> m_gui;
};

void ExternalCommandPageTest::initTestCase() {
    // The commands here run as the test's own user.
    ::unsetenv("SUDO_UID");
    ::unsetenv("PKEXEC_UID");
}

void ExternalCommandPageTest::init() {
    m_gui = std::make_unique<GuiHarness>();
    QVERIFY(m_gui->start(""));
}

void ExternalCommandPageTest::cleanup() {
    m_gui.reset();
}

void ExternalCommandPageTest::listShowsTheCommandsAndSelectionFillsTheLine() {
    CTabExternalCommand* p = page();
    QAbstractItemModel* model = p->form().list->model();
    const auto& records = m_gui->core.m_commands.records();
    QCOMPARE(model->rowCount(), static_cast<int>(records.size()));
    QCOMPARE(model->index(0, 0).data().toString(), QStringLiteral("ping[CM](&P)"));
    QCOMPARE(model->index(7, 0).data().toString(), QStringLiteral("netstat"));
    QVERIFY(!p->editAction()->isEnabled());
    QVERIFY(!p->deleteAction()->isEnabled());
    QVERIFY(p->runAction()->isEnabled());
    QVERIFY(!p->abortAction()->isEnabled());
    QVERIFY(!p->form().abortButton->isEnabled());

    p->form().list->setCurrentIndex(model->index(2, 0));
    QCOMPARE(p->form().commandLine->text(), qs(records[2].commandLine));
    QVERIFY(p->editAction()->isEnabled());
    QVERIFY(p->form().deleteButton->isEnabled());
    // Every control has a name a screen reader can say.
    QCOMPARE(p->form().listLabel->buddy(), p->form().list);
    QVERIFY(!p->form().commandLine->accessibleName().isEmpty());
    QVERIFY(!p->form().output->accessibleName().isEmpty());
}

void ExternalCommandPageTest::newEditAndDeleteChangeTheStore() {
    CTabExternalCommand* p = page();
    auto& store = m_gui->core.m_commands;
    QAbstractItemModel* model = p->form().list->model();
    const size_t before = store.records().size();

    // New: the editor starts as a new command; OK appends it.
    whenModalOpens([](QWidget* modal) {
        auto* editor = qobject_cast<CEditExternalCommand*>(modal);
        QVERIFY(editor);
        QCOMPARE(editor->windowTitle(), QStringLiteral("外部コマンド編集"));
        QVERIFY(editor->form().name->text().isEmpty());
        QVERIFY(editor->form().addToMenu->isChecked());
        QVERIFY(editor->form().tcpMonitor->isChecked());
        editor->form().name->setText(QStringLiteral("whois[CM](&W)"));
        editor->form().commandLine->setText(QStringLiteral("whois %RemoteAddr%, -H"));
        editor->form().packetMonitor->click();
        editor->accept();
    });
    p->newAction()->trigger();
    QCOMPARE(store.records().size(), before + 1);
    const commands::ExternalCommand added{1, 0, "whois[CM](&W)", "whois %RemoteAddr%, -H",
                                          commands::kTargetPacketMonitor};
    QCOMPARE(store.records().back(), added);
    QCOMPARE(model->rowCount(), static_cast<int>(before + 1));
    QCOMPARE(model->index(static_cast<int>(before), 0).data().toString(),
             QStringLiteral("whois[CM](&W)"));

    // Edit: replaced in its place, selected again, its line in the edit box.
    p->form().list->setCurrentIndex(model->index(1, 0));
    whenModalOpens([](QWidget* modal) {
        auto* editor = qobject_cast<CEditExternalCommand*>(modal);
        QVERIFY(editor);
        QCOMPARE(editor->form().commandLine->text(), QStringLiteral("traceroute %RemoteAddr%"));
        editor->form().commandLine->setText(QStringLiteral("traceroute -n %RemoteAddr%"));
        editor->form().addToMenu->setChecked(false);
        editor->accept();
    });
    p->editAction()->trigger();
    QCOMPARE(store.records()[1].commandLine, std::string("traceroute -n %RemoteAddr%"));
    QCOMPARE(store.records()[1].addToMenu, 0);
    QCOMPARE(store.records()[1].name, std::string("tracert[CM](&T)"));
    QCOMPARE(p->form().list->selectionModel()->selectedRows().value(0).row(), 1);
    QCOMPARE(p->form().commandLine->text(), QStringLiteral("traceroute -n %RemoteAddr%"));

    // Cancel changes nothing.
    whenModalOpens([](QWidget* modal) {
        auto* editor = qobject_cast<CEditExternalCommand*>(modal);
        QVERIFY(editor);
        editor->form().name->setText(QStringLiteral("changed"));
        editor->reject();
    });
    p->editAction()->trigger();
    QCOMPARE(store.records()[1].name, std::string("tracert[CM](&T)"));

    // Delete: no question; the edit box keeps its text; nothing selected.
    p->deleteAction()->trigger();
    QCOMPARE(store.records().size(), before);
    QCOMPARE(store.records()[1].name, std::string("net send[CM](&N)"));
    QCOMPARE(model->rowCount(), static_cast<int>(before));
    QCOMPARE(p->form().commandLine->text(), QStringLiteral("traceroute -n %RemoteAddr%"));
    QVERIFY(!p->deleteAction()->isEnabled());
    QVERIFY(m_gui->core.m_messages.texts().empty());
}

void ExternalCommandPageTest::outputStreamsInOrderAndTheButtonsFollowTheRun() {
    CTabExternalCommand* p = page();
    QSignalSpy ended(p, &CTabExternalCommand::runEnded);
    const QString line = kChild + QStringLiteral(" lines 200");
    runTyped(line);
    QVERIFY(p->running());
    QVERIFY(!p->runAction()->isEnabled());
    QVERIFY(!p->form().runButton->isEnabled());
    QVERIFY(p->abortAction()->isEnabled());
    QVERIFY(p->form().abortButton->isEnabled());
    QVERIFY(waitEnd(ended));

    QString expected = QStringLiteral(">") + line + QStringLiteral("\n");
    for (int i = 1; i <= 200; ++i)
        expected += QStringLiteral("line %1\n").arg(i);
    QCOMPARE(output(), expected);
    QVERIFY(!p->running());
    QVERIFY(p->runAction()->isEnabled());
    QVERIFY(!p->abortAction()->isEnabled());
    // A command that ended by itself is shown from its top.
    QCOMPARE(p->form().output->textCursor().position(), 0);

    // A new run replaces the old output.
    runTyped(kChild + QStringLiteral(" stderr 日本語のエラー"));
    QVERIFY(waitEnd(ended));
    QCOMPARE(output(), QStringLiteral(">") + kChild +
                           QStringLiteral(" stderr 日本語のエラー\n日本語のエラー\n"));
}

void ExternalCommandPageTest::userInputIsAskedPerOccurrenceInOrder() {
    CTabExternalCommand* p = page();
    QSignalSpy ended(p, &CTabExternalCommand::runEnded);
    QStringList prompts;
    answerQuestions({QStringLiteral("10.0.0.7"), QStringLiteral("first; $(id) `x`"),
                     QStringLiteral("second \"quoted\" \\")},
                    &prompts);
    runTyped(kChild + QStringLiteral(" argv %UserIn% %RemoteAddr% \"%UserIn%\""));
    QVERIFY(waitEnd(ended));
    QCOMPARE(
        prompts,
        (QStringList{QStringLiteral("%RemoteAddr% と置き換える文字列を入力してください。"),
                     QStringLiteral("1 番目の %UserIn% と置き換える文字列を入力してください。"),
                     QStringLiteral("2 番目の %UserIn% と置き換える文字列を入力してください。")}));
    QVERIFY2(output().endsWith(QStringLiteral("\n[first; $(id) `x`]\n[10.0.0.7]\n"
                                              "[second \"quoted\" \\]\n")),
             qPrintable(output()));
}

void ExternalCommandPageTest::aCancelledQuestionRunsNothing() {
    CTabExternalCommand* p = page();
    p->form().output->setPlainText(QStringLiteral("earlier output"));
    QStringList prompts;
    answerQuestions({QStringLiteral("one"), QStringLiteral("two")}, &prompts, true);
    runTyped(kChild + QStringLiteral(" argv %UserIn% %UserIn% %UserIn%"));
    QCOMPARE(prompts.size(), 2);
    QVERIFY(!p->running());
    QCOMPARE(output(), QStringLiteral("earlier output"));
    QVERIFY(p->runAction()->isEnabled());
}

void ExternalCommandPageTest::aSecondRunIsRefusedAndAbortEndsTheWholeGroup() {
    CTabExternalCommand* p = page();
    QSignalSpy ended(p, &CTabExternalCommand::runEnded);
    runTyped(kChild + QStringLiteral(" stubborn"));
    QTRY_VERIFY_WITH_TIMEOUT(output().count(QLatin1Char('\n')) >= 2, kGuard);
    const std::vector<pid_t> pids = pidsIn(output());
    QCOMPARE(pids.size(), size_t(2));
    const QString shown = output();

    // From a double-click in the list and from a monitor: refused, nothing changes.
    p->run(kChild.toStdString() + " argv %UserIn%");
    m_gui->dialog().runExternalCommand("ss -tuan");
    QCOMPARE(m_gui->core.m_messages.texts(),
             (std::vector<std::string>{"まだ前回のプロセスが起動中です。",
                                       "まだ前回のプロセスが起動中です。"}));
    QCOMPARE(output(), shown);
    QVERIFY(p->running());

    p->abortAction()->trigger();
    QVERIFY(waitEnd(ended));
    QCOMPARE(output(), shown + QStringLiteral("\n中止されました\n"));
    QVERIFY(p->runAction()->isEnabled());
    QVERIFY(!p->abortAction()->isEnabled());
    for (pid_t pid : pids)
        QTRY_VERIFY_WITH_TIMEOUT(processGone(pid), kGuard);

    // Once over, the next run is taken.
    runTyped(kChild + QStringLiteral(" argv again"));
    QVERIFY(waitEnd(ended));
    QVERIFY(output().endsWith(QStringLiteral("[again]\n")));
}

void ExternalCommandPageTest::aNonProgramEndsWithItsMessage_data() {
    QTest::addColumn<QString>("line");
    QTest::newRow("missing program") << QStringLiteral("tavrin-no-such-program -x");
    QTest::newRow("not executable") << QStringLiteral("/etc/hostname");
    QTest::newRow("a folder") << QStringLiteral("/tmp");
    QTest::newRow("shell syntax") << QStringLiteral("echo hi; reboot");
    QTest::newRow("blank") << QStringLiteral("   ");
}

void ExternalCommandPageTest::aNonProgramEndsWithItsMessage() {
    QFETCH(QString, line);
    CTabExternalCommand* p = page();
    QSignalSpy ended(p, &CTabExternalCommand::runEnded);
    runTyped(line);
    QVERIFY(waitEnd(ended));
    if (line.startsWith(QStringLiteral("echo"))) {
        // No shell: "hi;" and "reboot" are only words for echo.
        QCOMPARE(output(), QStringLiteral(">echo hi; reboot\nhi; reboot\n"));
        return;
    }
    QCOMPARE(output(), QStringLiteral(">") + line + QStringLiteral("\nエラー：無効なコマンドです"));
    QVERIFY(p->runAction()->isEnabled());
    QVERIFY(!p->abortAction()->isEnabled());
}

void ExternalCommandPageTest::aFloodOfOutputKeepsTheBoxBounded() {
    CTabExternalCommand* p = page();
    QSignalSpy ended(p, &CTabExternalCommand::runEnded);
    QTextDocument* document = p->form().output->document();
    runTyped(kChild + QStringLiteral(" flood"));
    // Until the oldest lines, the command line first, have gone.
    QTRY_VERIFY_WITH_TIMEOUT(!output().startsWith(QLatin1Char('>')), kGuard);
    for (int i = 0; i < 10; ++i) {
        QTest::qWait(50);
        QVERIFY(document->blockCount() <= CTabExternalCommand::kMaxOutputLines);
    }
    p->abortAction()->trigger();
    QVERIFY(waitEnd(ended));
    QVERIFY(document->blockCount() <= CTabExternalCommand::kMaxOutputLines);
    QVERIFY(output().endsWith(QStringLiteral("\n中止されました\n")));
}

void ExternalCommandPageTest::theExitPathStopsARunningCommand() {
    CTabExternalCommand* p = page();
    runTyped(kChild + QStringLiteral(" stubborn"));
    QTRY_VERIFY_WITH_TIMEOUT(output().count(QLatin1Char('\n')) >= 2, kGuard);
    const std::vector<pid_t> pids = pidsIn(output());
    QCOMPARE(pids.size(), size_t(2));

    QVERIFY(m_gui->dialog().leaveUnattended());
    QVERIFY(!p->running());
    for (pid_t pid : pids)
        QTRY_VERIFY_WITH_TIMEOUT(processGone(pid), kGuard);
    QVERIFY(!output().contains(QStringLiteral("中止されました")));
    // Nothing runs any more.
    p->run(kChild.toStdString() + " argv late");
    QVERIFY(!p->running());
}

void ExternalCommandPageTest::aMonitorMenuRunsTheCommandWithTheRowFilled() {
    auto& store = m_gui->core.m_commands;
    while (!store.records().empty())
        store.remove(0);
    store.add({1, 0, "argv[CM](&A)", kChild.toStdString() + " argv %RemoteAddr% \"%UserIn%\"",
               commands::kTargetTcpConnectionMonitor});
    store.add({1, 0, "argv[PM]", kChild.toStdString() + " argv %SrcAddr%",
               commands::kTargetPacketMonitor});
    CTestDrvDlg& dialog = m_gui->dialog();
    dialog.showPage(kPageFilter);
    CTabExternalCommand* p = page();
    QSignalSpy ended(p, &CTabExternalCommand::runEnded);

    // As a monitor builds its menu and answers a choice with its remembered row.
    QMenu menu;
    const commands::PlaceholderValues row = {{"%RemoteAddr%", "10.0.0.5"},
                                             {"%RemoteHost%", "peer.example"}};
    QMenu* sub =
        addExternalCommandMenu(&menu, store, commands::kTargetTcpConnectionMonitor, [&](int n) {
            const commands::ExternalCommand* c =
                store.menuCommand(commands::kTargetTcpConnectionMonitor, n);
            QVERIFY(c);
            dialog.runExternalCommand(commands::fillRow(c->commandLine, row));
        });
    QVERIFY(sub);
    QCOMPARE(sub->actions().size(), 1);
    QCOMPARE(sub->actions().front()->data().toInt(), kFirstExternalCommandId);
    QStringList prompts;
    answerQuestions({QStringLiteral("hello there")}, &prompts);
    sub->actions().front()->trigger();
    QCOMPARE(dialog.tabs()->currentWidget(), p);
    QCOMPARE(prompts, QStringList{QStringLiteral(
                          "1 番目の %UserIn% と置き換える文字列を入力してください。")});
    QVERIFY(waitEnd(ended));
    QVERIFY2(output().endsWith(QStringLiteral("\n[10.0.0.5]\n[hello there]\n")),
             qPrintable(output()));
}

void ExternalCommandPageTest::enterDoesNothingOnThePage() {
    CTabExternalCommand* p = page();
    m_gui->dialog().showPage(kPageExternalCommand);
    p->form().commandLine->setText(kChild + QStringLiteral(" argv x"));
    for (QWidget* w : std::initializer_list<QWidget*>{p->form().commandLine, p->form().list}) {
        QTest::keyClick(w, Qt::Key_Return);
        QTest::keyClick(w, Qt::Key_Escape);
    }
    QVERIFY(!p->running());
    QVERIFY(output().isEmpty());
    for (QPushButton* b : p->findChildren<QPushButton*>())
        QVERIFY2(!b->autoDefault() && !b->isDefault(), qPrintable(b->text()));
}

} // namespace tavrin::ui::test

QTEST_MAIN(tavrin::ui::test::ExternalCommandPageTest)
#include "ExternalCommandPageTest.moc"
