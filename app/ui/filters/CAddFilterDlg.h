// "フィルタ編集": the dialog in which one packet filter is made or changed. It holds
// the filter's values while it is open, checks them on OK in the order of its
// controls and hands them back with store().
#pragma once

#include "PacketFilter.h"
#include "PortEntryList.h"

#include <QDialog>

#include <memory>

namespace Ui {
class CAddFilterDlg;
}

namespace tavrin {
class AdapterList;
class Messages;
} // namespace tavrin

namespace tavrin::ui {

class ActionControls;

inline constexpr char kBadZeroAddressMessage[] =
    "IPアドレス「0.0.0.0」は無効です。\nネットワークアダプタを指定するか、IPアドレスまたはIPア"
    "ドレスマスクを手動で設定してください。";
inline constexpr char kNoPortsMessage[] =
    "自分または通信相手のポート番号が一つも指定されていません。";
inline constexpr char kSystemProcessMessage[] =
    "システムプロセスにフィルタを適用することはできません。";
inline constexpr char kDefaultFilterName[] = "NewFilter";
// An adapter that a filter is bound to but that is not there now.
inline constexpr char kMissingAdapterFormat[] = "%1 (見つかりません)";

// "「,」は使えません" for the first character of `text` that no settings value can
// hold, or an empty string when every character can be stored.
QString unstorableMessage(const QString& text);

class CAddFilterDlg final : public QDialog {
    Q_OBJECT
public:
    CAddFilterDlg(const AdapterList& adapters, Messages& messages, QWidget* parent = nullptr);
    ~CAddFilterDlg() override;

    // Fills the controls from `filter`; `isNew` when the dialog makes a new filter.
    void load(const PacketFilter& filter, bool isNew);
    // The dialog's values into `filter`, after OK. An empty name becomes
    // "NewFilter"; the enabled state, the ID and what is measured stay as they are.
    void store(PacketFilter& filter) const;

    Ui::CAddFilterDlg& form() const { return *m_form; }

public slots:
    void accept() override;

private:
    void adapterSelected(int entry);
    void applyAdapterAddress();
    void applyLocalAllPorts();
    void applyPeerAllAddresses();
    void applyPeerAllPorts();
    void addPort(PortListSide side);
    void removePorts(PortListSide side);
    void showPorts(PortListSide side);
    void browse();
    uint32_t entryAddress(int entry) const;
    bool check();

    std::unique_ptr<Ui::CAddFilterDlg> m_form;
    const AdapterList& m_adapters;
    Messages& m_messages;
    ActionControls* m_action;
    PortEntryList m_localPorts{PortListSide::Local};
    PortEntryList m_peerPorts{PortListSide::Remote};
    // Each combo entry's adapter: index and name, the first being no adapter.
    struct AdapterChoice {
        int32_t index;
        std::string name;
        uint32_t address;
    };
    std::vector<AdapterChoice> m_choices;
};

} // namespace tavrin::ui
