// The dynamic filter page on a running window: its columns, its commands on several
// rows with the session rebuilt after each, its limit, and its column layout.
#include "FilterTestSupport.h"

#include "CEditDynamicFilterDlg.h"
#include "Icons.h"
#include "ui_CEditDynamicFilterDlg.h"

#include <QAction>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>

namespace tavrin::ui::test {

namespace {

QList<int> toList(const std::vector<int>& rows) {
    return QList<int>(rows.begin(), rows.end());
}

// Two packet filters and three dynamic filters X, Y, Z.
std::string sample() {
    return commonSection() + packetSection(1, {{"FILTER_NAME", "web"}}) +
           packetSection(2, {{"FILTER_NAME", "mail"}}) +
           dynamicSection(1, {{"FILTER_NAME", "X"}, {"TARGET_FILTER_ID", "1"}}) +
           dynamicSection(2, {{"FILTER_NAME", "Y"}, {"TARGET_FILTER_ID", "2"}}) +
           dynamicSection(3, {{"FILTER_NAME", "Z"}, {"TARGET_FILTER_ID", "1,2"}});
}

} // namespace

class CTabDynamicFilterTest final : public QObject {
    Q_OBJECT

private slots:
    void columnTexts_data();
    void columnTexts();
    void headings();
    void listCommands_data();
    void listCommands();
    void newAndEditReachTheSession();
    void limitOf64DynamicFilters();
    void aCommaInANameIsRefusedNotCut();
    void columnLayoutIsKept();
};

void CTabDynamicFilterTest::columnTexts_data() {
    QTest::addColumn<QString>("keys");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("text");
    auto row = [](const char* name, const char* keys, int column, const char* text) {
        QTest::newRow(name) << QString::fromUtf8(keys) << column << QString::fromUtf8(text);
    };
    row("position and name", "FILTER_NAME=night", 0, "1 night");
    row("targets in target order", "TARGET_FILTER_ID=3,1", 1, "gamma, alpha");
    row("a target that is gone is skipped", "TARGET_FILTER_ID=9,2", 1, "beta");
    row("no target", "", 1, "");
    row("no condition", "", 2, "なし");
    row("conditions joined",
        "TRIGGER_RUNNING_PROCESS_NAME=a.exe;TRIGGER_TOTAL_UP_BANDWIDTH_LOW=10;"
        "TRIGGER_TOTAL_UP_BANDWIDTH_HIGH=20",
        2, "a.exeが起動中 かつ TOTAL UP帯域が10KB/s以上20KB/s以下");
    row("a filter's bandwidth, named",
        "TRIGGER_FILTER_BANDWIDTH_ID=2;TRIGGER_FILTER_BANDWIDTH_LOW=5", 2, "betaの帯域が5KB/s以上");
    row("a trigger filter that is gone",
        "TRIGGER_FILTER_BANDWIDTH_ID=9;TRIGGER_FILTER_BANDWIDTH_LOW=5", 2, "なし");
    row("pass", "DROP=FALSE", 3, "通過");
    row("connection requests only", "DROP=TRUE;DROP_SYN_ONLY=TRUE", 3, "接続要求のみ遮断");
    row("drop", "DROP=TRUE;DROP_SYN_ONLY=FALSE", 3, "遮断");
    row("limit", "DO_BAND=TRUE;BANDWIDTH=12", 4, "12 KB/s");
    row("no limit", "DO_BAND=FALSE", 4, "無制限");
    row("no limit column for a dropping filter",
        "DROP=TRUE;DROP_SYN_ONLY=FALSE;DO_BAND=TRUE;BANDWIDTH=12", 4, "");
    row("minimum size", "MINIMUM_PACKET_SIZE=64", 5, "64 Byte");
    row("comment", "COMMENT=業務時間外", 6, "業務時間外");
}

void CTabDynamicFilterTest::columnTexts() {
    QFETCH(QString, keys);
    QFETCH(int, column);
    QFETCH(QString, text);
    Keys extra;
    for (const QString& pair : keys.split(u';', Qt::SkipEmptyParts)) {
        const qsizetype eq = pair.indexOf(u'=');
        extra.emplace_back(pair.left(eq).toStdString(), pair.mid(eq + 1).toStdString());
    }
    GuiHarness gui;
    QVERIFY(gui.start(commonSection() + packetSection(1, {{"FILTER_NAME", "alpha"}}) +
                      packetSection(2, {{"FILTER_NAME", "beta"}}) +
                      packetSection(3, {{"FILTER_NAME", "gamma"}}) + dynamicSection(1, extra)));
    QCOMPARE(cell(dynamicPage(gui), 0, column), text);
}

void CTabDynamicFilterTest::headings() {
    GuiHarness gui;
    QVERIFY(gui.start(sample()));
    const QAbstractItemModel* model = dynamicPage(gui).model();
    QStringList headings;
    for (int c = 0; c < model->columnCount(); ++c)
        headings << model->headerData(c, Qt::Horizontal).toString();
    QCOMPARE(headings,
             QStringList({"比較順番 フィルタ名", "対象フィルタ", "条件", "ファイアウォール",
                          "制限帯域", "最小パケットサイズ", "コメント"}));
    for (int c = 0; c < model->columnCount(); ++c) {
        const auto align = model->index(0, c).data(Qt::TextAlignmentRole).value<Qt::Alignment>();
        QCOMPARE(bool(align & Qt::AlignRight), c == 4 || c == 5);
    }
}

void CTabDynamicFilterTest::listCommands_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QList<int>>("selection");
    QTest::addColumn<bool>("restarted");

    QTest::newRow("up") << "up" << QList<int>{1, 2} << QStringList{"Y", "Z", "X"}
                        << QList<int>{0, 1} << true;
    QTest::newRow("up at the top")
        << "up" << QList<int>{0} << QStringList{"X", "Y", "Z"} << QList<int>{0} << false;
    QTest::newRow("down") << "down" << QList<int>{0} << QStringList{"Y", "X", "Z"} << QList<int>{1}
                          << true;
    QTest::newRow("down at the bottom")
        << "down" << QList<int>{1, 2} << QStringList{"X", "Y", "Z"} << QList<int>{1, 2} << false;
    QTest::newRow("duplicate") << "duplicate" << QList<int>{0, 2}
                               << QStringList{"X", "Y", "Z", "X", "Z"} << QList<int>{3, 4} << true;
    QTest::newRow("delete") << "delete" << QList<int>{0, 2} << QStringList{"Y"} << QList<int>{}
                            << true;
    QTest::newRow("toggle") << "toggle" << QList<int>{1} << QStringList{"X", "Y", "Z"}
                            << QList<int>{1} << true;
}

// The commands of the filter page, on the dynamic list: the static rules are sent
// again (the session restarts) and the settings are unsaved; the evaluation that
// follows uses the dynamic filters in their new order.
void CTabDynamicFilterTest::listCommands() {
    QFETCH(QString, command);
    QFETCH(QList<int>, selected);
    QFETCH(QStringList, names);
    QFETCH(QList<int>, selection);
    QFETCH(bool, restarted);
    GuiHarness gui;
    QVERIFY(gui.start(sample()));
    CTabDynamicFilter& page = dynamicPage(gui);
    page.selectRows(std::vector<int>(selected.begin(), selected.end()));
    gui.core.m_engine.clear();
    QAction* action = command == "up"          ? page.upAction()
                      : command == "down"      ? page.downAction()
                      : command == "duplicate" ? page.duplicateAction()
                      : command == "delete"    ? page.deleteAction()
                                               : page.toggleAction();
    action->trigger();
    QStringList shown;
    const settings::IniFileObject& edited = gui.core.m_core.edited();
    for (int row = 0; row < edited.DynamicFilterCount(); ++row) {
        shown << QString::fromStdString(edited.DynamicFilterAt(row)->filterName.str());
        QCOMPARE(cell(page, row, 0), QString::number(row + 1) + u' ' + shown.back());
    }
    QCOMPARE(shown, names);
    QCOMPARE(toList(page.selectedRows()), selection);
    QCOMPARE(requestNames(gui), restarted ? restartRequests(2) : QStringList{});
    QCOMPARE(gui.core.m_core.settingsSaved(), !restarted);
    if (command == "toggle") {
        QCOMPARE(edited.DynamicFilterAt(1)->available, 0);
        QCOMPARE(qvariant_cast<QIcon>(page.model()->index(1, 0).data(Qt::DecorationRole))
                     .pixmap(16, 16)
                     .toImage(),
                 filterDisabledIcon().pixmap(16, 16).toImage());
    }
    if (command == "duplicate")
        QCOMPARE(edited.DynamicFilterAt(4)->targetFilterIds, (std::vector<int32_t>{1, 2}));
}

// New and edit go through the dialog; OK puts the dynamic filter in force, cancel
// changes nothing.
void CTabDynamicFilterTest::newAndEditReachTheSession() {
    GuiHarness gui;
    QVERIFY(gui.start(sample()));
    CTabDynamicFilter& page = dynamicPage(gui);
    gui.core.m_engine.clear();
    whenModalOpens([](QWidget* modal) {
        auto* dialog = qobject_cast<CEditDynamicFilterDlg*>(modal);
        QVERIFY(dialog);
        QCOMPARE(dialog->form().nameEdit->text(), QStringLiteral("NewFilter"));
        dialog->form().nameEdit->setText(QStringLiteral("W"));
        dialog->form().targetList->item(1)->setSelected(true);
        dialog->form().runningProcess->setText(QStringLiteral("rsync"));
        dialog->accept();
    });
    page.newAction()->trigger();
    QCOMPARE(page.model()->rowCount(), 4);
    QCOMPARE(cell(page, 3, 0), QStringLiteral("4 W"));
    QCOMPARE(cell(page, 3, 1), QStringLiteral("mail"));
    QCOMPARE(cell(page, 3, 2), QStringLiteral("rsyncが起動中"));
    QCOMPARE(toList(page.selectedRows()), QList<int>{3});
    QCOMPARE(requestNames(gui), restartRequests(2));
    QCOMPARE(gui.core.m_core.inForce().DynamicFilterAt(3)->runningProcessName,
             std::string("rsync"));

    gui.core.m_engine.clear();
    page.selectRows({0});
    whenModalOpens([](QWidget* modal) {
        auto* dialog = qobject_cast<CEditDynamicFilterDlg*>(modal);
        QVERIFY(dialog);
        QCOMPARE(dialog->form().nameEdit->text(), QStringLiteral("X"));
        dialog->form().commentEdit->setText(QStringLiteral("edited"));
        dialog->accept();
    });
    page.editAction()->trigger();
    QCOMPARE(cell(page, 0, 6), QStringLiteral("edited"));
    QCOMPARE(toList(page.selectedRows()), QList<int>{0});
    QCOMPARE(requestNames(gui), restartRequests(2));

    gui.core.m_engine.clear();
    whenModalOpens([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    page.editAction()->trigger();
    QVERIFY(requestNames(gui).isEmpty());
}

void CTabDynamicFilterTest::limitOf64DynamicFilters() {
    std::string text = commonSection() + packetSection(1, {});
    for (int i = 1; i <= 63; ++i)
        text += dynamicSection(i, {});
    GuiHarness gui;
    QVERIFY(gui.start(text));
    CTabDynamicFilter& page = dynamicPage(gui);
    gui.core.m_messages.clear();
    page.selectRows({5, 6});
    page.duplicateAction()->trigger();
    const std::vector<std::string> full{"これ以上動的フィルタを追加できません。"};
    QCOMPARE(gui.core.m_messages.texts(), full);
    QCOMPARE(page.model()->rowCount(), 63);
    page.selectRows({5});
    page.duplicateAction()->trigger();
    QCOMPARE(page.model()->rowCount(), 64);
    gui.core.m_messages.clear();
    page.newAction()->trigger();
    QCOMPARE(gui.core.m_messages.texts(), full);
    QCOMPARE(page.model()->rowCount(), 64);
}

// A "," would be cut off when the file is read again, and the settings file refuses
// to hold it: the dialog refuses it instead, so nothing is lost on the way.
void CTabDynamicFilterTest::aCommaInANameIsRefusedNotCut() {
    GuiHarness gui;
    QVERIFY(gui.start(sample()));
    CTabDynamicFilter& page = dynamicPage(gui);
    page.selectRows({0});
    gui.core.m_messages.clear();
    QString message;
    whenModalOpens([&](QWidget* modal) {
        auto* dialog = qobject_cast<CEditDynamicFilterDlg*>(modal);
        dialog->form().nameEdit->setText(QStringLiteral("night,weekend"));
        dialog->accept();
        message = QString::fromStdString(gui.core.m_messages.texts().at(0));
        QVERIFY(dialog->isVisible());
        dialog->form().nameEdit->setText(QStringLiteral("night"));
        dialog->accept();
    });
    page.editAction()->trigger();
    QCOMPARE(message, QStringLiteral("「,」は使えません"));
    QVERIFY(gui.core.m_core.fullSave());
    QVERIFY(gui.core.m_folder.read("Setting.ini").find("FILTER_NAME=night\n") != std::string::npos);
}

void CTabDynamicFilterTest::columnLayoutIsKept() {
    std::string file;
    {
        GuiHarness gui;
        QVERIFY(gui.start(sample()));
        QHeaderView* header = dynamicPage(gui).view()->horizontalHeader();
        header->resizeSection(2, 333);
        QTRY_COMPARE(gui.core.m_core.edited().GetColumnSize(settings::ColumnList::DynamicFilter, 2),
                     333);
        header->moveSection(6, 1);
        QTRY_COMPARE(
            gui.core.m_core.edited().GetColumnOrder(settings::ColumnList::DynamicFilter, 1), 6);
        QVERIFY(gui.core.m_core.fullSave());
        file = gui.core.m_folder.read("Setting.ini");
    }
    QVERIFY(file.find("LCDYNAMICFILTER_COLUMN_SIZE=130,100,333,80,65,39,65") != std::string::npos);
    QVERIFY(file.find("LCDYNAMICFILTER_COLUMN_ORDER=0,6,1,2,3,4,5") != std::string::npos);
    GuiHarness again;
    QVERIFY(again.start(file));
    const QHeaderView* header = dynamicPage(again).view()->horizontalHeader();
    QCOMPARE(header->sectionSize(2), 333);
    QCOMPARE(header->logicalIndex(1), 6);
}

} // namespace tavrin::ui::test

QTEST_MAIN(tavrin::ui::test::CTabDynamicFilterTest)
#include "CTabDynamicFilterTest.moc"
