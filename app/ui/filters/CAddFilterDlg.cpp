#include "CAddFilterDlg.h"

#include "ActionControls.h"
#include "AdapterList.h"
#include "FieldChecks.h"
#include "Messages.h"
#include "PlainText.h"
#include "PortSpec.h"
#include "ProcessBrowse.h"
#include "TextConversion.h"
#include "TextLimit.h"
#include "ui_CAddFilterDlg.h"

#include <QPushButton>

#include <algorithm>

namespace tavrin::ui {

namespace {

constexpr uint32_t kHostMask = 0xFFFFFFFFu;
constexpr int kMaxPortInput = 11;
constexpr int kMaxPeerPortInput = 40;

} // namespace

QString unstorableMessage(const QString& text) {
    for (QChar c : text) {
        const QString one(c);
        if (!isStorableText(toUtf8(one)))
            return QStringLiteral("「%1」は使えません").arg(one);
    }
    return {};
}

CAddFilterDlg::CAddFilterDlg(const AdapterList& adapters, Messages& messages, QWidget* parent)
    : QDialog(parent), m_form(new Ui::CAddFilterDlg), m_adapters(adapters), m_messages(messages) {
    m_form->setupUi(this);
    Ui::CAddFilterDlg& f = *m_form;
    f.buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    f.buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    connect(f.buttons, &QDialogButtonBox::accepted, this, &CAddFilterDlg::accept);
    connect(f.buttons, &QDialogButtonBox::rejected, this, &CAddFilterDlg::reject);

    limitText(f.nameEdit, kMaxNameWidth);
    limitText(f.commentEdit, kMaxCommentWidth);
    limitText(f.processEdit, 0);
    f.myPort->setMaxLength(kMaxPortInput);
    f.otherPort->lineEdit()->setMaxLength(kMaxPeerPortInput);
    for (std::string_view entry : kWellKnownPorts)
        f.otherPort->addItem(qs(entry));
    f.otherPort->setCurrentIndex(-1);
    f.otherPort->clearEditText();

    m_action =
        new ActionControls(f.dropBox, f.synOnlyBox, f.limitBox, f.bandwidth, f.minimumSize, this);

    connect(f.adapterCombo, &QComboBox::currentIndexChanged, this, &CAddFilterDlg::adapterSelected);
    connect(f.myAdapterAddress, &QCheckBox::toggled, this, &CAddFilterDlg::applyAdapterAddress);
    connect(f.myAllPorts, &QCheckBox::toggled, this, &CAddFilterDlg::applyLocalAllPorts);
    connect(f.otherAllAddresses, &QCheckBox::toggled, this, &CAddFilterDlg::applyPeerAllAddresses);
    connect(f.otherAllPorts, &QCheckBox::toggled, this, &CAddFilterDlg::applyPeerAllPorts);
    connect(f.myPortAdd, &QPushButton::clicked, this, [this] { addPort(PortListSide::Local); });
    connect(f.otherPortAdd, &QPushButton::clicked, this, [this] { addPort(PortListSide::Remote); });
    connect(f.myPortRemove, &QPushButton::clicked, this,
            [this] { removePorts(PortListSide::Local); });
    connect(f.otherPortRemove, &QPushButton::clicked, this,
            [this] { removePorts(PortListSide::Remote); });
    connect(f.processBrowse, &QPushButton::clicked, this, &CAddFilterDlg::browse);

    load(PacketFilter{}, true);
}

CAddFilterDlg::~CAddFilterDlg() = default;

void CAddFilterDlg::load(const PacketFilter& filter, bool isNew) {
    Ui::CAddFilterDlg& f = *m_form;
    f.nameEdit->setText(qs(filter.filterName));
    f.commentEdit->setText(qs(filter.comment));
    f.processEdit->setText(qs(filter.appName));

    // The adapters, the first standing for none. An adapter the filter is bound to
    // but that is not there now keeps an entry of its own, so that editing
    // something else does not lose the binding.
    m_choices.clear();
    int selected = -1;
    for (const AdapterEntry& entry : m_adapters) {
        // The first entry is no adapter, which a filter keeps as an empty name.
        const bool none = m_choices.empty();
        m_choices.push_back({entry.index, none ? std::string() : entry.name, entry.address});
    }
    const int adapterCount = static_cast<int>(m_choices.size());
    if (!filter.adapterName.empty()) {
        for (int i = 1; i < adapterCount; ++i)
            if (m_choices[static_cast<size_t>(i)].name == filter.adapterName)
                selected = i;
        if (selected < 0) {
            m_choices.push_back({AdapterList::kNoAdapterIndex, filter.adapterName, filter.myIp});
            selected = static_cast<int>(m_choices.size()) - 1;
        }
    } else {
        for (int i = 0; i < adapterCount && selected < 0; ++i)
            if (m_choices[static_cast<size_t>(i)].index == filter.adapterIndex)
                selected = i;
        if (selected < 0)
            selected = 0;
        else if (isNew)
            selected = adapterCount >= 2 ? 1 : 0;
    }
    {
        const QSignalBlocker block(f.adapterCombo);
        f.adapterCombo->clear();
        for (size_t i = 0; i < m_choices.size(); ++i) {
            if (i < m_adapters.size())
                f.adapterCombo->addItem(qs(m_adapters[i].description));
            else
                f.adapterCombo->addItem(
                    QString::fromUtf8(kMissingAdapterFormat).arg(qs(m_choices[i].name)));
        }
        f.adapterCombo->setCurrentIndex(selected);
    }
    f.myAddress->setAddress(filter.myIp);
    f.myMask->setAddress(filter.myIpMask);
    {
        const QSignalBlocker block(f.myAdapterAddress);
        f.myAdapterAddress->setEnabled(selected != 0);
        f.myAdapterAddress->setChecked(selected != 0 && filter.isMyIp != 0);
    }
    applyAdapterAddress();

    (filter.protocol == ovlank::kProtocolTcp ? f.tcpRadio : f.udpRadio)->setChecked(true);
    (filter.direction == kDirectionDown ? f.downRadio : f.upRadio)->setChecked(true);

    m_action->load(filter);

    m_localPorts = PortEntryList::fromRanges(PortListSide::Local, filter.myPorts);
    m_peerPorts = PortEntryList::fromRanges(PortListSide::Remote, filter.otherPorts);
    showPorts(PortListSide::Local);
    showPorts(PortListSide::Remote);
    f.myAllPorts->setChecked(filter.isMyAllPort != 0);
    applyLocalAllPorts();

    f.otherAddress->setAddress(filter.otherIp);
    f.otherMask->setAddress(filter.otherIpMask);
    {
        const QSignalBlocker block(f.otherAllAddresses);
        f.otherAllAddresses->setChecked(filter.otherIpMask == 0);
    }
    if (filter.otherIpMask == 0) {
        applyPeerAllAddresses();
    } else {
        f.otherAddress->setEnabled(true);
        f.otherMask->setEnabled(true);
    }
    f.otherAllPorts->setChecked(filter.isOtherAllPort != 0);
    applyPeerAllPorts();
}

uint32_t CAddFilterDlg::entryAddress(int entry) const {
    if (entry < 0 || entry >= static_cast<int>(m_choices.size()))
        return 0;
    return m_choices[static_cast<size_t>(entry)].address;
}

void CAddFilterDlg::adapterSelected(int entry) {
    QCheckBox* box = m_form->myAdapterAddress;
    const QSignalBlocker block(box);
    box->setEnabled(entry > 0);
    box->setChecked(entry > 0);
    applyAdapterAddress();
}

void CAddFilterDlg::applyAdapterAddress() {
    const bool follows = m_form->myAdapterAddress->isChecked();
    m_form->myAddress->setEnabled(!follows);
    if (follows)
        m_form->myAddress->setAddress(entryAddress(m_form->adapterCombo->currentIndex()));
}

void CAddFilterDlg::applyLocalAllPorts() {
    const bool all = m_form->myAllPorts->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{m_form->myPort, m_form->myPortAdd,
                                                      m_form->myPortRemove, m_form->myPortList})
        w->setEnabled(!all);
}

void CAddFilterDlg::applyPeerAllAddresses() {
    const bool all = m_form->otherAllAddresses->isChecked();
    m_form->otherAddress->setEnabled(!all);
    m_form->otherMask->setEnabled(!all);
    m_form->otherMask->setAddress(all ? 0 : kHostMask);
}

void CAddFilterDlg::applyPeerAllPorts() {
    const bool all = m_form->otherAllPorts->isChecked();
    for (QWidget* w :
         std::initializer_list<QWidget*>{m_form->otherPort, m_form->otherPortAdd,
                                         m_form->otherPortRemove, m_form->otherPortList})
        w->setEnabled(!all);
}

void CAddFilterDlg::showPorts(PortListSide side) {
    const PortEntryList& ports = side == PortListSide::Local ? m_localPorts : m_peerPorts;
    QListWidget* list = side == PortListSide::Local ? m_form->myPortList : m_form->otherPortList;
    list->clear();
    for (const std::string& entry : ports.entries())
        list->addItem(qs(entry));
}

void CAddFilterDlg::addPort(PortListSide side) {
    const bool local = side == PortListSide::Local;
    PortEntryList& ports = local ? m_localPorts : m_peerPorts;
    const QString typed = local ? m_form->myPort->text() : m_form->otherPort->currentText();
    if (!ports.add(toUtf8(typed), m_messages))
        return;
    showPorts(side);
    if (local) {
        m_form->myPort->clear();
    } else {
        m_form->otherPort->setCurrentIndex(-1);
        m_form->otherPort->clearEditText();
    }
}

void CAddFilterDlg::removePorts(PortListSide side) {
    PortEntryList& ports = side == PortListSide::Local ? m_localPorts : m_peerPorts;
    QListWidget* list = side == PortListSide::Local ? m_form->myPortList : m_form->otherPortList;
    std::vector<int> rows;
    for (const QListWidgetItem* item : list->selectedItems())
        rows.push_back(list->row(item));
    std::sort(rows.rbegin(), rows.rend());
    for (int row : rows)
        ports.removeAt(static_cast<size_t>(row));
    showPorts(side);
}

void CAddFilterDlg::browse() {
    if (const std::optional<QString> name = browseProcessName(this))
        m_form->processEdit->setText(*name);
}

bool CAddFilterDlg::check() {
    Ui::CAddFilterDlg& f = *m_form;
    auto refuse = [this](const QString& message, QWidget* field) {
        m_messages.show(toUtf8(message));
        focusField(field);
        return false;
    };
    if (!m_action->checkBandwidth(m_messages))
        return false;
    if (f.myAddress->address() == 0 && f.myMask->address() == kHostMask)
        return refuse(QString::fromUtf8(kBadZeroAddressMessage),
                      f.myAddress->isEnabled() ? static_cast<QWidget*>(f.myAddress)
                                               : f.adapterCombo);
    if (f.otherAddress->address() == 0 && f.otherMask->address() == kHostMask)
        return refuse(QString::fromUtf8(kBadZeroAddressMessage), f.otherAddress);
    if (!f.myAllPorts->isChecked() && m_localPorts.empty())
        return refuse(QString::fromUtf8(kNoPortsMessage), f.myPort);
    if (!f.otherAllPorts->isChecked() && m_peerPorts.empty())
        return refuse(QString::fromUtf8(kNoPortsMessage), f.otherPort);
    if (const QString message = unstorableMessage(f.commentEdit->text()); !message.isEmpty())
        return refuse(message, f.commentEdit);
    if (!m_action->checkMinimumSize(m_messages))
        return false;
    const QString process = f.processEdit->text().trimmed();
    if (process == QStringLiteral("[System Process]") ||
        equalsIgnoringCase(toUtf8(process), "System"))
        return refuse(QString::fromUtf8(kSystemProcessMessage), f.processEdit);
    if (const QString message = unstorableMessage(process); !message.isEmpty())
        return refuse(message, f.processEdit);
    if (const QString message = unstorableMessage(f.nameEdit->text()); !message.isEmpty())
        return refuse(message, f.nameEdit);
    return true;
}

void CAddFilterDlg::accept() {
    if (check())
        QDialog::accept();
}

void CAddFilterDlg::store(PacketFilter& filter) const {
    const Ui::CAddFilterDlg& f = *m_form;
    const QString name = f.nameEdit->text();
    filter.filterName = name.trimmed().isEmpty() ? std::string(kDefaultFilterName) : toUtf8(name);
    filter.comment = toUtf8(f.commentEdit->text());
    const int entry = std::max(0, f.adapterCombo->currentIndex());
    if (entry < static_cast<int>(m_choices.size())) {
        filter.adapterIndex = m_choices[static_cast<size_t>(entry)].index;
        filter.adapterName = m_choices[static_cast<size_t>(entry)].name;
    }
    filter.protocol = f.tcpRadio->isChecked() ? ovlank::kProtocolTcp : ovlank::kProtocolUdp;
    filter.direction = f.downRadio->isChecked() ? kDirectionDown : kDirectionUp;
    filter.isMyIp = f.myAdapterAddress->isChecked() ? 1 : 0;
    filter.myIp = f.myAddress->address();
    filter.myIpMask = f.myMask->address();
    filter.isMyAllPort = f.myAllPorts->isChecked() ? 1 : 0;
    filter.myPorts = m_localPorts.ranges();
    filter.otherIp = f.otherAddress->address();
    filter.otherIpMask = f.otherAllAddresses->isChecked() ? 0 : f.otherMask->address();
    filter.isOtherAllPort = f.otherAllPorts->isChecked() ? 1 : 0;
    filter.otherPorts = m_peerPorts.ranges();
    // A process is found by its file name, which has no blanks around it.
    filter.appName = toUtf8(f.processEdit->text().trimmed());
    m_action->store(filter);
}

} // namespace tavrin::ui
