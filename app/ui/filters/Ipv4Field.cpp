#include "Ipv4Field.h"

#include "PlainText.h"
#include "TextConversion.h"

#include <QStringList>

#include <arpa/inet.h>

namespace tavrin::ui {

namespace {

constexpr int kOctets = 4;

} // namespace

QValidator::State Ipv4Validator::validate(QString& input, int&) const {
    const QStringList parts = input.split(u'.');
    if (parts.size() > kOctets)
        return Invalid;
    bool complete = parts.size() == kOctets;
    for (const QString& part : parts) {
        if (part.size() > 3)
            return Invalid;
        for (QChar c : part)
            if (c < u'0' || c > u'9')
                return Invalid;
        if (part.isEmpty()) {
            complete = false;
            continue;
        }
        if (part.toInt() > 255)
            return Invalid;
    }
    return complete ? Acceptable : Intermediate;
}

void Ipv4Validator::fixup(QString& input) const {
    input = qs(dottedAddress(parseDottedQuad(input)));
}

uint32_t parseDottedQuad(const QString& text) {
    const QStringList parts = text.split(u'.');
    uint32_t hostOrder = 0;
    for (int i = 0; i < kOctets; ++i) {
        uint32_t octet = 0;
        if (i < parts.size()) {
            bool ok = false;
            const uint value = parts[i].toUInt(&ok);
            octet = ok && value <= 255 ? value : 0;
        }
        hostOrder = (hostOrder << 8) | octet;
    }
    return htonl(hostOrder);
}

Ipv4Field::Ipv4Field(QWidget* parent) : QLineEdit(parent) {
    setValidator(new Ipv4Validator(this));
    setMaxLength(15);
    setText(QStringLiteral("0.0.0.0"));
}

void Ipv4Field::setAddress(uint32_t networkOrder) {
    setText(qs(dottedAddress(networkOrder)));
}

} // namespace tavrin::ui
