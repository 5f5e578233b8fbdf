#include "CEditDynamicFilterDlg.h"

#include "ActionControls.h"
#include "CAddFilterDlg.h"
#include "FieldChecks.h"
#include "IniFileObject.h"
#include "Messages.h"
#include "ProcessBrowse.h"
#include "TextConversion.h"
#include "TextLimit.h"
#include "ui_CEditDynamicFilterDlg.h"

#include <QPushButton>
#include <QRegularExpressionValidator>

#include <algorithm>

namespace tavrin::ui {

CEditDynamicFilterDlg::CEditDynamicFilterDlg(const settings::IniFileObject& settings,
                                             Messages& messages, QWidget* parent)
    : QDialog(parent), m_form(new Ui::CEditDynamicFilterDlg), m_messages(messages) {
    m_form->setupUi(this);
    Ui::CEditDynamicFilterDlg& f = *m_form;
    f.buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    f.buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    connect(f.buttons, &QDialogButtonBox::accepted, this, &CEditDynamicFilterDlg::accept);
    connect(f.buttons, &QDialogButtonBox::rejected, this, &CEditDynamicFilterDlg::reject);

    limitText(f.nameEdit, kMaxNameWidth);
    limitText(f.commentEdit, kMaxCommentWidth);
    limitText(f.connectingProcess, 0);
    limitText(f.runningProcess, 0);
    const QRegularExpression digits(QStringLiteral("[0-9]*"));
    for (QLineEdit* bound : bounds())
        bound->setValidator(new QRegularExpressionValidator(digits, bound));

    m_action =
        new ActionControls(f.dropBox, f.synOnlyBox, f.limitBox, f.bandwidth, f.minimumSize, this);
    connect(f.connectingBrowse, &QPushButton::clicked, this, [this] {
        if (const std::optional<QString> name = browseProcessName(this))
            m_form->connectingProcess->setText(*name);
    });
    connect(f.runningBrowse, &QPushButton::clicked, this, [this] {
        if (const std::optional<QString> name = browseProcessName(this))
            m_form->runningProcess->setText(*name);
    });

    for (const auto& packet : settings.PacketFilters()) {
        m_filterIds.push_back(packet->id);
        f.targetList->addItem(qs(packet->filterName));
        f.filterBandFilter->addItem(qs(packet->filterName));
    }
    load(DynamicFilter{});
}

CEditDynamicFilterDlg::~CEditDynamicFilterDlg() = default;

std::vector<QLineEdit*> CEditDynamicFilterDlg::bounds() const {
    const Ui::CEditDynamicFilterDlg& f = *m_form;
    return {f.totalUpLow,    f.totalUpHigh,   f.totalDownLow,
            f.totalDownHigh, f.filterBandLow, f.filterBandHigh};
}

void CEditDynamicFilterDlg::load(const DynamicFilter& filter) {
    Ui::CEditDynamicFilterDlg& f = *m_form;
    f.nameEdit->setText(qs(filter.filterName));
    f.commentEdit->setText(qs(filter.comment));
    const int32_t values[] = {filter.totalUpLow,         filter.totalUpHigh,
                              filter.totalDownLow,       filter.totalDownHigh,
                              filter.filterBandwidthLow, filter.filterBandwidthHigh};
    const std::vector<QLineEdit*> fields = bounds();
    for (size_t i = 0; i < fields.size(); ++i)
        fields[i]->setText(QString::number(values[i]));
    f.connectingProcess->setText(qs(filter.connectingProcessName));
    f.runningProcess->setText(qs(filter.runningProcessName));
    m_action->load(filter);

    // A filter without an ID (the 64th of a full list) is never a target or a trigger.
    auto position = [this](int32_t id) {
        const auto it = std::find(m_filterIds.begin(), m_filterIds.end(), id);
        return id == 0 || it == m_filterIds.end() ? -1 : static_cast<int>(it - m_filterIds.begin());
    };
    f.filterBandFilter->setCurrentIndex(position(filter.triggerFilterId));
    for (int row = 0; row < f.targetList->count(); ++row) {
        const int32_t id = m_filterIds[static_cast<size_t>(row)];
        const bool target =
            id != 0 && std::find(filter.targetFilterIds.begin(), filter.targetFilterIds.end(),
                                 id) != filter.targetFilterIds.end();
        f.targetList->item(row)->setSelected(target);
    }
}

bool CEditDynamicFilterDlg::check() {
    Ui::CEditDynamicFilterDlg& f = *m_form;
    auto refuse = [this](const QString& message, QWidget* field) {
        m_messages.show(toUtf8(message));
        focusField(field);
        return false;
    };
    if (const QString message = unstorableMessage(f.nameEdit->text()); !message.isEmpty())
        return refuse(message, f.nameEdit);
    if (const QString message = unstorableMessage(f.commentEdit->text()); !message.isEmpty())
        return refuse(message, f.commentEdit);
    for (QLineEdit* bound : bounds())
        if (!checkIntegerField(bound, 0, kMaxConditionBound, m_messages))
            return false;
    for (QLineEdit* process : {f.connectingProcess, f.runningProcess})
        if (const QString message = unstorableMessage(process->text().trimmed());
            !message.isEmpty())
            return refuse(message, process);
    return m_action->checkBandwidth(m_messages) && m_action->checkMinimumSize(m_messages);
}

void CEditDynamicFilterDlg::accept() {
    if (check())
        QDialog::accept();
}

void CEditDynamicFilterDlg::store(DynamicFilter& filter) const {
    const Ui::CEditDynamicFilterDlg& f = *m_form;
    const QString name = f.nameEdit->text();
    filter.filterName = name.trimmed().isEmpty() ? std::string(kDefaultFilterName) : toUtf8(name);
    filter.comment = toUtf8(f.commentEdit->text());
    int32_t* values[] = {&filter.totalUpLow,         &filter.totalUpHigh,
                         &filter.totalDownLow,       &filter.totalDownHigh,
                         &filter.filterBandwidthLow, &filter.filterBandwidthHigh};
    const std::vector<QLineEdit*> fields = bounds();
    for (size_t i = 0; i < fields.size(); ++i)
        *values[i] = static_cast<int32_t>(fields[i]->text().trimmed().toLongLong());
    filter.connectingProcessName = toUtf8(f.connectingProcess->text().trimmed());
    filter.runningProcessName = toUtf8(f.runningProcess->text().trimmed());
    const int trigger = f.filterBandFilter->currentIndex();
    filter.triggerFilterId = trigger >= 0 && trigger < static_cast<int>(m_filterIds.size())
                                 ? m_filterIds[static_cast<size_t>(trigger)]
                                 : 0;
    filter.targetFilterIds.clear();
    for (int row = 0; row < f.targetList->count(); ++row)
        if (f.targetList->item(row)->isSelected() && m_filterIds[static_cast<size_t>(row)] != 0)
            filter.targetFilterIds.push_back(m_filterIds[static_cast<size_t>(row)]);
    m_action->store(filter);
}

} // namespace tavrin::ui
