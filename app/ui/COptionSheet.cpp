#include "COptionSheet.h"

#include "CTabPerformance.h"
#include "CTabStartup.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace tavrin::ui {

COptionSheet::COptionSheet(settings::IniFileObject& edited, bool showMappingOption,
                           Messages& messages, QWidget* parent)
    : QDialog(parent), m_edited(edited), m_messages(messages), m_pages(new QTabWidget(this)),
      m_startup(new CTabStartup(m_pages)),
      m_performance(new CTabPerformance(showMappingOption, m_pages)) {
    setWindowTitle(QStringLiteral("オプション"));
    m_pages->addTab(m_startup, QStringLiteral("全般"));
    m_pages->addTab(m_performance, QStringLiteral("動作"));
    m_startup->load(edited);
    m_performance->load(edited);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    connect(buttons, &QDialogButtonBox::accepted, this, &COptionSheet::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &COptionSheet::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pages);
    layout->addWidget(buttons);
}

void COptionSheet::accept() {
    // The failing page comes to the front before its message, so the user sees
    // the field the message is about.
    m_pages->setCurrentWidget(m_performance);
    if (!m_performance->check(m_messages))
        return;
    m_startup->store(m_edited);
    m_performance->store(m_edited);
    QDialog::accept();
}

} // namespace tavrin::ui
