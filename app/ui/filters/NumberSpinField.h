// A number field with up and down arrows, as an edit box with a spin button: the
// arrows step within their own range and go faster the longer they are held, while
// the field takes any number of up to ten digits, which the dialog checks on OK
// against its own range.
#pragma once

#include <QAbstractSpinBox>
#include <QElapsedTimer>

#include <vector>

class QLineEdit;

namespace tavrin::ui {

class NumberSpinField final : public QAbstractSpinBox {
    Q_OBJECT
public:
    // From `afterMs` of holding an arrow, each step adds `increment`.
    struct Acceleration {
        int afterMs;
        int increment;
    };

    explicit NumberSpinField(QWidget* parent = nullptr);

    void setSpinRange(int lowest, int highest);
    // Steps in ascending `afterMs`; before the first, a step adds 1.
    void setAcceleration(std::vector<Acceleration> steps) { m_acceleration = std::move(steps); }
    static int incrementAfter(const std::vector<Acceleration>& steps, qint64 heldMs);

    void setNumber(long long value);
    // The field's edit box, which the dialogs' number checks read.
    QLineEdit* edit() const { return lineEdit(); }

    void stepBy(int steps) override;
    // Room for the longest number the field takes, whatever the arrows' range.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    QValidator::State validate(QString& input, int& position) const override;

protected:
    StepEnabled stepEnabled() const override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    int m_lowest = 0;
    int m_highest = 100;
    std::vector<Acceleration> m_acceleration;
    QElapsedTimer m_held;
};

} // namespace tavrin::ui
