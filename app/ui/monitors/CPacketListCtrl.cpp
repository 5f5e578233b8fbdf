#include "CPacketListCtrl.h"

#include "ColumnLayout.h"
#include "ExternalCommandIni.h"
#include "ExternalCommandMenu.h"
#include "IniFileObject.h"
#include "PageContext.h"

#include <QHeaderView>
#include <QMenu>

namespace tavrin::ui {

CPacketListCtrl::CPacketListCtrl(PacketListKind kind, settings::ColumnList columns,
                                 settings::IniFileObject& settings,
                                 const commands::ExternalCommandIni& commands,
                                 MainDialogLink& dialog, QWidget* parent)
    : QTableView(parent), m_settings(settings), m_commands(commands), m_dialog(dialog),
      m_model(new PacketListModel(kind, this)) {
    setModel(m_model);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setWordWrap(false);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setContextMenuPolicy(Qt::CustomContextMenu);
    verticalHeader()->hide();
    // One height for every row: nothing is measured per row, however many there are.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setSectionsMovable(true);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    std::vector<QString> widest;
    for (int c = 0; c < packetColumnCount(kind); ++c)
        widest.push_back(QString::fromUtf8(kPacketHeadings[static_cast<size_t>(c)].widest));
    m_columns = new ColumnLayout(horizontalHeader(), settings, columns, std::move(widest), this);
    m_columns->applyFromSettings();
    connect(this, &QTableView::customContextMenuRequested, this, &CPacketListCtrl::showContextMenu);
}

CPacketListCtrl::~CPacketListCtrl() = default;

size_t CPacketListCtrl::limit() const {
    const int32_t n = m_settings.GetMaxPacketCaptureNum();
    return n > 0 ? static_cast<size_t>(n) : 0;
}

void CPacketListCtrl::addPacket(const PacketRef& packet, bool drawNow) {
    const size_t n = limit();
    PacketListEntry entry{m_nextNumber++, packet};
    if (drawNow) {
        m_drawn.push_front(entry);
        if (m_drawn.size() > n)
            m_drawn.pop_back();
        if (!m_flushQueued) {
            m_flushQueued = true;
            QMetaObject::invokeMethod(this, &CPacketListCtrl::flushDrawn, Qt::QueuedConnection);
        }
    } else {
        m_dirty = true;
    }
    m_store.push_front(std::move(entry));
    while (m_store.size() > n)
        m_store.pop_back();
}

void CPacketListCtrl::flushDrawn() {
    m_flushQueued = false;
    if (m_drawn.empty())
        return;
    m_model->prepend(m_drawn, limit());
    m_drawn.clear();
}

void CPacketListCtrl::refresh() {
    // What was waiting to be drawn is in the store too.
    m_drawn.clear();
    m_model->showNewest(m_store, limit());
    m_dirty = false;
}

void CPacketListCtrl::setPaused(bool paused) {
    if (paused == m_paused)
        return;
    if (paused)
        flushDrawn(); // drawn before the pause: shown before the rows hold still
    m_paused = paused;
    if (!paused && m_dirty)
        refresh();
}

void CPacketListCtrl::showContextMenu(const QPoint& position) {
    QModelIndex index = indexAt(position);
    if (!index.isValid() && selectionModel()->isSelected(currentIndex()))
        index = currentIndex();
    if (!index.isValid())
        return;
    // Taken before the pause, which may still put rows drawn meanwhile on top.
    m_menuPacket = m_model->rows()[static_cast<size_t>(index.row())].packet;
    QMenu menu(this);
    addExternalCommandMenu(
        &menu, m_commands, commands::kTargetPacketMonitor, [this, packet = m_menuPacket](int n) {
            QMetaObject::invokeMethod(
                this, [this, n, packet] { runExternalCommand(n, packet); }, Qt::QueuedConnection);
        });
    emit menuOpening();
    menu.exec(viewport()->mapToGlobal(position));
    emit menuClosed();
}

void CPacketListCtrl::runExternalCommand(int n, const PacketRef& packet) {
    const commands::ExternalCommand* command =
        m_commands.menuCommand(commands::kTargetPacketMonitor, n);
    if (!command || !packet)
        return;
    m_dialog.runExternalCommand(
        commands::fillRow(command->commandLine, packetPlaceholders(*packet)));
}

CTcpPacketListCtrl::CTcpPacketListCtrl(settings::IniFileObject& settings,
                                       const commands::ExternalCommandIni& commands,
                                       MainDialogLink& dialog, QWidget* parent)
    : CPacketListCtrl(PacketListKind::Tcp, settings::ColumnList::TcpPacket, settings, commands,
                      dialog, parent) {}

CUdpPacketListCtrl::CUdpPacketListCtrl(settings::IniFileObject& settings,
                                       const commands::ExternalCommandIni& commands,
                                       MainDialogLink& dialog, QWidget* parent)
    : CPacketListCtrl(PacketListKind::Udp, settings::ColumnList::UdpPacket, settings, commands,
                      dialog, parent) {}

} // namespace tavrin::ui
