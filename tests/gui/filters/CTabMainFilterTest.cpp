// The filter list page on a running window: what each column shows for filters of
// every kind, the rows a dynamic filter acts on, the list commands on several rows
// with what the session sends to the daemon after each, the limits, and the column
// layout kept in the settings file.
#include "FilterTestSupport.h"

#include "CAddFilterDlg.h"
#include "Icons.h"
#include "PacketBuilder.h"
#include "ui_CAddFilterDlg.h"

#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>

#include <cstring>

namespace tavrin::ui::test {

namespace {

using ovlank::test::ip;
using ovlank::test::PacketBuilder;

QImage iconImage(const QVariant& icon) {
    return qvariant_cast<QIcon>(icon).pixmap(16, 16).toImage();
}

// Four enabled filters told apart by their minimum packet size, which their rules carry.
std::string fourFilters(const std::string& more = {}) {
    std::string text = commonSection();
    const char* names[] = {"A", "B", "C", "D"};
    for (int i = 0; i < 4; ++i)
        text += packetSection(i + 1, {{"FILTER_NAME", names[i]},
                                      {"MINIMUM_PACKET_SIZE", std::to_string(100 * (i + 1))}});
    return text + more;
}

// The minimum sizes of the rules added since the last clear, in order.
QList<int> addedRules(GuiHarness& gui) {
    QList<int> sizes;
    for (const auto& request : gui.core.m_engine.requests()) {
        if (request.code != ovlank::ADD_FILTER ||
            request.input.size() != sizeof(ovlank::DriverRule))
            continue;
        ovlank::DriverRule rule{};
        std::memcpy(&rule, request.input.data(), sizeof rule);
        sizes << static_cast<int>(rule.minimumSize);
    }
    return sizes;
}

QList<int> toList(const std::vector<int>& rows) {
    return QList<int>(rows.begin(), rows.end());
}

QCheckBox* dynamicBox(CTestDrvDlg& dialog) {
    for (QCheckBox* box : dialog.findChildren<QCheckBox*>())
        if (box->text() == QStringLiteral("動的フィルタリングを行う"))
            return box;
    return nullptr;
}

} // namespace

class CTabMainFilterTest final : public QObject {
    Q_OBJECT

private slots:
    void columnTexts_data();
    void columnTexts();
    void headingsAndImages();
    void measuredBandwidth();
    void rowsADynamicFilterActsOn();
    void listCommands_data();
    void listCommands();
    void commandsNeedASelection();
    void deletingCleansDynamicTargets();
    void newFilterIsAppendedAndSelected();
    void editReplacesInPlaceAndCancelChangesNothing();
    void limitOf64Filters();
    void enterAndEscapeDoNothing();
    void columnLayoutSurvivesSaveAndRestart();
};

void CTabMainFilterTest::columnTexts_data() {
    QTest::addColumn<QString>("keys"); // KEY=value;KEY=value on top of packetSection
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("text");

    auto row = [](const char* name, const char* keys, int column, const char* text) {
        QTest::newRow(name) << QString::fromUtf8(keys) << column << QString::fromUtf8(text);
    };
    row("position and name", "FILTER_NAME=web", 0, "1 web");
    row("TCP", "PROTOCOL=6", 1, "TCP");
    row("UDP", "PROTOCOL=17", 1, "UDP");
    row("ICMP", "PROTOCOL=1", 1, "ICMP");
    row("other protocol", "PROTOCOL=47", 1, "その他");
    row("pass", "DROP=FALSE", 2, "通過");
    row("connection requests only", "DROP=TRUE;DROP_SYN_ONLY=TRUE", 2, "接続要求のみ遮断");
    row("drop", "DROP=TRUE;DROP_SYN_ONLY=FALSE", 2, "遮断");
    row("enabled, nothing measured yet", "AVAILABLE=TRUE", 3, "0.0 KB/s");
    row("disabled is not measured", "AVAILABLE=FALSE", 3, "未計測");
    row("limit on a passing filter", "DO_BAND=TRUE;BANDWIDTH=50", 4, "50 KB/s");
    row("limit on connection requests only",
        "DROP=TRUE;DROP_SYN_ONLY=TRUE;DO_BAND=TRUE;BANDWIDTH=7", 4, "7 KB/s");
    row("limit flag off", "DO_BAND=FALSE;BANDWIDTH=50", 4, "無制限");
    row("limit of 0", "DO_BAND=TRUE;BANDWIDTH=0", 4, "無制限");
    row("no limit column for a dropping filter",
        "DROP=TRUE;DROP_SYN_ONLY=FALSE;DO_BAND=TRUE;BANDWIDTH=50", 4, "");
    row("UP", "DIR=UP", 5, "UP");
    row("DOWN", "DIR=DOWN", 5, "DOWN");
    row("OTHER", "DIR=OTHER", 5, "OTHER");
    row("process name", "APPNAME=curl", 6, "curl");
    row("no dynamic filter acts", "", 7, "なし");
    row("local address", "MY_IP=192.168.5.6;MY_IP_MASK=255.255.255.0", 8, "192.168.5.6");
    row("every local address", "MY_IP=192.168.5.6;MY_IP_MASK=0.0.0.0", 8, "All");
    row("remote address", "OTHER_IP=10.0.0.9;OTHER_IP_MASK=255.255.255.255", 9, "10.0.0.9");
    row("every remote address", "OTHER_IP=10.0.0.9;OTHER_IP_MASK=0.0.0.0", 9, "All");
    row("every local port", "IS_MY_ALL_PORT=TRUE;MY_PORT=80", 10, "All");
    row("local port list", "IS_MY_ALL_PORT=FALSE;MY_PORT=21-20,80", 10, "20-21,80");
    row("a process's ports before any were found", "APPNAME=curl", 10, "None");
    row("every remote port", "IS_OTHER_ALL_PORT=TRUE;OTHER_PORT=80", 11, "All");
    row("remote ports with their services", "IS_OTHER_ALL_PORT=FALSE;OTHER_PORT=80,443,20-21,4000",
        11, "80 (http),443 (https),20-21 (ftp),4000");
    row("local mask shown even when 0", "MY_IP=192.168.5.6;MY_IP_MASK=0.0.0.0", 12, "0.0.0.0");
    row("remote mask", "OTHER_IP_MASK=255.255.0.0", 13, "255.255.0.0");
    row("minimum packet size", "MINIMUM_PACKET_SIZE=576", 14, "576 Byte");
    row("comment", "COMMENT=夜間のバックアップ", 15, "夜間のバックアップ");
}

void CTabMainFilterTest::columnTexts() {
    QFETCH(QString, keys);
    QFETCH(int, column);
    QFETCH(QString, text);
    Keys extra;
    for (const QString& pair : keys.split(u';', Qt::SkipEmptyParts)) {
        const qsizetype eq = pair.indexOf(u'=');
        extra.emplace_back(pair.left(eq).toStdString(), pair.mid(eq + 1).toStdString());
    }
    GuiHarness gui;
    QVERIFY(gui.start(commonSection() + packetSection(1, extra)));
    const CTabMainFilter& page = filterPage(gui);
    QCOMPARE(page.model()->rowCount(), 1);
    QCOMPARE(cell(page, 0, column), text);
}

// The headings in their order and alignment; the image follows the enabled state.
void CTabMainFilterTest::headingsAndImages() {
    GuiHarness gui;
    QVERIFY(gui.start(commonSection() + packetSection(1, {}) +
                      packetSection(2, {{"AVAILABLE", "FALSE"}})));
    const CTabMainFilter& page = filterPage(gui);
    const QAbstractItemModel* model = page.model();
    QStringList headings;
    for (int c = 0; c < model->columnCount(); ++c)
        headings << model->headerData(c, Qt::Horizontal).toString();
    QCOMPARE(
        headings,
        QStringList({"優先度 フィルタ名", "プロトコル", "ファイアウォール", "現在の帯域",
                     "制限帯域", "方向", "プロセス名", "作用している動的フィルタ",
                     "ローカルIPアドレス", "リモートIPアドレス", "ローカルポート", "リモートポート",
                     "ローカルIPマスク", "リモートIPマスク", "最小パケットサイズ", "コメント"}));
    const QList<int> rightAligned = {0, 1, 3, 4, 14};
    for (int c = 0; c < model->columnCount(); ++c) {
        const auto align = model->index(0, c).data(Qt::TextAlignmentRole).value<Qt::Alignment>();
        QCOMPARE(bool(align & Qt::AlignRight), rightAligned.contains(c));
    }
    QCOMPARE(iconImage(model->index(0, 0).data(Qt::DecorationRole)),
             filterEnabledIcon().pixmap(16, 16).toImage());
    QCOMPARE(iconImage(model->index(1, 0).data(Qt::DecorationRole)),
             filterDisabledIcon().pixmap(16, 16).toImage());
    QVERIFY(!model->index(0, 1).data(Qt::DecorationRole).isValid());
}

// Bytes that a rule counted reach the bandwidth column after the second's tick:
// 1536 bytes in a second are 1.5 KB/s; a filter behind a disabled one keeps its own
// count.
void CTabMainFilterTest::measuredBandwidth() {
    GuiHarness gui;
    QVERIFY(gui.start(commonSection() + packetSection(1, {{"AVAILABLE", "FALSE"}}) +
                      packetSection(2, {{"PROTOCOL", "17"}}) +
                      packetSection(3, {{"PROTOCOL", "6"}})));
    // Two UDP packets of 768 wire bytes each: total length 754 + 14.
    for (int i = 0; i < 2; ++i)
        QVERIFY(gui.core.decide(
            PacketBuilder::udp(core::test::kLocal, 5000, ip(10, 9, 9, 9), 53).payload(754 - 28)));
    gui.core.m_core.session().readCounters();
    gui.core.m_core.session().secondTick();
    const CTabMainFilter& page = filterPage(gui);
    QCOMPARE(column(page, 3), QStringList({"未計測", "1.5 KB/s", "0.0 KB/s"}));
}

// A dynamic filter acting on the second enabled filter (the third row, behind a
// disabled one) colours that row and shows the overriding action and the dynamic
// filter's name; switching dynamic filtering off puts the row back within a pass.
void CTabMainFilterTest::rowsADynamicFilterActsOn() {
    GuiHarness gui;
    QVERIFY(gui.start(commonSection("STARTUP_ON=TRUE\n") +
                      packetSection(1, {{"FILTER_NAME", "first"}}) +
                      packetSection(2, {{"FILTER_NAME", "off"}, {"AVAILABLE", "FALSE"}}) +
                      packetSection(3, {{"FILTER_NAME", "target"}, {"MINIMUM_PACKET_SIZE", "90"}}) +
                      dynamicSection(1, {{"FILTER_NAME", "always"},
                                         {"DROP", "TRUE"},
                                         {"DROP_SYN_ONLY", "FALSE"},
                                         {"MINIMUM_PACKET_SIZE", "700"},
                                         {"TARGET_FILTER_ID", "3"}})));
    core::FilteringSession& session = gui.core.m_core.session();
    QVERIFY(session.filtering());
    gui.core.m_engine.clear();
    session.connectionTick();
    QVERIFY(requestNames(gui).contains("CHANGE_FILTER"));
    session.readCounters();
    session.secondTick();

    const CTabMainFilter& page = filterPage(gui);
    const QAbstractItemModel* model = page.model();
    for (int row : {0, 1}) {
        QVERIFY(!model->index(row, 0).data(Qt::ForegroundRole).isValid());
        QVERIFY(!model->index(row, 0).data(Qt::BackgroundRole).isValid());
    }
    for (int c = 0; c < model->columnCount(); ++c) {
        QCOMPARE(model->index(2, c).data(Qt::ForegroundRole).value<QBrush>().color(),
                 QColor(35, 20, 183));
        QCOMPARE(model->index(2, c).data(Qt::BackgroundRole).value<QBrush>().color(),
                 QColor(Qt::white));
    }
    QCOMPARE(cell(page, 2, 2), QStringLiteral("遮断"));
    QCOMPARE(cell(page, 2, 4), QString());
    QCOMPARE(cell(page, 2, 7), QStringLiteral("always"));
    QCOMPARE(cell(page, 2, 14), QStringLiteral("700 Byte"));
    QCOMPARE(cell(page, 0, 7), QStringLiteral("なし"));

    // Switching the dynamic filter off rebuilds the session: the row is plain at
    // once, and stays so after the next evaluation; switched on, it is coloured again.
    CTabDynamicFilter& dynamic = dynamicPage(gui);
    dynamic.selectRows({0});
    dynamic.toggleAction()->trigger();
    QVERIFY(!model->index(2, 0).data(Qt::ForegroundRole).isValid());
    QCOMPARE(cell(page, 2, 7), QStringLiteral("なし"));
    session.connectionTick();
    session.readCounters();
    session.secondTick();
    QVERIFY(!model->index(2, 0).data(Qt::ForegroundRole).isValid());
    dynamic.toggleAction()->trigger();
    session.connectionTick();
    session.readCounters();
    session.secondTick();
    QCOMPARE(cell(page, 2, 7), QStringLiteral("always"));

    dynamicBox(gui.dialog())->setChecked(false);
    gui.core.m_engine.clear();
    session.connectionTick();
    QCOMPARE(requestNames(gui).count("CHANGE_FILTER"), 1);
    session.readCounters();
    session.secondTick();
    QVERIFY(!model->index(2, 0).data(Qt::ForegroundRole).isValid());
    QCOMPARE(cell(page, 2, 2), QStringLiteral("通過"));
    QCOMPARE(cell(page, 2, 7), QStringLiteral("なし"));
    QCOMPARE(cell(page, 2, 14), QStringLiteral("90 Byte"));
}

void CTabMainFilterTest::listCommands_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<QStringList>("names");    // the list afterwards
    QTest::addColumn<QList<int>>("selection"); // afterwards
    QTest::addColumn<QList<int>>("rules");     // ADD_FILTER minimum sizes; empty: none sent

    const QStringList abcd{"A", "B", "C", "D"};
    QTest::newRow("up: a block moves and stays selected")
        << "up" << QList<int>{1, 2} << QStringList{"B", "C", "A", "D"} << QList<int>{0, 1}
        << QList<int>{200, 300, 100, 400};
    QTest::newRow("up: scattered rows move each")
        << "up" << QList<int>{1, 3} << QStringList{"B", "A", "D", "C"} << QList<int>{0, 2}
        << QList<int>{200, 100, 400, 300};
    QTest::newRow("up: nothing with the top row selected")
        << "up" << QList<int>{0, 2} << abcd << QList<int>{0, 2} << QList<int>{};
    QTest::newRow("down: a block moves and stays selected")
        << "down" << QList<int>{1, 2} << QStringList{"A", "D", "B", "C"} << QList<int>{2, 3}
        << QList<int>{100, 400, 200, 300};
    QTest::newRow("down: nothing with the bottom row selected")
        << "down" << QList<int>{1, 3} << abcd << QList<int>{1, 3} << QList<int>{};
    QTest::newRow("duplicate: copies appended and selected")
        << "duplicate" << QList<int>{2, 0} << QStringList{"A", "B", "C", "D", "A", "C"}
        << QList<int>{4, 5} << QList<int>{100, 200, 300, 400, 100, 300};
    QTest::newRow("delete: every selected row")
        << "delete" << QList<int>{1, 3} << QStringList{"A", "C"} << QList<int>{}
        << QList<int>{100, 300};
    QTest::newRow("toggle: disabled rows are no rules")
        << "toggle" << QList<int>{0, 3} << abcd << QList<int>{0, 3} << QList<int>{200, 300};
}

// Each command on several selected rows: the list, the selection, and the session
// rebuilt with the rules in their new order (or nothing sent when nothing changed);
// the settings are unsaved afterwards.
void CTabMainFilterTest::listCommands() {
    QFETCH(QString, command);
    QFETCH(QList<int>, selected);
    QFETCH(QStringList, names);
    QFETCH(QList<int>, selection);
    QFETCH(QList<int>, rules);

    GuiHarness gui;
    QVERIFY(gui.start(fourFilters()));
    CTabMainFilter& page = filterPage(gui);
    QVERIFY(gui.core.m_core.settingsSaved());
    page.selectRows(std::vector<int>(selected.begin(), selected.end()));
    gui.core.m_engine.clear();

    QAction* action = command == "up"          ? page.upAction()
                      : command == "down"      ? page.downAction()
                      : command == "duplicate" ? page.duplicateAction()
                      : command == "delete"    ? page.deleteAction()
                                               : page.toggleAction();
    QVERIFY(action->isEnabled());
    action->trigger();

    QStringList shown;
    for (int row = 0; row < page.model()->rowCount(); ++row)
        shown << cell(page, row, 0).section(u' ', 1);
    QCOMPARE(shown, names);
    QCOMPARE(toList(page.selectedRows()), selection);
    QCOMPARE(addedRules(gui), rules);
    if (rules.isEmpty()) {
        QVERIFY(requestNames(gui).isEmpty());
        QVERIFY(gui.core.m_core.settingsSaved());
    } else {
        QCOMPARE(requestNames(gui), restartRequests(static_cast<int>(rules.size())));
        QVERIFY(!gui.core.m_core.settingsSaved());
    }
    // Positions are renumbered with the list.
    for (int row = 0; row < page.model()->rowCount(); ++row)
        QVERIFY(cell(page, row, 0).startsWith(QString::number(row + 1) + u' '));
    if (command == "duplicate") {
        // Copies get IDs of their own.
        const settings::IniFileObject& edited = gui.core.m_core.edited();
        QCOMPARE(edited.PacketFilterAt(4)->id, 5);
        QCOMPARE(edited.PacketFilterAt(5)->id, 6);
    }
    if (command == "toggle") {
        const QImage off = filterDisabledIcon().pixmap(16, 16).toImage();
        QCOMPARE(iconImage(page.model()->index(0, 0).data(Qt::DecorationRole)), off);
        QCOMPARE(iconImage(page.model()->index(3, 0).data(Qt::DecorationRole)), off);
        QCOMPARE(cell(page, 0, 3), QStringLiteral("未計測"));
    }
}

// Without a selected row only "新規作成" can run, in the main menu as on the buttons.
void CTabMainFilterTest::commandsNeedASelection() {
    GuiHarness gui;
    QVERIFY(gui.start(fourFilters()));
    CTabMainFilter& page = filterPage(gui);
    const QList<QAction*> actions = page.menuActions();
    QCOMPARE(actions.size(), 7);
    QVERIFY(actions[0]->isEnabled());
    for (int i = 1; i < actions.size(); ++i)
        QVERIFY(!actions[i]->isEnabled());
    page.selectRows({2});
    for (QAction* action : actions)
        QVERIFY(action->isEnabled());
    QCOMPARE(page.contextActions().size(), 6);
    page.selectRows({});
    QVERIFY(!page.deleteAction()->isEnabled());
    // The same actions sit in the main menu "フィルタ(&I)".
    bool inMenu = false;
    for (QAction* top : gui.dialog().menuBar()->actions())
        if (top->text() == QStringLiteral("フィルタ(&I)"))
            inMenu = top->menu()->actions() == actions;
    QVERIFY(inMenu);
}

// A deleted filter leaves the targets of every dynamic filter; a dynamic filter
// whose only target went shows an empty target column.
void CTabMainFilterTest::deletingCleansDynamicTargets() {
    GuiHarness gui;
    QVERIFY(gui.start(fourFilters(dynamicSection(1, {{"TARGET_FILTER_ID", "2,4"}}) +
                                  dynamicSection(2, {{"TARGET_FILTER_ID", "4"}}))));
    CTabMainFilter& page = filterPage(gui);
    const CTabDynamicFilter& dynamic = dynamicPage(gui);
    QCOMPARE(column(dynamic, 1), QStringList({"B, D", "D"}));

    page.selectRows({3});
    page.deleteAction()->trigger();
    const settings::IniFileObject& edited = gui.core.m_core.edited();
    QCOMPARE(edited.DynamicFilterAt(0)->targetFilterIds, std::vector<int32_t>{2});
    QVERIFY(edited.DynamicFilterAt(1)->targetFilterIds.empty());
    QCOMPARE(column(dynamic, 1), QStringList({"B", ""}));
    // What the running session evaluates is the cleaned list.
    QVERIFY(gui.core.m_core.inForce().DynamicFilterAt(1)->targetFilterIds.empty());
}

// "新規作成..." opens the dialog on a new filter; OK appends it, puts it in force and
// selects its row alone.
void CTabMainFilterTest::newFilterIsAppendedAndSelected() {
    GuiHarness gui;
    QVERIFY(gui.start(fourFilters()));
    CTabMainFilter& page = filterPage(gui);
    page.selectRows({1});
    gui.core.m_engine.clear();
    QString openedName;
    whenModalOpens([&openedName](QWidget* modal) {
        auto* dialog = qobject_cast<CAddFilterDlg*>(modal);
        QVERIFY(dialog);
        openedName = dialog->form().nameEdit->text();
        dialog->form().nameEdit->setText(QStringLiteral("新しい"));
        dialog->form().dropBox->setChecked(true);
        dialog->form().synOnlyBox->setChecked(false);
        dialog->accept();
    });
    page.newAction()->trigger();
    QCOMPARE(openedName, QStringLiteral("NewFilter"));
    QCOMPARE(page.model()->rowCount(), 5);
    QCOMPARE(cell(page, 4, 0), QStringLiteral("5 新しい"));
    QCOMPARE(cell(page, 4, 2), QStringLiteral("遮断"));
    QCOMPARE(toList(page.selectedRows()), QList<int>{4});
    QCOMPARE(requestNames(gui), restartRequests(5));
    QCOMPARE(gui.core.m_core.inForce().PacketFilterAt(4)->id, 5);

    // Cancel adds nothing and sends nothing.
    gui.core.m_engine.clear();
    whenModalOpens([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    page.newAction()->trigger();
    QCOMPARE(page.model()->rowCount(), 5);
    QVERIFY(requestNames(gui).isEmpty());
}

// A double-click edits the row: the dialog shows the filter, OK replaces it at its
// place with its ID kept; cancel changes nothing.
void CTabMainFilterTest::editReplacesInPlaceAndCancelChangesNothing() {
    GuiHarness gui;
    QVERIFY(gui.start(fourFilters(dynamicSection(1, {{"TARGET_FILTER_ID", "3"}}))));
    CTabMainFilter& page = filterPage(gui);
    page.selectRows({2});
    gui.core.m_engine.clear();
    QString openedName;
    whenModalOpens([&openedName](QWidget* modal) {
        auto* dialog = qobject_cast<CAddFilterDlg*>(modal);
        QVERIFY(dialog);
        openedName = dialog->form().nameEdit->text();
        dialog->form().nameEdit->setText(QStringLiteral("C2"));
        dialog->accept();
    });
    const QRect rect = page.view()->visualRect(page.model()->index(2, 1));
    // A double-click comes after the press that selected the row.
    QTest::mouseClick(page.view()->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(page.view()->viewport(), Qt::LeftButton, {}, rect.center());
    QCOMPARE(openedName, QStringLiteral("C"));
    QCOMPARE(cell(page, 2, 0), QStringLiteral("3 C2"));
    QCOMPARE(toList(page.selectedRows()), QList<int>{2});
    QCOMPARE(gui.core.m_core.edited().PacketFilterAt(2)->id, 3);
    QCOMPARE(addedRules(gui), QList<int>({100, 200, 300, 400}));
    // The dynamic filter page names the target by its new name.
    QCOMPARE(cell(dynamicPage(gui), 0, 1), QStringLiteral("C2"));

    gui.core.m_engine.clear();
    gui.core.m_core.fullSave();
    whenModalOpens([](QWidget* modal) {
        auto* dialog = qobject_cast<CAddFilterDlg*>(modal);
        dialog->form().nameEdit->setText(QStringLiteral("discarded"));
        dialog->reject();
    });
    page.editAction()->trigger();
    QCOMPARE(cell(page, 2, 0), QStringLiteral("3 C2"));
    QVERIFY(requestNames(gui).isEmpty());
    QVERIFY(gui.core.m_core.settingsSaved());
}

// A full list refuses "新規作成..." and duplicates that would pass 64 filters, with
// the same message, and changes nothing.
void CTabMainFilterTest::limitOf64Filters() {
    std::string text = commonSection();
    for (int i = 1; i <= 63; ++i)
        text += packetSection(i, {});
    GuiHarness gui;
    QVERIFY(gui.start(text));
    CTabMainFilter& page = filterPage(gui);
    gui.core.m_messages.clear();
    gui.core.m_engine.clear();

    page.selectRows({0, 1});
    page.duplicateAction()->trigger();
    QCOMPARE(gui.core.m_messages.texts(),
             std::vector<std::string>{"これ以上フィルタを追加できません。"});
    QCOMPARE(page.model()->rowCount(), 63);
    QVERIFY(requestNames(gui).isEmpty());

    page.selectRows({0});
    page.duplicateAction()->trigger();
    QCOMPARE(page.model()->rowCount(), 64);
    // All 63 IDs are taken: the 64th filter has none, and is still a rule.
    QCOMPARE(gui.core.m_core.edited().PacketFilterAt(63)->id, 0);
    QCOMPARE(requestNames(gui).count("ADD_FILTER"), 64);

    gui.core.m_messages.clear();
    gui.core.m_engine.clear();
    page.newAction()->trigger(); // no dialog: the message comes first
    QCOMPARE(gui.core.m_messages.texts(),
             std::vector<std::string>{"これ以上フィルタを追加できません。"});
    QCOMPARE(page.model()->rowCount(), 64);
    QVERIFY(requestNames(gui).isEmpty());
}

// Enter and Esc on the page neither edit nor close anything.
void CTabMainFilterTest::enterAndEscapeDoNothing() {
    GuiHarness gui;
    QVERIFY(gui.start(fourFilters()));
    CTabMainFilter& page = filterPage(gui);
    page.selectRows({1});
    page.view()->setFocus();
    bool modalSeen = false;
    QTimer guard;
    connect(&guard, &QTimer::timeout, [&modalSeen] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            modalSeen = true;
            modal->close();
        }
    });
    guard.start(0);
    gui.core.m_engine.clear();
    for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
        QTest::keyClick(page.view(), static_cast<Qt::Key>(key));
    QCoreApplication::processEvents();
    guard.stop();
    QVERIFY(!modalSeen);
    QVERIFY(gui.dialog().isVisible());
    QCOMPARE(toList(page.selectedRows()), QList<int>{1});
    QVERIFY(requestNames(gui).isEmpty());
}

// A width is kept once the user stopped resizing, the order after a column was
// dragged; both reach the file with a save and come back at the next start.
void CTabMainFilterTest::columnLayoutSurvivesSaveAndRestart() {
    std::string file;
    {
        GuiHarness gui;
        QVERIFY(gui.start(fourFilters()));
        QHeaderView* header = filterPage(gui).view()->horizontalHeader();
        QVERIFY(header->sectionsMovable());
        const settings::IniFileObject& edited = gui.core.m_core.edited();
        // A column never sized is at least its stored default, and shows its heading.
        for (int c = 0; c < 16; ++c) {
            QVERIFY(header->sectionSize(c) >=
                    edited.GetColumnSize(settings::ColumnList::Filter, c));
            QVERIFY(header->sectionSize(c) >= header->sectionSizeHint(c));
        }
        header->resizeSection(3, 147);
        header->resizeSection(15, 222);
        QTRY_COMPARE(edited.GetColumnSize(settings::ColumnList::Filter, 3), 147);
        QTRY_COMPARE(edited.GetColumnSize(settings::ColumnList::Filter, 15), 222);
        // A double-click on a divider fits the column to its texts, and is kept too.
        header->resizeSection(0, 20);
        emit header->sectionHandleDoubleClicked(0);
        QVERIFY(header->sectionSize(0) > 20);
        QTRY_COMPARE(edited.GetColumnSize(settings::ColumnList::Filter, 0), header->sectionSize(0));
        header->resizeSection(0, 130);
        QTRY_COMPARE(edited.GetColumnSize(settings::ColumnList::Filter, 0), 130);
        header->moveSection(15, 0); // the comment first
        QTRY_COMPARE(edited.GetColumnOrder(settings::ColumnList::Filter, 0), 15);
        QCOMPARE(edited.GetColumnOrder(settings::ColumnList::Filter, 1), 0);
        QCOMPARE(edited.GetColumnOrder(settings::ColumnList::Filter, 15), 14);
        QVERIFY(gui.core.m_core.fullSave());
        file = gui.core.m_folder.read("Setting.ini");
    }
    QVERIFY(file.find("LCFILTER_COLUMN_SIZE=130,59,85,147,65,39,65,101,101,96,82,82,109,109,102,"
                      "222") != std::string::npos);
    QVERIFY(file.find("LCFILTER_COLUMN_ORDER=15,0,1,2,3,4,5,6,7,8,9,10,11,12,13,14") !=
            std::string::npos);
    GuiHarness again;
    QVERIFY(again.start(file));
    const QHeaderView* header = filterPage(again).view()->horizontalHeader();
    QCOMPARE(header->sectionSize(3), 147);
    QCOMPARE(header->sectionSize(15), 222);
    QCOMPARE(header->logicalIndex(0), 15);
    QCOMPARE(header->logicalIndex(1), 0);
    QCOMPARE(header->logicalIndex(15), 14);
    // A width the user chose is kept even below what its heading needs.
    QHeaderView* narrow = filterPage(again).view()->horizontalHeader();
    narrow->resizeSection(7, 40);
    QTRY_COMPARE(again.core.m_core.edited().GetColumnSize(settings::ColumnList::Filter, 7), 40);
}

} // namespace tavrin::ui::test

QTEST_MAIN(tavrin::ui::test::CTabMainFilterTest)
#include "CTabMainFilterTest.moc"
