#include "NumberSpinField.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionSpinBox>
#include <QWheelEvent>

#include <algorithm>

namespace tavrin::ui {

namespace {

constexpr int kMaxDigits = 10;

} // namespace

NumberSpinField::NumberSpinField(QWidget* parent) : QAbstractSpinBox(parent) {
    setAccelerated(false);
    setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    lineEdit()->setMaxLength(kMaxDigits);
}

void NumberSpinField::setSpinRange(int lowest, int highest) {
    m_lowest = std::min(lowest, highest);
    m_highest = std::max(lowest, highest);
    update();
}

int NumberSpinField::incrementAfter(const std::vector<Acceleration>& steps, qint64 heldMs) {
    int increment = 1;
    for (const Acceleration& step : steps)
        if (heldMs >= step.afterMs)
            increment = step.increment;
    return increment;
}

QSize NumberSpinField::sizeHint() const {
    ensurePolished();
    // The cursor needs a pixel or two beside the widest digits.
    const int width = fontMetrics().horizontalAdvance(QString(kMaxDigits, u'0')) + 4;
    QStyleOptionSpinBox option;
    initStyleOption(&option);
    return style()->sizeFromContents(QStyle::CT_SpinBox, &option,
                                     QSize(width, lineEdit()->sizeHint().height()), this);
}

void NumberSpinField::setNumber(long long value) {
    lineEdit()->setText(QString::number(value));
}

void NumberSpinField::stepBy(int steps) {
    bool ok = false;
    const long long current = text().trimmed().toLongLong(&ok);
    const qint64 held = m_held.isValid() ? m_held.elapsed() : 0;
    const long long step = static_cast<long long>(steps) * incrementAfter(m_acceleration, held);
    // A text that is no number, or lies outside the arrows' range, starts from the
    // nearer end of that range.
    const long long from = ok ? std::clamp<long long>(current, m_lowest, m_highest)
                              : (steps > 0 ? m_lowest : m_highest);
    const long long next = ok ? std::clamp<long long>(from + step, m_lowest, m_highest) : from;
    setNumber(next);
    lineEdit()->selectAll();
}

QAbstractSpinBox::StepEnabled NumberSpinField::stepEnabled() const {
    if (isReadOnly() || !isEnabled())
        return StepNone;
    bool ok = false;
    const long long current = text().trimmed().toLongLong(&ok);
    if (!ok)
        return StepUpEnabled | StepDownEnabled;
    StepEnabled enabled = StepNone;
    if (current < m_highest)
        enabled |= StepUpEnabled;
    if (current > m_lowest)
        enabled |= StepDownEnabled;
    return enabled;
}

QValidator::State NumberSpinField::validate(QString& input, int&) const {
    if (input.size() > kMaxDigits)
        return QValidator::Invalid;
    for (QChar c : input)
        if (c < u'0' || c > u'9')
            return QValidator::Invalid;
    // Empty is allowed while typing; OK says what is missing.
    return QValidator::Acceptable;
}

void NumberSpinField::keyPressEvent(QKeyEvent* event) {
    if (!event->isAutoRepeat())
        m_held.start();
    QAbstractSpinBox::keyPressEvent(event);
}

void NumberSpinField::mousePressEvent(QMouseEvent* event) {
    m_held.start();
    QAbstractSpinBox::mousePressEvent(event);
}

void NumberSpinField::wheelEvent(QWheelEvent* event) {
    m_held.invalidate();
    QAbstractSpinBox::wheelEvent(event);
}

} // namespace tavrin::ui
