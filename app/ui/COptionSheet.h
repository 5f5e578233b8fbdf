// The option sheet "オプション": pages "全般" and "動作", OK and Cancel. OK checks
// the pages and writes them into the settings being edited; the main window then
// applies them. Cancel changes nothing.
#pragma once

#include <QDialog>

class QTabWidget;

namespace tavrin {
class Messages;
namespace settings {
class IniFileObject;
}
} // namespace tavrin

namespace tavrin::ui {

class CTabPerformance;
class CTabStartup;

class COptionSheet final : public QDialog {
    Q_OBJECT
public:
    COptionSheet(settings::IniFileObject& edited, bool showMappingOption, Messages& messages,
                 QWidget* parent = nullptr);

    void accept() override;

    CTabStartup* startupPage() const { return m_startup; }
    CTabPerformance* performancePage() const { return m_performance; }
    QTabWidget* pages() const { return m_pages; }

private:
    settings::IniFileObject& m_edited;
    Messages& m_messages;
    QTabWidget* m_pages;
    CTabStartup* m_startup;
    CTabPerformance* m_performance;
};

} // namespace tavrin::ui
