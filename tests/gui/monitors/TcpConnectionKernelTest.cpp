// The TCP connection page on the kernel's own table, in a network namespace the
// test makes: real listening, established and closing sockets filtered and sorted,
// their owner shown, and the cut ending a real connection. Needs root.
#include "CTabTcpConnection.h"
#include "CoreHarness.h"
#include "KernelTestSupport.h"
#include "MonitorFixtures.h"

#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QMenu>
#include <QTableView>
#include <QTest>

#include <algorithm>

namespace tavrin::ui::test {

namespace {

using Strings = QStringList;
using tavrin::test::Fd;
using tavrin::test::LoopbackConnection;

// Namespace first: everything after it, the table's sockets included, lives there.
struct KernelPage {
    tavrin::test::NetnsScope ns;
    core::test::CoreHarness core;
    RecordingLink link;
    std::unique_ptr<CTabTcpConnection> page;

    bool start(const std::string& common) {
        if (!ns.error().empty() || !core.start("[Common Settings]\nAUTO_SAVE=FALSE\n" + common))
            return false;
        page = std::make_unique<CTabTcpConnection>(PageContext{
            core.m_core, core.m_network, core.m_adapters, core.m_commands, core.m_messages, link});
        page->resize(1400, 500);
        page->show();
        tick();
        return true;
    }
    void tick() {
        core.m_core.session().connectionTick();
        page->redraw(false);
    }
    ConnectionModel* model() const { return page->model(); }
    Strings column(int c) const {
        Strings texts;
        for (int r = 0; r < model()->rowCount(); ++r)
            texts << model()->text(r, c);
        return texts;
    }
    int rowOf(uint16_t localPort, uint16_t remotePort) const {
        for (int r = 0; r < model()->rowCount(); ++r) {
            const TcpConnection& c = model()->row(r).record;
            if (portHostOrder(c.localPort) == localPort &&
                portHostOrder(c.remotePort) == remotePort)
                return r;
        }
        return -1;
    }
    void clickHeading(int section) {
        QHeaderView* header = page->list()->horizontalHeader();
        const int x = header->sectionViewportPosition(section) + header->sectionSize(section) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
    }
};

Strings sorted(Strings texts, bool numeric, bool ascending) {
    std::stable_sort(texts.begin(), texts.end(), [&](const QString& a, const QString& b) {
        const bool less = numeric ? a.toInt() < b.toInt() : a < b;
        const bool more = numeric ? b.toInt() < a.toInt() : b < a;
        return ascending ? less : more;
    });
    return texts;
}

} // namespace

class TcpConnectionKernelTest final : public QObject {
    Q_OBJECT

private slots:
    void realSocketsAreFilteredAndSorted();
    void cutEndsARealConnection();
};

void TcpConnectionKernelTest::realSocketsAreFilteredAndSorted() {
    KernelPage k;
    QVERIFY2(k.start("SHOW_LISTENING=FALSE\n"), k.ns.error().c_str());
    LoopbackConnection open;
    LoopbackConnection closing;
    // The side that closes first waits in TIME_WAIT.
    closing.client.reset();
    closing.server.reset();
    k.tick();

    // Not listening, not only active: both ends of the open one, and the closed one.
    Strings states = k.column(kConnState);
    states.sort();
    QCOMPARE(states, (Strings{"ESTABLISHED", "ESTABLISHED", "TIME_WAIT"}));
    const int client = k.rowOf(open.clientPort, open.serverPort);
    QVERIFY(client >= 0);
    QCOMPARE(k.model()->text(client, kConnProcessId), QString::number(::getpid()));
    QCOMPARE(k.model()->text(client, kConnLocalAddress), QStringLiteral("127.0.0.1"));
    QCOMPARE(k.model()->text(client, kConnRemotePort), QString::number(open.serverPort));

    k.page->listeningBox()->click();
    states = k.column(kConnState);
    states.sort();
    QCOMPARE(states,
             (Strings{"ESTABLISHED", "ESTABLISHED", "LISTENING", "LISTENING", "TIME_WAIT"}));
    k.page->activeOnlyBox()->click();
    states = k.column(kConnState);
    states.sort();
    QCOMPARE(states, (Strings{"ESTABLISHED", "ESTABLISHED", "LISTENING", "LISTENING"}));
    // The listeners' far end: every address, port 0, its name found without a lookup.
    const int listener = k.rowOf(open.serverPort, 0);
    QVERIFY(listener >= 0);
    QCOMPARE(k.model()->text(listener, kConnRemoteAddress), QStringLiteral("0.0.0.0"));

    // Local ports as the kernel gave them: ascending by default, then by a heading.
    const Strings ports = k.column(kConnLocalPort);
    QCOMPARE(ports, sorted(ports, true, true));
    k.clickHeading(kConnLocalPort);
    QCOMPARE(k.column(kConnLocalPort), sorted(ports, true, false));
    k.clickHeading(kConnRemotePort);
    const Strings remote = k.column(kConnRemotePort);
    QCOMPARE(remote, sorted(remote, true, true));
    QCOMPARE(remote.first(), QStringLiteral("0"));
}

bool peerEnded(int fd) {
    char byte = 0;
    const ssize_t got = ::recv(fd, &byte, 1, MSG_DONTWAIT);
    return got == 0 || (got < 0 && errno == ECONNRESET);
}

// The cut ends the connection in the kernel: the holder's next read fails, the
// peer's connection ends, and the rows are gone at the next refresh.
void TcpConnectionKernelTest::cutEndsARealConnection() {
    KernelPage k;
    QVERIFY2(k.start(""), k.ns.error().c_str());
    LoopbackConnection open;
    LoopbackConnection other;
    k.tick();
    const int row = k.rowOf(open.clientPort, open.serverPort);
    QVERIFY(row >= 0);
    k.page->list()->selectionModel()->select(
        k.model()->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    whenPopupOpens([&k](QMenu* menu) {
        k.page->action(kCommandCutConnection)->trigger();
        menu->close();
    });
    emit k.page->list()->customContextMenuRequested(
        k.page->list()->visualRect(k.model()->index(row, 0)).center());
    QCoreApplication::processEvents();

    char byte = 0;
    errno = 0;
    QCOMPARE(::recv(open.client.get(), &byte, 1, MSG_DONTWAIT), ssize_t{-1});
    QCOMPARE(errno, ECONNABORTED);
    // The peer sees its connection end (a reset; some network stacks close it).
    QTRY_VERIFY(peerEnded(open.server.get()));
    // At the next refresh that connection's rows are gone; the other's stay.
    k.tick();
    QCOMPARE(k.rowOf(open.clientPort, open.serverPort), -1);
    QCOMPARE(k.rowOf(open.serverPort, open.clientPort), -1);
    QVERIFY(k.rowOf(other.clientPort, other.serverPort) >= 0);
    QVERIFY(::send(other.client.get(), "x", 1, MSG_NOSIGNAL) == 1);
}

} // namespace tavrin::ui::test

QTEST_MAIN(tavrin::ui::test::TcpConnectionKernelTest)
#include "TcpConnectionKernelTest.moc"
