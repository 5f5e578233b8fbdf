// The main window: the filtering buttons and check boxes, the five tab pages, the
// menus, the status bar and the tray icon. It is the core's view: the core decides,
// this shows, asks through the messages interface and runs the timers.
#pragma once

#include "ApplicationCore.h"
#include "CoreView.h"
#include "PageContext.h"

#include <QMainWindow>

#include <functional>
#include <map>

class QAction;
class QCheckBox;
class QMenu;
class QPushButton;
class QTabWidget;
class QTimer;

namespace tavrin::ui {

class CBandwidthGraphDlg;
class CTabDynamicFilter;
class CTabExternalCommand;
class CTabMainFilter;
class CTabPacketMonitor;
class CTabTcpConnection;
class DesktopOpener;
class StatusPanes;
class TrayIcon;

// The main dialog's commands, by their old command ids.
inline constexpr int kCommandStart = 1000;
inline constexpr int kCommandStop = 1001;
inline constexpr int kCommandSave = 57603;
inline constexpr int kCommandExit = 57665;
inline constexpr int kCommandOptions = 144;
inline constexpr int kCommandOpen = 135;
inline constexpr int kCommandAbout = 16;
inline constexpr int kCommandReadMe = 32775;
inline constexpr int kCommandHomePage = 169;

struct DialogParts {
    core::ApplicationCore& core;
    NetworkInfo& network;
    AdapterList& adapters;
    commands::ExternalCommandIni& commands;
    Messages& messages;
    // Whether a system tray is there; the system's answer when empty.
    std::function<bool()> trayAvailable = {};
};

class CTestDrvDlg final : public QMainWindow, public core::CoreView, public MainDialogLink {
    Q_OBJECT
public:
    explicit CTestDrvDlg(DialogParts parts, QWidget* parent = nullptr);
    ~CTestDrvDlg() override;

    // The dialog's initialisation, once the core is set up: the window's place, the
    // status bar texts, the tray icon, the session (and filtering under STARTUP_ON),
    // the timers, and the window shown unless it starts minimised.
    void initialise();

    // Brings the window back from the tray or the task bar and to the front.
    void restoreWindow();
    // Minimises: into the tray when an icon shows there, else onto the task bar.
    void minimiseWindow();
    // The exit path as the exit command runs it. True when the program ends.
    bool exitCommand();
    // The exit path without questions (a signal, the desktop session ending). A
    // second call after a failed save leaves without saving. True when it ends.
    bool leaveUnattended();

    bool ended() const { return m_ended; }
    bool startingHidden() const { return m_startHidden; }
    QAction* action(int commandId) const;
    QMenu* trayMenu() const { return m_trayMenu; }
    TrayIcon& tray() const { return *m_tray; }
    StatusPanes& panes() const { return *m_panes; }
    QTabWidget* tabs() const { return m_tabs; }
    // The bandwidth graph, opened by a click on the UP or DOWN pane; nullptr until then.
    void openBandwidthGraph();
    CBandwidthGraphDlg* bandwidthGraph() const { return m_graph; }
    bool timerRunning(int timerId) const;

    // CoreView
    void sessionTimers(bool running, std::chrono::milliseconds period) override;
    void setPaneText(int pane, const std::string& text) override;
    void endProgram() override;
    void filteringChanged(bool filtering) override;
    void rulesReloaded() override;
    void packetCaptured(const ovlank::CaptureEntry& entry, bool noRedraw) override;
    void redrawPacketList() override;
    void refreshConnectionPage() override;
    void refreshFilterBandwidth(const std::vector<int32_t>& overriddenRules) override;
    void bandwidthRecorded() override;
    void programEnding() override;
    void setStatusText(const std::string& text) override;

    // MainDialogLink
    void showPage(int pageId) override;
    QWidget* page(int pageId) const override;
    bool windowHidden() const override { return m_hidden; }
    void runExternalCommand(const std::string& commandLine) override;

signals:
    // The exit path ran to its end: the program may quit.
    void programEnded();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void createActions();
    void createMenus();
    QWidget* createCentralArea();
    void startTimer(int id, std::chrono::milliseconds period, void (CTestDrvDlg::*tick)());
    void stopTimer(int id);
    void placeWindow();
    void storeWindowRect();
    void setHidden(bool hidden);
    void updateCommands();
    void updateTray();
    void openOptions();
    void openAbout();

    // Timer ticks.
    void drainTick();
    void readTick();
    void secondTick();
    void connectionTick();
    void addressTick();

    DialogParts m_parts;
    PageContext m_context;
    std::map<int, QAction*> m_actions;
    std::map<int, QTimer*> m_timers;
    QMenu* m_trayMenu = nullptr;
    QAction* m_trayExitAction = nullptr;
    TrayIcon* m_tray = nullptr;
    StatusPanes* m_panes = nullptr;
    DesktopOpener* m_opener = nullptr;
    QTabWidget* m_tabs = nullptr;
    QPushButton* m_startButton = nullptr;
    QPushButton* m_stopButton = nullptr;
    QCheckBox* m_monitorBox = nullptr;
    QCheckBox* m_dynamicBox = nullptr;
    CTabMainFilter* m_filterPage = nullptr;
    CTabDynamicFilter* m_dynamicPage = nullptr;
    CTabTcpConnection* m_connectionPage = nullptr;
    CTabPacketMonitor* m_packetPage = nullptr;
    CTabExternalCommand* m_commandPage = nullptr;
    CBandwidthGraphDlg* m_graph = nullptr;

    bool m_initialised = false;
    bool m_hidden = false;
    bool m_startHidden = false;
    bool m_ended = false;
    bool m_leaveWithoutSaving = false;
};

} // namespace tavrin::ui
