#include "CTestDrvDlg.h"

#include "ActionButton.h"
#include "BandwidthMonitor.h"
#include "CAboutDlg.h"
#include "CAddFilterDlg.h"
#include "CBandwidthGraphDlg.h"
#include "COptionSheet.h"
#include "CTabDynamicFilter.h"
#include "CTabExternalCommand.h"
#include "CTabMainFilter.h"
#include "CTabPacketMonitor.h"
#include "CTabTcpConnection.h"
#include "DesktopOpener.h"
#include "Icons.h"
#include "StatusPanes.h"
#include "TextConversion.h"
#include "TrayIcon.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>

namespace tavrin::ui {

namespace {

constexpr std::chrono::milliseconds kStartHiddenPhase{4000};

} // namespace

CTestDrvDlg::CTestDrvDlg(DialogParts parts, QWidget* parent)
    : QMainWindow(parent),
      m_parts(std::move(parts)), m_context{m_parts.core,     m_parts.network,  m_parts.adapters,
                                           m_parts.commands, m_parts.messages, *this} {
    setWindowTitle(QString::fromUtf8(core::kProgramName));
    setWindowIcon(programIcon());
    m_opener = new DesktopOpener(this);
    createActions();
    setCentralWidget(createCentralArea());
    createMenus();
    // A filter made from a connection is edited like any new filter and then joins
    // the list in force. The dialog keeps the adapter the connection was found on.
    m_connectionPage->setNewFilterHandler([this](const PacketFilter& made) {
        CAddFilterDlg editor(m_parts.adapters, m_parts.messages, this);
        editor.load(made, false);
        if (editor.exec() != QDialog::Accepted)
            return false;
        PacketFilter filter = made;
        editor.store(filter);
        m_filterPage->appendFilter(filter);
        return true;
    });
    m_panes = new StatusPanes(statusBar());
    connect(m_panes, &StatusPanes::paneClicked, this, [this] { openBandwidthGraph(); });
    m_tray = new TrayIcon(windowIcon(), QString::fromUtf8(core::kProgramName), m_trayMenu,
                          m_parts.trayAvailable, this);
    connect(m_tray, &TrayIcon::leftClicked, this, [this] {
        if (m_hidden)
            restoreWindow();
        else
            minimiseWindow();
    });
    // Nothing could bring a window hidden in a vanished tray back: show it.
    connect(m_tray, &TrayIcon::trayLost, this, [this] {
        if (m_hidden && !m_ended)
            restoreWindow();
    });
    updateCommands();
}

CTestDrvDlg::~CTestDrvDlg() = default;

void CTestDrvDlg::createActions() {
    auto make = [this](int id, const char* text, std::function<void()> run) {
        auto* action = new QAction(QString::fromUtf8(text), this);
        connect(action, &QAction::triggered, this, std::move(run));
        m_actions[id] = action;
    };
    make(kCommandStart, "フィルタリング開始(&S)", [this] { m_parts.core.startFiltering(); });
    make(kCommandStop, "フィルタリング終了(&E)", [this] { m_parts.core.stopFiltering(); });
    make(kCommandSave, "設定を保存(&S)", [this] { m_parts.core.fullSave(); });
    make(kCommandExit, "アプリケーションの終了(&X)", [this] { exitCommand(); });
    make(kCommandOptions, "オプション(&O)...", [this] { openOptions(); });
    make(kCommandOpen, "開く(&O)", [this] { restoreWindow(); });
    make(kCommandAbout, "バージョン情報(A)", [this] { openAbout(); });
    make(kCommandReadMe, "ReadMeを読む(&R)", [this] {
        if (!m_opener->openReadMe() && DesktopOpener::readMePath().isEmpty())
            m_parts.messages.show(kReadMeMissing);
    });
    make(kCommandHomePage, "開発元Webサイトへ行く(&O)", [this] { m_opener->openHomePage(); });
    // The tray words the exit command differently; it is the same command.
    m_trayExitAction = new QAction(QStringLiteral("終了(&E)"), this);
    connect(m_trayExitAction, &QAction::triggered, this, [this] { exitCommand(); });
}

QWidget* CTestDrvDlg::createCentralArea() {
    auto* area = new QWidget(this);
    auto* layout = new QVBoxLayout(area);
    layout->setContentsMargins(5, 5, 5, 0);

    auto* controls = new QHBoxLayout;
    m_startButton = new QPushButton(QStringLiteral("フィルタリング開始(&S)"), area);
    m_stopButton = new QPushButton(QStringLiteral("フィルタリング終了(&E)"), area);
    bindButton(m_startButton, m_actions[kCommandStart]);
    bindButton(m_stopButton, m_actions[kCommandStop]);
    m_monitorBox = new QCheckBox(QStringLiteral("パケットをモニタする"), area);
    m_dynamicBox = new QCheckBox(QStringLiteral("動的フィルタリングを行う"), area);
    connect(m_monitorBox, &QCheckBox::toggled, this,
            [this](bool on) { m_parts.core.session().setMonitorPackets(on); });
    connect(m_dynamicBox, &QCheckBox::toggled, this,
            [this](bool on) { m_parts.core.setDynamicFiltering(on); });
    controls->addWidget(m_startButton);
    controls->addWidget(m_stopButton);
    controls->addSpacing(12);
    controls->addWidget(m_monitorBox);
    controls->addWidget(m_dynamicBox);
    controls->addStretch(1);
    layout->addLayout(controls);

    m_tabs = new QTabWidget(area);
    m_tabs->setAccessibleName(QStringLiteral("ページ"));
    m_filterPage = new CTabMainFilter(m_context, m_tabs);
    m_dynamicPage = new CTabDynamicFilter(m_context, m_tabs);
    m_connectionPage = new CTabTcpConnection(m_context, m_tabs);
    m_packetPage = new CTabPacketMonitor(m_context, m_tabs);
    m_commandPage = new CTabExternalCommand(m_context, m_tabs);
    const std::pair<QWidget*, const char*> pages[] = {
        {m_filterPage, "フィルタ"},
        {m_dynamicPage, "動的フィルタ"},
        {m_connectionPage, "TCPコネクションモニタ"},
        {m_packetPage, "パケットモニタ"},
        {m_commandPage, "外部コマンド"},
    };
    for (const auto& [page, caption] : pages) {
        page->setAccessibleName(QString::fromUtf8(caption));
        m_tabs->addTab(page, QString::fromUtf8(caption));
    }
    layout->addWidget(m_tabs, 1);
    return area;
}

void CTestDrvDlg::createMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
    file->addAction(m_actions[kCommandSave]);
    file->addSeparator();
    file->addAction(m_actions[kCommandExit]);

    QMenu* filters = menuBar()->addMenu(QStringLiteral("フィルタ(&I)"));
    filters->addActions(m_filterPage->menuActions());

    QMenu* filtering = menuBar()->addMenu(QStringLiteral("フィルタリング(&R)"));
    filtering->addAction(m_actions[kCommandStart]);
    filtering->addAction(m_actions[kCommandStop]);

    QMenu* tools = menuBar()->addMenu(QStringLiteral("ツール(&T)"));
    tools->addAction(m_actions[kCommandOptions]);

    QMenu* help = menuBar()->addMenu(QStringLiteral("ヘルプ(&H)"));
    help->addAction(m_actions[kCommandReadMe]);
    help->addAction(m_actions[kCommandHomePage]);
    help->addSeparator();
    help->addAction(m_actions[kCommandAbout]);

    m_trayMenu = new QMenu(this);
    m_trayMenu->addAction(m_actions[kCommandOpen]);
    m_trayMenu->addSeparator();
    m_trayMenu->addAction(m_actions[kCommandStart]);
    m_trayMenu->addAction(m_actions[kCommandStop]);
    m_trayMenu->addSeparator();
    m_trayMenu->addAction(m_trayExitAction);
}

QAction* CTestDrvDlg::action(int commandId) const {
    auto it = m_actions.find(commandId);
    return it == m_actions.end() ? nullptr : it->second;
}

void CTestDrvDlg::initialise() {
    m_initialised = true;
    placeWindow();
    m_hidden = false;
    m_startHidden = false;
    m_parts.core.session().setHidden(false);
    updateTray();
    m_monitorBox->setChecked(false);
    {
        // The core takes the stored value itself; the box only shows it.
        const QSignalBlocker block(m_dynamicBox);
        m_dynamicBox->setChecked(m_parts.core.edited().GetDoDynamicFiltering() != 0);
    }
    m_filterPage->refreshRows();
    m_dynamicPage->refreshRows();

    m_parts.core.initialise();
    if (m_ended)
        return;
    const bool minimised = m_parts.core.edited().GetStartupMinimize() != 0;
    if (minimised)
        setHidden(true);
    startTimer(core::kTimerLocalAddresses, core::kLocalAddressesPeriod, &CTestDrvDlg::addressTick);
    startTimer(core::kTimerConnections, core::kConnectionsPeriod, &CTestDrvDlg::connectionTick);

    if (!minimised) {
        show();
    } else if (m_tray->shown() || m_parts.core.edited().GetNoIcon() != 0) {
        // Hidden from the start: the tray icon, or a second start, brings it back.
        m_startHidden = true;
        QTimer::singleShot(kStartHiddenPhase, this, [this] { m_startHidden = false; });
    } else {
        // No tray to hide in: the task bar keeps the window within reach.
        showMinimized();
    }
}

void CTestDrvDlg::startTimer(int id, std::chrono::milliseconds period,
                             void (CTestDrvDlg::*tick)()) {
    QTimer*& timer = m_timers[id];
    if (timer == nullptr) {
        timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this, tick] { (this->*tick)(); });
    }
    // The counters pace the daemon's bandwidth limit: they want the exact period.
    timer->setTimerType(id == core::kTimerReadCounters ? Qt::PreciseTimer : Qt::CoarseTimer);
    timer->start(period);
}

void CTestDrvDlg::stopTimer(int id) {
    auto it = m_timers.find(id);
    if (it != m_timers.end())
        it->second->stop();
}

bool CTestDrvDlg::timerRunning(int timerId) const {
    auto it = m_timers.find(timerId);
    return it != m_timers.end() && it->second->isActive();
}

void CTestDrvDlg::drainTick() {
    m_parts.core.session().drainPackets();
}

void CTestDrvDlg::readTick() {
    m_parts.core.session().readCounters();
}

void CTestDrvDlg::secondTick() {
    m_parts.core.session().secondTick();
}

void CTestDrvDlg::connectionTick() {
    m_parts.core.session().connectionTick();
}

void CTestDrvDlg::addressTick() {
    m_parts.core.session().addressTick();
    // A rebuilt adapter list may have changed what the filter page shows.
    if (!m_ended)
        m_filterPage->refreshRows();
}

// -- The window ------------------------------------------------------------------

void CTestDrvDlg::placeWindow() {
    const settings::WindowRect rect = m_parts.core.edited().GetWindowRect();
    QRect wanted(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    if (wanted.width() < 200 || wanted.height() < 150)
        wanted.setSize(QSize(800, 500));
    // A rectangle left on a screen that is no longer there would put the window
    // out of reach: it goes onto the primary screen instead.
    bool onScreen = false;
    for (const QScreen* screen : QGuiApplication::screens())
        onScreen = onScreen || screen->availableGeometry().intersects(wanted);
    if (!onScreen) {
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            wanted.moveTopLeft(screen->availableGeometry().topLeft());
    }
    setGeometry(wanted);
}

void CTestDrvDlg::storeWindowRect() {
    if (!m_initialised || m_ended ||
        (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)))
        return;
    const QRect r = geometry();
    m_parts.core.edited().SetWindowRect(
        {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()});
}

void CTestDrvDlg::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    storeWindowRect();
}

void CTestDrvDlg::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    storeWindowRect();
}

void CTestDrvDlg::setHidden(bool hidden) {
    m_hidden = hidden;
    m_parts.core.session().setHidden(hidden);
}

void CTestDrvDlg::restoreWindow() {
    if (m_ended)
        return;
    m_startHidden = false;
    const bool wasHidden = m_hidden;
    setHidden(false);
    showNormal();
    raise();
    activateWindow();
    if (wasHidden)
        m_packetPage->redrawList();
}

void CTestDrvDlg::minimiseWindow() {
    if (m_ended)
        return;
    setHidden(true);
    if (m_tray->shown())
        hide();
    else
        showMinimized();
}

void CTestDrvDlg::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || m_ended)
        return;
    if (windowState() & Qt::WindowMinimized) {
        setHidden(true);
        // Into the tray, once the window system has finished minimising.
        if (m_tray->shown())
            QTimer::singleShot(0, this, [this] {
                if (m_hidden && m_tray->shown())
                    hide();
            });
    } else if (m_hidden && isVisible()) {
        setHidden(false);
        m_packetPage->redrawList();
    }
}

void CTestDrvDlg::closeEvent(QCloseEvent* event) {
    if (m_ended) {
        event->accept();
        return;
    }
    if (m_parts.core.edited().GetCloseButtonAction() != 0) {
        event->ignore();
        minimiseWindow();
        return;
    }
    // The exit path's own close of the window is swallowed while this one runs.
    if (exitCommand())
        event->accept();
    else
        event->ignore();
}

bool CTestDrvDlg::exitCommand() {
    if (m_ended)
        return true;
    return m_parts.core.exitPath();
}

bool CTestDrvDlg::leaveUnattended() {
    using Mode = core::ApplicationCore::ExitMode;
    if (m_ended)
        return true;
    if (m_parts.core.exitPath(m_leaveWithoutSaving ? Mode::WithoutSaving : Mode::Unattended))
        return true;
    if (m_parts.core.exitSaveFailed() && !m_leaveWithoutSaving) {
        std::fprintf(stderr, "Tavrin: the settings could not be saved, so Tavrin keeps running; "
                             "asked once more, it ends without saving\n");
        m_leaveWithoutSaving = true;
    }
    return false;
}

// -- Commands and their state ----------------------------------------------------------

void CTestDrvDlg::updateCommands() {
    const bool filtering = m_parts.core.session().filtering();
    m_actions[kCommandStart]->setEnabled(!filtering);
    m_actions[kCommandStop]->setEnabled(filtering);
}

void CTestDrvDlg::updateTray() {
    if (m_parts.core.edited().GetNoIcon() != 0)
        m_tray->remove();
    else
        m_tray->add();
}

void CTestDrvDlg::openOptions() {
    COptionSheet sheet(m_parts.core.edited(), !m_parts.network.ownerSourceInUse(), m_parts.messages,
                       this);
    if (sheet.exec() != QDialog::Accepted)
        return;
    updateTray();
    m_parts.core.optionsAccepted();
}

void CTestDrvDlg::openAbout() {
    CAboutDlg about(this);
    about.exec();
}

// -- CoreView -------------------------------------------------------------------------

void CTestDrvDlg::sessionTimers(bool running, std::chrono::milliseconds period) {
    if (!running) {
        for (int id : {core::kTimerDrainPackets, core::kTimerReadCounters, core::kTimerSecond})
            stopTimer(id);
        return;
    }
    startTimer(core::kTimerDrainPackets, core::kDrainPeriod, &CTestDrvDlg::drainTick);
    startTimer(core::kTimerReadCounters, period, &CTestDrvDlg::readTick);
    startTimer(core::kTimerSecond, core::kSecondPeriod, &CTestDrvDlg::secondTick);
}

void CTestDrvDlg::setPaneText(int pane, const std::string& text) {
    m_panes->setPaneText(pane, qs(text));
}

void CTestDrvDlg::endProgram() {
    m_ended = true;
    if (m_graph)
        m_graph->close();
    for (auto& [id, timer] : m_timers)
        timer->stop();
    m_tray->remove();
    close();
    emit programEnded();
}

void CTestDrvDlg::filteringChanged(bool filtering) {
    updateCommands();
    m_filterPage->filteringChanged(filtering);
}

void CTestDrvDlg::rulesReloaded() {
    m_packetPage->rulesReloaded();
}

void CTestDrvDlg::packetCaptured(const ovlank::CaptureEntry& entry, bool noRedraw) {
    m_packetPage->addPacket(entry, noRedraw);
}

void CTestDrvDlg::redrawPacketList() {
    m_packetPage->redrawList();
}

void CTestDrvDlg::refreshConnectionPage() {
    m_connectionPage->redraw(false);
}

void CTestDrvDlg::refreshFilterBandwidth(const std::vector<int32_t>& overriddenRules) {
    m_filterPage->refreshBandwidth(overriddenRules);
}

void CTestDrvDlg::bandwidthRecorded() {
    if (m_graph)
        m_graph->refresh();
}

void CTestDrvDlg::openBandwidthGraph() {
    if (m_ended)
        return;
    if (!m_graph)
        m_graph = new CBandwidthGraphDlg(m_parts.core.session().bandwidthLog(),
                                         m_parts.core.inForce(), this);
    m_graph->show();
    m_graph->raise();
    m_graph->activateWindow();
}

void CTestDrvDlg::setStatusText(const std::string& text) {
    m_panes->setStatusText(qs(text));
}

void CTestDrvDlg::programEnding() {
    m_tray->remove();
    m_commandPage->closeAtExit();
}

// -- MainDialogLink -------------------------------------------------------------------

void CTestDrvDlg::showPage(int pageId) {
    if (QWidget* p = page(pageId))
        m_tabs->setCurrentWidget(p);
}

QWidget* CTestDrvDlg::page(int pageId) const {
    switch (pageId) {
    case kPageFilter: return m_filterPage;
    case kPageDynamicFilter: return m_dynamicPage;
    case kPageTcpConnection: return m_connectionPage;
    case kPagePacketMonitor: return m_packetPage;
    case kPageExternalCommand: return m_commandPage;
    default: return nullptr;
    }
}

void CTestDrvDlg::runExternalCommand(const std::string& commandLine) {
    showPage(kPageExternalCommand);
    m_commandPage->run(commandLine);
}

} // namespace tavrin::ui
