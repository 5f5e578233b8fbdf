// The command editor: what it shows for a command, the target buttons and the menu
// check box, and what OK accepts and refuses.
#include "CEditExternalCommand.h"
#include "RecordingMessages.h"
#include "ui_CEditExternalCommand.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTest>

namespace tavrin::ui::test {

using commands::ExternalCommand;

class EditExternalCommandTest final : public QObject {
    Q_OBJECT

private slots:
    void opensOnTheCommand_data();
    void opensOnTheCommand();
    void theMenuCheckBoxEnablesTheTargets();
    void okChecksTheName_data();
    void okChecksTheName();
    void cancelKeepsTheCommand();
};

void EditExternalCommandTest::opensOnTheCommand_data() {
    QTest::addColumn<int>("addToMenu");
    QTest::addColumn<int>("target");
    QTest::addColumn<bool>("tcpChecked");
    QTest::addColumn<bool>("packetChecked");
    QTest::newRow("connection monitor") << 1 << 1 << true << false;
    QTest::newRow("packet monitor") << 1 << 2 << false << true;
    QTest::newRow("no target from the file") << 1 << 0 << false << false;
    QTest::newRow("a stray target") << 1 << 7 << false << false;
    QTest::newRow("not in a menu") << 0 << 2 << false << true;
}

void EditExternalCommandTest::opensOnTheCommand() {
    QFETCH(int, addToMenu);
    QFETCH(int, target);
    QFETCH(bool, tcpChecked);
    QFETCH(bool, packetChecked);
    tavrin::test::RecordingMessages messages;
    const ExternalCommand command{addToMenu, 1, "名前(&N)", "ping -c 4 %RemoteAddr%, x", target};
    CEditExternalCommand editor(command, messages);
    auto& form = editor.form();
    QCOMPARE(editor.windowTitle(), QStringLiteral("外部コマンド編集"));
    QCOMPARE(form.name->text(), QStringLiteral("名前(&N)"));
    QCOMPARE(form.commandLine->text(), QStringLiteral("ping -c 4 %RemoteAddr%, x"));
    QCOMPARE(form.addToMenu->isChecked(), addToMenu != 0);
    QCOMPARE(form.tcpMonitor->isChecked(), tcpChecked);
    QCOMPARE(form.packetMonitor->isChecked(), packetChecked);
    QCOMPARE(form.tcpMonitor->isEnabled(), addToMenu != 0);
    QCOMPARE(form.packetMonitor->isEnabled(), addToMenu != 0);
    QVERIFY(form.showWindow->isHidden());
    QCOMPARE(form.buttons->button(QDialogButtonBox::Cancel)->text(), QStringLiteral("キャンセル"));
    // Accepted as it is, the command comes back unchanged, the hidden flag too.
    editor.accept();
    QCOMPARE(editor.result(), int(QDialog::Accepted));
    QCOMPARE(editor.command(), command);
}

void EditExternalCommandTest::theMenuCheckBoxEnablesTheTargets() {
    tavrin::test::RecordingMessages messages;
    CEditExternalCommand editor({1, 0, "n", "c", 1}, messages);
    auto& form = editor.form();
    editor.show();
    form.packetMonitor->click();
    form.addToMenu->click();
    QVERIFY(!form.addToMenu->isChecked());
    QVERIFY(!form.tcpMonitor->isEnabled());
    QVERIFY(!form.packetMonitor->isEnabled());
    editor.accept();
    // Cleared, the check box leaves the chosen target as it was.
    QCOMPARE(editor.command().addToMenu, 0);
    QCOMPARE(editor.command().target, commands::kTargetPacketMonitor);

    CEditExternalCommand again({0, 0, "n", "c", 2}, messages);
    again.show();
    again.form().addToMenu->click();
    QVERIFY(again.form().tcpMonitor->isEnabled());
    again.form().tcpMonitor->click();
    again.accept();
    QCOMPARE(again.command().addToMenu, 1);
    QCOMPARE(again.command().target, commands::kTargetTcpConnectionMonitor);
}

void EditExternalCommandTest::okChecksTheName_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<QString>("message"); // empty when accepted
    QTest::newRow("comma in the name") << "a,b"
                                       << "ping x" << QString::fromUtf8(kCommaInName);
    QTest::newRow("only a comma") << ","
                                  << "" << QString::fromUtf8(kCommaInName);
    QTest::newRow("comma in the command line") << "ab"
                                               << "a,b,c" << QString();
    QTest::newRow("empty name and line") << ""
                                         << "" << QString();
    QTest::newRow("line break in the name") << "a\nb"
                                            << "x" << QString::fromUtf8(kLineBreakInCommand);
    QTest::newRow("line break in the command line")
        << "a"
        << "x\ry" << QString::fromUtf8(kLineBreakInCommand);
}

void EditExternalCommandTest::okChecksTheName() {
    QFETCH(QString, name);
    QFETCH(QString, commandLine);
    QFETCH(QString, message);
    tavrin::test::RecordingMessages messages;
    const ExternalCommand original{1, 0, "old", "old line", 1};
    CEditExternalCommand editor(original, messages);
    editor.show();
    editor.form().name->setText(name);
    editor.form().commandLine->setText(commandLine);
    editor.form().buttons->button(QDialogButtonBox::Ok)->click();
    if (message.isEmpty()) {
        QVERIFY(messages.texts().empty());
        QCOMPARE(editor.result(), int(QDialog::Accepted));
        QCOMPARE(QString::fromStdString(editor.command().name), name);
        QCOMPARE(QString::fromStdString(editor.command().commandLine), commandLine);
        return;
    }
    QCOMPARE(messages.texts(), std::vector<std::string>{message.toStdString()});
    QVERIFY(editor.isVisible());
    QVERIFY(editor.result() != QDialog::Accepted);
    QCOMPARE(editor.form().name->text(), name);
    QCOMPARE(editor.command(), original);
}

void EditExternalCommandTest::cancelKeepsTheCommand() {
    tavrin::test::RecordingMessages messages;
    const ExternalCommand original{1, 0, "old", "old line", 1};
    CEditExternalCommand editor(original, messages);
    editor.show();
    editor.form().name->setText(QStringLiteral("new"));
    editor.form().packetMonitor->click();
    editor.form().buttons->button(QDialogButtonBox::Cancel)->click();
    QCOMPARE(editor.result(), int(QDialog::Rejected));
    QVERIFY(messages.texts().empty());
}

} // namespace tavrin::ui::test

QTEST_MAIN(tavrin::ui::test::EditExternalCommandTest)
#include "EditExternalCommandTest.moc"
