#include "CBandwidthGraphDlg.h"

#include "BandwidthLog.h"
#include "IniFileObject.h"
#include "TextConversion.h"

#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QListView>
#include <QPen>
#include <QStandardItemModel>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>

namespace tavrin::ui {

namespace {

constexpr int kFilterIdRole = Qt::UserRole + 1;
constexpr qint64 kShortestSpanMs = 60'000;

double kilobytes(int32_t bytes) {
    return static_cast<double>(bytes) / 1024.0;
}

} // namespace

CBandwidthGraphDlg::CBandwidthGraphDlg(const core::BandwidthLog& log,
                                       const settings::IniFileObject& filters, QWidget* parent)
    : QWidget(parent, Qt::Window), m_log(log), m_filters(filters) {
    setWindowTitle(QStringLiteral("帯域グラフ"));
    setObjectName(QStringLiteral("bandwidthGraph"));
    resize(900, 460);

    m_chart = new QChart;
    m_chart->legend()->setAlignment(Qt::AlignBottom);
    m_chart->setMargins(QMargins(4, 4, 4, 4));
    m_time = new QDateTimeAxis;
    m_time->setFormat(QStringLiteral("HH:mm:ss"));
    m_time->setTickCount(6);
    m_rate = new QValueAxis;
    m_rate->setTitleText(QStringLiteral("KB/s"));
    m_rate->setLabelFormat(QStringLiteral("%.1f"));
    m_rate->setMin(0);
    m_chart->addAxis(m_time, Qt::AlignBottom);
    m_chart->addAxis(m_rate, Qt::AlignLeft);
    auto addLine = [this](const QString& name) {
        auto* series = new QLineSeries;
        series->setName(name);
        m_chart->addSeries(series);
        series->attachAxis(m_time);
        series->attachAxis(m_rate);
        return series;
    };
    m_up = addLine(QStringLiteral("UP"));
    m_down = addLine(QStringLiteral("DOWN"));

    m_view = new QChartView(m_chart, this);
    m_view->setRenderHint(QPainter::Antialiasing);
    m_view->setAccessibleName(QStringLiteral("帯域グラフ"));
    m_view->setMinimumSize(420, 260);
    m_notMeasured = new QLabel(QString::fromUtf8(kGraphNotMeasuredText), this);
    m_notMeasured->setAlignment(Qt::AlignCenter);
    m_notMeasured->setAttribute(Qt::WA_TransparentForMouseEvents);
    QFont big = m_notMeasured->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    m_notMeasured->setFont(big);

    auto* filtersLabel = new QLabel(QStringLiteral("フィルタ(&F)"), this);
    m_filterModel = new QStandardItemModel(this);
    m_filterView = new QListView(this);
    m_filterView->setModel(m_filterModel);
    m_filterView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_filterView->setAccessibleName(QStringLiteral("グラフに加えるフィルタ"));
    m_filterView->setMinimumWidth(180);
    m_filterView->setMaximumWidth(260);
    filtersLabel->setBuddy(m_filterView);

    auto* graph = new QGridLayout;
    graph->addWidget(m_view, 0, 0);
    graph->addWidget(m_notMeasured, 0, 0, Qt::AlignCenter);
    auto* side = new QVBoxLayout;
    side->addWidget(filtersLabel);
    side->addWidget(m_filterView, 1);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(graph, 1);
    layout->addLayout(side);

    connect(m_filterModel, &QStandardItemModel::itemChanged, this,
            &CBandwidthGraphDlg::filterItemChanged);
    updateFilterList();
    redraw();
}

CBandwidthGraphDlg::~CBandwidthGraphDlg() = default;

void CBandwidthGraphDlg::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh();
}

void CBandwidthGraphDlg::refresh() {
    updateFilterList();
    // A closed window costs nothing: it draws when it is shown again.
    if (isVisible())
        redraw();
}

void CBandwidthGraphDlg::updateFilterList() {
    std::vector<FilterLine> lines;
    int position = 0;
    for (const auto& filter : m_filters.PacketFilters()) {
        ++position;
        if (filter->id != 0)
            lines.push_back(
                {filter->id, "No." + std::to_string(position) + " " + filter->filterName.str()});
    }
    if (lines == m_filterLines)
        return;
    m_filterLines = std::move(lines);
    // A filter that is gone takes its line with it.
    for (auto it = m_ticked.begin(); it != m_ticked.end();) {
        const int32_t id = *it;
        const bool kept = std::any_of(m_filterLines.begin(), m_filterLines.end(),
                                      [id](const FilterLine& l) { return l.id == id; });
        ++it;
        if (!kept)
            setFilterTicked(id, false);
    }
    m_filterModel->clear();
    for (const FilterLine& line : m_filterLines) {
        auto* item = new QStandardItem(qs(line.caption));
        item->setCheckable(true);
        item->setCheckState(m_ticked.count(line.id) ? Qt::Checked : Qt::Unchecked);
        item->setData(line.id, kFilterIdRole);
        m_filterModel->appendRow(item);
        if (QLineSeries* series = filterSeries(line.id))
            series->setName(qs(line.caption));
    }
}

void CBandwidthGraphDlg::filterItemChanged(QStandardItem* item) {
    setFilterTicked(item->data(kFilterIdRole).toInt(), item->checkState() == Qt::Checked);
}

QLineSeries* CBandwidthGraphDlg::filterSeries(int32_t filterId) const {
    auto it = m_filterSeries.find(filterId);
    return it == m_filterSeries.end() ? nullptr : it->second;
}

void CBandwidthGraphDlg::setFilterTicked(int32_t filterId, bool ticked) {
    if (ticked == (m_ticked.count(filterId) != 0))
        return;
    if (ticked) {
        const auto line =
            std::find_if(m_filterLines.begin(), m_filterLines.end(),
                         [filterId](const FilterLine& l) { return l.id == filterId; });
        if (line == m_filterLines.end())
            return;
        m_ticked.insert(filterId);
        auto* series = new QLineSeries;
        series->setName(qs(line->caption));
        m_chart->addSeries(series);
        series->attachAxis(m_time);
        series->attachAxis(m_rate);
        // Dashed, so that a total with the same values still shows beneath it.
        QPen pen = series->pen();
        pen.setStyle(Qt::DashLine);
        series->setPen(pen);
        m_filterSeries[filterId] = series;
    } else {
        m_ticked.erase(filterId);
        if (QLineSeries* series = filterSeries(filterId)) {
            m_chart->removeSeries(series);
            delete series;
        }
        m_filterSeries.erase(filterId);
    }
    // The item's box follows when the change came from elsewhere.
    for (int row = 0; row < m_filterModel->rowCount(); ++row) {
        QStandardItem* item = m_filterModel->item(row);
        if (item->data(kFilterIdRole).toInt() != filterId)
            continue;
        const Qt::CheckState state = ticked ? Qt::Checked : Qt::Unchecked;
        if (item->checkState() != state)
            item->setCheckState(state); // comes back here and finds nothing to do
    }
    redraw();
}

void CBandwidthGraphDlg::redraw() {
    const auto& samples = m_log.samples();
    m_notMeasured->setVisible(samples.empty());
    QList<QPointF> up;
    QList<QPointF> down;
    std::map<int32_t, QList<QPointF>> filters;
    double highest = 0;
    for (const core::BandwidthLogSample& s : samples) {
        const auto x = static_cast<qreal>(s.time);
        up.append({x, kilobytes(s.sent)});
        down.append({x, kilobytes(s.received)});
        highest = std::max({highest, kilobytes(s.sent), kilobytes(s.received)});
        for (int32_t id : m_ticked) {
            if (const std::optional<int32_t> bytes = s.filterBytes(id)) {
                filters[id].append({x, kilobytes(*bytes)});
                highest = std::max(highest, kilobytes(*bytes));
            }
        }
    }
    m_up->replace(up);
    m_down->replace(down);
    for (const auto& [id, series] : m_filterSeries)
        series->replace(filters[id]);

    // What the log holds, up to ten minutes back from the newest second, and never
    // less than a minute; before anything came, the minute up to now.
    const qint64 newest =
        samples.empty() ? QDateTime::currentMSecsSinceEpoch() : samples.back().time;
    qint64 oldest = samples.empty() ? newest : samples.front().time;
    oldest = std::max<qint64>(oldest, newest - core::BandwidthLog::kSpanMilliseconds);
    oldest = std::min<qint64>(oldest, newest - kShortestSpanMs);
    m_time->setRange(QDateTime::fromMSecsSinceEpoch(oldest),
                     QDateTime::fromMSecsSinceEpoch(newest));
    m_rate->setRange(0, std::max(1.0, highest * 1.1));
    m_rate->applyNiceNumbers();
}

} // namespace tavrin::ui
