// The filter records: Filter ← CommonFilter ← PacketFilter and DynamicFilter.
// Fields are public and carry their defaults, so the settings reader and writer
// and the editors reach every one by its name. Texts that an editor takes (names,
// comments, process names) must pass isStorableText: the settings writer refuses a
// filter holding a text that would read back as another.
#pragma once

#include "BandwidthSamples.h"
#include "BoundedText.h"
#include "OvlankProtocol.h"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tavrin {

inline constexpr int32_t kPacketFilterKind = 1;
// Dynamic filters are never asked for their kind; they still get one of their own.
inline constexpr int32_t kDynamicFilterKind = 2;

inline constexpr std::string_view kOtherProtocolText = "その他";

// "ICMP", "TCP", "UDP", or "その他" for any other protocol number.
std::string_view ProtocolText(uint16_t protocol);

// Thrown when a filter cannot become a driver rule; what() is the text to show.
class FilterConversionError final : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Filter {
public:
    virtual ~Filter() = default;

    // Fills the rule's match and action fields; the reserved areas are left as
    // they are.
    virtual void ToDriverRule(ovlank::DriverRule& rule) const = 0;
    // A new object of the same class with every field equal.
    virtual std::unique_ptr<Filter> Clone() const = 0;
    // The one-line description of the filter list.
    virtual std::string GetDescription() const = 0;

    // Records the bytes counted for this filter during the last second and keeps
    // the mean of the last windowLength samples (see BandwidthHistory::append).
    void AddBandwidthSample(int32_t bytesPerSecond, int32_t windowLength);

    bool operator==(const Filter&) const = default;

    int32_t kind;
    int32_t available = 1; // takes part in filtering
    BandwidthHistory bandwidthSamples;
    int32_t currentBandwidth = 0;  // bytes per second, the latest sample
    uint32_t averageBandwidth = 0; // bytes per second, the mean of the samples

protected:
    explicit Filter(int32_t filterKind) : kind(filterKind) {}
    Filter(const Filter&) = default;
    Filter& operator=(const Filter&) = default;
};

// The identity and the action, shared by packet and dynamic filters.
class CommonFilter : public Filter {
public:
    static constexpr uint16_t kDefaultProtocol = ovlank::kProtocolTcp;
    static constexpr int32_t kDefaultDropSynOnly = 1;
    static constexpr int32_t kDefaultBandwidth = 30;          // KB/s
    static constexpr int32_t kDefaultMinimumPacketSize = 100; // bytes
    static constexpr std::string_view kDefaultFilterName = "NewFilter";
    // Counted with legacyTextWidth, as the Windows version counted its bytes.
    static constexpr size_t kMaxFilterNameWidth = 100;
    static constexpr size_t kMaxCommentWidth = 127;
    static constexpr int32_t kLowestId = 1;
    static constexpr int32_t kHighestId = 63;

    bool operator==(const CommonFilter&) const = default;

    int32_t id = 0;                     // 1 to 63 within its list; 0 until a list assigns one
    int32_t appliedDynamicFilterId = 0; // on a dynamic filter's overriding copy only
    uint16_t protocol = kDefaultProtocol;
    int32_t drop = 0;
    int32_t dropSynOnly = kDefaultDropSynOnly;
    int32_t doBand = 0;
    int32_t bandwidth = kDefaultBandwidth;
    int32_t minimumPacketSize = kDefaultMinimumPacketSize;
    BoundedText<kMaxFilterNameWidth> filterName{kDefaultFilterName};
    BoundedText<kMaxCommentWidth> comment;

protected:
    using Filter::Filter;
    CommonFilter(const CommonFilter&) = default;
    CommonFilter& operator=(const CommonFilter&) = default;

    // The action fields of a rule: protocol, the two flags, limit and minimum size.
    void fillAction(ovlank::DriverRule& rule) const;
};

} // namespace tavrin
