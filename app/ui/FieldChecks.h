// The checks dialogs make on OK for number fields, with the messages every dialog
// of the program uses for them. A failed check shows its message, puts the focus
// on the field and selects its text.
#pragma once

#include <QString>

#include <optional>

class QLineEdit;
class QWidget;

namespace tavrin {
class Messages;
}

namespace tavrin::ui {

inline constexpr char kIntegerMessage[] = "整数を入力してください。";

QString rangeMessage(long long min, long long max);

// The field's text as an integer from `min` to `max` (blanks around it allowed);
// nothing after the message when it is not one.
std::optional<long long> checkIntegerField(QLineEdit* field, long long min, long long max,
                                           Messages& messages);

// Puts the focus on `field` and selects its text, as after a failed check.
void focusField(QWidget* field);

} // namespace tavrin::ui
