// The bandwidth graph: the total UP and DOWN of the last ten minutes as two lines,
// and a line for every filter ticked in the list beside them. It draws the session's
// bandwidth log, which is fed once a second whether the window is open or not, so
// opening it shows the last ten minutes at once.
#pragma once

#include <QWidget>

#include <map>
#include <set>
#include <string>
#include <vector>

class QLabel;
class QListView;
class QStandardItem;
class QStandardItemModel;
class QChart;
class QChartView;
class QDateTimeAxis;
class QLineSeries;
class QValueAxis;

namespace tavrin::core {
class BandwidthLog;
}
namespace tavrin::settings {
class IniFileObject;
}

namespace tavrin::ui {

inline constexpr char kGraphNotMeasuredText[] = "未測定";

class CBandwidthGraphDlg final : public QWidget {
    Q_OBJECT
public:
    // `filters`: the settings in force, whose filter list names the lines.
    CBandwidthGraphDlg(const core::BandwidthLog& log, const settings::IniFileObject& filters,
                       QWidget* parent = nullptr);
    ~CBandwidthGraphDlg() override;

    // A second entered the log (or the filters changed): drawn while the window shows.
    void refresh();

    void setFilterTicked(int32_t filterId, bool ticked);
    QLineSeries* upSeries() const { return m_up; }
    QLineSeries* downSeries() const { return m_down; }
    // The ticked filter's line; nullptr when it is not ticked.
    QLineSeries* filterSeries(int32_t filterId) const;
    QStandardItemModel* filterList() const { return m_filterModel; }
    QLabel* notMeasuredLabel() const { return m_notMeasured; }
    QChart* chart() const { return m_chart; }
    QDateTimeAxis* timeAxis() const { return m_time; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct FilterLine {
        int32_t id;
        std::string caption; // "No.1 name"
        bool operator==(const FilterLine&) const = default;
    };

    void updateFilterList();
    void filterItemChanged(QStandardItem* item);
    void redraw();

    const core::BandwidthLog& m_log;
    const settings::IniFileObject& m_filters;
    QChart* m_chart;
    QChartView* m_view;
    QDateTimeAxis* m_time;
    QValueAxis* m_rate;
    QLineSeries* m_up;
    QLineSeries* m_down;
    QLabel* m_notMeasured;
    QListView* m_filterView;
    QStandardItemModel* m_filterModel;
    std::vector<FilterLine> m_filterLines;
    std::set<int32_t> m_ticked;
    std::map<int32_t, QLineSeries*> m_filterSeries;
};

} // namespace tavrin::ui
