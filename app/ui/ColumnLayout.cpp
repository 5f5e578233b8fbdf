#include "ColumnLayout.h"

#include "IniFileObject.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace tavrin::ui {

namespace {

constexpr int kStoreDelayMs = 30;
constexpr int kNarrowestColumn = 8;
// A cell's margins around its text.
constexpr int kCellPadding = 12;

} // namespace

ColumnLayout::ColumnLayout(QHeaderView* header, settings::IniFileObject& settings,
                           settings::ColumnList list, std::vector<QString> widest, QObject* parent)
    : QObject(parent), m_header(header), m_settings(settings), m_list(list),
      m_widest(std::move(widest)), m_widthTimer(new QTimer(this)), m_orderTimer(new QTimer(this)) {
    for (QTimer* timer : {m_widthTimer, m_orderTimer}) {
        timer->setSingleShot(true);
        timer->setInterval(kStoreDelayMs);
    }
    // Narrow columns a user made stay as narrow as they were stored.
    m_header->setMinimumSectionSize(kNarrowestColumn);
    connect(m_widthTimer, &QTimer::timeout, this, &ColumnLayout::storeWidths);
    connect(m_orderTimer, &QTimer::timeout, this, &ColumnLayout::storeOrder);
    connect(m_header, &QHeaderView::sectionResized, this, [this](int column, int, int) {
        if (m_applying)
            return;
        m_resized.insert(column);
        m_widthTimer->start();
    });
    connect(m_header, &QHeaderView::sectionMoved, this, [this] {
        if (!m_applying)
            m_orderTimer->start();
    });
}

void ColumnLayout::applyFromSettings() {
    const auto& info = settings::columnListInfo(m_list);
    const int count = std::min<int>(static_cast<int>(info.count), m_header->count());
    m_applying = true;
    const QFontMetrics cells = m_header->parentWidget() ? m_header->parentWidget()->fontMetrics()
                                                        : m_header->fontMetrics();
    for (int column = 0; column < count; ++column) {
        const int standard = info.defaultSizes[static_cast<size_t>(column)];
        int width = m_settings.GetColumnSize(m_list, static_cast<size_t>(column));
        if (width <= 0)
            width = standard;
        if (width == standard) {
            const auto c = static_cast<size_t>(column);
            const int text = c < m_widest.size() && !m_widest[c].isEmpty()
                                 ? cells.horizontalAdvance(m_widest[c]) + kCellPadding
                                 : 0;
            width = std::max({width, m_header->sectionSizeHint(column), text});
        }
        m_header->resizeSection(column, width);
    }
    m_applying = false;
    applyOrder();
}

void ColumnLayout::applyWidth(int column, int width) {
    m_applying = true;
    m_header->resizeSection(column, width);
    m_applying = false;
}

void ColumnLayout::applyOrder() {
    const int count = std::min<int>(static_cast<int>(settings::IniFileObject::ColumnCount(m_list)),
                                    m_header->count());
    std::vector<int> order;
    std::vector<bool> seen(static_cast<size_t>(count), false);
    for (int visual = 0; visual < count; ++visual) {
        const int column = m_settings.GetColumnOrder(m_list, static_cast<size_t>(visual));
        if (column < 0 || column >= count || seen[static_cast<size_t>(column)])
            return; // not a permutation: a hand-edited file; the order stays as it is
        seen[static_cast<size_t>(column)] = true;
        order.push_back(column);
    }
    m_applying = true;
    for (int visual = 0; visual < count; ++visual)
        m_header->moveSection(m_header->visualIndex(order[static_cast<size_t>(visual)]), visual);
    m_applying = false;
}

void ColumnLayout::storeWidths() {
    for (int column : m_resized) {
        const int width = m_header->sectionSize(column);
        m_settings.SetColumnSize(m_list, static_cast<size_t>(column), width);
        emit widthStored(column, width);
    }
    m_resized.clear();
}

void ColumnLayout::storeOrder() {
    for (int visual = 0; visual < m_header->count(); ++visual)
        m_settings.SetColumnOrder(m_list, static_cast<size_t>(visual),
                                  m_header->logicalIndex(visual));
    emit orderStored();
}

} // namespace tavrin::ui
