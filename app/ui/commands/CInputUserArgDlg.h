// "実行時ユーザー入力": asks the text for one placeholder of a command before it runs.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;

namespace tavrin::ui {

class CInputUserArgDlg final : public QDialog {
    Q_OBJECT
public:
    explicit CInputUserArgDlg(const QString& prompt, QWidget* parent = nullptr);

    QString answer() const;
    QLabel* prompt() const { return m_prompt; }
    QLineEdit* field() const { return m_field; }

private:
    QLabel* m_prompt;
    QLineEdit* m_field;
};

} // namespace tavrin::ui
