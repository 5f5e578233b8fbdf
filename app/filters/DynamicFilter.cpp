#include "DynamicFilter.h"

namespace tavrin {
namespace {

// "LABEL10KB/s以上20KB/s以下": the piece of one bandwidth band.
std::string bandText(std::string_view label, int32_t low, int32_t high) {
    std::string out(label);
    if (low != 0)
        out += std::to_string(low) + "KB/s以上";
    if (high != 0)
        out += std::to_string(high) + "KB/s以下";
    return out;
}

void appendPiece(std::string& text, const std::string& piece) {
    if (!text.empty())
        text += " かつ ";
    text += piece;
}

} // namespace

void DynamicFilter::ToDriverRule(ovlank::DriverRule&) const {
    throw FilterConversionError(std::string(kNotConvertibleText));
}

std::unique_ptr<Filter> DynamicFilter::Clone() const {
    return std::make_unique<DynamicFilter>(*this);
}

std::string DynamicFilter::GetDescription() const {
    return {};
}

std::string DynamicFilter::GetConditionText(const PacketFilterLookup& findPacketFilter) const {
    std::string text;
    if (!runningProcessName.empty())
        appendPiece(text, runningProcessName + "が起動中");
    if (!connectingProcessName.empty())
        appendPiece(text, connectingProcessName + "のコネクションが存在");
    if (totalUpLow != 0 || totalUpHigh != 0)
        appendPiece(text, bandText("TOTAL UP帯域が", totalUpLow, totalUpHigh));
    if (totalDownLow != 0 || totalDownHigh != 0)
        appendPiece(text, bandText("TOTAL DOWN帯域が", totalDownLow, totalDownHigh));
    // ID 0 names no filter, even when a filter in the list has not been given an ID.
    if ((filterBandwidthLow != 0 || filterBandwidthHigh != 0) && triggerFilterId != 0) {
        const PacketFilter* trigger =
            findPacketFilter ? findPacketFilter(triggerFilterId) : nullptr;
        if (trigger != nullptr)
            appendPiece(text, bandText(trigger->filterName.str() + "の帯域が", filterBandwidthLow,
                                       filterBandwidthHigh));
    }
    if (text.empty())
        text = kNoConditionText;
    return text;
}

} // namespace tavrin
