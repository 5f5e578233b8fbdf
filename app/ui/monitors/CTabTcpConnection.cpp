#include "CTabTcpConnection.h"

#include "ApplicationCore.h"
#include "ColumnLayout.h"
#include "ExternalCommandIni.h"
#include "ExternalCommandMenu.h"
#include "FilterFromConnection.h"
#include "NetworkInfo.h"
#include "PlainText.h"
#include "TextConversion.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace tavrin::ui {

CTabTcpConnection::CTabTcpConnection(PageContext context, QWidget* parent)
    : QWidget(parent), m_context(context) {
    setObjectName(QStringLiteral("page132"));
    settings::IniFileObject& settings = m_context.core.edited();

    m_activeOnlyBox = new QCheckBox(QStringLiteral("アクティブな状態のコネクションのみ表示"), this);
    m_listeningBox = new QCheckBox(QStringLiteral("Listeningを表示"), this);
    m_stopBox = new QCheckBox(QStringLiteral("描画を停止"), this);
    m_activeOnlyBox->setChecked(settings.GetShowActiveConnectionOnly() != 0);
    m_listeningBox->setChecked(settings.GetShowListening() != 0);

    m_model = new ConnectionModel(this);
    m_list = new QTableView(this);
    m_list->setAccessibleName(QStringLiteral("TCPコネクション"));
    m_list->setModel(m_model);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setShowGrid(true);
    m_list->setWordWrap(false);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->verticalHeader()->hide();
    // One height for every row: nothing is measured per row, however many there are.
    m_list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_list->verticalHeader()->setDefaultSectionSize(m_list->fontMetrics().height() + 6);
    QHeaderView* header = m_list->horizontalHeader();
    header->setSectionsMovable(true);
    header->setSectionsClickable(true);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    header->setSortIndicatorShown(true);
    header->setSortIndicator(m_sortColumn, Qt::AscendingOrder);
    std::vector<QString> widest;
    for (const ColumnHeading& heading : kConnectionHeadings)
        widest.push_back(QString::fromUtf8(heading.widest));
    m_columns = new ColumnLayout(header, settings, settings::ColumnList::TcpConnection,
                                 std::move(widest), this);
    m_columns->applyFromSettings();

    auto* boxes = new QHBoxLayout;
    boxes->addWidget(m_activeOnlyBox);
    boxes->addSpacing(12);
    boxes->addWidget(m_listeningBox);
    boxes->addSpacing(12);
    boxes->addWidget(m_stopBox);
    boxes->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(5, 5, 5, 5);
    layout->addLayout(boxes);
    layout->addWidget(m_list, 1);

    createActions();

    connect(m_activeOnlyBox, &QCheckBox::clicked, this, [this](bool on) {
        m_context.core.edited().SetShowActiveConnectionOnly(on ? 1 : 0);
        redraw(false);
    });
    connect(m_listeningBox, &QCheckBox::clicked, this, [this](bool on) {
        m_context.core.edited().SetShowListening(on ? 1 : 0);
        redraw(false);
    });
    connect(m_stopBox, &QCheckBox::clicked, this, [this](bool on) {
        m_stopped = on;
        if (!on)
            redraw(false);
    });
    // A new column sorts ascending, the sort column again flips the direction; the
    // rows are sorted at once, with fresh data even while drawing is stopped.
    connect(header, &QHeaderView::sortIndicatorChanged, this,
            [this](int column, Qt::SortOrder order) {
                if (column == m_sortColumn && (order == Qt::AscendingOrder) == m_ascending)
                    return;
                m_sortColumn = column;
                m_ascending = order == Qt::AscendingOrder;
                redraw(true);
            });
    connect(m_list, &QTableView::customContextMenuRequested, this,
            &CTabTcpConnection::showContextMenu);
    connect(m_list, &QTableView::doubleClicked, this, [this] {
        if (m_newFilter && takeSelectedRow())
            filterFromAddress();
    });
}

void CTabTcpConnection::createActions() {
    // Queued: the command runs once the menu has closed and drawing goes on, as a
    // command chosen from a menu always did.
    auto make = [this](int id, const char* text, void (CTabTcpConnection::*run)()) {
        auto* action = new QAction(QString::fromUtf8(text), this);
        connect(action, &QAction::triggered, this, run, Qt::QueuedConnection);
        m_actions[id] = action;
    };
    make(kCommandFilterFromAddress, "このIPアドレスとポートでフィルタを新規作成(&I)...",
         &CTabTcpConnection::filterFromAddress);
    make(kCommandFilterFromProcess, "このプロセス名でフィルタを新規作成(&P)...",
         &CTabTcpConnection::filterFromProcess);
    make(kCommandCopyRemoteAddress, "リモートIPアドレスをコピー(&A)",
         &CTabTcpConnection::copyRemoteAddress);
    make(kCommandCopyRemoteHost, "リモートホスト名をコピー(&H)",
         &CTabTcpConnection::copyRemoteHost);
    make(kCommandCutConnection, "このコネクションを切断(&D)", &CTabTcpConnection::cutConnection);
    updateCommands();
}

QAction* CTabTcpConnection::action(int commandId) const {
    auto it = m_actions.find(commandId);
    return it == m_actions.end() ? nullptr : it->second;
}

void CTabTcpConnection::updateCommands() {
    m_actions[kCommandFilterFromAddress]->setEnabled(static_cast<bool>(m_newFilter));
    m_actions[kCommandFilterFromProcess]->setEnabled(static_cast<bool>(m_newFilter));
}

void CTabTcpConnection::setNewFilterHandler(NewFilterHandler handler) {
    m_newFilter = std::move(handler);
    updateCommands();
}

void CTabTcpConnection::redraw(bool force) {
    if (!force && m_stopped)
        return;
    const bool listening = m_listeningBox->isChecked();
    const bool activeOnly = m_activeOnlyBox->isChecked();
    HostNameResolver& resolver = m_context.network.resolver();
    const ProcessTable& processes = m_context.network.processTable();

    auto names = std::make_shared<ConnectionNameTable>();
    std::vector<ConnectionRow> rows;
    rows.reserve(m_context.network.connections().size());
    for (const TcpConnection& c : m_context.network.connections()) {
        if (!connectionShown(c, listening, activeOnly))
            continue;
        // Every address and process is looked up once per redraw, however many
        // rows share it; a name not known yet is queued, never waited for.
        auto [host, newHost] = names->hosts.try_emplace(c.remoteAddr);
        if (newHost) {
            host->second = resolver.lookup(c.remoteAddr);
            if (host->second.empty())
                resolver.enqueue(c.remoteAddr);
        }
        auto [process, newProcess] = names->processes.try_emplace(c.processId);
        if (newProcess) {
            process->second.path = std::string(processes.processPath(c.processId));
            process->second.name = displayNameOfPath(process->second.path);
        }
        rows.push_back({c, &host->second, &process->second});
    }
    // Stable: rows with equal keys keep the table's order, in both directions.
    const int column = m_sortColumn;
    const bool ascending = m_ascending;
    std::stable_sort(rows.begin(), rows.end(),
                     [column, ascending](const ConnectionRow& a, const ConnectionRow& b) {
                         const int order =
                             compareConnections(a.record, a.names(), b.record, b.names(), column);
                         return ascending ? order < 0 : order > 0;
                     });

    QScrollBar* vertical = m_list->verticalScrollBar();
    QScrollBar* horizontal = m_list->horizontalScrollBar();
    const int top = vertical->value();
    const int left = horizontal->value();
    m_model->update(std::move(rows), std::move(names));
    vertical->setValue(top);
    horizontal->setValue(left);
}

bool CTabTcpConnection::takeSelectedRow() {
    const QModelIndexList selected = m_list->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return false;
    const ConnectionRow& row = m_model->row(selected.first().row());
    const ConnectionNames names = row.names();
    m_contextRow = {row.record, std::string(names.processPath), std::string(names.processName)};
    return true;
}

void CTabTcpConnection::showContextMenu(const QPoint& position) {
    if (!takeSelectedRow())
        return;
    QMenu menu(this);
    menu.addAction(m_actions[kCommandFilterFromAddress]);
    menu.addAction(m_actions[kCommandFilterFromProcess]);
    menu.addSeparator();
    menu.addAction(m_actions[kCommandCopyRemoteAddress]);
    menu.addAction(m_actions[kCommandCopyRemoteHost]);
    menu.addSeparator();
    menu.addAction(m_actions[kCommandCutConnection]);
    addExternalCommandMenu(
        &menu, m_context.commands, commands::kTargetTcpConnectionMonitor, [this](int n) {
            QMetaObject::invokeMethod(
                this, [this, n] { runExternalCommand(n); }, Qt::QueuedConnection);
        });

    // The list holds still while the menu is open; the box shows it in its third
    // state unless the user had stopped drawing already.
    const bool wasStopped = m_stopped;
    m_stopped = true;
    if (!wasStopped)
        m_stopBox->setCheckState(Qt::PartiallyChecked);
    menu.exec(m_list->viewport()->mapToGlobal(position));
    if (!wasStopped) {
        m_stopBox->setCheckState(Qt::Unchecked);
        m_stopBox->setTristate(false);
        m_stopped = false;
    }
}

void CTabTcpConnection::filterFromAddress() {
    if (m_context.core.edited().PacketFilterCount() >= kMaxFilterCount) {
        m_context.messages.show(kFilterListFull);
        return;
    }
    addNewFilter(filterFromAddressAndPort(m_contextRow.record, m_context.adapters));
}

void CTabTcpConnection::filterFromProcess() {
    if (m_context.core.edited().PacketFilterCount() >= kMaxFilterCount) {
        m_context.messages.show(kFilterListFull);
        return;
    }
    ProcessFilter made = tavrin::ui::filterFromProcess(
        m_contextRow.record, m_contextRow.processName, m_context.adapters);
    if (!made.filter) {
        m_context.messages.show(made.refusal);
        return;
    }
    addNewFilter(std::move(*made.filter));
}

void CTabTcpConnection::addNewFilter(const PacketFilter& filter) {
    if (m_newFilter && m_newFilter(filter))
        m_context.dialog.showPage(kPageFilter);
}

void CTabTcpConnection::copyRemoteAddress() {
    QGuiApplication::clipboard()->setText(qs(dottedAddress(m_contextRow.record.remoteAddr)));
}

void CTabTcpConnection::copyRemoteHost() {
    const std::string name = m_context.network.resolver().lookup(m_contextRow.record.remoteAddr);
    if (!name.empty())
        QGuiApplication::clipboard()->setText(qs(name));
}

void CTabTcpConnection::cutConnection() {
    // A refusal shows only in that the connection stays in the list.
    m_context.network.cutConnection(m_contextRow.record);
    redraw(true);
}

void CTabTcpConnection::runExternalCommand(int n) {
    const commands::ExternalCommand* command =
        m_context.commands.menuCommand(commands::kTargetTcpConnectionMonitor, n);
    if (!command)
        return;
    const std::string host = m_context.network.resolver().lookup(m_contextRow.record.remoteAddr);
    const ConnectionNames names{host, m_contextRow.processPath, m_contextRow.processName};
    m_context.dialog.runExternalCommand(commands::fillRow(
        command->commandLine, connectionPlaceholders(m_contextRow.record, names)));
}

} // namespace tavrin::ui
