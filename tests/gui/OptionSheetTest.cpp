// The option sheet on its own: every value read from and written to the settings,
// and the range checks on OK with their message and the focus on the field.
#include "COptionSheet.h"
#include "CTabPerformance.h"
#include "CTabStartup.h"
#include "IniFileObject.h"
#include "RecordingMessages.h"
#include "ui_CTabPerformance.h"
#include "ui_CTabStartup.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>

namespace tavrin::ui::test {

class OptionSheetTest final : public QObject {
    Q_OBJECT

private slots:
    void rangesOnOk_data();
    void rangesOnOk();
    void valuesGoBothWays();
    void mappingBoxOnlyWhereOwnersAreMissing();
};

void OptionSheetTest::rangesOnOk_data() {
    QTest::addColumn<QString>("maxPackets");
    QTest::addColumn<QString>("period");
    QTest::addColumn<QString>("message"); // empty: accepted
    QTest::addColumn<QString>("focused");

    const QString period = QStringLiteral("50 から 3000 までの整数を入力してください。");
    const QString packets = QStringLiteral("1 から 2147483647 までの整数を入力してください。");
    const QString integer = QStringLiteral("整数を入力してください。");
    QTest::newRow("period 49") << "100"
                               << "49" << period << "period";
    QTest::newRow("period 50") << "100"
                               << "50"
                               << ""
                               << "";
    QTest::newRow("period 3000") << "100"
                                 << "3000"
                                 << ""
                                 << "";
    QTest::newRow("period 3001") << "100"
                                 << "3001" << period << "period";
    QTest::newRow("period empty") << "100"
                                  << "" << integer << "period";
    QTest::newRow("0 packets") << "0"
                               << "250" << packets << "maxPackets";
    QTest::newRow("1 packet") << "1"
                              << "250"
                              << ""
                              << "";
    QTest::newRow("201 packets") << "201"
                                 << "250"
                                 << ""
                                 << "";
    QTest::newRow("packets past the file's range") << "2147483648"
                                                   << "250" << packets << "maxPackets";
    QTest::newRow("both wrong: the first field first") << "0"
                                                       << "1" << packets << "maxPackets";
}

void OptionSheetTest::rangesOnOk() {
    QFETCH(QString, maxPackets);
    QFETCH(QString, period);
    QFETCH(QString, message);
    QFETCH(QString, focused);

    settings::IniFileObject edited;
    tavrin::test::RecordingMessages messages;
    COptionSheet sheet(edited, false, messages);
    sheet.pages()->setCurrentIndex(0);
    sheet.performancePage()->form().maxPackets->setText(maxPackets);
    sheet.performancePage()->form().period->setText(period);
    sheet.accept();
    if (message.isEmpty()) {
        QCOMPARE(sheet.result(), int(QDialog::Accepted));
        QVERIFY(messages.recorded().empty());
        QCOMPARE(edited.GetMaxPacketCaptureNum(), maxPackets.toInt());
        QCOMPARE(edited.GetBandwidthControlTime(), period.toInt());
        return;
    }
    QCOMPARE(sheet.result(), int(QDialog::Rejected));
    QCOMPARE(messages.texts().size(), size_t(1));
    QCOMPARE(QString::fromStdString(messages.texts().front()), message);
    // The sheet stays open on the page and field at fault, values as typed, the
    // settings untouched.
    QCOMPARE(sheet.pages()->currentWidget(), static_cast<QWidget*>(sheet.performancePage()));
    QCOMPARE(sheet.focusWidget()->objectName(), focused);
    QCOMPARE(sheet.performancePage()->form().period->text(), period);
    QCOMPARE(edited.GetMaxPacketCaptureNum(), 100);
    QCOMPARE(edited.GetBandwidthControlTime(), 250);
}

void OptionSheetTest::valuesGoBothWays() {
    settings::IniFileObject edited;
    edited.SetAutoSave(0);
    edited.SetStartupOn(1);
    edited.SetStartupMinimize(1);
    edited.SetNoIcon(1);
    edited.SetConfirmClose(1);
    edited.SetCloseButtonAction(1);
    edited.SetMaxPacketCaptureNum(777);
    edited.SetBandwidthControlTime(1200);
    tavrin::test::RecordingMessages messages;
    {
        COptionSheet sheet(edited, false, messages);
        const auto& startup = sheet.startupPage()->form();
        QVERIFY(!startup.autoSave->isChecked());
        QVERIFY(startup.startupOn->isChecked());
        QVERIFY(startup.startupMinimize->isChecked());
        QVERIFY(startup.noIcon->isChecked());
        QVERIFY(startup.confirmClose->isChecked());
        QCOMPARE(startup.closeButtonAction->currentText(), QStringLiteral("最小化"));
        QCOMPARE(sheet.performancePage()->form().maxPackets->text(), QStringLiteral("777"));
        QCOMPARE(sheet.performancePage()->form().period->text(), QStringLiteral("1200"));
        startup.autoSave->setChecked(true);
        startup.noIcon->setChecked(false);
        startup.closeButtonAction->setCurrentIndex(0);
        sheet.accept();
    }
    QCOMPARE(edited.GetAutoSave(), 1);
    QCOMPARE(edited.GetNoIcon(), 0);
    QCOMPARE(edited.GetCloseButtonAction(), 0);
    QCOMPARE(edited.GetStartupOn(), 1);

    // A close-button value the list does not hold selects nothing and survives OK.
    edited.SetCloseButtonAction(7);
    {
        COptionSheet sheet(edited, false, messages);
        QCOMPARE(sheet.startupPage()->form().closeButtonAction->currentIndex(), -1);
        sheet.accept();
    }
    QCOMPARE(edited.GetCloseButtonAction(), 7);
    QVERIFY(messages.recorded().empty());
}

// The mapping box is for a connection table without owners; elsewhere it stays
// hidden and the stored value is kept whatever the box holds.
void OptionSheetTest::mappingBoxOnlyWhereOwnersAreMissing() {
    tavrin::test::RecordingMessages messages;
    for (bool offered : {false, true}) {
        settings::IniFileObject edited;
        edited.SetPortProcessMapping(1);
        COptionSheet sheet(edited, offered, messages);
        auto* box = sheet.performancePage()->form().noPortMapping;
        QCOMPARE(!box->isHidden(), offered);
        QVERIFY(!box->isChecked());
        box->setChecked(true);
        sheet.accept();
        QCOMPARE(edited.GetPortProcessMapping(), offered ? 0 : 1);
    }
}

} // namespace tavrin::ui::test

QTEST_MAIN(tavrin::ui::test::OptionSheetTest)
#include "OptionSheetTest.moc"
