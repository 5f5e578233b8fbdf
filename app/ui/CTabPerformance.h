// Option page "動作": the packet monitor's size, the bandwidth-limit period and,
// where connections come without their processes, the port-to-process mapping.
#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class CTabPerformance;
}

namespace tavrin {
class Messages;
namespace settings {
class IniFileObject;
}
} // namespace tavrin

namespace tavrin::ui {

inline constexpr long long kMinPeriod = 50;
inline constexpr long long kMaxPeriod = 3000;
// The settings file holds a signed 32-bit value.
inline constexpr long long kMaxPacketCapture = 2147483647;

class CTabPerformance final : public QWidget {
    Q_OBJECT
public:
    // The mapping box is offered only where the connection table lacks owners.
    CTabPerformance(bool showMappingOption, QWidget* parent = nullptr);
    ~CTabPerformance() override;

    void load(const settings::IniFileObject& settings);
    // The range checks, in control order; false after the first failure's message.
    bool check(Messages& messages);
    // Only after check() succeeded.
    void store(settings::IniFileObject& settings) const;

    Ui::CTabPerformance& form() const { return *m_form; }

private:
    std::unique_ptr<Ui::CTabPerformance> m_form;
    bool m_showMappingOption;
    long long m_maxPackets = 0;
    long long m_period = 0;
};

} // namespace tavrin::ui
