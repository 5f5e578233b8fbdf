// One column of a list: its heading, its alignment, and the widest text it commonly
// shows. The stored default widths were made for a smaller font; a column the user
// never sized is made wide enough for its heading and that text.
#pragma once

#include <string_view>

namespace tavrin::ui {

struct ColumnHeading {
    std::string_view text;
    bool rightAligned;
    std::string_view widest = {};
};

} // namespace tavrin::ui
