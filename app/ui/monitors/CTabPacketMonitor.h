// The packet monitor page: the captured packets filed by the filter that matched
// them, one list per enabled filter, then "非フィルタ" (matched none) and "全て" (all
// packets), each keeping the newest N.
#pragma once

#include "OvlankProtocol.h"
#include "PageContext.h"

#include <QWidget>

#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QTabWidget;

namespace tavrin::ui {

class CPacketListCtrl;

class CTabPacketMonitor final : public QWidget {
    Q_OBJECT
public:
    CTabPacketMonitor(PageContext context, QWidget* parent = nullptr);

    // The daemon's rules were loaded afresh: the lists are built again from the
    // filters in force and start over.
    void rulesReloaded();
    // One captured packet; with `noRedraw` it is only filed.
    void addPacket(const ovlank::CaptureEntry& entry, bool noRedraw);
    // Every dirty list drawn from its store, unless drawing is paused.
    void redrawList();

    int listCount() const { return static_cast<int>(m_lists.size()); }
    CPacketListCtrl* list(int i) const { return m_lists.at(static_cast<size_t>(i)); }
    int noFilterIndex() const { return m_noFilterIndex; }
    int allIndex() const { return m_allIndex; }
    QTabWidget* tabs() const { return m_tabs; }
    QLabel* description() const { return m_description; }
    QCheckBox* stopBox() const { return m_stopBox; }
    bool paused() const { return m_paused; }

private:
    void build();
    void setPaused(bool paused);
    void showDescription(int tab);
    CPacketListCtrl* makeList(bool udp);
    // One more tab: the list with its caption, and the text shown above it.
    void addList(CPacketListCtrl* list, const QString& caption, std::string description);
    void columnWidthStored(CPacketListCtrl* from, int column, int width);
    void columnOrderStored(CPacketListCtrl* from);

    PageContext m_context;
    QLabel* m_description;
    QCheckBox* m_stopBox;
    QTabWidget* m_tabs;
    std::vector<CPacketListCtrl*> m_lists;
    std::vector<std::string> m_descriptions; // by tab
    int m_noFilterIndex = -1;
    int m_allIndex = -1;
    bool m_paused = false;
};

} // namespace tavrin::ui
