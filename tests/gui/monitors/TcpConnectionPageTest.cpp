// The TCP connection page on the core's harness with a connection table the test
// writes: rows and their filter, sorting by the headings, the update in place, the
// right-click menu and its commands, filters made from a connection (checked against
// the engine's decisions), and the column layout in the settings.
#include "CTabTcpConnection.h"
#include "ColumnLayout.h"
#include "CoreHarness.h"
#include "FilterFromConnection.h"
#include "MonitorFixtures.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tavrin::ui::test {

namespace {

using ovlank::test::ip;
using ovlank::test::PacketBuilder;
using Strings = QStringList;

constexpr char kLocal[] = "192.168.7.2"; // the harness's adapter eth7, index 3

std::string settings(const std::string& common = {}) {
    return "[Common Settings]\nAUTO_SAVE=FALSE\n" + common;
}

bool isZombie(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

// A program of our own under a name of our choosing, running until the test ends.
class NamedProcess {
public:
    NamedProcess(const std::filesystem::path& folder, const std::string& name) {
        const std::filesystem::path program = folder / name;
        std::filesystem::copy_file("/bin/sleep", program,
                                   std::filesystem::copy_options::overwrite_existing);
        const std::string path = program.string();
        char* argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>("300"), nullptr};
        if (::posix_spawn(&m_pid, path.c_str(), nullptr, nullptr, argv, environ) != 0)
            m_pid = -1;
    }
    ~NamedProcess() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
};

// The page alone on the core's harness, the main dialog a recorder.
class PageFixture {
public:
    // Host names wait until resolveNames() opens the gate.
    explicit PageFixture(std::vector<TcpRow> rows,
                         std::map<std::string, std::string> hosts = {{"10.1.2.3", "b.example.com"}})
        : script(std::make_shared<TableScript>(TableScript{std::move(rows)})),
          gate(std::make_shared<std::atomic<bool>>(false)),
          core(std::make_unique<ScriptedTable>(script),
               std::make_unique<ScriptedHosts>(std::move(hosts), gate),
               NetworkInfo::Options{std::chrono::milliseconds(1)}) {}
    ~PageFixture() { *gate = true; }

    bool start(const std::string& iniText = settings()) {
        if (!core.start(iniText))
            return false;
        page = std::make_unique<CTabTcpConnection>(PageContext{
            core.m_core, core.m_network, core.m_adapters, core.m_commands, core.m_messages, link});
        page->resize(1400, 500);
        page->show();
        tick();
        QCoreApplication::processEvents();
        return true;
    }

    // The once-a-second tick as the main dialog runs it.
    void tick() {
        core.m_core.session().connectionTick();
        page->redraw(false);
    }
    // Until every host name asked for is there.
    void resolveNames() {
        *gate = true;
        core.m_network.resolver().waitUntilIdle(std::chrono::seconds(5));
        tick();
    }

    QTableView* list() const { return page->list(); }
    ConnectionModel* model() const { return page->model(); }
    Strings column(int c) const {
        Strings texts;
        for (int r = 0; r < model()->rowCount(); ++r)
            texts << model()->text(r, c);
        return texts;
    }
    void clickHeading(int section) {
        QHeaderView* header = list()->horizontalHeader();
        const int x = header->sectionViewportPosition(section) + header->sectionSize(section) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
    }
    void select(int row) {
        list()->selectionModel()->select(model()->index(row, 0),
                                         QItemSelectionModel::ClearAndSelect |
                                             QItemSelectionModel::Rows);
    }
    int selectedRow() const {
        const QModelIndexList rows = list()->selectionModel()->selectedRows();
        return rows.isEmpty() ? -1 : rows.first().row();
    }
    // Opens the menu on the selected row; `inside` runs while it is open and must
    // close it.
    void openMenu(std::function<void(QMenu*)> inside) {
        whenPopupOpens(std::move(inside));
        emit list()->customContextMenuRequested(
            list()->visualRect(model()->index(std::max(selectedRow(), 0), 0)).center());
    }
    void setCommands(const std::vector<commands::ExternalCommand>& commands) {
        while (!core.m_commands.records().empty())
            core.m_commands.remove(0);
        for (const auto& c : commands)
            core.m_commands.add(c);
    }

    std::shared_ptr<TableScript> script;
    std::shared_ptr<std::atomic<bool>> gate;
    core::test::CoreHarness core;
    RecordingLink link;
    std::unique_ptr<CTabTcpConnection> page;
};

std::vector<TcpRow> mixedStates() {
    return {
        tableRow(kLocal, 22, "0.0.0.0", 0, kTcpListening, 1),
        tableRow(kLocal, 23, "10.1.2.3", 40000, kTcpEstablished, 1),
        tableRow(kLocal, 40001, "10.1.2.3", 443, kTcpSynSent),
        tableRow(kLocal, 40002, "10.1.2.4", 80, kTcpTimeWait),
        tableRow(kLocal, 40003, "10.1.2.5", 25, kTcpCloseWait),
        tableRow(kLocal, 40004, "10.1.2.6", 53, kTcpSynReceived),
    };
}

} // namespace

class TcpConnectionPageTest final : public QObject {
    Q_OBJECT

private slots:
    void rowFilter_data();
    void rowFilter();
    void boxesStoreTheirSettingAndRedraw();
    void headingClicksSortAscendingThenDescending();
    void equalKeysKeepTheTableOrder();
    void stoppedDrawingHoldsTheRowsButAHeadingStillSorts();
    void aRefreshChangesRowsInPlace();
    void aNewOrderCarriesTheSelectionAlong();
    void hostNamesShowWhenResolved();
    void menuFreezesTheListWhileOpen_data();
    void menuFreezesTheListWhileOpen();
    void menuListsExternalCommandsOfThisMonitorOnly();
    void externalCommandRunsWithTheRowFilledIn();
    void copyCommandsPutTheRowOnTheClipboard();
    void filterFromAListeningSocketMatchesEveryRemoteEnd();
    void filterFromAConnectionMatchesOnlyItsEnds();
    void filterFromAProcessFollowsItsPorts();
    void filterRefusals_data();
    void filterRefusals();
    void noEditorNoFilterCommands();
    void doubleClickMakesAnAddressFilter();
    void defaultColumnsShowTheirHeadings();
    void columnLayoutIsStoredAndRead();
};

void TcpConnectionPageTest::rowFilter_data() {
    QTest::addColumn<bool>("listening");
    QTest::addColumn<bool>("activeOnly");
    QTest::addColumn<Strings>("states");
    QTest::newRow("neither box") << false << false
                                 << Strings{"ESTABLISHED", "SYN_SENT", "TIME_WAIT", "CLOSE_WAIT",
                                            "SYN_RCVD"};
    QTest::newRow("listening only")
        << true << false
        << Strings{"LISTENING", "ESTABLISHED", "SYN_SENT", "TIME_WAIT", "CLOSE_WAIT", "SYN_RCVD"};
    QTest::newRow("active only") << false << true << Strings{"ESTABLISHED", "SYN_SENT", "SYN_RCVD"};
    QTest::newRow("both") << true << true
                          << Strings{"LISTENING", "ESTABLISHED", "SYN_SENT", "SYN_RCVD"};
}

// The two boxes start as the settings say and filter the rows by state.
void TcpConnectionPageTest::rowFilter() {
    QFETCH(bool, listening);
    QFETCH(bool, activeOnly);
    QFETCH(Strings, states);
    PageFixture f(mixedStates());
    QVERIFY(f.start(settings(std::string("SHOW_LISTENING=") + (listening ? "TRUE" : "FALSE") +
                             "\nSHOW_ACTIVE_CONNECTION_ONLY=" + (activeOnly ? "TRUE" : "FALSE") +
                             "\n")));
    QCOMPARE(f.page->listeningBox()->isChecked(), listening);
    QCOMPARE(f.page->activeOnlyBox()->isChecked(), activeOnly);
    QCOMPARE(f.column(kConnState), states);
}

void TcpConnectionPageTest::boxesStoreTheirSettingAndRedraw() {
    PageFixture f(mixedStates());
    QVERIFY(f.start());
    QCOMPARE(f.model()->rowCount(), 5);
    f.page->listeningBox()->click();
    QCOMPARE(f.core.m_core.edited().GetShowListening(), 1);
    QCOMPARE(f.model()->rowCount(), 6);
    f.page->activeOnlyBox()->click();
    QCOMPARE(f.core.m_core.edited().GetShowActiveConnectionOnly(), 1);
    QCOMPARE(f.column(kConnState), (Strings{"LISTENING", "ESTABLISHED", "SYN_SENT", "SYN_RCVD"}));
    f.page->listeningBox()->click();
    QCOMPARE(f.core.m_core.edited().GetShowListening(), 0);
    QCOMPARE(f.column(kConnState), (Strings{"ESTABLISHED", "SYN_SENT", "SYN_RCVD"}));
}

// "リモートポート" twice: ascending, then descending; another heading: ascending.
void TcpConnectionPageTest::headingClicksSortAscendingThenDescending() {
    PageFixture f(mixedStates());
    QVERIFY(f.start(settings("SHOW_LISTENING=TRUE\n")));
    QCOMPARE(f.page->sortColumn(), int{kConnLocalPort});
    QCOMPARE(f.column(kConnLocalPort), (Strings{"22", "23", "40001", "40002", "40003", "40004"}));

    f.clickHeading(kConnRemotePort);
    QCOMPARE(f.column(kConnRemotePort),
             (Strings{"0", "25 (smtp)", "53 (domain)", "80 (http)", "443 (https)", "40000"}));
    QCOMPARE(f.list()->horizontalHeader()->sortIndicatorOrder(), Qt::AscendingOrder);
    f.clickHeading(kConnRemotePort);
    QCOMPARE(f.column(kConnRemotePort),
             (Strings{"40000", "443 (https)", "80 (http)", "53 (domain)", "25 (smtp)", "0"}));
    QCOMPARE(f.list()->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
    QVERIFY(!f.page->ascending());

    f.clickHeading(kConnState);
    QVERIFY(f.page->ascending());
    QCOMPARE(f.page->sortColumn(), int{kConnState});
    QCOMPARE(f.column(kConnState), (Strings{"LISTENING", "SYN_SENT", "SYN_RCVD", "ESTABLISHED",
                                            "CLOSE_WAIT", "TIME_WAIT"}));
}

// Rows with equal keys stay in the table's order, whichever the direction.
void TcpConnectionPageTest::equalKeysKeepTheTableOrder() {
    PageFixture f({tableRow(kLocal, 3000, "10.0.0.9", 80, kTcpEstablished),
                   tableRow(kLocal, 1000, "10.0.0.8", 80, kTcpEstablished),
                   tableRow(kLocal, 2000, "10.0.0.7", 22, kTcpEstablished)});
    QVERIFY(f.start());
    f.clickHeading(kConnRemotePort);
    QCOMPARE(f.column(kConnLocalPort), (Strings{"2000", "1000", "3000"}));
    f.clickHeading(kConnRemotePort);
    QCOMPARE(f.column(kConnLocalPort), (Strings{"1000", "3000", "2000"}));
}

void TcpConnectionPageTest::stoppedDrawingHoldsTheRowsButAHeadingStillSorts() {
    PageFixture f(mixedStates());
    QVERIFY(f.start());
    const Strings before = f.column(kConnLocalPort);
    f.page->stopBox()->click();
    QVERIFY(f.page->drawingStopped());
    f.script->rows.erase(f.script->rows.begin() + 1);
    f.script->rows.push_back(tableRow(kLocal, 50000, "10.9.9.9", 8080, kTcpEstablished));
    f.tick();
    QCOMPARE(f.column(kConnLocalPort), before);

    // A heading click sorts with what the table holds now.
    f.clickHeading(kConnRemotePort);
    QCOMPARE(f.column(kConnRemotePort),
             (Strings{"25 (smtp)", "53 (domain)", "80 (http)", "443 (https)", "8080"}));
    f.tick();
    QCOMPARE(f.model()->rowCount(), 5);
    f.page->stopBox()->click();
    QVERIFY(!f.page->drawingStopped());
}

// A tick changes rows in place: a row that went is removed, a new one inserted,
// the others report their new data; no reset; the selection stays with its
// connection and the list stays where it was scrolled to.
void TcpConnectionPageTest::aRefreshChangesRowsInPlace() {
    std::vector<TcpRow> rows;
    for (uint16_t port = 1000; port < 1300; ++port)
        rows.push_back(tableRow(kLocal, port, "10.1.2.3", 443, kTcpEstablished));
    PageFixture f(rows);
    QVERIFY(f.start());
    QCOMPARE(f.model()->rowCount(), 300);
    f.select(150);
    f.list()->verticalScrollBar()->setValue(f.list()->verticalScrollBar()->maximum() / 2);
    const int scrolled = f.list()->verticalScrollBar()->value();
    QVERIFY(scrolled > 0);

    QSignalSpy resets(f.model(), &QAbstractItemModel::modelReset);
    QSignalSpy layouts(f.model(), &QAbstractItemModel::layoutChanged);
    QSignalSpy removed(f.model(), &QAbstractItemModel::rowsRemoved);
    QSignalSpy inserted(f.model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(f.model(), &QAbstractItemModel::dataChanged);
    f.script->rows.erase(f.script->rows.begin() + 10, f.script->rows.begin() + 12); // 1010, 1011
    f.script->rows.push_back(tableRow(kLocal, 1100, "10.1.2.4", 443, kTcpSynSent));
    f.tick();
    QCoreApplication::processEvents();

    QCOMPARE(resets.count(), 0);
    QCOMPARE(layouts.count(), 0);
    QCOMPARE(removed.count(), 1);
    QCOMPARE(removed[0][1].toInt(), 10);
    QCOMPARE(removed[0][2].toInt(), 11);
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted[0][1].toInt(), 99); // after 1100 → 10.1.2.3, the table's order
    QCOMPARE(f.model()->text(99, kConnRemoteAddress), QStringLiteral("10.1.2.4"));
    // Every row that stayed aged a second and is reported once; the new one is not.
    int reported = 0;
    for (const auto& args : changed) {
        const int first = args[0].toModelIndex().row();
        const int last = args[1].toModelIndex().row();
        QVERIFY(last < 99 || first > 99);
        reported += last - first + 1;
    }
    QCOMPARE(reported, 298);
    // Seen at the session start, the first tick and this one.
    QCOMPARE(f.model()->text(0, kConnDuration), QStringLiteral("0分02秒"));
    QCOMPARE(f.model()->text(99, kConnDuration), QStringLiteral("0分00秒"));

    QCOMPARE(f.model()->text(f.selectedRow(), kConnLocalPort), QStringLiteral("1150"));
    QCOMPARE(f.list()->verticalScrollBar()->value(), scrolled);

    // A tick without change reports nothing at all but the ages.
    changed.clear();
    removed.clear();
    inserted.clear();
    f.tick();
    QCOMPARE(removed.count() + inserted.count() + resets.count() + layouts.count(), 0);
}

// Sorted by bandwidth, a connection that starts carrying bytes moves up: one layout
// change, and the selected connection is still the selected one.
void TcpConnectionPageTest::aNewOrderCarriesTheSelectionAlong() {
    PageFixture f({tableRow(kLocal, 1000, "10.1.2.3", 443, kTcpEstablished),
                   tableRow(kLocal, 1001, "10.1.2.3", 443, kTcpEstablished),
                   tableRow(kLocal, 1002, "10.1.2.3", 443, kTcpEstablished)});
    QVERIFY(f.start());
    f.clickHeading(kConnUp);
    f.clickHeading(kConnUp); // descending
    QCOMPARE(f.column(kConnLocalPort), (Strings{"1000", "1001", "1002"}));
    f.select(0);

    // 2048 bytes sent on 1002 during this second.
    const auto packet =
        PacketBuilder::tcp(ip(192, 168, 7, 2), 1002, ip(10, 1, 2, 3), 443).payload(2048 - 54);
    f.core.decide(packet);
    f.core.m_core.session().setMonitorPackets(false);
    f.core.m_core.session().drainPackets();
    QSignalSpy layouts(f.model(), &QAbstractItemModel::layoutChanged);
    QSignalSpy resets(f.model(), &QAbstractItemModel::modelReset);
    f.tick();
    QCOMPARE(layouts.count(), 1);
    QCOMPARE(resets.count(), 0);
    QCOMPARE(f.column(kConnLocalPort), (Strings{"1002", "1000", "1001"}));
    QCOMPARE(f.model()->text(0, kConnUp), QStringLiteral("2.0 KB/s"));
    QCOMPARE(f.model()->text(f.selectedRow(), kConnLocalPort), QStringLiteral("1000"));
}

void TcpConnectionPageTest::hostNamesShowWhenResolved() {
    PageFixture f({tableRow(kLocal, 1000, "10.1.2.3", 443, kTcpEstablished),
                   tableRow(kLocal, 1001, "10.9.9.9", 443, kTcpEstablished),
                   tableRow("127.0.0.1", 1002, "127.0.0.1", 5432, kTcpEstablished)});
    QVERIFY(f.start());
    QCOMPARE(f.column(kConnRemoteHost), (Strings{"検索中...", "検索中...", "検索中..."}));
    QSignalSpy changed(f.model(), &QAbstractItemModel::dataChanged);
    f.resolveNames();
    QCOMPARE(f.column(kConnRemoteHost), (Strings{"b.example.com", "10.9.9.9", "localhost"}));
    QVERIFY(changed.count() >= 1);
}

void TcpConnectionPageTest::menuFreezesTheListWhileOpen_data() {
    QTest::addColumn<bool>("stoppedBefore");
    QTest::newRow("drawing") << false;
    QTest::newRow("already stopped") << true;
}

// While the menu is open the box shows the third state (or stays checked) and a
// tick changes nothing; afterwards the box and drawing are as they were.
void TcpConnectionPageTest::menuFreezesTheListWhileOpen() {
    QFETCH(bool, stoppedBefore);
    PageFixture f(mixedStates());
    QVERIFY(f.start());
    if (stoppedBefore)
        f.page->stopBox()->click();
    f.select(0);
    Qt::CheckState during = Qt::Unchecked;
    int rowsDuring = -1;
    f.script->rows.pop_back();
    f.openMenu([&](QMenu* menu) {
        during = f.page->stopBox()->checkState();
        f.tick();
        rowsDuring = f.model()->rowCount();
        menu->close();
    });
    QCOMPARE(during, stoppedBefore ? Qt::Checked : Qt::PartiallyChecked);
    QCOMPARE(rowsDuring, 5);
    QCOMPARE(f.page->stopBox()->checkState(), stoppedBefore ? Qt::Checked : Qt::Unchecked);
    QVERIFY(!f.page->stopBox()->isTristate());
    QCOMPARE(f.page->drawingStopped(), stoppedBefore);
    f.tick();
    QCOMPARE(f.model()->rowCount(), stoppedBefore ? 5 : 4);
}

void TcpConnectionPageTest::menuListsExternalCommandsOfThisMonitorOnly() {
    PageFixture f(mixedStates());
    QVERIFY(f.start());
    f.setCommands({{1, 0, "ping", "ping %RemoteAddr%", commands::kTargetPacketMonitor}});
    f.select(0);
    std::vector<std::string> texts;
    f.openMenu([&](QMenu* menu) {
        texts = menuTexts(menu);
        menu->close();
    });
    const std::vector<std::string> own = {"このIPアドレスとポートでフィルタを新規作成(&I)...",
                                          "このプロセス名でフィルタを新規作成(&P)...",
                                          "-",
                                          "リモートIPアドレスをコピー(&A)",
                                          "リモートホスト名をコピー(&H)",
                                          "-",
                                          "このコネクションを切断(&D)"};
    QCOMPARE(texts, own); // no separator, no submenu

    f.setCommands(
        {{1, 0, "trace", "traceroute %RemoteAddr%", commands::kTargetTcpConnectionMonitor},
         {0, 0, "hidden", "x", commands::kTargetTcpConnectionMonitor},
         {1, 0, "whois", "whois %RemoteDomain%", commands::kTargetTcpConnectionMonitor}});
    std::vector<std::string> sub;
    f.openMenu([&](QMenu* menu) {
        texts = menuTexts(menu);
        sub = menuTexts(menu->actions().last()->menu());
        menu->close();
    });
    std::vector<std::string> withCommands = own;
    withCommands.push_back("-");
    withCommands.push_back("外部コマンド(&E)>");
    QCOMPARE(texts, withCommands);
    QCOMPARE(sub, (std::vector<std::string>{"trace", "whois"}));
}

// The n-th command of this monitor, its placeholders filled from the row the menu
// was opened on, goes to the main dialog to run; open ones stay for the asking.
void TcpConnectionPageTest::externalCommandRunsWithTheRowFilledIn() {
    PageFixture f({tableRow(kLocal, 40000, "10.1.2.3", 443, kTcpEstablished, ::getpid())});
    QVERIFY(f.start());
    f.resolveNames();
    f.setCommands({{1, 0, "one", "echo one", commands::kTargetTcpConnectionMonitor},
                   {1, 0, "two",
                    "probe %LocalAddr% %LocalPort% %RemoteHost% %RemoteDomain% %RemotePort% "
                    "%ProcessID% %ProcessName% %UserIn%",
                    commands::kTargetTcpConnectionMonitor}});
    f.select(0);
    f.openMenu([](QMenu* menu) {
        QMenu* sub = menu->actions().last()->menu();
        QAction* second = sub->actions().at(1);
        QCOMPARE(second->data().toInt(), 176);
        second->trigger();
        menu->close();
    });
    QTRY_COMPARE(f.link.commandLines.size(), size_t{1});
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").filename().string();
    QCOMPARE(f.link.commandLines[0], "probe 192.168.7.2 40000 b.example.com example.com 443 " +
                                         std::to_string(::getpid()) + " " + self + " %UserIn%");
}

void TcpConnectionPageTest::copyCommandsPutTheRowOnTheClipboard() {
    PageFixture f({tableRow(kLocal, 1000, "10.1.2.3", 443, kTcpEstablished),
                   tableRow(kLocal, 1001, "10.7.7.7", 443, kTcpEstablished)});
    QVERIFY(f.start());
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("before"));
    f.select(1);
    f.openMenu([&](QMenu* menu) {
        f.page->action(kCommandCopyRemoteHost)->trigger();
        menu->close();
    });
    QCoreApplication::processEvents();
    QCOMPARE(clipboard->text(), QStringLiteral("before")); // not resolved yet: left alone
    f.openMenu([&](QMenu* menu) {
        f.page->action(kCommandCopyRemoteAddress)->trigger();
        menu->close();
    });
    QTRY_COMPARE(clipboard->text(), QStringLiteral("10.7.7.7"));
    f.resolveNames();
    f.select(0);
    f.openMenu([&](QMenu* menu) {
        f.page->action(kCommandCopyRemoteHost)->trigger();
        menu->close();
    });
    QTRY_COMPARE(clipboard->text(), QStringLiteral("b.example.com"));
}

namespace {

// The main window's part as it is wired there: the edit dialog (here: the filter
// taken as made, set to drop, and OK), then the filter appended and put in force.
CTabTcpConnection::NewFilterHandler droppingHandler(PageFixture& f,
                                                    std::vector<PacketFilter>& seen) {
    return [&f, &seen](const PacketFilter& made) {
        seen.push_back(made);
        PacketFilter filter = made;
        filter.drop = 1;
        filter.dropSynOnly = 0;
        filter.filterName = std::string_view("made from a connection");
        f.core.m_core.edited().AddPacketFilter(filter);
        f.core.m_core.filtersChanged();
        return true;
    };
}

void runFromMenu(PageFixture& f, int command) {
    f.openMenu([&f, command](QMenu* menu) {
        f.page->action(command)->trigger();
        menu->close();
    });
    QCoreApplication::processEvents();
}

} // namespace

// From a listening socket: this local end to every remote address and port.
void TcpConnectionPageTest::filterFromAListeningSocketMatchesEveryRemoteEnd() {
    PageFixture f({tableRow(kLocal, 8080, "0.0.0.0", 0, kTcpListening)});
    QVERIFY(f.start(settings("SHOW_LISTENING=TRUE\n")));
    std::vector<PacketFilter> seen;
    f.page->setNewFilterHandler(droppingHandler(f, seen));
    f.select(0);
    f.core.m_engine.clear();
    runFromMenu(f, kCommandFilterFromAddress);

    QCOMPARE(seen.size(), size_t{1});
    const PacketFilter& made = seen[0];
    QCOMPARE(made.adapterIndex, 3);
    QCOMPARE(made.adapterName, std::string("eth7"));
    QCOMPARE(made.isMyIp, 1);
    QCOMPARE(made.myIp, ip(192, 168, 7, 2));
    QCOMPARE(made.isMyAllPort, 0);
    QCOMPARE(made.otherIpMask, 0u);
    QCOMPARE(made.isOtherAllPort, 1);

    // Accepted: the filter tab shown; the handler's filter in force.
    QCOMPARE(f.core.m_core.edited().PacketFilterCount(), 1);
    QCOMPARE(f.link.shownPages, std::vector<int>{kPageFilter});
    f.core.m_core.startFiltering();
    QVERIFY(!f.core.decide(PacketBuilder::tcp(ip(192, 168, 7, 2), 8080, ip(10, 9, 9, 9), 1234)));
    QVERIFY(!f.core.decide(PacketBuilder::tcp(ip(192, 168, 7, 2), 8080, ip(172, 16, 0, 1), 55555)));
    QVERIFY(f.core.decide(PacketBuilder::tcp(ip(192, 168, 7, 2), 8081, ip(10, 9, 9, 9), 1234)));
}

void TcpConnectionPageTest::filterFromAConnectionMatchesOnlyItsEnds() {
    PageFixture f({tableRow("127.0.0.1", 40000, "10.1.2.3", 443, kTcpEstablished)});
    QVERIFY(f.start());
    std::vector<PacketFilter> seen;
    f.page->setNewFilterHandler(droppingHandler(f, seen));
    f.select(0);
    runFromMenu(f, kCommandFilterFromAddress);
    QCOMPARE(seen.size(), size_t{1});
    QCOMPARE(seen[0].adapterIndex, -1); // no adapter has 127.0.0.1
    QCOMPARE(seen[0].isMyIp, 0);
    QCOMPARE(seen[0].otherIpMask, 0xFFFFFFFFu);
    QCOMPARE(seen[0].isOtherAllPort, 0);

    f.core.m_core.startFiltering();
    const uint32_t local = ip(127, 0, 0, 1);
    QVERIFY(!f.core.decide(PacketBuilder::tcp(local, 40000, ip(10, 1, 2, 3), 443)));
    QVERIFY(f.core.decide(PacketBuilder::tcp(local, 40000, ip(10, 1, 2, 3), 444)));
    QVERIFY(f.core.decide(PacketBuilder::tcp(local, 40000, ip(10, 1, 2, 4), 443)));
    QVERIFY(f.core.decide(PacketBuilder::tcp(local, 40001, ip(10, 1, 2, 3), 443)));
}

// From a process: every TCP packet of the process, on whatever ports it holds.
void TcpConnectionPageTest::filterFromAProcessFollowsItsPorts() {
    NamedProcess probe(
        std::filesystem::path(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp"),
        "tavrin-probe-" + std::to_string(::getpid()));
    QVERIFY(probe.pid() > 0);
    PageFixture f({tableRow(kLocal, 5000, "10.1.2.3", 443, kTcpEstablished, probe.pid()),
                   tableRow(kLocal, 5001, "10.1.2.3", 443, kTcpEstablished, -1)});
    QVERIFY(f.start());
    std::vector<PacketFilter> seen;
    f.page->setNewFilterHandler(droppingHandler(f, seen));
    f.select(0);
    runFromMenu(f, kCommandFilterFromProcess);
    QCOMPARE(seen.size(), size_t{1});
    QCOMPARE(seen[0].appName, "tavrin-probe-" + std::to_string(::getpid()));
    QCOMPARE(seen[0].isMyAllPort, 1);
    QCOMPARE(seen[0].isOtherAllPort, 1);
    QCOMPARE(seen[0].otherIpMask, 0u);
    QCOMPARE(seen[0].adapterIndex, 3);

    f.core.m_core.startFiltering();
    QVERIFY(!f.core.decide(PacketBuilder::tcp(ip(192, 168, 7, 2), 5000, ip(10, 1, 2, 3), 443)));
    QVERIFY(!f.core.decide(PacketBuilder::tcp(ip(192, 168, 7, 2), 5000, ip(10, 8, 8, 8), 9)));
    QVERIFY(f.core.decide(PacketBuilder::tcp(ip(192, 168, 7, 2), 5001, ip(10, 1, 2, 3), 443)));
}

void TcpConnectionPageTest::filterRefusals_data() {
    QTest::addColumn<QString>("owner"); // "unknown", "zombie", "System"
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("filtersBefore");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown process")
        << "unknown" << kCommandFilterFromProcess << 0 << QString::fromUtf8(kUnknownProcessRefused);
    QTest::newRow("process without a path")
        << "zombie" << kCommandFilterFromProcess << 0 << QString::fromUtf8(kSystemProcessRefused);
    QTest::newRow("a process named System")
        << "System" << kCommandFilterFromProcess << 0 << QString::fromUtf8(kSystemProcessRefused);
    QTest::newRow("list full, by address")
        << "unknown" << kCommandFilterFromAddress << 64 << QString::fromUtf8(kFilterListFull);
    QTest::newRow("list full, by process")
        << "System" << kCommandFilterFromProcess << 64 << QString::fromUtf8(kFilterListFull);
    QTest::newRow("63 filters leave room")
        << "unknown" << kCommandFilterFromAddress << 63 << QString();
}

void TcpConnectionPageTest::filterRefusals() {
    QFETCH(QString, owner);
    QFETCH(int, command);
    QFETCH(int, filtersBefore);
    QFETCH(QString, message);
    std::unique_ptr<NamedProcess> system;
    pid_t pid = -1;
    if (owner == "System") {
        const auto folder = std::filesystem::temp_directory_path() /
                            ("tavrin-system-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        system = std::make_unique<NamedProcess>(folder, "System");
        pid = system->pid();
    } else if (owner == "zombie") {
        // Ended and not yet waited for: listed, but without an executable.
        pid = ::fork();
        if (pid == 0)
            ::_exit(0);
        QTRY_VERIFY(isZombie(pid));
    }
    std::string ini = settings();
    for (int n = 1; n <= filtersBefore; ++n)
        ini += "[PacketFilter" + std::to_string(n) + "]\nFILTER_NAME=f" + std::to_string(n) +
               "\nAVAILABLE=FALSE\n";
    PageFixture f({tableRow(kLocal, 5000, "10.1.2.3", 443, kTcpEstablished, pid)});
    QVERIFY(f.start(ini));
    std::vector<PacketFilter> seen;
    f.page->setNewFilterHandler(droppingHandler(f, seen));
    f.select(0);
    f.core.m_messages.clear();
    runFromMenu(f, command);
    if (message.isEmpty()) {
        QVERIFY(f.core.m_messages.texts().empty());
        QCOMPARE(seen.size(), size_t{1});
        QCOMPARE(f.core.m_core.edited().PacketFilterCount(), filtersBefore + 1);
    } else {
        QCOMPARE(f.core.m_messages.texts(), std::vector<std::string>{message.toStdString()});
        QVERIFY(seen.empty());
        QCOMPARE(f.core.m_core.edited().PacketFilterCount(), filtersBefore);
        QVERIFY(f.link.shownPages.empty());
    }
    if (owner == "zombie")
        ::waitpid(pid, nullptr, 0);
}

// Without a handler from the main window the two commands cannot run; when the
// dialog is cancelled, the page shows nothing else.
void TcpConnectionPageTest::noEditorNoFilterCommands() {
    PageFixture f(mixedStates());
    QVERIFY(f.start());
    QVERIFY(!f.page->action(kCommandFilterFromAddress)->isEnabled());
    QVERIFY(!f.page->action(kCommandFilterFromProcess)->isEnabled());
    QVERIFY(f.page->action(kCommandCutConnection)->isEnabled());
    int asked = 0;
    f.page->setNewFilterHandler([&asked](const PacketFilter&) {
        ++asked;
        return false;
    });
    QVERIFY(f.page->action(kCommandFilterFromAddress)->isEnabled());
    f.select(0);
    runFromMenu(f, kCommandFilterFromAddress);
    QCOMPARE(asked, 1);
    QVERIFY(f.link.shownPages.empty());
}

void TcpConnectionPageTest::doubleClickMakesAnAddressFilter() {
    PageFixture f({tableRow(kLocal, 1000, "10.1.2.3", 443, kTcpEstablished),
                   tableRow(kLocal, 1001, "10.7.7.7", 80, kTcpEstablished)});
    QVERIFY(f.start());
    std::vector<PacketFilter> seen;
    f.page->setNewFilterHandler(droppingHandler(f, seen));
    f.select(1);
    emit f.list()->doubleClicked(f.model()->index(1, 0));
    QTRY_COMPARE(seen.size(), size_t{1});
    QCOMPARE(seen[0].otherIp, ip(10, 7, 7, 7));
    QCOMPARE(seen[0].otherPorts.size(), size_t{1});
    QCOMPARE(seen[0].otherPorts[0].hostLow(), uint16_t{80});
    QCOMPARE(seen[0].myPorts[0].hostLow(), uint16_t{1001});
}

// Columns never sized are wide enough for their headings and usual values, though
// the stored defaults were made for a smaller font; the stored values stay.
void TcpConnectionPageTest::defaultColumnsShowTheirHeadings() {
    PageFixture f(mixedStates());
    QVERIFY(f.start());
    QHeaderView* header = f.list()->horizontalHeader();
    const QFontMetrics metrics = f.list()->fontMetrics();
    for (int c = 0; c < kConnColumnCount; ++c) {
        QVERIFY2(header->sectionSize(c) >= header->sectionSizeHint(c),
                 std::string(kConnectionHeadings[static_cast<size_t>(c)].text).c_str());
        QVERIFY(header->sectionSize(c) > metrics.horizontalAdvance(QString::fromUtf8(
                                             kConnectionHeadings[static_cast<size_t>(c)].widest)));
        QCOMPARE(f.core.m_core.edited().GetColumnSize(settings::ColumnList::TcpConnection,
                                                      static_cast<size_t>(c)),
                 settings::columnListInfo(settings::ColumnList::TcpConnection)
                     .defaultSizes[static_cast<size_t>(c)]);
    }
}

// Widths 30 ms after a resize, the order after a drag, both in the settings being
// edited; a new page starts with them.
void TcpConnectionPageTest::columnLayoutIsStoredAndRead() {
    PageFixture f(mixedStates());
    QVERIFY(
        f.start(settings("LCTCPCONNECTION_COLUMN_SIZE=10,20,30,40,50,60,70,80,90,100,110,120,0\n"
                         "LCTCPCONNECTION_COLUMN_ORDER=12,11,10,9,8,7,6,5,4,3,2,1,0\n")));
    QHeaderView* header = f.list()->horizontalHeader();
    settings::IniFileObject& edited = f.core.m_core.edited();
    QCOMPARE(header->sectionSize(1), 20);
    // 0 is no width: the default, shown at least as wide as its heading.
    QVERIFY(header->sectionSize(12) >= 130);
    QVERIFY(header->sectionSize(12) >= header->sectionSizeHint(12));
    QCOMPARE(edited.GetColumnSize(settings::ColumnList::TcpConnection, 12), 0);
    QCOMPARE(header->logicalIndex(0), 12);
    QCOMPARE(header->logicalIndex(12), 0);

    header->resizeSection(6, 222);
    QCOMPARE(edited.GetColumnSize(settings::ColumnList::TcpConnection, 6), 70);
    QTRY_COMPARE(edited.GetColumnSize(settings::ColumnList::TcpConnection, 6), 222);
    header->moveSection(header->visualIndex(4), 0);
    QTRY_COMPARE(edited.GetColumnOrder(settings::ColumnList::TcpConnection, 0), 4);
    QCOMPARE(edited.GetColumnOrder(settings::ColumnList::TcpConnection, 1), 12);

    CTabTcpConnection again(PageContext{f.core.m_core, f.core.m_network, f.core.m_adapters,
                                        f.core.m_commands, f.core.m_messages, f.link});
    QCOMPARE(again.list()->horizontalHeader()->sectionSize(6), 222);
    QCOMPARE(again.list()->horizontalHeader()->logicalIndex(0), 4);

    // An order that is no permutation (a hand-edited file) is left out.
    for (size_t v = 0; v < 13; ++v)
        edited.SetColumnOrder(settings::ColumnList::TcpConnection, v, 3);
    CTabTcpConnection broken(PageContext{f.core.m_core, f.core.m_network, f.core.m_adapters,
                                         f.core.m_commands, f.core.m_messages, f.link});
    for (int v = 0; v < 13; ++v)
        QCOMPARE(broken.list()->horizontalHeader()->logicalIndex(v), v);
}

} // namespace tavrin::ui::test

QTEST_MAIN(tavrin::ui::test::TcpConnectionPageTest)
#include "TcpConnectionPageTest.moc"
