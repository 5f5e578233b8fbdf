#include "CEditExternalCommand.h"

#include "FieldChecks.h"
#include "Messages.h"
#include "PlainText.h"
#include "TextConversion.h"
#include "ui_CEditExternalCommand.h"

#include <QButtonGroup>
#include <QPushButton>

namespace tavrin::ui {

CEditExternalCommand::CEditExternalCommand(const commands::ExternalCommand& command,
                                           Messages& messages, QWidget* parent)
    : QDialog(parent), m_form(new Ui::CEditExternalCommand), m_messages(messages),
      m_command(command) {
    m_form->setupUi(this);
    m_form->buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    m_form->buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    connect(m_form->buttons, &QDialogButtonBox::accepted, this, &CEditExternalCommand::accept);
    connect(m_form->buttons, &QDialogButtonBox::rejected, this, &CEditExternalCommand::reject);

    m_form->name->setText(qs(command.name));
    m_form->commandLine->setText(qs(command.commandLine));
    m_form->addToMenu->setChecked(command.addToMenu != 0);
    m_form->showWindow->setChecked(command.showWindow != 0);
    // A target that is neither monitor checks neither button, and stays unless one
    // is clicked.
    m_form->tcpMonitor->setChecked(command.target == commands::kTargetTcpConnectionMonitor);
    m_form->packetMonitor->setChecked(command.target == commands::kTargetPacketMonitor);
    connect(m_form->tcpMonitor, &QRadioButton::clicked, this,
            [this] { m_command.target = commands::kTargetTcpConnectionMonitor; });
    connect(m_form->packetMonitor, &QRadioButton::clicked, this,
            [this] { m_command.target = commands::kTargetPacketMonitor; });
    connect(m_form->addToMenu, &QCheckBox::toggled, this, &CEditExternalCommand::applyMenuCheck);
    applyMenuCheck();
    m_form->name->setFocus();
}

CEditExternalCommand::~CEditExternalCommand() = default;

void CEditExternalCommand::applyMenuCheck() {
    const bool listed = m_form->addToMenu->isChecked();
    m_form->tcpMonitor->setEnabled(listed);
    m_form->packetMonitor->setEnabled(listed);
}

void CEditExternalCommand::accept() {
    const std::string name = toUtf8(m_form->name->text());
    const std::string commandLine = toUtf8(m_form->commandLine->text());
    if (name.find(',') != std::string::npos) {
        m_messages.show(kCommaInName);
        focusField(m_form->name);
        return;
    }
    if (hasLineBreakOrNul(name) || hasLineBreakOrNul(commandLine)) {
        m_messages.show(kLineBreakInCommand);
        focusField(hasLineBreakOrNul(name) ? m_form->name : m_form->commandLine);
        return;
    }
    m_command.name = name;
    m_command.commandLine = commandLine;
    m_command.addToMenu = m_form->addToMenu->isChecked() ? 1 : 0;
    m_command.showWindow = m_form->showWindow->isChecked() ? 1 : 0;
    QDialog::accept();
}

} // namespace tavrin::ui
