// The dynamic filter dialog on its own: the target list and the trigger choice as
// they open and as they are stored, the action boxes, and the checks on OK in
// control order with their messages and focus.
#include "CEditDynamicFilterDlg.h"

#include "FilterTestSupport.h"
#include "NumberSpinField.h"
#include "RecordingMessages.h"
#include "TempFolder.h"
#include "ui_CEditDynamicFilterDlg.h"

#include <QFileDialog>
#include <QTest>

#include <sys/stat.h>

namespace tavrin::ui::test {

namespace {

using tavrin::test::RecordingMessages;

// Packet filters alpha (1), beta (5), gamma (3) in this order, and one without an ID.
settings::IniFileObject packetFilters() {
    settings::IniFileObject s;
    const std::pair<const char*, int32_t> filters[] = {
        {"alpha", 1}, {"beta", 5}, {"gamma", 3}, {"no id", 0}};
    for (const auto& [name, id] : filters) {
        PacketFilter f;
        f.filterName = std::string_view(name);
        f.id = id;
        s.InsertPacketFilter(s.PacketFilterCount(), f);
    }
    return s;
}

struct DialogRig {
    DialogRig() : dialog(settings, messages) {}
    bool show() {
        dialog.show();
        dialog.activateWindow();
        return QTest::qWaitForWindowActive(&dialog);
    }
    Ui::CEditDynamicFilterDlg& f() { return dialog.form(); }

    settings::IniFileObject settings = packetFilters();
    RecordingMessages messages;
    CEditDynamicFilterDlg dialog;
};

QList<int> selectedTargets(const QListWidget* list) {
    QList<int> rows;
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->isSelected())
            rows << i;
    return rows;
}

} // namespace

class CEditDynamicFilterDlgTest final : public QObject {
    Q_OBJECT

private slots:
    void targetsAndTriggerAsTheyOpen();
    void targetsAndTriggerAsStored();
    void okChecksComeInControlOrder();
    void boundsAndNumbers_data();
    void boundsAndNumbers();
    void whatOpensIsWhatComesBack();
    void actionBoxesFollowTheFilterDialog();
    void bothBrowseButtons();
};

// Two targets open as exactly two selected entries; the trigger filter is chosen
// by its place in the list.
void CEditDynamicFilterDlgTest::targetsAndTriggerAsTheyOpen() {
    DialogRig rig;
    DynamicFilter filter;
    filter.targetFilterIds = {3, 1, 42};
    filter.triggerFilterId = 5;
    rig.dialog.load(filter);
    QStringList names;
    for (int i = 0; i < rig.f().targetList->count(); ++i)
        names << rig.f().targetList->item(i)->text();
    QCOMPARE(names, QStringList({"alpha", "beta", "gamma", "no id"}));
    QCOMPARE(selectedTargets(rig.f().targetList), QList<int>({0, 2}));
    QCOMPARE(rig.f().filterBandFilter->count(), 4);
    QCOMPARE(rig.f().filterBandFilter->currentIndex(), 1);

    DynamicFilter none;
    rig.dialog.load(none);
    QVERIFY(selectedTargets(rig.f().targetList).isEmpty());
    QCOMPARE(rig.f().filterBandFilter->currentIndex(), -1);
}

// Targets are stored in list order; a filter without an ID is never one.
void CEditDynamicFilterDlgTest::targetsAndTriggerAsStored() {
    DialogRig rig;
    rig.dialog.load(DynamicFilter{});
    for (int row : {3, 2, 0})
        rig.f().targetList->item(row)->setSelected(true);
    rig.f().filterBandFilter->setCurrentIndex(2);
    rig.dialog.accept();
    DynamicFilter stored;
    rig.dialog.store(stored);
    QCOMPARE(stored.targetFilterIds, (std::vector<int32_t>{1, 3}));
    QCOMPARE(stored.triggerFilterId, 3);

    // Nothing chosen: no trigger filter.
    rig.dialog.load(DynamicFilter{});
    rig.dialog.store(stored);
    QCOMPARE(stored.triggerFilterId, 0);
    QVERIFY(stored.targetFilterIds.empty());
}

void CEditDynamicFilterDlgTest::okChecksComeInControlOrder() {
    DialogRig rig;
    QVERIFY(rig.show());
    Ui::CEditDynamicFilterDlg& f = rig.f();
    f.nameEdit->setText(QStringLiteral("a,b"));
    f.commentEdit->setText(QStringLiteral(",c"));
    for (QLineEdit* bound : {f.totalUpLow, f.totalUpHigh, f.totalDownLow, f.totalDownHigh,
                             f.filterBandLow, f.filterBandHigh})
        bound->setText(QString());
    f.connectingProcess->setText(QStringLiteral("x,y"));
    f.runningProcess->setText(QStringLiteral("p,q"));
    f.limitBox->setChecked(true);
    f.bandwidth->edit()->setText(QStringLiteral("0"));
    f.minimumSize->edit()->setText(QStringLiteral("2000"));

    const QString comma = QStringLiteral("「,」は使えません");
    const QString integer = QStringLiteral("整数を入力してください。");
    struct Step {
        QString message;
        const char* focus;
        std::function<void()> fix;
    };
    auto zero = [](QLineEdit* e) { return [e] { e->setText(QStringLiteral("0")); }; };
    const std::vector<Step> steps = {
        {comma, "nameEdit", [&] { f.nameEdit->setText(QStringLiteral("ab")); }},
        {comma, "commentEdit", [&] { f.commentEdit->setText(QStringLiteral("c")); }},
        {integer, "totalUpLow", zero(f.totalUpLow)},
        {integer, "totalUpHigh", zero(f.totalUpHigh)},
        {integer, "totalDownLow", zero(f.totalDownLow)},
        {integer, "totalDownHigh", zero(f.totalDownHigh)},
        {integer, "filterBandLow", zero(f.filterBandLow)},
        {integer, "filterBandHigh",
         [&] { f.filterBandHigh->setText(QStringLiteral("2147483648")); }},
        {QStringLiteral("0 から 2147483647 までの整数を入力してください。"), "filterBandHigh",
         zero(f.filterBandHigh)},
        {comma, "connectingProcess", [&] { f.connectingProcess->setText(QStringLiteral("xy")); }},
        {comma, "runningProcess", [&] { f.runningProcess->setText(QStringLiteral("pq")); }},
        {QStringLiteral("1 から 2147483647 までの整数を入力してください。"), "bandwidth",
         [&] { f.bandwidth->edit()->setText(QStringLiteral("8")); }},
        {QStringLiteral("0 から 1500 までの整数を入力してください。"), "minimumSize",
         [&] { f.minimumSize->edit()->setText(QStringLiteral("1500")); }},
    };
    for (const Step& step : steps) {
        rig.messages.clear();
        f.buttons->button(QDialogButtonBox::Ok)->click();
        QVERIFY(rig.dialog.isVisible());
        QCOMPARE(rig.messages.texts(), std::vector<std::string>{step.message.toStdString()});
        QCOMPARE(focusedName(), QString::fromUtf8(step.focus));
        step.fix();
    }
    rig.messages.clear();
    f.buttons->button(QDialogButtonBox::Ok)->click();
    QVERIFY(rig.messages.texts().empty());
    QCOMPARE(rig.dialog.result(), int(QDialog::Accepted));
}

void CEditDynamicFilterDlgTest::boundsAndNumbers_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown"); // after the field's own filter
    QTest::addColumn<bool>("accepted");
    QTest::newRow("zero is no bound") << "0"
                                      << "0" << true;
    QTest::newRow("largest") << "2147483647"
                             << "2147483647" << true;
    QTest::newRow("past 32 bits") << "2147483648"
                                  << "2147483648" << false;
    QTest::newRow("no sign can be typed") << "-5"
                                          << "5" << true;
    QTest::newRow("letters cannot be typed") << "1x0"
                                             << "10" << true;
}

// The bounds take digits only, from 0 to what the settings file holds.
void CEditDynamicFilterDlgTest::boundsAndNumbers() {
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(bool, accepted);
    DialogRig rig;
    QLineEdit* field = rig.f().totalDownHigh;
    field->clear();
    QTest::keyClicks(field, typed);
    QCOMPARE(field->text(), shown);
    rig.dialog.accept();
    QCOMPARE(rig.dialog.result() == QDialog::Accepted, accepted);
    if (accepted) {
        DynamicFilter stored;
        rig.dialog.store(stored);
        QCOMPARE(QString::number(stored.totalDownHigh), shown);
    }
}

void CEditDynamicFilterDlgTest::whatOpensIsWhatComesBack() {
    DialogRig rig;
    DynamicFilter original;
    original.id = 9;
    original.available = 0;
    original.filterName = std::string_view("夜間");
    original.comment = std::string_view("backup");
    original.runningProcessName = "rsync";
    original.connectingProcessName = "ssh";
    original.totalUpLow = 10;
    original.totalUpHigh = 20;
    original.totalDownLow = 30;
    original.totalDownHigh = 40;
    original.filterBandwidthLow = 50;
    original.filterBandwidthHigh = 60;
    original.triggerFilterId = 3;
    original.targetFilterIds = {1, 5};
    original.drop = 1;
    original.dropSynOnly = 1;
    original.doBand = 1;
    original.bandwidth = 15;
    original.minimumPacketSize = 200;
    rig.dialog.load(original);
    rig.dialog.accept();
    QCOMPARE(rig.dialog.result(), int(QDialog::Accepted));
    DynamicFilter copy = original;
    rig.dialog.store(copy);
    QCOMPARE(copy, original);

    rig.f().nameEdit->clear();
    rig.dialog.store(copy);
    QCOMPARE(copy.filterName.str(), std::string("NewFilter"));
}

// The action group behaves as in the filter dialog.
void CEditDynamicFilterDlgTest::actionBoxesFollowTheFilterDialog() {
    DialogRig rig;
    Ui::CEditDynamicFilterDlg& f = rig.f();
    DynamicFilter filter;
    filter.doBand = 1;
    filter.bandwidth = 40;
    rig.dialog.load(filter);
    QVERIFY(!f.synOnlyBox->isEnabled());
    QVERIFY(f.limitBox->isChecked());
    QVERIFY(f.bandwidth->isEnabled());
    f.synOnlyBox->setChecked(false);
    f.dropBox->click();
    QVERIFY(f.synOnlyBox->isEnabled());
    QVERIFY(!f.limitBox->isChecked());
    QVERIFY(!f.limitBox->isEnabled());
    QVERIFY(!f.bandwidth->isEnabled());
    QVERIFY(!f.minimumSize->isEnabled());
    f.synOnlyBox->click();
    QVERIFY(f.limitBox->isEnabled());
    QVERIFY(!f.limitBox->isChecked());
}

// Each "参照..." fills its own process name with the chosen file's name.
void CEditDynamicFilterDlgTest::bothBrowseButtons() {
    tavrin::test::TempFolder folder;
    folder.write("worker", "#!/bin/sh\n");
    QVERIFY(::chmod(folder.file("worker").c_str(), 0755) == 0);
    DialogRig rig;
    const std::pair<QPushButton*, QLineEdit*> pairs[] = {
        {rig.f().connectingBrowse, rig.f().connectingProcess},
        {rig.f().runningBrowse, rig.f().runningProcess}};
    for (const auto& [button, edit] : pairs) {
        whenModalOpens([&folder](QWidget* modal) {
            auto* files = qobject_cast<QFileDialog*>(modal);
            QVERIFY(files);
            files->setDirectory(QString::fromStdString(folder.path()));
            files->selectFile(QString::fromStdString(folder.file("worker")));
            QMetaObject::invokeMethod(files, "accept");
        });
        button->click();
        QCOMPARE(edit->text(), QStringLiteral("worker"));
    }
}

} // namespace tavrin::ui::test

QTEST_MAIN(tavrin::ui::test::CEditDynamicFilterDlgTest)
#include "CEditDynamicFilterDlgTest.moc"
