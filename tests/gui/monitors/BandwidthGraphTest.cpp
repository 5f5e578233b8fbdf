// The bandwidth graph behind the status bar's UP and DOWN panes: "未測定" before
// the first reading, the totals and the ticked filters after a few seconds of the
// session's bandwidth monitor, its data kept while the window is closed.
#include "BandwidthLog.h"
#include "CBandwidthGraphDlg.h"
#include "GuiHarness.h"
#include "StatusPanes.h"

#include <QChart>
#include <QDateTimeAxis>
#include <QLabel>
#include <QLineSeries>
#include <QStandardItemModel>

namespace tavrin::ui::test {

namespace {

using ovlank::test::PacketBuilder;

constexpr uint32_t kLocal = core::test::kLocal;
constexpr uint32_t kRemote = core::test::kRemote;

// Filter 1 passes UDP from local port 5000; filter 2 matches nothing here.
std::string settings() {
    return "[Common Settings]\nAUTO_SAVE=FALSE\n"
           "[PacketFilter1]\nFILTER_NAME=sender\nPROTOCOL=17\nDIR=UP\nMY_IP_MASK=0.0.0.0\n"
           "MY_PORT=5000\nIS_MY_ALL_PORT=FALSE\nOTHER_IP_MASK=0.0.0.0\nIS_OTHER_ALL_PORT=TRUE\n"
           "DROP=FALSE\nAVAILABLE=TRUE\nID=4\n"
           "[PacketFilter2]\nFILTER_NAME=quiet\nPROTOCOL=6\nAVAILABLE=TRUE\nID=9\n";
}

// One second of traffic: `up` and `down` wire bytes in packets of 1024, then the
// counter reading and the second tick.
void second(GuiHarness& gui, int upPackets, int downPackets) {
    for (int i = 0; i < upPackets; ++i)
        gui.core.decide(PacketBuilder::udp(kLocal, 5000, kRemote, 9).payload(1024 - 42));
    for (int i = 0; i < downPackets; ++i)
        gui.core.decide(PacketBuilder::udp(kRemote, 9, kLocal, 6000).payload(1024 - 42));
    gui.core.m_core.session().readCounters();
    gui.core.m_core.session().secondTick();
}

QList<qreal> values(const QLineSeries* series) {
    QList<qreal> ys;
    for (const QPointF& p : series->points())
        ys << p.y();
    return ys;
}

QStandardItem* filterItem(CBandwidthGraphDlg* graph, const QString& caption) {
    const auto found = graph->filterList()->findItems(caption);
    return found.isEmpty() ? nullptr : found.first();
}

} // namespace

class BandwidthGraphTest final : public QObject {
    Q_OBJECT

private slots:
    void panesInviteAClick();
    void notMeasuredUntilTheFirstReading();
    void seriesAfterAFewTicks();
    void dataIsKeptWhileTheWindowIsClosed();
    void theFilterListFollowsTheFiltersInForce();
};

void BandwidthGraphTest::panesInviteAClick() {
    GuiHarness gui;
    QVERIFY(gui.start(settings()));
    for (int pane : {core::kPaneUp, core::kPaneDown}) {
        QLabel* label = gui.dialog().panes().pane(pane);
        QCOMPARE(label->cursor().shape(), Qt::PointingHandCursor);
        QVERIFY(!label->toolTip().isEmpty());
    }
    QCOMPARE(gui.dialog().panes().pane(core::kPaneTotal)->cursor().shape(), Qt::ArrowCursor);
    QVERIFY(gui.dialog().bandwidthGraph() == nullptr);
    QTest::mouseClick(gui.dialog().panes().pane(core::kPaneDown), Qt::LeftButton);
    QVERIFY(gui.dialog().bandwidthGraph() != nullptr);
    QVERIFY(gui.dialog().bandwidthGraph()->isVisible());
    gui.dialog().bandwidthGraph()->close();
    QTest::mouseClick(gui.dialog().panes().pane(core::kPaneUp), Qt::LeftButton);
    QVERIFY(gui.dialog().bandwidthGraph()->isVisible());
}

void BandwidthGraphTest::notMeasuredUntilTheFirstReading() {
    GuiHarness gui;
    QVERIFY(gui.start(settings()));
    gui.dialog().openBandwidthGraph();
    CBandwidthGraphDlg* graph = gui.dialog().bandwidthGraph();
    QVERIFY(graph->notMeasuredLabel()->isVisible());
    QCOMPARE(graph->notMeasuredLabel()->text(), QStringLiteral("未測定"));
    gui.core.m_core.session().secondTick(); // no reading yet: still nothing measured
    QVERIFY(graph->notMeasuredLabel()->isVisible());
    QCOMPARE(graph->upSeries()->count(), 0);
    second(gui, 0, 0);
    QVERIFY(!graph->notMeasuredLabel()->isVisible());
    QCOMPARE(values(graph->upSeries()), QList<qreal>{0.0});
}

// Three seconds: the totals in KB/s, one point a second; a ticked filter gets its
// own line with its bytes, from the first second on; unticked, the line goes.
void BandwidthGraphTest::seriesAfterAFewTicks() {
    GuiHarness gui;
    QVERIFY(gui.start(settings()));
    gui.dialog().openBandwidthGraph();
    CBandwidthGraphDlg* graph = gui.dialog().bandwidthGraph();
    second(gui, 2, 1);
    second(gui, 0, 3);
    second(gui, 5, 0);
    QCOMPARE(values(graph->upSeries()), (QList<qreal>{2.0, 0.0, 5.0}));
    QCOMPARE(values(graph->downSeries()), (QList<qreal>{1.0, 3.0, 0.0}));
    QCOMPARE(graph->upSeries()->name(), QStringLiteral("UP"));
    const auto& samples = gui.core.m_core.session().bandwidthLog().samples();
    QCOMPARE(graph->upSeries()->points().last().x(), static_cast<qreal>(samples.back().time));
    // A few seconds of data: the last minute is shown, up to the newest second.
    QCOMPARE(graph->timeAxis()->max().toMSecsSinceEpoch(), samples.back().time);
    QCOMPARE(graph->timeAxis()->min().toMSecsSinceEpoch(), samples.back().time - 60'000);

    QStandardItem* sender = filterItem(graph, QStringLiteral("No.1 sender"));
    QVERIFY(sender != nullptr);
    QVERIFY(sender->isCheckable());
    QVERIFY(graph->filterSeries(4) == nullptr);
    sender->setCheckState(Qt::Checked);
    QVERIFY(graph->filterSeries(4) != nullptr);
    QCOMPARE(values(graph->filterSeries(4)), (QList<qreal>{2.0, 0.0, 5.0}));
    QCOMPARE(graph->filterSeries(4)->name(), QStringLiteral("No.1 sender"));
    graph->setFilterTicked(9, true);
    QCOMPARE(filterItem(graph, QStringLiteral("No.2 quiet"))->checkState(), Qt::Checked);
    second(gui, 1, 0);
    QCOMPARE(values(graph->filterSeries(9)), (QList<qreal>{0.0, 0.0, 0.0, 0.0}));
    QCOMPARE(values(graph->filterSeries(4)).last(), 1.0);
    QCOMPARE(graph->chart()->series().size(), 4);

    sender->setCheckState(Qt::Unchecked);
    QVERIFY(graph->filterSeries(4) == nullptr);
    QCOMPARE(graph->chart()->series().size(), 3);
}

void BandwidthGraphTest::dataIsKeptWhileTheWindowIsClosed() {
    GuiHarness gui;
    QVERIFY(gui.start(settings()));
    second(gui, 1, 0); // before the window was ever opened
    gui.dialog().openBandwidthGraph();
    CBandwidthGraphDlg* graph = gui.dialog().bandwidthGraph();
    QCOMPARE(values(graph->upSeries()), QList<qreal>{1.0});
    graph->close();
    second(gui, 2, 0);
    // Hidden in the tray the seconds still count.
    gui.dialog().minimiseWindow();
    second(gui, 3, 0);
    gui.dialog().restoreWindow();
    QCOMPARE(graph->upSeries()->count(), 1); // a closed window draws nothing
    gui.dialog().openBandwidthGraph();
    QCOMPARE(values(graph->upSeries()), (QList<qreal>{1.0, 2.0, 3.0}));
}

void BandwidthGraphTest::theFilterListFollowsTheFiltersInForce() {
    GuiHarness gui;
    QVERIFY(gui.start(settings()));
    gui.dialog().openBandwidthGraph();
    CBandwidthGraphDlg* graph = gui.dialog().bandwidthGraph();
    graph->setFilterTicked(9, true);
    QCOMPARE(graph->filterList()->rowCount(), 2);
    settings::IniFileObject& edited = gui.core.m_core.edited();
    QVERIFY(edited.RemovePacketFilter(1, gui.core.m_messages)); // "quiet", ID 9
    gui.core.m_core.filtersChanged();
    second(gui, 0, 0);
    QCOMPARE(graph->filterList()->rowCount(), 1);
    QVERIFY(graph->filterSeries(9) == nullptr);
    QCOMPARE(graph->chart()->series().size(), 2);
}

} // namespace tavrin::ui::test

QTEST_MAIN(tavrin::ui::test::BandwidthGraphTest)
#include "BandwidthGraphTest.moc"
