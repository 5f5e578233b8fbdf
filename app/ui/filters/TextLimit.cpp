#include "TextLimit.h"

#include "PlainText.h"
#include "TextConversion.h"

#include <QLineEdit>

namespace tavrin::ui {

size_t legacyTextWidth(std::string_view utf8) {
    size_t width = 0;
    while (!utf8.empty()) {
        const size_t length = utf8SequenceLength(utf8);
        if (length == 0) {
            width += 2;
            utf8.remove_prefix(1);
            continue;
        }
        const auto b0 = static_cast<unsigned char>(utf8[0]);
        const auto b1 = length > 1 ? static_cast<unsigned char>(utf8[1]) : 0;
        const auto b2 = length > 2 ? static_cast<unsigned char>(utf8[2]) : 0;
        // U+FF61 to U+FF9F: EF BD A1 to EF BD BF and EF BE 80 to EF BE 9F.
        const bool halfWidthKatakana =
            length == 3 && b0 == 0xEF && ((b1 == 0xBD && b2 >= 0xA1) || (b1 == 0xBE && b2 <= 0x9F));
        width += length == 1 || halfWidthKatakana ? 1 : 2;
        utf8.remove_prefix(length);
    }
    return width;
}

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
    while (legacyTextWidth(toUtf8(input)) > m_maxWidth) {
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
