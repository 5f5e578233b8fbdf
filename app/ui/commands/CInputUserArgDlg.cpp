#include "CInputUserArgDlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tavrin::ui {

CInputUserArgDlg::CInputUserArgDlg(const QString& prompt, QWidget* parent)
    : QDialog(parent), m_prompt(new QLabel(prompt, this)), m_field(new QLineEdit(this)) {
    setWindowTitle(QStringLiteral("実行時ユーザー入力"));
    setModal(true);
    m_prompt->setBuddy(m_field);
    m_prompt->setWordWrap(true);
    // The prompt is the field's name; a placeholder's "%" is no access key.
    m_prompt->setTextFormat(Qt::PlainText);
    m_field->setAccessibleName(prompt);
    m_field->setMinimumWidth(420);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_prompt);
    layout->addWidget(m_field);
    layout->addWidget(buttons);
    m_field->setFocus();
}

QString CInputUserArgDlg::answer() const {
    return m_field->text();
}

} // namespace tavrin::ui
