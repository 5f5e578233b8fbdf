// The length limits of the filter dialogs' text fields. A name or comment is as
// long as the settings file of the Windows version counted it: 1 for ASCII and
// half-width katakana, 2 for every other character, so that a user has the room that
// version gave (99 ASCII letters or 49 kanji for a name).
#pragma once

#include <QValidator>

#include <cstddef>

class QLineEdit;

namespace tavrin::ui {

inline constexpr size_t kMaxNameWidth = 99;
inline constexpr size_t kMaxCommentWidth = 127;

// Keeps a line edit's text within a width (0: no limit) and free of line breaks and
// NULs, which no settings value can hold. Typing past the limit is refused; of a
// pasted text, as much as fits is kept, as a limited edit box does.
class LimitedTextValidator final : public QValidator {
public:
    explicit LimitedTextValidator(size_t maxWidth, QObject* parent = nullptr)
        : QValidator(parent), m_maxWidth(maxWidth) {}

    State validate(QString& input, int& position) const override;

private:
    size_t m_maxWidth;
};

// Installs a LimitedTextValidator on `edit`.
void limitText(QLineEdit* edit, size_t maxWidth);

} // namespace tavrin::ui
