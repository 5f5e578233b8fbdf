#include "CAboutDlg.h"

#include "Icons.h"
#include "ui_CAboutDlg.h"

#include <QPushButton>

namespace tavrin::ui {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), m_form(new Ui::CAboutDlg) {
    m_form->setupUi(this);
    m_form->icon->setPixmap(programIcon().pixmap(48, 48));
    QFont bold = m_form->name->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.3);
    m_form->name->setFont(bold);
    m_form->buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
}

CAboutDlg::~CAboutDlg() = default;

} // namespace tavrin::ui
