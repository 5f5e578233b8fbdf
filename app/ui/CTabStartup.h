// Option page "全般": start-up and window behaviour.
#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class CTabStartup;
}

namespace tavrin::settings {
class IniFileObject;
}

namespace tavrin::ui {

class CTabStartup final : public QWidget {
    Q_OBJECT
public:
    explicit CTabStartup(QWidget* parent = nullptr);
    ~CTabStartup() override;

    void load(const settings::IniFileObject& settings);
    void store(settings::IniFileObject& settings) const;

    Ui::CTabStartup& form() const { return *m_form; }

private:
    std::unique_ptr<Ui::CTabStartup> m_form;
    int m_closeButtonAction = 0;
};

} // namespace tavrin::ui
