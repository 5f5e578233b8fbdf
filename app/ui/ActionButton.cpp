#include "ActionButton.h"

#include <QAbstractButton>
#include <QAction>

namespace tavrin::ui {

void bindButton(QAbstractButton* button, QAction* action) {
    button->setEnabled(action->isEnabled());
    QObject::connect(button, &QAbstractButton::clicked, action, [action] {
        if (action->isEnabled())
            action->trigger();
    });
    QObject::connect(action, &QAction::enabledChanged, button, &QAbstractButton::setEnabled);
}

} // namespace tavrin::ui
