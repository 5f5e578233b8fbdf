// The model keeps UTF-8 std::string; Qt wants QString. One place for the two ways.
#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace tavrin::ui {

inline QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string toUtf8(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

// Message texts in the model use printf-style "%d"; Qt's own use "%1".
QString numbered(const char* format, long long value);

} // namespace tavrin::ui
