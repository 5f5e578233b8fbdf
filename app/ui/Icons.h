// The images drawn for this program, from its resources.
#pragma once

#include <QIcon>

namespace tavrin::ui {

// The program's icon in every size drawn, for the window, the tray and the about box.
QIcon programIcon();
// The filter list's row images: a filter that is on, and one that is off.
QIcon filterEnabledIcon();
QIcon filterDisabledIcon();

} // namespace tavrin::ui
