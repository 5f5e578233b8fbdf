#include "PortSpec.h"

#include "Messages.h"
#include "NumberText.h"
#include "ServiceNameTable.h"

#include <utility>

namespace tavrin {
namespace {

constexpr uint32_t kHighestPort = 65535;

struct Number {
    uint16_t value = 0;      // 0 when out of range
    bool outOfRange = false; // below 0 or above 65535
    bool hasDigits = false;
};

// Reads like atoi, without its overflow: the value saturates once it is past the range.
Number readNumber(std::string_view s) {
    const LeadingNumber read = readLeadingNumber(s, kHighestPort + 1);
    Number n;
    n.hasDigits = read.hasDigits;
    if (read.magnitude > kHighestPort || (read.negative && read.magnitude != 0)) {
        n.outOfRange = true;
        return n;
    }
    n.value = static_cast<uint16_t>(read.magnitude);
    return n;
}

struct Parsed {
    PortRange range;
    bool outOfRange = false;
    bool hasDigits = false;
};

Parsed parse(std::string_view text) {
    if (const size_t nul = text.find('\0'); nul != std::string_view::npos)
        text = text.substr(0, nul);
    Parsed p;
    if (text == "All")
        return p;
    Number low;
    Number high;
    const size_t stop = text.find_first_of("-( ");
    if (stop != std::string_view::npos && text[stop] == '-') {
        low = readNumber(text.substr(0, stop));
        high = readNumber(text.substr(stop + 1));
    } else {
        low = readNumber(text);
        high = low;
    }
    uint16_t lowValue = low.value;
    uint16_t highValue = high.value;
    if (highValue < lowValue)
        std::swap(lowValue, highValue);
    p.range = PortRange::fromHost(lowValue, highValue);
    p.outOfRange = low.outOfRange || high.outOfRange;
    p.hasDigits = low.hasDigits || high.hasDigits;
    return p;
}

} // namespace

PortRange ParsePortSpec(std::string_view text) {
    return parse(text).range;
}

bool ValidatePortSpec(std::string_view text, Messages& messages) {
    if (text.empty())
        return false;
    const Parsed p = parse(text);
    if (text.size() > kMaxPortTextLength || p.outOfRange || !p.hasDigits) {
        messages.show(kPortRangeMessage);
        return false;
    }
    return true;
}

std::string FormatPortRange(PortRange range) {
    const uint16_t low = range.hostLow();
    const uint16_t high = range.hostHigh();
    if (low == high)
        return std::to_string(low);
    return std::to_string(low) + "-" + std::to_string(high);
}

std::string FormatPortLabel(PortRange range) {
    std::string text = FormatPortRange(range);
    const std::string_view name = ServiceNameTable::serviceName(range.low, range.high);
    if (!name.empty()) {
        text.append(" (");
        text.append(name);
        text.push_back(')');
    }
    return text;
}

std::string FormatPortList(std::span<const PortRange> ranges) {
    std::string text;
    for (const PortRange& r : ranges) {
        if (!text.empty())
            text.push_back(',');
        text.append(FormatPortRange(r));
    }
    return text;
}

} // namespace tavrin
