#include "TextConversion.h"

#include <cstdio>
#include <vector>

namespace tavrin::ui {

QString numbered(const char* format, long long value) {
    const int n = std::snprintf(nullptr, 0, format, value);
    if (n < 0)
        return {};
    std::vector<char> buffer(static_cast<size_t>(n) + 1);
    std::snprintf(buffer.data(), buffer.size(), format, value);
    return QString::fromUtf8(buffer.data(), n);
}

} // namespace tavrin::ui
