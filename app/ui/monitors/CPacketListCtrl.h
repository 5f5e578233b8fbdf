// One packet list of the packet monitor: the store of the newest N packets filed
// into it, newest first, and the list that shows them. A packet is either drawn at
// once (it goes onto the top of the list) or only stored, which leaves the list
// dirty until the next refresh. The TCP kind shows 14 columns, the UDP kind 10.
#pragma once

#include "CommonSettings.h"
#include "PacketListModel.h"

#include <QTableView>

#include <deque>

namespace tavrin {
namespace commands {
class ExternalCommandIni;
}
namespace settings {
class IniFileObject;
}
} // namespace tavrin

namespace tavrin::ui {

class ColumnLayout;
class MainDialogLink;

class CPacketListCtrl : public QTableView {
    Q_OBJECT
public:
    ~CPacketListCtrl() override;

    // Files one packet: numbered, stored, and with `drawNow` put on top of the
    // list. The list hears of the rows drawn in one turn of the event loop at once
    // (one insertion on top, one removal at the bottom), so that a full capture
    // ring does not cost thousands of updates of the view.
    void addPacket(const PacketRef& packet, bool drawNow);
    // A dirty list shows the newest N stored packets.
    void refresh();
    // Paused, the rows hold still: they are the snapshot the right-click menu uses.
    void setPaused(bool paused);

    bool dirty() const { return m_dirty; }
    const std::deque<PacketListEntry>& store() const { return m_store; }
    // What the rows show, newest first: while paused, the packets of that moment.
    const std::deque<PacketListEntry>& snapshot() const { return m_model->rows(); }
    PacketListModel* packetModel() const { return m_model; }
    ColumnLayout* columns() const { return m_columns; }
    PacketListKind kind() const { return m_model->kind(); }
    size_t limit() const; // N

signals:
    // Around the right-click menu: the page pauses drawing while it is open.
    void menuOpening();
    void menuClosed();

protected:
    CPacketListCtrl(PacketListKind kind, settings::ColumnList columns,
                    settings::IniFileObject& settings, const commands::ExternalCommandIni& commands,
                    MainDialogLink& dialog, QWidget* parent);

private:
    void flushDrawn();
    void showContextMenu(const QPoint& position);
    void runExternalCommand(int n, const PacketRef& packet);

    settings::IniFileObject& m_settings;
    const commands::ExternalCommandIni& m_commands;
    MainDialogLink& m_dialog;
    PacketListModel* m_model;
    ColumnLayout* m_columns;
    std::deque<PacketListEntry> m_store;
    std::deque<PacketListEntry> m_drawn; // drawn, not yet told to the view
    bool m_flushQueued = false;
    bool m_dirty = false;
    bool m_paused = false;
    uint32_t m_nextNumber = 1;
    PacketRef m_menuPacket;
};

class CTcpPacketListCtrl final : public CPacketListCtrl {
    Q_OBJECT
public:
    CTcpPacketListCtrl(settings::IniFileObject& settings,
                       const commands::ExternalCommandIni& commands, MainDialogLink& dialog,
                       QWidget* parent = nullptr);
};

class CUdpPacketListCtrl final : public CPacketListCtrl {
    Q_OBJECT
public:
    CUdpPacketListCtrl(settings::IniFileObject& settings,
                       const commands::ExternalCommandIni& commands, MainDialogLink& dialog,
                       QWidget* parent = nullptr);
};

} // namespace tavrin::ui
