// A list's column widths and order, read from the settings being edited and stored
// back: a width 30 ms after the user stopped resizing its column, the order 30 ms
// after a column was dragged to a new place.
#pragma once

#include "CommonSettings.h"

#include <QObject>

#include <QString>

#include <set>
#include <vector>

class QHeaderView;
class QTimer;

namespace tavrin::settings {
class IniFileObject;
}

namespace tavrin::ui {

class ColumnLayout final : public QObject {
    Q_OBJECT
public:
    // `widest`: per column, the widest text it commonly shows (may be empty).
    ColumnLayout(QHeaderView* header, settings::IniFileObject& settings, settings::ColumnList list,
                 std::vector<QString> widest, QObject* parent = nullptr);

    // Widths and order as the settings hold them. A width of 0 or less takes the
    // list's default, so that no column is lost out of reach. The defaults were
    // made for a smaller font: a column still at its default is shown as wide as
    // its heading and its widest usual text (the stored value stays). An order that
    // is not a permutation of the columns is not applied.
    void applyFromSettings();
    // One column's width or the whole order, as another list of the kind got it;
    // nothing is stored and nothing is signalled.
    void applyWidth(int column, int width);
    void applyOrder();

signals:
    // After a width or the order went into the settings.
    void widthStored(int column, int width);
    void orderStored();

private:
    void storeWidths();
    void storeOrder();

    QHeaderView* m_header;
    settings::IniFileObject& m_settings;
    settings::ColumnList m_list;
    std::vector<QString> m_widest;
    QTimer* m_widthTimer;
    QTimer* m_orderTimer;
    std::set<int> m_resized;
    bool m_applying = false;
};

} // namespace tavrin::ui
