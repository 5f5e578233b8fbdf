// The TCP connection monitor page: the machine's TCP connections with bandwidth,
// endpoints, host name, state, duration and owner, sorted by a header click and
// filtered by two check boxes, redrawn in place once a second; and what can be done
// with one: a filter made from it, its address or host name copied, the connection
// cut, an external command run on it.
#pragma once

#include "ConnectionModel.h"
#include "PacketFilter.h"
#include "PageContext.h"

#include <QWidget>

#include <functional>
#include <map>
#include <string>

class QAction;
class QCheckBox;
class QTableView;

namespace tavrin::ui {

class ColumnLayout;

// The page's commands, by their old command ids.
inline constexpr int kCommandFilterFromProcess = 155;
inline constexpr int kCommandFilterFromAddress = 156;
inline constexpr int kCommandCopyRemoteAddress = 165;
inline constexpr int kCommandCopyRemoteHost = 167;
inline constexpr int kCommandCutConnection = 168;

class CTabTcpConnection final : public QWidget {
    Q_OBJECT
public:
    // The main window's way to add a filter made here: opens the filter edit dialog
    // on it as a new filter and, on OK, appends the dialog's filter to the filter
    // list and puts the list in force. True when the user left the dialog with OK.
    using NewFilterHandler = std::function<bool(const PacketFilter& filter)>;

    CTabTcpConnection(PageContext context, QWidget* parent = nullptr);

    // After each connection refresh (force off), or for the page's own needs (force
    // on: drawn even while drawing is stopped).
    void redraw(bool force);

    // The two commands that make a filter are enabled once there is a handler.
    void setNewFilterHandler(NewFilterHandler handler);

    QAction* action(int commandId) const;
    QTableView* list() const { return m_list; }
    ConnectionModel* model() const { return m_model; }
    QCheckBox* activeOnlyBox() const { return m_activeOnlyBox; }
    QCheckBox* listeningBox() const { return m_listeningBox; }
    QCheckBox* stopBox() const { return m_stopBox; }
    int sortColumn() const { return m_sortColumn; }
    bool ascending() const { return m_ascending; }
    bool drawingStopped() const { return m_stopped; }

private:
    // The row a menu or double-click acts on, copied: it stays valid through the
    // redraws that may come before the command runs.
    struct ContextRow {
        TcpConnection record;
        std::string processPath;
        std::string processName;
    };

    void createActions();
    void updateCommands();
    bool takeSelectedRow();
    void showContextMenu(const QPoint& position);
    void filterFromAddress();
    void filterFromProcess();
    void addNewFilter(const PacketFilter& filter);
    void copyRemoteAddress();
    void copyRemoteHost();
    void cutConnection();
    void runExternalCommand(int n);

    PageContext m_context;
    QCheckBox* m_activeOnlyBox;
    QCheckBox* m_listeningBox;
    QCheckBox* m_stopBox;
    QTableView* m_list;
    ConnectionModel* m_model;
    ColumnLayout* m_columns;
    std::map<int, QAction*> m_actions;
    NewFilterHandler m_newFilter;
    ContextRow m_contextRow;
    int m_sortColumn = kConnLocalPort;
    bool m_ascending = true;
    bool m_stopped = false;
};

} // namespace tavrin::ui
