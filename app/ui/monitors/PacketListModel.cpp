#include "PacketListModel.h"

#include "ColumnHeadingData.h"
#include "TextConversion.h"

namespace tavrin::ui {

namespace {

bool sameEntry(const PacketListEntry& a, const PacketListEntry& b) {
    return a.number == b.number && a.packet == b.packet;
}

} // namespace

PacketListModel::PacketListModel(PacketListKind kind, QObject* parent)
    : QAbstractTableModel(parent), m_kind(kind) {}

int PacketListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int PacketListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : packetColumnCount(m_kind);
}

QString PacketListModel::text(int row, int column) const {
    const PacketListEntry& entry = m_rows[static_cast<size_t>(row)];
    return qs(packetCellText(*entry.packet, entry.number, column, m_kind));
}

QVariant PacketListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount())
        return {};
    if (role == Qt::DisplayRole)
        return text(index.row(), index.column());
    if (role == Qt::TextAlignmentRole)
        return columnAlignment(kPacketHeadings[static_cast<size_t>(index.column())]);
    return {};
}

QVariant PacketListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return QAbstractTableModel::headerData(section, orientation, role);
    return headingData(kPacketHeadings[static_cast<size_t>(section)], role);
}

void PacketListModel::insertTop(std::deque<PacketListEntry>::const_iterator first,
                                std::deque<PacketListEntry>::const_iterator last) {
    if (first == last)
        return;
    beginInsertRows({}, 0, static_cast<int>(last - first) - 1);
    m_rows.insert(m_rows.begin(), first, last);
    endInsertRows();
}

void PacketListModel::trimTo(size_t limit) {
    if (m_rows.size() <= limit)
        return;
    beginRemoveRows({}, static_cast<int>(limit), static_cast<int>(m_rows.size()) - 1);
    m_rows.erase(m_rows.begin() + static_cast<ptrdiff_t>(limit), m_rows.end());
    endRemoveRows();
}

void PacketListModel::prepend(const std::deque<PacketListEntry>& entries, size_t limit) {
    const size_t take = std::min(entries.size(), limit);
    insertTop(entries.begin(), entries.begin() + static_cast<ptrdiff_t>(take));
    trimTo(limit);
}

void PacketListModel::showNewest(const std::deque<PacketListEntry>& store, size_t limit) {
    const size_t n = std::min(store.size(), limit);
    const auto storeAt = [&store](size_t i) { return store.begin() + static_cast<ptrdiff_t>(i); };
    size_t top = n; // where the shown top row stands in the store
    if (!m_rows.empty()) {
        for (size_t i = 0; i < n; ++i) {
            if (sameEntry(store[i], m_rows.front())) {
                top = i;
                break;
            }
        }
    }
    size_t matching = 0;
    if (top < n) {
        const size_t overlap = std::min(m_rows.size(), n - top);
        while (matching < overlap && sameEntry(m_rows[matching], store[top + matching]))
            ++matching;
    }
    if (matching == 0 && !m_rows.empty()) {
        // Nothing shown is among the newest any more: every row goes.
        beginRemoveRows({}, 0, static_cast<int>(m_rows.size()) - 1);
        m_rows.clear();
        endRemoveRows();
        top = 0;
    }
    insertTop(storeAt(0), storeAt(top));
    trimTo(top + matching);
    if (m_rows.size() < n) {
        const size_t from = m_rows.size();
        beginInsertRows({}, static_cast<int>(from), static_cast<int>(n) - 1);
        m_rows.insert(m_rows.end(), storeAt(from), storeAt(n));
        endInsertRows();
    }
}

} // namespace tavrin::ui
