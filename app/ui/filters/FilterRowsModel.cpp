#include "FilterRowsModel.h"

#include "ColumnHeadingData.h"
#include "Icons.h"
#include "TextConversion.h"

#include <QBrush>

namespace tavrin::ui {

FilterRowsModel::FilterRowsModel(std::span<const ColumnHeading> columns, QObject* parent)
    : QAbstractTableModel(parent), m_columns(columns.begin(), columns.end()),
      m_enabledIcon(filterEnabledIcon()), m_disabledIcon(filterDisabledIcon()) {}

void FilterRowsModel::setRows(std::vector<Row> rows) {
    const int oldCount = rowCount();
    const int newCount = static_cast<int>(rows.size());
    if (newCount < oldCount) {
        beginRemoveRows({}, newCount, oldCount - 1);
        m_rows.resize(rows.size());
        endRemoveRows();
    }
    // Rows that stay: one signal for each run of changed rows.
    const int common = std::min(oldCount, newCount);
    int runStart = -1;
    for (int r = 0; r <= common; ++r) {
        const bool changed =
            r < common && !(m_rows[static_cast<size_t>(r)] == rows[static_cast<size_t>(r)]);
        if (changed) {
            m_rows[static_cast<size_t>(r)] = rows[static_cast<size_t>(r)];
            if (runStart < 0)
                runStart = r;
        } else if (runStart >= 0) {
            emit dataChanged(index(runStart, 0), index(r - 1, columnCount() - 1));
            runStart = -1;
        }
    }
    if (newCount > oldCount) {
        beginInsertRows({}, oldCount, newCount - 1);
        for (int r = oldCount; r < newCount; ++r)
            m_rows.push_back(std::move(rows[static_cast<size_t>(r)]));
        endInsertRows();
    }
}

int FilterRowsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int FilterRowsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant FilterRowsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount())
        return {};
    const Row& row = m_rows[static_cast<size_t>(index.row())];
    const auto column = static_cast<size_t>(index.column());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return column < static_cast<size_t>(row.texts.size()) ? row.texts[index.column()]
                                                              : QString();
    case Qt::DecorationRole:
        if (column == 0)
            return row.enabled ? m_enabledIcon : m_disabledIcon;
        return {};
    case Qt::TextAlignmentRole: return columnAlignment(m_columns[column]);
    case Qt::ForegroundRole:
        if (row.overridden)
            return QBrush(kOverriddenText);
        return {};
    case Qt::BackgroundRole:
        if (row.overridden)
            return QBrush(kOverriddenBackground);
        return {};
    default: return {};
    }
}

QVariant FilterRowsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return QAbstractTableModel::headerData(section, orientation, role);
    return headingData(m_columns[static_cast<size_t>(section)], role);
}

} // namespace tavrin::ui
