#include "CommandListModel.h"

#include "ExternalCommandIni.h"
#include "TextConversion.h"

namespace tavrin::ui {

CommandListModel::CommandListModel(const commands::ExternalCommandIni& store, QObject* parent)
    : QAbstractListModel(parent), m_store(store) {}

int CommandListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_store.records().size());
}

QVariant CommandListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 ||
        static_cast<size_t>(index.row()) >= m_store.records().size())
        return {};
    const commands::ExternalCommand& command = m_store.records()[static_cast<size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole: return qs(command.name);
    case Qt::ToolTipRole: return qs(command.commandLine);
    default: return {};
    }
}

void CommandListModel::refill() {
    beginResetModel();
    endResetModel();
}

} // namespace tavrin::ui
