// The action part of both filter dialogs: drop, connection requests only, the
// bandwidth limit with its number and the minimum packet size. One place decides
// which of these controls can be used, from their check marks.
#pragma once

#include "Filter.h"

#include <QObject>

class QCheckBox;

namespace tavrin {
class Messages;
}

namespace tavrin::ui {

class NumberSpinField;

inline constexpr int kMaxBandwidth = 2147483647; // KB/s, what the settings file holds
inline constexpr int kMaxMinimumPacketSize = 1500;

class ActionControls final : public QObject {
    Q_OBJECT
public:
    ActionControls(QCheckBox* drop, QCheckBox* synOnly, QCheckBox* limit,
                   NumberSpinField* bandwidth, NumberSpinField* minimumSize,
                   QObject* parent = nullptr);

    void load(const CommonFilter& filter);
    // On OK, in the dialog's control order. A field that cannot be used now is not
    // checked: it keeps the value it was loaded with unless it holds a valid one.
    bool checkBandwidth(Messages& messages);
    bool checkMinimumSize(Messages& messages);
    // After both checks passed.
    void store(CommonFilter& filter) const;

    // Connection requests only can be chosen only for a dropping filter, and a
    // limit only for one that lets packets through or drops connection requests
    // only; a limit that cannot be chosen is cleared.
    void update();

private:
    QCheckBox* m_drop;
    QCheckBox* m_synOnly;
    QCheckBox* m_limit;
    NumberSpinField* m_bandwidth;
    NumberSpinField* m_minimumSize;
    int32_t m_loadedBandwidth = CommonFilter::kDefaultBandwidth;
    int32_t m_loadedMinimumSize = CommonFilter::kDefaultMinimumPacketSize;
};

} // namespace tavrin::ui
