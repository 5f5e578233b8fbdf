#include "CTabPacketMonitor.h"

#include "ApplicationCore.h"
#include "CPacketListCtrl.h"
#include "ColumnLayout.h"
#include "TextConversion.h"

#include <boost/make_shared.hpp>

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QTabWidget>
#include <QVBoxLayout>

#include <ctime>

namespace tavrin::ui {

namespace {

constexpr char kNoFilterTab[] = "非フィルタ";
constexpr char kAllTab[] = "全て";
constexpr char kNoFilterDescription[] = "フィルタに適合しなかったパケット";
constexpr char kAllDescription[] = "全てのパケット";

std::string filterDescription(int position, const PacketFilter& filter) {
    std::string text = "No." + std::to_string(position) + " " + filter.filterName.str() + " " +
                       filter.GetDescription();
    const bool drops = filter.drop != 0 && filter.dropSynOnly == 0;
    text += drops ? " で遮断されたパケット" : " を通過したパケット";
    return text;
}

} // namespace

CTabPacketMonitor::CTabPacketMonitor(PageContext context, QWidget* parent)
    : QWidget(parent), m_context(context) {
    setObjectName(QStringLiteral("page172"));
    m_description = new QLabel(this);
    m_description->setWordWrap(true);
    m_description->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_stopBox = new QCheckBox(QStringLiteral("描画を停止"), this);
    m_tabs = new QTabWidget(this);
    m_tabs->setAccessibleName(QStringLiteral("パケットの一覧"));
    m_tabs->setUsesScrollButtons(true);
    m_tabs->setDocumentMode(true);

    auto* top = new QHBoxLayout;
    top->addWidget(m_description, 1);
    top->addWidget(m_stopBox, 0, Qt::AlignTop);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(5, 5, 5, 5);
    layout->addLayout(top);
    layout->addWidget(m_tabs, 1);

    connect(m_stopBox, &QCheckBox::clicked, this, [this](bool on) { setPaused(on); });
    connect(m_tabs, &QTabWidget::currentChanged, this, &CTabPacketMonitor::showDescription);
    build();
}

CPacketListCtrl* CTabPacketMonitor::makeList(bool udp) {
    settings::IniFileObject& settings = m_context.core.edited();
    CPacketListCtrl* list =
        udp ? static_cast<CPacketListCtrl*>(
                  new CUdpPacketListCtrl(settings, m_context.commands, m_context.dialog))
            : new CTcpPacketListCtrl(settings, m_context.commands, m_context.dialog);
    list->setPaused(m_paused);
    connect(list->columns(), &ColumnLayout::widthStored, this,
            [this, list](int column, int width) { columnWidthStored(list, column, width); });
    connect(list->columns(), &ColumnLayout::orderStored, this,
            [this, list] { columnOrderStored(list); });
    // The menu's pause: the box in its third state, unless drawing was paused already.
    connect(list, &CPacketListCtrl::menuOpening, this, [this] {
        if (m_stopBox->checkState() != Qt::Unchecked)
            return;
        m_stopBox->setCheckState(Qt::PartiallyChecked);
        setPaused(true);
    });
    connect(list, &CPacketListCtrl::menuClosed, this, [this] {
        if (m_stopBox->checkState() != Qt::PartiallyChecked)
            return;
        m_stopBox->setCheckState(Qt::Unchecked);
        m_stopBox->setTristate(false);
        setPaused(false);
    });
    return list;
}

void CTabPacketMonitor::build() {
    // A list may be busy with its menu when a rebuild comes: it goes once that is
    // over, and still tells the page that its menu closed.
    {
        const QSignalBlocker block(m_tabs);
        m_tabs->clear();
    }
    for (CPacketListCtrl* list : m_lists) {
        list->hide();
        list->deleteLater();
    }
    m_lists.clear();
    m_descriptions.clear();

    int position = 0;
    for (const auto& filter : m_context.core.inForce().PacketFilters()) {
        ++position;
        if (filter->available != 1)
            continue;
        CPacketListCtrl* list = makeList(filter->protocol == ovlank::kProtocolUdp);
        addList(list, qs("No." + std::to_string(position) + " " + filter->filterName.str()),
                filterDescription(position, *filter));
    }
    m_noFilterIndex = static_cast<int>(m_lists.size());
    addList(makeList(false), QString::fromUtf8(kNoFilterTab), kNoFilterDescription);
    m_allIndex = static_cast<int>(m_lists.size());
    addList(makeList(false), QString::fromUtf8(kAllTab), kAllDescription);

    m_tabs->setCurrentIndex(0);
    showDescription(0);
}

void CTabPacketMonitor::addList(CPacketListCtrl* list, const QString& caption,
                                std::string description) {
    // A screen reader names a list by its tab, as the eye does.
    list->setAccessibleName(caption);
    list->setAccessibleDescription(qs(description));
    m_lists.push_back(list);
    m_descriptions.push_back(std::move(description));
    m_tabs->addTab(list, caption);
}

void CTabPacketMonitor::showDescription(int tab) {
    if (tab < 0 || tab >= static_cast<int>(m_descriptions.size())) {
        m_description->clear();
        return;
    }
    m_description->setText(qs(m_descriptions[static_cast<size_t>(tab)]));
}

void CTabPacketMonitor::rulesReloaded() {
    build();
}

void CTabPacketMonitor::addPacket(const ovlank::CaptureEntry& entry, bool noRedraw) {
    if (m_lists.empty())
        return;
    const PacketRef packet =
        boost::make_shared<const PacketInfo>(PacketInfo::fromEntry(entry, std::time(nullptr)));
    const bool drawNow = !noRedraw && !m_paused;
    m_lists[static_cast<size_t>(m_allIndex)]->addPacket(packet, drawNow);
    // A rule index that names no list (past the lists made for the filters) is only
    // in "全て".
    if (entry.ruleIndex == -1)
        m_lists[static_cast<size_t>(m_noFilterIndex)]->addPacket(packet, drawNow);
    else if (entry.ruleIndex >= 0 && entry.ruleIndex < m_noFilterIndex)
        m_lists[static_cast<size_t>(entry.ruleIndex)]->addPacket(packet, drawNow);
}

void CTabPacketMonitor::redrawList() {
    if (m_paused)
        return;
    for (CPacketListCtrl* list : m_lists)
        if (list->dirty())
            list->refresh();
}

void CTabPacketMonitor::setPaused(bool paused) {
    m_paused = paused;
    for (CPacketListCtrl* list : m_lists)
        list->setPaused(paused);
}

void CTabPacketMonitor::columnWidthStored(CPacketListCtrl* from, int column, int width) {
    for (CPacketListCtrl* list : m_lists)
        if (list != from && list->kind() == from->kind())
            list->columns()->applyWidth(column, width);
}

void CTabPacketMonitor::columnOrderStored(CPacketListCtrl* from) {
    for (CPacketListCtrl* list : m_lists)
        if (list != from && list->kind() == from->kind())
            list->columns()->applyOrder();
}

} // namespace tavrin::ui
