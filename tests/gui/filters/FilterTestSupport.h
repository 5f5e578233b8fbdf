// What the filter pages' tests share: settings files written as the user's would
// be, the pages and dialogs of a running window, and modal dialogs answered from a
// timer.
#pragma once

#include "CTabDynamicFilter.h"
#include "CTabMainFilter.h"
#include "GuiHarness.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QTableView>
#include <QTimer>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tavrin::ui::test {

// "KEY=value" lines of one section; later keys replace earlier ones.
using Keys = std::vector<std::pair<std::string, std::string>>;

inline std::string section(const std::string& name, const Keys& defaults, const Keys& keys) {
    std::map<std::string, std::string> values;
    std::vector<std::string> order;
    for (const Keys* list : {&defaults, &keys})
        for (const auto& [key, value] : *list) {
            if (!values.count(key))
                order.push_back(key);
            values[key] = value;
        }
    std::string text = "[" + name + "]\n";
    for (const std::string& key : order)
        text += key + "=" + values[key] + "\n";
    return text;
}

// A TCP filter passing everything from every address, with these keys on top.
inline std::string packetSection(int number, const Keys& keys) {
    const Keys defaults = {
        {"FILTER_NAME", "filter" + std::to_string(number)},
        {"PROTOCOL", "6"},
        {"DIR", "UP"},
        {"ADAPTER_NAME", "none"},
        {"IS_MY_IP", "FALSE"},
        {"MY_IP_MASK", "0.0.0.0"},
        {"IS_MY_ALL_PORT", "TRUE"},
        {"OTHER_IP_MASK", "0.0.0.0"},
        {"IS_OTHER_ALL_PORT", "TRUE"},
        {"DROP", "FALSE"},
        {"AVAILABLE", "TRUE"},
        {"ID", std::to_string(number)},
    };
    return section("PacketFilter" + std::to_string(number), defaults, keys);
}

inline std::string dynamicSection(int number, const Keys& keys) {
    const Keys defaults = {
        {"FILTER_NAME", "dynamic" + std::to_string(number)},
        {"DROP", "FALSE"},
        {"AVAILABLE", "TRUE"},
    };
    return section("DynamicFilter" + std::to_string(number), defaults, keys);
}

inline std::string commonSection(const std::string& extra = {}) {
    return "[Common Settings]\nAUTO_SAVE=FALSE\n" + extra;
}

inline CTabMainFilter& filterPage(GuiHarness& gui) {
    return *qobject_cast<CTabMainFilter*>(gui.dialog().page(kPageFilter));
}

inline CTabDynamicFilter& dynamicPage(GuiHarness& gui) {
    return *qobject_cast<CTabDynamicFilter*>(gui.dialog().page(kPageDynamicFilter));
}

inline QString cell(const FilterListPage& page, int row, int column) {
    return page.model()->index(row, column).data().toString();
}

// One column of every row.
inline QStringList column(const FilterListPage& page, int column) {
    QStringList texts;
    for (int row = 0; row < page.model()->rowCount(); ++row)
        texts << cell(page, row, column);
    return texts;
}

// Runs `inside` on the next modal dialog once it is open.
inline void whenModalOpens(std::function<void(QWidget*)> inside) {
    QTimer::singleShot(0, [inside] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr) {
            QFAIL("no modal dialog opened");
            return;
        }
        inside(modal);
    });
}

// The object name of the focused control, or of the nearest named widget holding
// it (the edit box inside a spin field or a combo box).
inline QString focusedName() {
    for (QWidget* w = QApplication::focusWidget(); w != nullptr; w = w->parentWidget())
        if (!w->objectName().isEmpty() && !w->objectName().startsWith(QStringLiteral("qt_")))
            return w->objectName();
    return {};
}

// The names of the daemon requests since the last clear.
inline QStringList requestNames(GuiHarness& gui) {
    QStringList names;
    for (const std::string& name : gui.core.m_engine.names())
        names << QString::fromStdString(name);
    return names;
}

// What a restart of the session sends with `rules` enabled filters.
inline QStringList restartRequests(int rules) {
    QStringList names{"STOP_IP_HOOK", "CLEAR_FILTER", "SET_LOCALIP"};
    for (int i = 0; i < rules; ++i)
        names << "ADD_FILTER";
    names << "START_IP_HOOK";
    return names;
}

} // namespace tavrin::ui::test
