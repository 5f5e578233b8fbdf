#include "CTabPerformance.h"

#include "FieldChecks.h"
#include "IniFileObject.h"
#include "ui_CTabPerformance.h"

#include <QRegularExpressionValidator>

namespace tavrin::ui {

CTabPerformance::CTabPerformance(bool showMappingOption, QWidget* parent)
    : QWidget(parent), m_form(new Ui::CTabPerformance), m_showMappingOption(showMappingOption) {
    m_form->setupUi(this);
    // Digits only; the range is checked on OK, with a message instead of a silent clamp.
    const QRegularExpression digits(QStringLiteral("[0-9]*"));
    m_form->maxPackets->setValidator(new QRegularExpressionValidator(digits, this));
    m_form->period->setValidator(new QRegularExpressionValidator(digits, this));
    m_form->noPortMapping->setVisible(showMappingOption);
}

CTabPerformance::~CTabPerformance() = default;

void CTabPerformance::load(const settings::IniFileObject& settings) {
    m_form->maxPackets->setText(QString::number(settings.GetMaxPacketCaptureNum()));
    m_form->period->setText(QString::number(settings.GetBandwidthControlTime()));
    m_form->noPortMapping->setChecked(settings.GetPortProcessMapping() == 0);
}

bool CTabPerformance::check(Messages& messages) {
    const auto maxPackets = checkIntegerField(m_form->maxPackets, 1, kMaxPacketCapture, messages);
    if (!maxPackets)
        return false;
    const auto period = checkIntegerField(m_form->period, kMinPeriod, kMaxPeriod, messages);
    if (!period)
        return false;
    m_maxPackets = *maxPackets;
    m_period = *period;
    return true;
}

void CTabPerformance::store(settings::IniFileObject& settings) const {
    settings.SetMaxPacketCaptureNum(static_cast<int32_t>(m_maxPackets));
    settings.SetBandwidthControlTime(static_cast<int32_t>(m_period));
    // A box the user could not see keeps the stored value.
    if (m_showMappingOption)
        settings.SetPortProcessMapping(m_form->noPortMapping->isChecked() ? 0 : 1);
}

} // namespace tavrin::ui
