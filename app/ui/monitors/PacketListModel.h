// The rows of one packet list, newest first: each a running number and the shared
// packet record. Rows come in at the top and leave at the bottom through the
// model's signals, so a long list is never rewritten.
#pragma once

#include "PacketInfo.h"

#include <QAbstractTableModel>

#include <deque>

namespace tavrin::ui {

struct PacketListEntry {
    uint32_t number = 0;
    PacketRef packet;
};

class PacketListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    PacketListModel(PacketListKind kind, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // `entries` (newest first) go on top; then rows past `limit` leave the bottom.
    void prepend(const std::deque<PacketListEntry>& entries, size_t limit);
    // The rows become the first min(store size, limit) entries of `store` (newest
    // first): the entries the rows lack are inserted on top, and only when the rows
    // are no part of the store any more are they all replaced.
    void showNewest(const std::deque<PacketListEntry>& store, size_t limit);

    const std::deque<PacketListEntry>& rows() const { return m_rows; }
    PacketListKind kind() const { return m_kind; }
    QString text(int row, int column) const;

private:
    void trimTo(size_t limit);
    void insertTop(std::deque<PacketListEntry>::const_iterator first,
                   std::deque<PacketListEntry>::const_iterator last);

    PacketListKind m_kind;
    std::deque<PacketListEntry> m_rows;
};

} // namespace tavrin::ui
