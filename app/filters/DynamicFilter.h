// A dynamic filter gives its target packet filters its own action while its
// condition holds. It never becomes a driver rule of its own.
#pragma once

#include "Filter.h"
#include "PacketFilter.h"

#include <functional>
#include <memory>
#include <ranges>
#include <type_traits>
#include <vector>

namespace tavrin {

inline constexpr std::string_view kNotConvertibleText = "このフィルタはTrellinへ変換できません。";
inline constexpr std::string_view kNoConditionText = "なし";

class DynamicFilter final : public CommonFilter {
public:
    // Finds the packet filter with an ID, or nullptr.
    using PacketFilterLookup = std::function<const PacketFilter*(int32_t id)>;

    DynamicFilter() : CommonFilter(kDynamicFilterKind) {}
    DynamicFilter(const DynamicFilter&) = default;
    DynamicFilter& operator=(const DynamicFilter&) = default;
    ~DynamicFilter() override = default;

    // Always throws FilterConversionError with kNotConvertibleText; the rule is
    // left untouched.
    void ToDriverRule(ovlank::DriverRule& rule) const override;
    std::unique_ptr<Filter> Clone() const override;
    // Empty: the dynamic filter list shows the condition text instead.
    std::string GetDescription() const override;

    // The condition column: "a.exeが起動中 かつ TOTAL UP帯域が10KB/s以上20KB/s以下",
    // or "なし". The trigger filter's name is looked up among the packet filters;
    // when it is not there, the filter bandwidth piece is left out.
    std::string GetConditionText(const PacketFilterLookup& findPacketFilter) const;

    // The same over a list of packet filters held by value or by pointer.
    template <std::ranges::range List>
    std::string GetConditionText(const List& packetFilters) const {
        return GetConditionText(PacketFilterLookup([&packetFilters](int32_t wanted) {
            for (const auto& item : packetFilters) {
                const PacketFilter* f = asPointer(item);
                if (f != nullptr && f->id == wanted)
                    return f;
            }
            return static_cast<const PacketFilter*>(nullptr);
        }));
    }

    bool operator==(const DynamicFilter&) const = default;

    std::string runningProcessName;    // condition: a process of this name runs
    std::string connectingProcessName; // condition: it has a TCP connection
    int32_t totalUpLow = 0;            // KB/s; 0: no bound
    int32_t totalUpHigh = 0;
    int32_t totalDownLow = 0;
    int32_t totalDownHigh = 0;
    int32_t filterBandwidthLow = 0;
    int32_t filterBandwidthHigh = 0;
    int32_t triggerFilterId = 0; // the packet filter whose bandwidth is tested; 0: none
    std::vector<int32_t> targetFilterIds;

private:
    static const PacketFilter* asPointer(const PacketFilter& f) { return &f; }
    template <class Pointer> static const PacketFilter* asPointer(const Pointer& p) {
        return p == nullptr ? nullptr : dynamic_cast<const PacketFilter*>(&*p);
    }
};

} // namespace tavrin
