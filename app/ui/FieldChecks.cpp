#include "FieldChecks.h"

#include "Messages.h"
#include "TextConversion.h"

#include <QLineEdit>

namespace tavrin::ui {

QString rangeMessage(long long min, long long max) {
    return QStringLiteral("%1 から %2 までの整数を入力してください。").arg(min).arg(max);
}

void focusField(QWidget* field) {
    field->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(field))
        edit->selectAll();
}

std::optional<long long> checkIntegerField(QLineEdit* field, long long min, long long max,
                                           Messages& messages) {
    const QString text = field->text().trimmed();
    bool ok = false;
    const long long value = text.toLongLong(&ok);
    if (!ok) {
        messages.show(kIntegerMessage);
        focusField(field);
        return std::nullopt;
    }
    if (value < min || value > max) {
        messages.show(toUtf8(rangeMessage(min, max)));
        focusField(field);
        return std::nullopt;
    }
    return value;
}

} // namespace tavrin::ui
