#include "ActionControls.h"

#include "FieldChecks.h"
#include "NumberSpinField.h"

#include <QCheckBox>
#include <QLineEdit>

namespace tavrin::ui {

namespace {

// The arrows' own ranges and speeds; OK checks the wider ranges above.
constexpr int kSpinBandwidthHighest = 32767;
constexpr int kSpinMinimumSizeHighest = 1550;

// A disabled field's number as it stands, if it is a valid one.
std::optional<long long> quietNumber(NumberSpinField* field, long long lowest, long long highest) {
    bool ok = false;
    const long long value = field->edit()->text().trimmed().toLongLong(&ok);
    if (!ok || value < lowest || value > highest)
        return std::nullopt;
    return value;
}

} // namespace

ActionControls::ActionControls(QCheckBox* drop, QCheckBox* synOnly, QCheckBox* limit,
                               NumberSpinField* bandwidth, NumberSpinField* minimumSize,
                               QObject* parent)
    : QObject(parent), m_drop(drop), m_synOnly(synOnly), m_limit(limit), m_bandwidth(bandwidth),
      m_minimumSize(minimumSize) {
    m_bandwidth->setSpinRange(1, kSpinBandwidthHighest);
    m_bandwidth->setAcceleration({{1000, 5}, {3000, 20}, {5000, 50}, {7000, 100}});
    m_minimumSize->setSpinRange(1, kSpinMinimumSizeHighest);
    m_minimumSize->setAcceleration({{2000, 1}, {4000, 5}, {6000, 10}});
    for (QCheckBox* box : {m_drop, m_synOnly, m_limit})
        connect(box, &QCheckBox::toggled, this, &ActionControls::update);
}

void ActionControls::load(const CommonFilter& filter) {
    m_loadedBandwidth = filter.bandwidth;
    m_loadedMinimumSize = filter.minimumPacketSize;
    const QSignalBlocker a(m_drop), b(m_synOnly), c(m_limit);
    m_drop->setChecked(filter.drop != 0);
    m_synOnly->setChecked(filter.dropSynOnly != 0);
    m_limit->setChecked(filter.doBand != 0 && filter.bandwidth > 0);
    m_bandwidth->setNumber(filter.bandwidth);
    m_minimumSize->setNumber(filter.minimumPacketSize);
    update();
}

void ActionControls::update() {
    m_synOnly->setEnabled(m_drop->isChecked());
    const bool limitAllowed = !m_drop->isChecked() || m_synOnly->isChecked();
    m_limit->setEnabled(limitAllowed);
    if (!limitAllowed && m_limit->isChecked()) {
        const QSignalBlocker block(m_limit);
        m_limit->setChecked(false);
    }
    const bool limited = m_limit->isChecked();
    m_bandwidth->setEnabled(limited);
    m_minimumSize->setEnabled(limited);
}

bool ActionControls::checkBandwidth(Messages& messages) {
    if (!m_bandwidth->isEnabled())
        return true;
    if (!checkIntegerField(m_bandwidth->edit(), 1, kMaxBandwidth, messages)) {
        focusField(m_bandwidth);
        m_bandwidth->edit()->selectAll();
        return false;
    }
    return true;
}

bool ActionControls::checkMinimumSize(Messages& messages) {
    if (!m_minimumSize->isEnabled())
        return true;
    if (!checkIntegerField(m_minimumSize->edit(), 0, kMaxMinimumPacketSize, messages)) {
        focusField(m_minimumSize);
        m_minimumSize->edit()->selectAll();
        return false;
    }
    return true;
}

void ActionControls::store(CommonFilter& filter) const {
    filter.drop = m_drop->isChecked() ? 1 : 0;
    filter.dropSynOnly = m_synOnly->isChecked() ? 1 : 0;
    filter.doBand = m_limit->isChecked() ? 1 : 0;
    filter.bandwidth = static_cast<int32_t>(
        quietNumber(m_bandwidth, 1, kMaxBandwidth).value_or(m_loadedBandwidth));
    filter.minimumPacketSize = static_cast<int32_t>(
        quietNumber(m_minimumSize, 0, kMaxMinimumPacketSize).value_or(m_loadedMinimumSize));
}

} // namespace tavrin::ui
