// A push button that carries out a QAction: a click triggers it, and the button is
// enabled exactly when the action is. The button keeps its own caption (buttons
// and menus word the same command differently), so the action stays the one place
// that decides whether a command can run.
#pragma once

class QAbstractButton;
class QAction;

namespace tavrin::ui {

void bindButton(QAbstractButton* button, QAction* action);

} // namespace tavrin::ui
