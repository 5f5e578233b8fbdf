#include "CTabStartup.h"

#include "IniFileObject.h"
#include "ui_CTabStartup.h"

namespace tavrin::ui {

CTabStartup::CTabStartup(QWidget* parent) : QWidget(parent), m_form(new Ui::CTabStartup) {
    m_form->setupUi(this);
    m_form->closeButtonAction->addItem(QStringLiteral("閉じる"));
    m_form->closeButtonAction->addItem(QStringLiteral("最小化"));
    connect(m_form->closeButtonAction, &QComboBox::currentTextChanged, this,
            [this](const QString& text) {
                m_closeButtonAction = text == QStringLiteral("最小化") ? 1 : 0;
            });
}

CTabStartup::~CTabStartup() = default;

void CTabStartup::load(const settings::IniFileObject& settings) {
    m_form->autoSave->setChecked(settings.GetAutoSave() != 0);
    m_form->startupOn->setChecked(settings.GetStartupOn() != 0);
    m_form->startupMinimize->setChecked(settings.GetStartupMinimize() != 0);
    m_form->noIcon->setChecked(settings.GetNoIcon() != 0);
    m_form->confirmClose->setChecked(settings.GetConfirmClose() != 0);
    // Another stored value selects no entry and is kept unless the user chooses.
    const int32_t action = settings.GetCloseButtonAction();
    m_form->closeButtonAction->setCurrentIndex(action == 0 || action == 1 ? action : -1);
    m_closeButtonAction = action;
}

void CTabStartup::store(settings::IniFileObject& settings) const {
    settings.SetAutoSave(m_form->autoSave->isChecked() ? 1 : 0);
    settings.SetStartupOn(m_form->startupOn->isChecked() ? 1 : 0);
    settings.SetStartupMinimize(m_form->startupMinimize->isChecked() ? 1 : 0);
    settings.SetNoIcon(m_form->noIcon->isChecked() ? 1 : 0);
    settings.SetConfirmClose(m_form->confirmClose->isChecked() ? 1 : 0);
    settings.SetCloseButtonAction(m_closeButtonAction);
}

} // namespace tavrin::ui
