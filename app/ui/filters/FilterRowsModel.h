// The table model of a filter list: one row per filter with its cell texts, the
// image of its enabled state in the first column, and the colours of a row that a
// dynamic filter acts on. Rows are replaced as a whole list; only what changed is
// announced, so the view keeps its selection and scroll position.
#pragma once

#include "FilterColumns.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QIcon>
#include <QStringList>

#include <span>
#include <vector>

namespace tavrin::ui {

// A row on which a dynamic filter acts: this text on white.
inline const QColor kOverriddenText{35, 20, 183};
inline const QColor kOverriddenBackground{255, 255, 255};

class FilterRowsModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    struct Row {
        QStringList texts;
        bool enabled = true;
        bool overridden = false;
        bool operator==(const Row&) const = default;
    };

    explicit FilterRowsModel(std::span<const ColumnHeading> columns, QObject* parent = nullptr);

    void setRows(std::vector<Row> rows);
    const Row& row(int position) const { return m_rows.at(static_cast<size_t>(position)); }
    const ColumnHeading& heading(int column) const {
        return m_columns.at(static_cast<size_t>(column));
    }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    std::vector<ColumnHeading> m_columns;
    std::vector<Row> m_rows;
    QIcon m_enabledIcon;
    QIcon m_disabledIcon;
};

} // namespace tavrin::ui
