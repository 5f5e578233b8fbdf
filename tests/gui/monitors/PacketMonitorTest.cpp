// The packet monitor in the main window on the core's harness: packets decided by
// the real engine, drained by the session and filed into the page's lists; both
// drawing modes, pause and snapshot, tabs and descriptions, the right-click menu,
// and the column layout shared by the lists of a kind.
#include "CPacketListCtrl.h"
#include "CTabPacketMonitor.h"
#include "ColumnLayout.h"
#include "GuiHarness.h"
#include "MonitorFixtures.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QTabWidget>

namespace tavrin::ui::test {

namespace {

using ovlank::test::ip;
using ovlank::test::PacketBuilder;
using Strings = QStringList;

constexpr uint32_t kLocal = core::test::kLocal; // 192.168.7.2
constexpr uint32_t kRemote = core::test::kRemote;

// Filter 1 drops TCP to local port 23; filter 2 (disabled) and filter 3 (UDP to
// local port 53, passed) follow.
std::string settings(const std::string& common = {}) {
    return "[Common Settings]\nAUTO_SAVE=FALSE\n" + common +
           "[PacketFilter1]\nFILTER_NAME=telnet\nPROTOCOL=6\nDIR=DOWN\nMY_IP_MASK=0.0.0.0\n"
           "MY_PORT=23\nIS_MY_ALL_PORT=FALSE\nOTHER_IP_MASK=0.0.0.0\nIS_OTHER_ALL_PORT=TRUE\n"
           "DROP=TRUE\nDROP_SYN_ONLY=FALSE\nAVAILABLE=TRUE\nID=1\n"
           "[PacketFilter2]\nFILTER_NAME=off\nPROTOCOL=17\nAVAILABLE=FALSE\nID=2\n"
           "[PacketFilter3]\nFILTER_NAME=dns\nPROTOCOL=17\nDIR=DOWN\nMY_IP_MASK=0.0.0.0\n"
           "MY_PORT=53\nIS_MY_ALL_PORT=FALSE\nOTHER_IP_MASK=0.0.0.0\nIS_OTHER_ALL_PORT=TRUE\n"
           "DROP=FALSE\nAVAILABLE=TRUE\nID=3\n";
}

PacketBuilder toTelnet(uint16_t from = 40000) {
    return PacketBuilder::tcp(kRemote, from, kLocal, 23, 0x12);
}
PacketBuilder toDns() {
    return PacketBuilder::udp(kRemote, 40000, kLocal, 53).payload(20);
}
PacketBuilder unmatched(uint16_t from = 1) {
    return PacketBuilder::tcp(kRemote, from, kLocal, 8080).payload(10);
}

class Monitor {
public:
    bool start(const std::string& common = {}) {
        if (!gui.start(settings(common)))
            return false;
        gui.dialog().resize(1200, 700);
        gui.core.m_core.session().setMonitorPackets(true);
        page()->tabs()->setCurrentIndex(page()->allIndex());
        return true;
    }
    CTabPacketMonitor* page() {
        return static_cast<CTabPacketMonitor*>(gui.dialog().page(kPagePacketMonitor));
    }
    CPacketListCtrl* list(int i) { return page()->list(i); }
    CPacketListCtrl* all() { return list(page()->allIndex()); }
    CPacketListCtrl* none() { return list(page()->noFilterIndex()); }
    // The engine decides, the session's drain files; then one turn of the event loop.
    void pass(const PacketBuilder& packet, int times = 1) {
        for (int i = 0; i < times; ++i)
            gui.core.decide(packet);
    }
    void drain() {
        gui.core.m_core.session().drainPackets();
        QCoreApplication::processEvents();
    }
    static Strings column(CPacketListCtrl* list, int c) {
        Strings texts;
        for (int r = 0; r < list->packetModel()->rowCount(); ++r)
            texts << list->packetModel()->text(r, c);
        return texts;
    }
    static Strings numbers(int from, int to) {
        Strings texts;
        for (int n = from; n >= to; --n)
            texts << QString::number(n);
        return texts;
    }

    GuiHarness gui;
};

} // namespace

class PacketMonitorTest final : public QObject {
    Q_OBJECT

private slots:
    void tabsFollowTheEnabledFiltersWithTheirDescriptions();
    void packetsReachTheListsOfTheirRule();
    void batchedDrawingAtFiveRows();
    void rowByRowDrawingAbove200Rows();
    void hiddenWindowOnlyStoresUntilRestored();
    void pauseHoldsTheRowsAndTheSnapshotKeepsItsPackets();
    void rowTextsOfTheListsKinds();
    void menuPausesAndRunsACommandOnThePacket();
    void aRebuildDuringTheMenuEndsItsPauseAfterwards();
    void menuWithoutCommandsIsGrayed();
    void columnLayoutGoesToEveryListOfItsKind();
    void aRebuildStartsTheListsOver();
};

// Enabled filters get a list each, TCP or UDP by protocol, named by their position;
// the description says what the list holds.
void PacketMonitorTest::tabsFollowTheEnabledFiltersWithTheirDescriptions() {
    Monitor m;
    QVERIFY(m.start());
    QTabWidget* tabs = m.page()->tabs();
    Strings captions;
    for (int i = 0; i < tabs->count(); ++i)
        captions << tabs->tabText(i);
    QCOMPARE(captions, (Strings{"No.1 telnet", "No.3 dns", "非フィルタ", "全て"}));
    QCOMPARE(m.page()->listCount(), 4);
    QCOMPARE(m.list(0)->kind(), PacketListKind::Tcp);
    QCOMPARE(m.list(1)->kind(), PacketListKind::Udp);
    QCOMPARE(m.list(1)->packetModel()->columnCount(), 10);
    QCOMPARE(m.all()->packetModel()->columnCount(), 14);

    const auto& filters = m.gui.core.m_core.inForce().PacketFilters();
    tabs->setCurrentIndex(0);
    QCOMPARE(m.page()->description()->text(),
             QString::fromStdString("No.1 telnet " + filters[0]->GetDescription() +
                                    " で遮断されたパケット"));
    tabs->setCurrentIndex(1);
    QCOMPARE(
        m.page()->description()->text(),
        QString::fromStdString("No.3 dns " + filters[2]->GetDescription() + " を通過したパケット"));
    tabs->setCurrentIndex(2);
    QCOMPARE(m.page()->description()->text(), QStringLiteral("フィルタに適合しなかったパケット"));
    tabs->setCurrentIndex(3);
    QCOMPARE(m.page()->description()->text(), QStringLiteral("全てのパケット"));
    m.gui.dialog().showPage(kPagePacketMonitor);
    QVERIFY(m.all()->isVisible());
    QVERIFY(!m.list(0)->isVisible());
}

// Rule 0 and rule 1 (the third filter) go to their lists and to "全て", the
// unmatched ones to "非フィルタ" and "全て".
void PacketMonitorTest::packetsReachTheListsOfTheirRule() {
    Monitor m;
    QVERIFY(m.start());
    m.pass(toTelnet());
    m.pass(toDns());
    m.pass(unmatched());
    m.drain();
    QCOMPARE(Monitor::column(m.all(), 2), (Strings{"TCP", "UDP", "TCP"}));
    QCOMPARE(Monitor::column(m.list(0), 9), (Strings{"23"}));
    QCOMPARE(Monitor::column(m.list(1), 9), (Strings{"53"}));
    QCOMPARE(Monitor::column(m.none(), 9), (Strings{"8080"}));
    // Each list numbers its own packets; one record is shared by the lists.
    QCOMPARE(Monitor::column(m.all(), 0), (Strings{"3", "2", "1"}));
    QCOMPARE(Monitor::column(m.none(), 0), (Strings{"1"}));
    QCOMPARE(m.all()->store().front().packet.get(), m.none()->store().front().packet.get());
}

// N = 5: packets are only stored while the drain files them; the batch ends in
// one redraw that shows the newest five, numbered 6 down to 2.
void PacketMonitorTest::batchedDrawingAtFiveRows() {
    Monitor m;
    QVERIFY(m.start("MAX_PACKET_CAPTURE_NUM=5\n"));
    for (uint16_t n = 1; n <= 6; ++n)
        m.page()->addPacket(entryOf(unmatched(n)), true);
    QCoreApplication::processEvents();
    QCOMPARE(m.all()->packetModel()->rowCount(), 0);
    QVERIFY(m.all()->dirty());
    QCOMPARE(m.all()->store().size(), size_t{5});
    m.page()->redrawList();
    QCOMPARE(Monitor::column(m.all(), 0), Monitor::numbers(6, 2));
    QCOMPARE(Monitor::column(m.all(), 8), (Strings{"6", "5", "4", "3", "2"}));
    QVERIFY(!m.all()->dirty());

    // The session's drain does the same: six more, then the list shows 12 to 8.
    m.pass(unmatched(), 6);
    QSignalSpy resets(m.all()->packetModel(), &QAbstractItemModel::modelReset);
    m.drain();
    QCOMPARE(Monitor::column(m.all(), 0), Monitor::numbers(12, 8));
    QCOMPARE(resets.count(), 0);
    QCOMPARE(m.all()->store().size(), size_t{5});
}

// N = 201: each packet goes onto the list as it is filed, without a redraw; the
// view hears of a drained batch as one insertion on top and one removal below.
void PacketMonitorTest::rowByRowDrawingAbove200Rows() {
    Monitor m;
    QVERIFY(m.start("MAX_PACKET_CAPTURE_NUM=201\n"));
    m.pass(unmatched(), 150);
    m.drain();
    QCOMPARE(m.all()->packetModel()->rowCount(), 150);
    QVERIFY(!m.all()->dirty());

    QSignalSpy inserted(m.all()->packetModel(), &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(m.all()->packetModel(), &QAbstractItemModel::rowsRemoved);
    m.pass(unmatched(), 52);
    m.gui.core.m_core.session().drainPackets();
    QCOMPARE(m.all()->store().size(), size_t{201});
    QCoreApplication::processEvents();
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted[0][1].toInt(), 0);
    QCOMPARE(inserted[0][2].toInt(), 51);
    QCOMPARE(removed.count(), 1);
    QCOMPARE(removed[0][1].toInt(), 201);
    QCOMPARE(m.all()->packetModel()->rowCount(), 201);
    QCOMPARE(Monitor::column(m.all(), 0).first(), QStringLiteral("202"));
    QCOMPARE(Monitor::column(m.all(), 0).last(), QStringLiteral("2"));
    QVERIFY(!m.all()->dirty());
}

// Hidden in the tray the lists only store; back on screen they show the newest.
void PacketMonitorTest::hiddenWindowOnlyStoresUntilRestored() {
    Monitor m;
    QVERIFY(m.start("MAX_PACKET_CAPTURE_NUM=300\n"));
    m.pass(unmatched(), 3);
    m.drain();
    m.gui.dialog().minimiseWindow();
    m.pass(unmatched(), 4);
    m.drain();
    QCOMPARE(Monitor::column(m.all(), 0), Monitor::numbers(3, 1));
    QVERIFY(m.all()->dirty());
    m.gui.dialog().restoreWindow();
    QCOMPARE(Monitor::column(m.all(), 0), Monitor::numbers(7, 1));
}

// Paused, no row changes while the stores go on; the rows are the snapshot the
// menu reads, and keep their packets after the store let them go. Unpaused, the
// newest N show at once.
void PacketMonitorTest::pauseHoldsTheRowsAndTheSnapshotKeepsItsPackets() {
    Monitor m;
    QVERIFY(m.start("MAX_PACKET_CAPTURE_NUM=5\n"));
    m.pass(unmatched(7), 1);
    m.drain();
    const PacketRef first = m.all()->snapshot().front().packet;
    QVERIFY(first);
    m.page()->stopBox()->click();
    QVERIFY(m.page()->paused());
    m.pass(unmatched(9), 8);
    m.drain();
    m.page()->redrawList();
    QCOMPARE(Monitor::column(m.all(), 0), (Strings{"1"}));
    QCOMPARE(m.all()->store().front().number, 9u);
    QCOMPARE(m.all()->store().back().number, 5u);
    // Gone from the store, still whole in the snapshot.
    QCOMPARE(m.all()->snapshot().front().packet.get(), first.get());
    QCOMPARE(Monitor::column(m.all(), 8), (Strings{"7"}));

    m.page()->stopBox()->click();
    QVERIFY(!m.page()->paused());
    QCOMPARE(Monitor::column(m.all(), 0), Monitor::numbers(9, 5));
}

// Flags of a SYN+ACK, an ICMP echo without ports, a UDP row in the UDP list.
void PacketMonitorTest::rowTextsOfTheListsKinds() {
    Monitor m;
    QVERIFY(m.start());
    m.pass(toTelnet());
    m.pass(PacketBuilder::icmp(kRemote, kLocal));
    m.pass(toDns());
    m.drain();
    QCOMPARE(Monitor::column(m.all(), 2), (Strings{"UDP", "ICMP", "TCP"}));
    QCOMPARE(Monitor::column(m.all(), 12), (Strings{"", "", "ACK,SYN"}));
    QCOMPARE(Monitor::column(m.all(), 8), (Strings{"40000", "", "40000"}));
    QCOMPARE(Monitor::column(m.all(), 6), (Strings{"10.1.2.3", "10.1.2.3", "10.1.2.3"}));
    QCOMPARE(Monitor::column(m.all(), 7), (Strings{"192.168.7.2", "192.168.7.2", "192.168.7.2"}));
    QCOMPARE(Monitor::column(m.list(1), 2), (Strings{"UDP"}));
    QCOMPARE(Monitor::column(m.list(1), 3), (Strings{"62"}));
}

namespace {

// The page alone, the main dialog a recorder.
struct StandaloneMonitor {
    StandaloneMonitor() {
        ok = core.start(settings("MAX_PACKET_CAPTURE_NUM=5\n"));
        page = std::make_unique<CTabPacketMonitor>(PageContext{
            core.m_core, core.m_network, core.m_adapters, core.m_commands, core.m_messages, link});
        page->resize(1000, 500);
        page->show();
        page->tabs()->setCurrentIndex(page->allIndex());
    }
    void setCommands(const std::vector<commands::ExternalCommand>& commands) {
        while (!core.m_commands.records().empty())
            core.m_commands.remove(0);
        for (const auto& c : commands)
            core.m_commands.add(c);
    }
    CPacketListCtrl* all() const { return page->list(page->allIndex()); }
    void openMenu(int row, std::function<void(QMenu*)> inside) {
        whenPopupOpens(std::move(inside));
        emit all()->customContextMenuRequested(
            all()->visualRect(all()->packetModel()->index(row, 0)).center());
    }

    core::test::CoreHarness core;
    RecordingLink link;
    std::unique_ptr<CTabPacketMonitor> page;
    bool ok = false;
};

} // namespace

void PacketMonitorTest::menuPausesAndRunsACommandOnThePacket() {
    StandaloneMonitor s;
    QVERIFY(s.ok);
    s.setCommands(
        {{1, 0, "trace", "traceroute %RemoteAddr%", commands::kTargetTcpConnectionMonitor},
         {1, 0, "ping", "ping %SrcAddr%", commands::kTargetPacketMonitor},
         {1, 0, "probe", "probe %SrcAddr%:%SrcPort% %DestAddr%:%DestPort% %LocalAddr%",
          commands::kTargetPacketMonitor}});
    s.page->addPacket(entryOf(PacketBuilder::udp(ip(10, 0, 0, 9), 5000, kLocal, 53)), true);
    s.page->addPacket(entryOf(PacketBuilder::icmp(ip(10, 0, 0, 8), kLocal)), true);
    s.page->redrawList();
    QCOMPARE(s.all()->packetModel()->rowCount(), 2);

    std::vector<std::string> texts;
    std::vector<std::string> sub;
    Qt::CheckState during = Qt::Unchecked;
    bool pausedDuring = false;
    int rowsDuring = -1;
    s.openMenu(1, [&](QMenu* menu) {
        texts = menuTexts(menu);
        sub = menuTexts(menu->actions().first()->menu());
        during = s.page->stopBox()->checkState();
        pausedDuring = s.page->paused();
        s.page->addPacket(entryOf(PacketBuilder::udp(ip(10, 0, 0, 7), 1, kLocal, 2)), false);
        s.page->redrawList();
        rowsDuring = s.all()->packetModel()->rowCount();
        menu->actions().first()->menu()->actions().at(1)->trigger();
        menu->close();
    });
    QCOMPARE(texts, std::vector<std::string>{"外部コマンド(&E)>"});
    QCOMPARE(sub, (std::vector<std::string>{"ping", "probe"}));
    QCOMPARE(during, Qt::PartiallyChecked);
    QVERIFY(pausedDuring);
    QCOMPARE(rowsDuring, 2);
    QCOMPARE(s.page->stopBox()->checkState(), Qt::Unchecked);
    QVERIFY(!s.page->paused());
    QCOMPARE(s.all()->packetModel()->rowCount(), 3); // the pause over, the newest shows
    QTRY_COMPARE(s.link.commandLines.size(), size_t{1});
    QCOMPARE(s.link.commandLines[0], std::string("probe 10.0.0.9:5000 192.168.7.2:53 %LocalAddr%"));
}

// The session rebuilt while a list's menu is open (a filter's address changed):
// the new lists hold still until the menu closes, then drawing goes on.
void PacketMonitorTest::aRebuildDuringTheMenuEndsItsPauseAfterwards() {
    StandaloneMonitor s;
    QVERIFY(s.ok);
    s.page->addPacket(entryOf(unmatched()), true);
    s.page->redrawList();
    bool newListsPaused = false;
    s.openMenu(0, [&](QMenu* menu) {
        s.page->rulesReloaded(); // as the main window passes the session's rebuild on
        newListsPaused = s.page->paused();
        s.page->addPacket(entryOf(unmatched(2)), false);
        menu->close();
    });
    QVERIFY(newListsPaused);
    QCOMPARE(s.page->stopBox()->checkState(), Qt::Unchecked);
    QVERIFY(!s.page->paused());
    QCOMPARE(Monitor::column(s.all(), 8), (Strings{"2"}));
}

// With no command for this monitor the submenu is there, grayed.
void PacketMonitorTest::menuWithoutCommandsIsGrayed() {
    StandaloneMonitor s;
    QVERIFY(s.ok);
    s.setCommands(
        {{1, 0, "trace", "traceroute %RemoteAddr%", commands::kTargetTcpConnectionMonitor}});
    s.page->addPacket(entryOf(unmatched()), true);
    s.page->redrawList();
    bool enabled = true;
    std::vector<std::string> texts;
    s.openMenu(0, [&](QMenu* menu) {
        texts = menuTexts(menu);
        enabled = menu->actions().first()->isEnabled();
        menu->close();
    });
    QCOMPARE(texts, std::vector<std::string>{"外部コマンド(&E)>"});
    QVERIFY(!enabled);
    // A right-click on no row opens nothing.
    bool opened = false;
    whenPopupOpens(
        [&](QMenu* menu) {
            opened = true;
            menu->close();
        },
        20);
    emit s.all()->customContextMenuRequested(QPoint(5, s.all()->viewport()->height() - 2));
    QTest::qWait(50);
    QVERIFY(!opened);
}

// A width set in one TCP list reaches every TCP list and the settings 30 ms later,
// never the UDP list; an order likewise.
void PacketMonitorTest::columnLayoutGoesToEveryListOfItsKind() {
    Monitor m;
    QVERIFY(m.start());
    settings::IniFileObject& edited = m.gui.core.m_core.edited();
    const int udpWidth = m.list(1)->horizontalHeader()->sectionSize(6);
    m.list(0)->horizontalHeader()->resizeSection(6, 177);
    QTRY_COMPARE(edited.GetColumnSize(settings::ColumnList::TcpPacket, 6), 177);
    QCOMPARE(m.none()->horizontalHeader()->sectionSize(6), 177);
    QCOMPARE(m.all()->horizontalHeader()->sectionSize(6), 177);
    QCOMPARE(m.list(1)->horizontalHeader()->sectionSize(6), udpWidth);
    QCOMPARE(edited.GetColumnSize(settings::ColumnList::UdpPacket, 6), 100);

    QHeaderView* udp = m.list(1)->horizontalHeader();
    udp->moveSection(udp->visualIndex(9), 0);
    QTRY_COMPARE(edited.GetColumnOrder(settings::ColumnList::UdpPacket, 0), 9);
    QCOMPARE(m.all()->horizontalHeader()->logicalIndex(0), 0);
    QCOMPARE(edited.GetColumnOrder(settings::ColumnList::TcpPacket, 0), 0);
    // A list built later takes the stored layout.
    m.gui.core.m_core.filtersChanged();
    QCOMPARE(m.page()->list(1)->horizontalHeader()->logicalIndex(0), 9);
    QCOMPARE(m.page()->list(0)->horizontalHeader()->sectionSize(6), 177);
}

// Every rebuild of the session rebuilds the lists: empty, numbered from 1 again.
void PacketMonitorTest::aRebuildStartsTheListsOver() {
    Monitor m;
    QVERIFY(m.start());
    m.pass(unmatched(), 3);
    m.drain();
    QCOMPARE(m.all()->packetModel()->rowCount(), 3);
    m.gui.core.m_core.edited().PacketFilterAt(1)->available = 1;
    m.gui.core.m_core.filtersChanged();
    QCOMPARE(m.page()->listCount(), 5);
    QCOMPARE(m.page()->tabs()->tabText(1), QStringLiteral("No.2 off"));
    QCOMPARE(m.all()->packetModel()->rowCount(), 0);
    m.pass(unmatched());
    m.drain();
    QCOMPARE(Monitor::column(m.all(), 0), (Strings{"1"}));
}

} // namespace tavrin::ui::test

QTEST_MAIN(tavrin::ui::test::PacketMonitorTest)
#include "PacketMonitorTest.moc"
