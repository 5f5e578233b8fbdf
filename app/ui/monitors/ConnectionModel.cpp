#include "ConnectionModel.h"

#include "ColumnHeadingData.h"
#include "TextConversion.h"

#include <cstring>

namespace tavrin::ui {

namespace {

// A connection's identity: its two endpoints.
struct Key {
    uint64_t local;
    uint64_t remote;
    bool operator==(const Key&) const = default;
};

struct KeyHash {
    size_t operator()(const Key& k) const {
        uint64_t h = k.local * 0x9E3779B97F4A7C15ull;
        h ^= k.remote + 0x7F4A7C159E3779B9ull + (h << 6) + (h >> 2);
        return static_cast<size_t>(h ^ (h >> 31));
    }
};

Key keyOf(const TcpConnection& c) {
    return {uint64_t{c.localAddr} << 32 | (c.localPort & 0xFFFFu),
            uint64_t{c.remoteAddr} << 32 | (c.remotePort & 0xFFFFu)};
}

const std::string kNoText;
const ProcessNames kNoProcess;

bool sameTexts(const ConnectionRow& a, const ConnectionRow& b) {
    const std::string& hostA = a.host ? *a.host : kNoText;
    const std::string& hostB = b.host ? *b.host : kNoText;
    const ProcessNames& processA = a.process ? *a.process : kNoProcess;
    const ProcessNames& processB = b.process ? *b.process : kNoProcess;
    return std::memcmp(&a.record, &b.record, sizeof(TcpConnection)) == 0 && hostA == hostB &&
           processA.path == processB.path && processA.name == processB.name;
}

} // namespace

ConnectionNames ConnectionRow::names() const {
    return {host ? std::string_view(*host) : std::string_view(),
            process ? std::string_view(process->path) : std::string_view(),
            process ? std::string_view(process->name) : std::string_view()};
}

ConnectionModel::ConnectionModel(QObject* parent) : QAbstractTableModel(parent) {}

int ConnectionModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int ConnectionModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kConnColumnCount;
}

QString ConnectionModel::text(int r, int column) const {
    const ConnectionRow& row = m_rows[static_cast<size_t>(r)];
    return qs(connectionCellText(row.record, column, row.names()));
}

QVariant ConnectionModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= kConnColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return text(index.row(), index.column());
    if (role == Qt::TextAlignmentRole)
        return columnAlignment(kConnectionHeadings[static_cast<size_t>(index.column())]);
    return {};
}

QVariant ConnectionModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kConnColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    // A heading clicked for the first time sorts ascending; clicked again, it flips.
    if (role == Qt::InitialSortOrderRole)
        return QVariant::fromValue(Qt::AscendingOrder);
    return headingData(kConnectionHeadings[static_cast<size_t>(section)], role);
}

void ConnectionModel::update(std::vector<ConnectionRow> rows,
                             std::shared_ptr<const ConnectionNameTable> names) {
    std::unordered_map<Key, int, KeyHash> wanted;
    wanted.reserve(rows.size());
    for (size_t i = 0; i < rows.size(); ++i)
        wanted.emplace(keyOf(rows[i].record), static_cast<int>(i));

    // Rows that went, from the bottom up, a block at a time.
    for (int last = static_cast<int>(m_rows.size()) - 1; last >= 0;) {
        if (wanted.count(keyOf(m_rows[static_cast<size_t>(last)].record))) {
            --last;
            continue;
        }
        int first = last;
        while (first > 0 && !wanted.count(keyOf(m_rows[static_cast<size_t>(first - 1)].record)))
            --first;
        beginRemoveRows({}, first, last);
        m_rows.erase(m_rows.begin() + first, m_rows.begin() + last + 1);
        endRemoveRows();
        last = first - 1;
    }

    bool ordered = true;
    for (int previous = -1; const ConnectionRow& row : m_rows) {
        const int at = wanted.at(keyOf(row.record));
        if (at < previous) {
            ordered = false;
            break;
        }
        previous = at;
    }

    if (ordered) {
        // The rows that stay keep their order: new ones go in where they belong.
        size_t j = 0;
        for (size_t i = 0; i < rows.size();) {
            if (j < m_rows.size() && keyOf(m_rows[j].record) == keyOf(rows[i].record)) {
                ++i;
                ++j;
                continue;
            }
            size_t k = i;
            while (k < rows.size() &&
                   !(j < m_rows.size() && keyOf(m_rows[j].record) == keyOf(rows[k].record)))
                ++k;
            beginInsertRows({}, static_cast<int>(j), static_cast<int>(j + (k - i) - 1));
            m_rows.insert(m_rows.begin() + static_cast<ptrdiff_t>(j),
                          rows.begin() + static_cast<ptrdiff_t>(i),
                          rows.begin() + static_cast<ptrdiff_t>(k));
            endInsertRows();
            j += k - i;
            i = k;
        }
        // Now row for row the same connections: report those drawn differently.
        std::vector<std::pair<int, int>> changed;
        for (size_t i = 0; i < rows.size(); ++i) {
            if (sameTexts(m_rows[i], rows[i]))
                continue;
            if (!changed.empty() && changed.back().second == static_cast<int>(i) - 1)
                changed.back().second = static_cast<int>(i);
            else
                changed.emplace_back(static_cast<int>(i), static_cast<int>(i));
        }
        m_rows = std::move(rows);
        m_names = std::move(names);
        for (const auto& [first, last] : changed)
            emit dataChanged(index(first, 0), index(last, kConnColumnCount - 1));
        return;
    }

    // A new order: the new rows join at the end, then one layout change sorts
    // everything, the selection and current row carried to their connections.
    std::vector<ConnectionRow> added;
    {
        std::unordered_map<Key, bool, KeyHash> present;
        present.reserve(m_rows.size());
        for (const ConnectionRow& row : m_rows)
            present.emplace(keyOf(row.record), true);
        for (const ConnectionRow& row : rows)
            if (!present.count(keyOf(row.record)))
                added.push_back(row);
    }
    if (!added.empty()) {
        const int first = static_cast<int>(m_rows.size());
        beginInsertRows({}, first, first + static_cast<int>(added.size()) - 1);
        m_rows.insert(m_rows.end(), added.begin(), added.end());
        endInsertRows();
    }
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& i : from) {
        const int at = wanted.at(keyOf(m_rows[static_cast<size_t>(i.row())].record));
        to.append(index(at, i.column()));
    }
    m_rows = std::move(rows);
    m_names = std::move(names);
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

} // namespace tavrin::ui
