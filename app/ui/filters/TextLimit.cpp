#include "TextLimit.h"

#include "PlainText.h"
#include "TextConversion.h"

#include <QLineEdit>

namespace tavrin::ui {

QValidator::State LimitedTextValidator::validate(QString& input, int& position) const {
    for (qsizetype i = 0; i < input.size();) {
        const QChar c = input.at(i);
        if (c == u'\n' || c == u'\r' || c == u'\0') {
            input.remove(i, 1);
            if (position > i)
                --position;
        } else {
            ++i;
        }
    }
    if (m_maxWidth == 0)
        return Acceptable;
    // What was typed or pasted ends at the cursor: it gives way from its end, one
    // whole character at a time, until the text fits again.
    while (tavrin::legacyTextWidth(toUtf8(input)) > m_maxWidth) {
        if (position <= 0)
            return Invalid;
        int length = 1;
        if (position >= 2 && input.at(position - 1).isLowSurrogate() &&
            input.at(position - 2).isHighSurrogate())
            length = 2;
        input.remove(position - length, length);
        position -= length;
    }
    return Acceptable;
}

void limitText(QLineEdit* edit, size_t maxWidth) {
    edit->setValidator(new LimitedTextValidator(maxWidth, edit));
}

} // namespace tavrin::ui
