// The connection monitor's rows: the connections shown, in display order, each with
// the names it was drawn with. Once a second the page hands in the new rows and the
// model turns the difference into its signals: rows that went are removed, new ones
// inserted, changed ones reported, and a new order is one layout change that carries
// the selection along. Never a reset.
#pragma once

#include "ConnectionColumns.h"
#include "TcpConnection.h"

#include <QAbstractTableModel>

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace tavrin::ui {

struct ProcessNames {
    std::string path;
    std::string name;
};

// The names of one redraw: host names by remote address, process texts by id.
struct ConnectionNameTable {
    std::unordered_map<uint32_t, std::string> hosts;
    std::unordered_map<int32_t, ProcessNames> processes;
};

struct ConnectionRow {
    TcpConnection record;
    const std::string* host = nullptr;     // in the row's name table
    const ProcessNames* process = nullptr; // likewise

    ConnectionNames names() const;
};

class ConnectionModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ConnectionModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The new rows in display order, their pointers into `names`.
    void update(std::vector<ConnectionRow> rows, std::shared_ptr<const ConnectionNameTable> names);

    const ConnectionRow& row(int r) const { return m_rows[static_cast<size_t>(r)]; }
    const std::vector<ConnectionRow>& rows() const { return m_rows; }
    QString text(int r, int column) const;

private:
    std::vector<ConnectionRow> m_rows;
    std::shared_ptr<const ConnectionNameTable> m_names;
};

} // namespace tavrin::ui
