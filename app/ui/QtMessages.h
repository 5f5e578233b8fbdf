// Messages and questions as message boxes over the main window. Button texts are
// set here, so the boxes read the same whatever translations the system carries.
#pragma once

#include "Messages.h"

#include <QPointer>
#include <QWidget>

namespace tavrin::ui {

class QtMessages final : public Messages {
public:
    // Boxes are centred on `parent` once it is set; before, on the screen.
    void setParent(QWidget* parent) { m_parent = parent; }

    void show(std::string_view text, std::string_view caption, MessageIcon icon) override;
    Answer askYesNo(std::string_view text, std::string_view caption, MessageIcon icon) override;
    Answer askYesNoCancel(std::string_view text, std::string_view caption,
                          MessageIcon icon) override;

private:
    QPointer<QWidget> m_parent;
};

} // namespace tavrin::ui
