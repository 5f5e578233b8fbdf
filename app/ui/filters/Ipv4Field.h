// An IPv4 address field: dotted decimal, four numbers from 0 to 255. Like the
// four-box address control it stands for, a number left blank reads as 0, and the
// field shows the completed address once it loses the focus ("10.1" becomes
// "10.1.0.0"; an empty field is 0.0.0.0).
#pragma once

#include <QLineEdit>
#include <QValidator>

#include <cstdint>

namespace tavrin::ui {

class Ipv4Validator final : public QValidator {
public:
    using QValidator::QValidator;
    // Acceptable: four numbers; Intermediate: fewer, or blanks between the dots.
    State validate(QString& input, int& position) const override;
    // Fills the missing numbers with 0.
    void fixup(QString& input) const override;
};

// The address of a text the validator lets through, blanks as 0; network order.
uint32_t parseDottedQuad(const QString& text);

class Ipv4Field final : public QLineEdit {
    Q_OBJECT
public:
    explicit Ipv4Field(QWidget* parent = nullptr);

    // Network order, as the filters keep addresses.
    void setAddress(uint32_t networkOrder);
    uint32_t address() const { return parseDottedQuad(text()); }
};

} // namespace tavrin::ui
