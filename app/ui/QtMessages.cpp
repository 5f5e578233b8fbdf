#include "QtMessages.h"

#include "CoreView.h"
#include "TextConversion.h"

#include <QAbstractButton>
#include <QMessageBox>

namespace tavrin::ui {

namespace {

QMessageBox::Icon boxIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Information: return QMessageBox::Information;
    case MessageIcon::Warning: return QMessageBox::Warning;
    case MessageIcon::Error: return QMessageBox::Critical;
    case MessageIcon::Question: return QMessageBox::Question;
    case MessageIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

QString title(std::string_view caption) {
    return caption.empty() ? QString::fromUtf8(core::kProgramName) : qs(caption);
}

struct Button {
    QMessageBox::StandardButton button;
    const char* text;
    Answer answer;
};

constexpr Button kYes{QMessageBox::Yes, "はい(&Y)", Answer::Yes};
constexpr Button kNo{QMessageBox::No, "いいえ(&N)", Answer::No};
constexpr Button kCancel{QMessageBox::Cancel, "キャンセル", Answer::Cancel};

// Runs the box; closing it by the window's close button or Esc counts as the last
// button (Cancel, or No where there is no Cancel), as a box without a choice would.
Answer ask(QWidget* parent, std::string_view text, std::string_view caption, MessageIcon icon,
           std::initializer_list<Button> buttons) {
    QMessageBox box(boxIcon(icon), title(caption), qs(text), QMessageBox::NoButton, parent);
    QAbstractButton* last = nullptr;
    for (const Button& b : buttons) {
        box.addButton(b.button);
        box.button(b.button)->setText(QString::fromUtf8(b.text));
        last = box.button(b.button);
    }
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(last);
    box.exec();
    for (const Button& b : buttons)
        if (box.clickedButton() == box.button(b.button))
            return b.answer;
    return std::data(buttons)[buttons.size() - 1].answer;
}

} // namespace

void QtMessages::show(std::string_view text, std::string_view caption, MessageIcon icon) {
    QMessageBox box(boxIcon(icon), title(caption), qs(text), QMessageBox::Ok, m_parent);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
    box.exec();
}

Answer QtMessages::askYesNo(std::string_view text, std::string_view caption, MessageIcon icon) {
    return ask(m_parent, text, caption, icon, {kYes, kNo});
}

Answer QtMessages::askYesNoCancel(std::string_view text, std::string_view caption,
                                  MessageIcon icon) {
    return ask(m_parent, text, caption, icon, {kYes, kNo, kCancel});
}

} // namespace tavrin::ui
