// The filter edit dialog on its own: what it shows when it opens, how its controls
// follow each other, the port lists with their limits, every check on OK in control
// order with its message and the control it focuses, and what it hands back.
#include "CAddFilterDlg.h"

#include "AdapterList.h"
#include "CoreHarness.h"
#include "FilterTestSupport.h"
#include "Ipv4Field.h"
#include "NumberSpinField.h"
#include "PortSpec.h"
#include "RecordingMessages.h"
#include "TempFolder.h"
#include "TextLimit.h"
#include "ui_CAddFilterDlg.h"

#include <QApplication>
#include <QFileDialog>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>
#include <sys/stat.h>

namespace tavrin::ui::test {

namespace {

using core::test::FixedAdapters;
using tavrin::test::RecordingMessages;

uint32_t addr(const char* dotted) {
    return inet_addr(dotted);
}

// The dialog over a machine with the given adapters (the none entry comes first).
struct DialogRig {
    explicit DialogRig(std::vector<AdapterEntry> rows = {{3, addr("192.168.7.2"), "test adapter",
                                                          "eth7"}})
        : m_rows(std::move(rows)), adapters(std::make_unique<FixedAdapters>(m_rows)) {
        adapters.rebuild();
        dialog = std::make_unique<CAddFilterDlg>(adapters, messages);
    }
    // Shown and active, so that a check's focus can be seen.
    bool show() {
        dialog->show();
        dialog->activateWindow();
        return QTest::qWaitForWindowActive(dialog.get());
    }
    Ui::CAddFilterDlg& f() { return dialog->form(); }
    QString lastMessage() const {
        const auto texts = messages.texts();
        return texts.empty() ? QString() : QString::fromStdString(texts.back());
    }

    std::vector<AdapterEntry> m_rows;
    AdapterList adapters;
    RecordingMessages messages;
    std::unique_ptr<CAddFilterDlg> dialog;
};

QStringList listTexts(const QListWidget* list) {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

// A filter as a user might have it: every field away from its default.
PacketFilter fullFilter() {
    PacketFilter f;
    f.id = 7;
    f.available = 0;
    f.filterName = std::string_view("mail");
    f.comment = std::string_view("受信のみ");
    f.adapterIndex = 3;
    f.adapterName = "eth7";
    f.isMyIp = 1;
    f.myIp = addr("192.168.7.2");
    f.myIpMask = addr("255.255.255.0");
    f.otherIp = addr("10.0.0.25");
    f.otherIpMask = addr("255.255.255.255");
    f.protocol = 17;
    f.direction = kDirectionDown;
    f.isMyAllPort = 0;
    f.myPorts = {PortRange::fromHost(20, 21), PortRange::single(80)};
    f.isOtherAllPort = 0;
    f.otherPorts = {PortRange::single(25)};
    f.appName = "postfix";
    f.drop = 1;
    f.dropSynOnly = 1;
    f.doBand = 1;
    f.bandwidth = 64;
    f.minimumPacketSize = 300;
    return f;
}

} // namespace

class CAddFilterDlgTest final : public QObject {
    Q_OBJECT

private slots:
    void okChecksComeInControlOrder();
    void singleChecks_data();
    void singleChecks();
    void actionBoxes_data();
    void actionBoxes();
    void adapterChoiceForNewFilters_data();
    void adapterChoiceForNewFilters();
    void adapterReactions();
    void filterOnAMissingAdapterKeepsIt();
    void zeroAddressOfAnAdapterIsRefused();
    void peerAllAddresses();
    void portLists_data();
    void portLists();
    void portListsHold16Entries_data();
    void portListsHold16Entries();
    void removingSelectedPorts();
    void allPortsBoxes();
    void whatOpensIsWhatComesBack();
    void emptyNameBecomesNewFilter();
    void textLimits_data();
    void textLimits();
    void addressFields_data();
    void addressFields();
    void spinArrows();
    void browsingKeepsTheFileName();
};

// Every check, one after another: each OK stops at the first fault, shows its
// message and focuses the control at fault; after the last fix OK closes.
void CAddFilterDlgTest::okChecksComeInControlOrder() {
    DialogRig rig(std::vector<AdapterEntry>{});
    QVERIFY(rig.show());
    Ui::CAddFilterDlg& f = rig.f();
    f.limitBox->setChecked(true);
    f.bandwidth->edit()->setText(QString());
    f.myMask->setText(QStringLiteral("255.255.255.255"));
    f.myAddress->setText(QStringLiteral("0.0.0.0"));
    f.otherAllAddresses->setChecked(false);
    f.myAllPorts->setChecked(false);
    f.otherAllPorts->setChecked(false);
    f.commentEdit->setText(QStringLiteral("a,b"));
    f.minimumSize->edit()->setText(QStringLiteral("1501"));
    f.processEdit->setText(QStringLiteral("  System "));
    f.nameEdit->setText(QStringLiteral("x,y"));

    struct Step {
        const char* message;
        const char* focus;
        std::function<void()> fix;
    };
    const std::vector<Step> steps = {
        {"整数を入力してください。", "bandwidth",
         [&] { f.bandwidth->edit()->setText(QStringLiteral("0")); }},
        {"1 から 2147483647 までの整数を入力してください。", "bandwidth",
         [&] { f.bandwidth->edit()->setText(QStringLiteral("2147483647")); }},
        {kBadZeroAddressMessage, "myAddress",
         [&] { f.myAddress->setText(QStringLiteral("10.0.0.1")); }},
        {kBadZeroAddressMessage, "otherAddress",
         [&] { f.otherAddress->setText(QStringLiteral("10.0.0.2")); }},
        {kNoPortsMessage, "myPort",
         [&] {
             f.myPort->setText(QStringLiteral("80"));
             f.myPortAdd->click();
         }},
        {kNoPortsMessage, "otherPort",
         [&] {
             f.otherPort->setEditText(QStringLiteral("443"));
             f.otherPortAdd->click();
         }},
        {"「,」は使えません", "commentEdit", [&] { f.commentEdit->setText(QStringLiteral("ab")); }},
        {"0 から 1500 までの整数を入力してください。", "minimumSize",
         [&] { f.minimumSize->edit()->setText(QStringLiteral("0")); }},
        {kSystemProcessMessage, "processEdit",
         [&] { f.processEdit->setText(QStringLiteral("my,tool")); }},
        {"「,」は使えません", "processEdit",
         [&] { f.processEdit->setText(QStringLiteral("tool")); }},
        {"「,」は使えません", "nameEdit", [&] { f.nameEdit->setText(QStringLiteral("xy")); }},
    };
    for (const Step& step : steps) {
        rig.messages.clear();
        f.buttons->button(QDialogButtonBox::Ok)->click();
        QVERIFY(rig.dialog->isVisible());
        QCOMPARE(rig.messages.texts(), std::vector<std::string>{step.message});
        QCOMPARE(focusedName(), QString::fromUtf8(step.focus));
        step.fix();
    }
    rig.messages.clear();
    f.buttons->button(QDialogButtonBox::Ok)->click();
    QVERIFY(rig.messages.texts().empty());
    QCOMPARE(rig.dialog->result(), int(QDialog::Accepted));

    PacketFilter stored;
    rig.dialog->store(stored);
    QCOMPARE(stored.bandwidth, 2147483647);
    QCOMPARE(stored.minimumPacketSize, 0);
    QCOMPARE(stored.appName, std::string("tool"));
    QCOMPARE(stored.myPorts, std::vector<PortRange>{PortRange::single(80)});
    QCOMPARE(stored.otherPorts, std::vector<PortRange>{PortRange::single(443)});
    QCOMPARE(stored.otherIp, addr("10.0.0.2"));
    QCOMPARE(stored.otherIpMask, addr("255.255.255.255"));
}

void CAddFilterDlgTest::singleChecks_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("message"); // empty: accepted

    const QString comma = QStringLiteral("「,」は使えません");
    const QString system = QString::fromUtf8(kSystemProcessMessage);
    QTest::newRow("bandwidth 1") << "bandwidth"
                                 << "1"
                                 << "";
    QTest::newRow("bandwidth past 32 bits") << "bandwidth"
                                            << "2147483648"
                                            << "1 から 2147483647 までの整数を入力してください。";
    QTest::newRow("minimum size 1500") << "minimumSize"
                                       << "1500"
                                       << "";
    QTest::newRow("minimum size left empty") << "minimumSize"
                                             << ""
                                             << "整数を入力してください。";
    QTest::newRow("System") << "process"
                            << "System" << system;
    QTest::newRow("system in blanks") << "process"
                                      << "  sYsTeM  " << system;
    QTest::newRow("the system process") << "process"
                                        << "[System Process]" << system;
    QTest::newRow("a name that begins with system") << "process"
                                                    << "systemd"
                                                    << "";
    QTest::newRow("System with an extension") << "process"
                                              << "System.exe"
                                              << "";
    QTest::newRow("comma in the name") << "name"
                                       << "a,b" << comma;
    QTest::newRow("comma in the comment") << "comment"
                                          << "x," << comma;
    QTest::newRow("other marks are fine") << "comment"
                                          << "a;b=c「」"
                                          << "";
}

// Each check alone, at its bounds, on an otherwise valid new filter.
void CAddFilterDlgTest::singleChecks() {
    QFETCH(QString, field);
    QFETCH(QString, value);
    QFETCH(QString, message);
    DialogRig rig;
    Ui::CAddFilterDlg& f = rig.f();
    f.limitBox->setChecked(true);
    if (field == "bandwidth")
        f.bandwidth->edit()->setText(value);
    else if (field == "minimumSize")
        f.minimumSize->edit()->setText(value);
    else if (field == "process")
        f.processEdit->setText(value);
    else if (field == "name")
        f.nameEdit->setText(value);
    else
        f.commentEdit->setText(value);
    rig.dialog->accept();
    QCOMPARE(rig.lastMessage(), message);
    QCOMPARE(rig.dialog->result() == QDialog::Accepted, message.isEmpty());
    if (field == "process" && message.isEmpty()) {
        PacketFilter stored;
        rig.dialog->store(stored);
        QCOMPARE(QString::fromStdString(stored.appName), value.trimmed());
    }
}

void CAddFilterDlgTest::actionBoxes_data() {
    QTest::addColumn<bool>("drop");
    QTest::addColumn<bool>("synOnly");
    QTest::addColumn<bool>("limited");  // doBand with a bandwidth of 50
    QTest::addColumn<QString>("click"); // the box clicked after opening, or none
    // Afterwards: SYN box enabled, limit box enabled / checked, number fields enabled.
    QTest::addColumn<QList<bool>>("state");

    QTest::newRow("opened passing, limited")
        << false << true << true << "" << QList<bool>{false, true, true, true};
    QTest::newRow("opened passing, unlimited")
        << false << true << false << "" << QList<bool>{false, true, false, false};
    QTest::newRow("opened dropping connection requests, limited")
        << true << true << true << "" << QList<bool>{true, true, true, true};
    QTest::newRow("opened dropping everything")
        << true << false << false << "" << QList<bool>{true, false, false, false};
    QTest::newRow("drop checked without SYN only clears the limit")
        << false << false << true << "drop" << QList<bool>{true, false, false, false};
    QTest::newRow("drop checked with SYN only leaves the limit")
        << false << true << true << "drop" << QList<bool>{true, true, true, true};
    QTest::newRow("drop cleared offers the limit again")
        << true << false << false << "drop" << QList<bool>{false, true, false, false};
    QTest::newRow("SYN only cleared clears the limit")
        << true << true << true << "synOnly" << QList<bool>{true, false, false, false};
    QTest::newRow("SYN only checked offers the limit")
        << true << false << false << "synOnly" << QList<bool>{true, true, false, false};
    QTest::newRow("limit checked")
        << false << true << false << "limit" << QList<bool>{false, true, true, true};
    QTest::newRow("limit cleared")
        << false << true << true << "limit" << QList<bool>{false, true, false, false};
}

// The drop, connection-requests-only and limit boxes as the dialog opens and after
// a click; a cleared drop leaves the SYN box's check mark as it was.
void CAddFilterDlgTest::actionBoxes() {
    QFETCH(bool, drop);
    QFETCH(bool, synOnly);
    QFETCH(bool, limited);
    QFETCH(QString, click);
    QFETCH(QList<bool>, state);
    DialogRig rig;
    PacketFilter filter;
    filter.drop = drop;
    filter.dropSynOnly = synOnly;
    filter.doBand = limited;
    filter.bandwidth = 50;
    rig.dialog->load(filter, false);
    Ui::CAddFilterDlg& f = rig.f();
    rig.dialog->show();
    if (click == "drop")
        f.dropBox->click();
    else if (click == "synOnly")
        f.synOnlyBox->click();
    else if (click == "limit")
        f.limitBox->click();
    const QList<bool> actual{f.synOnlyBox->isEnabled(), f.limitBox->isEnabled(),
                             f.limitBox->isChecked(), f.bandwidth->isEnabled()};
    QCOMPARE(actual, state);
    QCOMPARE(f.minimumSize->isEnabled(), f.bandwidth->isEnabled());
    QCOMPARE(f.synOnlyBox->isChecked(), click == "synOnly" ? !synOnly : synOnly);
    QCOMPARE(f.bandwidth->edit()->text(), QStringLiteral("50"));
}

void CAddFilterDlgTest::adapterChoiceForNewFilters_data() {
    QTest::addColumn<int>("adapters");
    QTest::addColumn<int>("entry");
    QTest::addColumn<bool>("follows");
    QTest::newRow("no adapter") << 0 << 0 << false;
    QTest::newRow("one adapter is chosen") << 1 << 1 << true;
    QTest::newRow("of two, the first") << 2 << 1 << true;
}

// A new filter takes the machine's first adapter and its address.
void CAddFilterDlgTest::adapterChoiceForNewFilters() {
    QFETCH(int, adapters);
    QFETCH(int, entry);
    QFETCH(bool, follows);
    std::vector<AdapterEntry> rows = {{3, addr("192.168.7.2"), "test adapter", "eth7"},
                                      {4, addr("10.20.0.1"), "second", "eth8"}};
    rows.resize(static_cast<size_t>(adapters));
    DialogRig rig(rows);
    rig.dialog->load(PacketFilter{}, true);
    Ui::CAddFilterDlg& f = rig.f();
    QCOMPARE(f.adapterCombo->count(), adapters + 1);
    QCOMPARE(f.adapterCombo->itemText(0), QStringLiteral("指定無し"));
    QCOMPARE(f.adapterCombo->currentIndex(), entry);
    QCOMPARE(f.myAdapterAddress->isChecked(), follows);
    QCOMPARE(f.myAdapterAddress->isEnabled(), follows);
    QCOMPARE(f.myAddress->isEnabled(), !follows);
    QCOMPARE(f.myAddress->text(),
             follows ? QStringLiteral("192.168.7.2") : QStringLiteral("0.0.0.0"));
    PacketFilter stored;
    rig.dialog->store(stored);
    QCOMPARE(stored.adapterIndex, follows ? 3 : -1);
    QCOMPARE(stored.adapterName, std::string(follows ? "eth7" : ""));
    QCOMPARE(stored.isMyIp, follows ? 1 : 0);
}

// Choosing an adapter follows its address; choosing none hands the address back to
// the user. A filter that does not follow its adapter opens with its own address.
void CAddFilterDlgTest::adapterReactions() {
    DialogRig rig;
    PacketFilter filter;
    filter.adapterIndex = 3;
    filter.adapterName = "eth7";
    filter.isMyIp = 0;
    filter.myIp = addr("192.168.7.99");
    rig.dialog->load(filter, false);
    Ui::CAddFilterDlg& f = rig.f();
    QCOMPARE(f.adapterCombo->currentIndex(), 1);
    QVERIFY(f.myAdapterAddress->isEnabled());
    QVERIFY(!f.myAdapterAddress->isChecked());
    QCOMPARE(f.myAddress->text(), QStringLiteral("192.168.7.99"));
    QVERIFY(f.myAddress->isEnabled());

    f.myAdapterAddress->click();
    QCOMPARE(f.myAddress->text(), QStringLiteral("192.168.7.2"));
    QVERIFY(!f.myAddress->isEnabled());

    f.adapterCombo->setCurrentIndex(0);
    QVERIFY(!f.myAdapterAddress->isChecked());
    QVERIFY(!f.myAdapterAddress->isEnabled());
    QVERIFY(f.myAddress->isEnabled());

    f.myAddress->setText(QStringLiteral("172.16.0.1"));
    f.adapterCombo->setCurrentIndex(1);
    QVERIFY(f.myAdapterAddress->isChecked());
    QCOMPARE(f.myAddress->text(), QStringLiteral("192.168.7.2"));
}

// A filter whose adapter is away (a VPN that is down) keeps that adapter when the
// dialog is closed with OK, rather than falling back to none.
void CAddFilterDlgTest::filterOnAMissingAdapterKeepsIt() {
    DialogRig rig;
    PacketFilter filter;
    filter.adapterName = "wg9";
    filter.adapterIndex = -1;
    filter.isMyIp = 1;
    filter.myIp = addr("10.8.0.2");
    rig.dialog->load(filter, false);
    Ui::CAddFilterDlg& f = rig.f();
    QCOMPARE(f.adapterCombo->count(), 3);
    QCOMPARE(f.adapterCombo->currentText(), QStringLiteral("wg9 (見つかりません)"));
    QVERIFY(f.myAdapterAddress->isChecked());
    QCOMPARE(f.myAddress->text(), QStringLiteral("10.8.0.2"));
    rig.dialog->accept();
    PacketFilter stored;
    rig.dialog->store(stored);
    QCOMPARE(stored.adapterName, std::string("wg9"));
    QCOMPARE(stored.adapterIndex, -1);
    QCOMPARE(stored.isMyIp, 1);
    QCOMPARE(stored.myIp, addr("10.8.0.2"));
}

// An adapter without an address and a host mask: refused, and the focus goes to the
// adapter choice, since the address field follows the adapter.
void CAddFilterDlgTest::zeroAddressOfAnAdapterIsRefused() {
    DialogRig rig({{5, 0, "no address yet", "usb0"}});
    QVERIFY(rig.show());
    rig.dialog->load(PacketFilter{}, true);
    QVERIFY(rig.f().myAdapterAddress->isChecked());
    rig.dialog->accept();
    QCOMPARE(rig.lastMessage(), QString::fromUtf8(kBadZeroAddressMessage));
    QCOMPARE(focusedName(), QStringLiteral("adapterCombo"));
    QVERIFY(rig.dialog->result() != QDialog::Accepted);
}

// "全てのIPアドレス" on the peer's side: checked, the mask is 0.0.0.0 and neither
// field can be changed; cleared, the mask is a host mask again.
void CAddFilterDlgTest::peerAllAddresses() {
    DialogRig rig;
    Ui::CAddFilterDlg& f = rig.f();
    QVERIFY(f.otherAllAddresses->isChecked()); // a new filter matches every peer
    QVERIFY(!f.otherAddress->isEnabled());
    QVERIFY(!f.otherMask->isEnabled());
    QCOMPARE(f.otherMask->text(), QStringLiteral("0.0.0.0"));
    f.otherAllAddresses->click();
    QVERIFY(f.otherAddress->isEnabled());
    QVERIFY(f.otherMask->isEnabled());
    QCOMPARE(f.otherMask->text(), QStringLiteral("255.255.255.255"));
    f.otherMask->setText(QStringLiteral("255.255.0.0"));
    f.otherAddress->setText(QStringLiteral("10.1.0.0"));
    PacketFilter stored;
    rig.dialog->store(stored);
    QCOMPARE(stored.otherIpMask, addr("255.255.0.0"));
    f.otherAllAddresses->click();
    rig.dialog->store(stored);
    QCOMPARE(stored.otherIpMask, 0u);

    // A filter with a peer mask opens with the box clear and its own mask.
    PacketFilter filter;
    filter.otherIp = addr("10.1.0.0");
    filter.otherIpMask = addr("255.255.0.0");
    rig.dialog->load(filter, false);
    QVERIFY(!f.otherAllAddresses->isChecked());
    QCOMPARE(f.otherMask->text(), QStringLiteral("255.255.0.0"));
    QVERIFY(f.otherAddress->isEnabled());
}

void CAddFilterDlgTest::portLists_data() {
    QTest::addColumn<bool>("local");
    QTest::addColumn<QStringList>("typed");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QString>("stored"); // FormatPortList of what store() gives

    const QString duplicate = QString::fromUtf8(kPortDuplicateMessage.data());
    const QString range = QString::fromUtf8(kPortRangeMessage.data());
    QTest::newRow("local range put in order")
        << true << QStringList{"21-20"} << QStringList{"20-21"} << QStringList{} << "20-21";
    QTest::newRow("local duplicate, also as a range")
        << true << QStringList{"80", "80", "80-80"} << QStringList{"80"}
        << QStringList{duplicate, duplicate} << "80";
    QTest::newRow("peer entries carry their service")
        << false << QStringList{"443", "22 (ssh)", "4000"}
        << QStringList{"443 (https)", "22 (ssh)", "4000"} << QStringList{} << "443,22,4000";
    QTest::newRow("peer duplicate") << false << QStringList{"80", "80"} << QStringList{"80 (http)"}
                                    << QStringList{duplicate} << "80";
    QTest::newRow("out of range") << true << QStringList{"65535", "65536", "70000-1"}
                                  << QStringList{"65535"} << QStringList{range, range} << "65535";
    QTest::newRow("empty input adds nothing and says nothing")
        << false << QStringList{""} << QStringList{} << QStringList{} << "";
}

// Adding ports with the rules of the model: ordered ranges, refused duplicates and
// out-of-range numbers with their messages, service names on the peer's side; the
// input is emptied after an entry was added.
void CAddFilterDlgTest::portLists() {
    QFETCH(bool, local);
    QFETCH(QStringList, typed);
    QFETCH(QStringList, entries);
    QFETCH(QStringList, messages);
    QFETCH(QString, stored);
    DialogRig rig;
    Ui::CAddFilterDlg& f = rig.f();
    (local ? f.myAllPorts : f.otherAllPorts)->setChecked(false);
    for (const QString& text : typed) {
        if (local)
            f.myPort->setText(text);
        else
            f.otherPort->setEditText(text);
        (local ? f.myPortAdd : f.otherPortAdd)->click();
    }
    QCOMPARE(listTexts(local ? f.myPortList : f.otherPortList), entries);
    QStringList shown;
    for (const std::string& m : rig.messages.texts())
        shown << QString::fromStdString(m);
    QCOMPARE(shown, messages);
    PacketFilter filter;
    rig.dialog->store(filter);
    QCOMPARE(QString::fromStdString(FormatPortList(local ? filter.myPorts : filter.otherPorts)),
             stored);
}

void CAddFilterDlgTest::portListsHold16Entries_data() {
    QTest::addColumn<bool>("local");
    QTest::newRow("local") << true;
    QTest::newRow("peer") << false;
}

// The seventeenth entry of a side is refused, whatever was typed, and the typed
// text stays for the user.
void CAddFilterDlgTest::portListsHold16Entries() {
    QFETCH(bool, local);
    DialogRig rig;
    Ui::CAddFilterDlg& f = rig.f();
    auto add = [&](const QString& text) {
        if (local)
            f.myPort->setText(text);
        else
            f.otherPort->setEditText(text);
        (local ? f.myPortAdd : f.otherPortAdd)->click();
    };
    (local ? f.myAllPorts : f.otherAllPorts)->setChecked(false);
    for (int port = 1000; port < 1016; ++port)
        add(QString::number(port));
    QListWidget* list = local ? f.myPortList : f.otherPortList;
    QCOMPARE(list->count(), 16);
    QVERIFY(rig.messages.texts().empty());
    // The input box was emptied after every entry.
    QCOMPARE(local ? f.myPort->text() : f.otherPort->currentText(), QString());
    add(QStringLiteral("2000"));
    QCOMPARE(rig.messages.texts(), std::vector<std::string>{std::string(kPortListFullMessage)});
    QCOMPARE(list->count(), 16);
    QCOMPARE(local ? f.myPort->text() : f.otherPort->currentText(), QStringLiteral("2000"));
    // Even a duplicate gets the full list's message first.
    rig.messages.clear();
    add(QStringLiteral("1000"));
    QCOMPARE(rig.messages.texts(), std::vector<std::string>{std::string(kPortListFullMessage)});
}

// "削除" removes every selected entry of its own list, and only those.
void CAddFilterDlgTest::removingSelectedPorts() {
    DialogRig rig;
    PacketFilter filter;
    filter.isOtherAllPort = 0;
    filter.otherPorts = {PortRange::single(20), PortRange::single(80), PortRange::single(443),
                         PortRange::fromHost(6000, 6010)};
    filter.isMyAllPort = 0;
    filter.myPorts = {PortRange::single(80)};
    rig.dialog->load(filter, false);
    Ui::CAddFilterDlg& f = rig.f();
    // Stored ranges open without their service names.
    QCOMPARE(listTexts(f.otherPortList), QStringList({"20", "80", "443", "6000-6010"}));
    f.otherPortList->item(1)->setSelected(true);
    f.otherPortList->item(3)->setSelected(true);
    f.otherPortRemove->click();
    QCOMPARE(listTexts(f.otherPortList), QStringList({"20", "443"}));
    QCOMPARE(listTexts(f.myPortList), QStringList({"80"}));
    PacketFilter stored;
    rig.dialog->store(stored);
    QCOMPARE(stored.otherPorts,
             (std::vector<PortRange>{PortRange::single(20), PortRange::single(443)}));
}

// "全てのポート" takes the input, its buttons and the list out of use; the
// entries stay and come back with the box cleared.
void CAddFilterDlgTest::allPortsBoxes() {
    DialogRig rig;
    Ui::CAddFilterDlg& f = rig.f();
    const std::vector<std::pair<QCheckBox*, std::vector<QWidget*>>> sides = {
        {f.myAllPorts, {f.myPort, f.myPortAdd, f.myPortRemove, f.myPortList}},
        {f.otherAllPorts, {f.otherPort, f.otherPortAdd, f.otherPortRemove, f.otherPortList}},
    };
    for (const auto& [box, controls] : sides) {
        QVERIFY(box->isChecked());
        for (QWidget* w : controls)
            QVERIFY(!w->isEnabled());
        box->click();
        for (QWidget* w : controls)
            QVERIFY(w->isEnabled());
    }
    QStringList offered;
    for (int i = 0; i < f.otherPort->count(); ++i)
        offered << f.otherPort->itemText(i);
    QStringList expected;
    for (std::string_view entry : kWellKnownPorts)
        expected << QString::fromUtf8(entry.data(), static_cast<qsizetype>(entry.size()));
    QCOMPARE(offered, expected);
    QCOMPARE(f.myPort->maxLength(), 11);
    QCOMPARE(f.otherPort->lineEdit()->maxLength(), 40);
}

// A filter opened and closed with OK comes back as it was, including what the
// dialog does not show (its ID, the enabled state).
void CAddFilterDlgTest::whatOpensIsWhatComesBack() {
    DialogRig rig;
    const PacketFilter original = fullFilter();
    rig.dialog->load(original, false);
    Ui::CAddFilterDlg& f = rig.f();
    QVERIFY(f.udpRadio->isChecked());
    QVERIFY(f.downRadio->isChecked());
    QCOMPARE(f.processEdit->text(), QStringLiteral("postfix"));
    rig.dialog->accept();
    QCOMPARE(rig.dialog->result(), int(QDialog::Accepted));
    PacketFilter copy = original;
    rig.dialog->store(copy);
    QCOMPARE(copy, original);

    // A field that cannot be used keeps what it was loaded with.
    PacketFilter unlimited = original;
    unlimited.doBand = 0;
    unlimited.bandwidth = -5; // only a hand-edited file has that
    rig.dialog->load(unlimited, false);
    rig.dialog->accept();
    QVERIFY(rig.messages.texts().empty());
    PacketFilter back = unlimited;
    rig.dialog->store(back);
    QCOMPARE(back.bandwidth, -5);
    QCOMPARE(back.doBand, 0);
}

void CAddFilterDlgTest::emptyNameBecomesNewFilter() {
    DialogRig rig;
    rig.f().nameEdit->setText(QString());
    rig.dialog->accept();
    PacketFilter stored;
    stored.filterName = std::string_view("old");
    rig.dialog->store(stored);
    QCOMPARE(stored.filterName.str(), std::string("NewFilter"));
    QCOMPARE(stored.available, 1);
}

void CAddFilterDlgTest::textLimits_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("kept"); // characters

    QTest::newRow("name: 99 letters") << "name" << QString(120, u'a') << 99;
    QTest::newRow("name: 49 kanji") << "name" << QString(60, QChar(0x6F22)) << 49;
    QTest::newRow("name: 99 half-width katakana") << "name" << QString(120, QChar(0xFF71)) << 99;
    QTest::newRow("comment: 127 letters") << "comment" << QString(200, u'c') << 127;
    QTest::newRow("comment: 63 kana") << "comment" << QString(80, QChar(0x3042)) << 63;
    QTest::newRow("process name: no limit") << "process" << QString(300, u'p') << 300;
}

// Names and comments hold as much as the settings file gives them room for:
// typed or pasted beyond, the rest is left out.
void CAddFilterDlgTest::textLimits() {
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(int, kept);
    DialogRig rig;
    Ui::CAddFilterDlg& f = rig.f();
    QLineEdit* edit = field == "name"      ? f.nameEdit
                      : field == "comment" ? f.commentEdit
                                           : f.processEdit;
    edit->clear();
    // Half typed one character at a time, the rest pasted at once.
    for (QChar c : typed.left(typed.size() / 2))
        edit->insert(QString(c));
    edit->insert(typed.mid(typed.size() / 2));
    QCOMPARE(edit->text(), typed.left(kept));
    // A mixed text counts each character by its width.
    if (field == "name") {
        edit->clear();
        edit->insert(QString(96, u'a') + QString(3, QChar(0x6F22)));
        QCOMPARE(edit->text(), QString(96, u'a') + QChar(0x6F22));
        edit->clear();
        edit->insert(QString(97, u'a') + QChar(0xFF71) + QChar(0xFF71) + QChar(0xFF71));
        QCOMPARE(edit->text(), QString(97, u'a') + QChar(0xFF71) + QChar(0xFF71));
    }
    // Line breaks never enter: the settings file could not hold them.
    edit->clear();
    edit->insert(QStringLiteral("a\nb\rc"));
    QCOMPARE(edit->text(), QStringLiteral("abc"));
}

void CAddFilterDlgTest::addressFields_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("state"); // QValidator::State
    QTest::addColumn<QString>("completed");

    QTest::newRow("whole address") << "192.168.0.1" << int(QValidator::Acceptable) << "192.168.0.1";
    QTest::newRow("empty") << "" << int(QValidator::Intermediate) << "0.0.0.0";
    QTest::newRow("two numbers") << "10.1" << int(QValidator::Intermediate) << "10.1.0.0";
    QTest::newRow("a blank between dots")
        << "10..3.4" << int(QValidator::Intermediate) << "10.0.3.4";
    QTest::newRow("leading zeros") << "010.001.0.7" << int(QValidator::Acceptable) << "10.1.0.7";
    QTest::newRow("number past 255") << "256.1.1.1" << int(QValidator::Invalid) << "";
    QTest::newRow("five numbers") << "1.2.3.4.5" << int(QValidator::Invalid) << "";
    QTest::newRow("four digits") << "1000" << int(QValidator::Invalid) << "";
    QTest::newRow("a letter") << "1.2.3.a" << int(QValidator::Invalid) << "";
    QTest::newRow("a sign") << "-1.2.3.4" << int(QValidator::Invalid) << "";
}

// Address fields take dotted quads only; numbers left blank read as 0, and the field
// shows the completed address when it is left.
void CAddFilterDlgTest::addressFields() {
    QFETCH(QString, typed);
    QFETCH(int, state);
    QFETCH(QString, completed);
    Ipv4Validator validator;
    QString text = typed;
    int position = static_cast<int>(text.size());
    QCOMPARE(int(validator.validate(text, position)), state);
    if (state == QValidator::Invalid)
        return;
    QString fixed = typed;
    validator.fixup(fixed);
    QCOMPARE(fixed, completed);
    QCOMPARE(parseDottedQuad(typed), addr(completed.toLatin1().constData()));

    Ipv4Field field;
    field.setText(typed);
    QCOMPARE(field.address(), addr(completed.toLatin1().constData()));
}

// The arrows step within their own range and speed up the longer they are held;
// the field takes digits only.
void CAddFilterDlgTest::spinArrows() {
    const std::vector<NumberSpinField::Acceleration> bandwidth = {
        {1000, 5}, {3000, 20}, {5000, 50}, {7000, 100}};
    const std::pair<qint64, int> held[] = {{0, 1},     {999, 1},    {1000, 5},
                                           {2999, 5},  {3000, 20},  {5000, 50},
                                           {6999, 50}, {7000, 100}, {60000, 100}};
    for (const auto& [ms, increment] : held)
        QCOMPARE(NumberSpinField::incrementAfter(bandwidth, ms), increment);

    DialogRig rig;
    NumberSpinField* field = rig.f().bandwidth;
    rig.f().limitBox->setChecked(true);
    field->setNumber(32766);
    field->stepBy(1);
    QCOMPARE(field->edit()->text(), QStringLiteral("32767"));
    field->stepBy(1);
    QCOMPARE(field->edit()->text(), QStringLiteral("32767"));
    // Typed past the arrows' range: the arrows come back into it.
    field->setNumber(40000);
    field->stepBy(-1);
    QCOMPARE(field->edit()->text(), QStringLiteral("32766"));
    field->setNumber(1);
    field->stepBy(-1);
    QCOMPARE(field->edit()->text(), QStringLiteral("1"));
    field->edit()->clear();
    QTest::keyClicks(field->edit(), QStringLiteral("12a-3"));
    QCOMPARE(field->edit()->text(), QStringLiteral("123"));
    // The typed number stays when the focus moves on.
    QVERIFY(rig.show());
    field->setFocus();
    rig.f().nameEdit->setFocus();
    QCoreApplication::processEvents();
    QCOMPARE(field->edit()->text(), QStringLiteral("123"));
}

// "参照..." opens a file dialog; the process name is the chosen file's name without
// its folder.
void CAddFilterDlgTest::browsingKeepsTheFileName() {
    tavrin::test::TempFolder folder;
    folder.write("backup-tool", "#!/bin/sh\n");
    QVERIFY(::chmod(folder.file("backup-tool").c_str(), 0755) == 0);
    DialogRig rig;
    QString filter;
    whenModalOpens([&](QWidget* modal) {
        auto* files = qobject_cast<QFileDialog*>(modal);
        QVERIFY(files);
        filter = files->selectedNameFilter();
        files->setDirectory(QString::fromStdString(folder.path()));
        files->selectFile(QString::fromStdString(folder.file("backup-tool")));
        QMetaObject::invokeMethod(files, "accept");
    });
    rig.f().processBrowse->click();
    QCOMPARE(filter, QStringLiteral("実行ファイル (*)"));
    QCOMPARE(rig.f().processEdit->text(), QStringLiteral("backup-tool"));

    whenModalOpens([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    rig.f().processBrowse->click();
    QCOMPARE(rig.f().processEdit->text(), QStringLiteral("backup-tool"));
}

} // namespace tavrin::ui::test

QTEST_MAIN(tavrin::ui::test::CAddFilterDlgTest)
#include "CAddFilterDlgTest.moc"
