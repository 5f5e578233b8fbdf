// The command page's list: the names of the store's commands in store order, each
// with its command line as tooltip.
#pragma once

#include <QAbstractListModel>

namespace tavrin::commands {
class ExternalCommandIni;
}

namespace tavrin::ui {

class CommandListModel final : public QAbstractListModel {
    Q_OBJECT
public:
    explicit CommandListModel(const commands::ExternalCommandIni& store, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // The store changed: every row again (its size may have changed too).
    void refill();

private:
    const commands::ExternalCommandIni& m_store;
};

} // namespace tavrin::ui
