// Port texts and host names from anywhere: a settings file, the command line, a
// name server. Reading them must never fail, and the results must keep their rules.
#include "Messages.h"
#include "PortEntryList.h"
#include "PortSpec.h"
#include "RegistrableDomain.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

class SilentMessages final : public tavrin::Messages {
public:
    void show(std::string_view, std::string_view, tavrin::MessageIcon) override {}
    tavrin::Answer askYesNo(std::string_view, std::string_view, tavrin::MessageIcon) override {
        return tavrin::Answer::No;
    }
    tavrin::Answer askYesNoCancel(std::string_view, std::string_view,
                                  tavrin::MessageIcon) override {
        return tavrin::Answer::Cancel;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const tavrin::PortRange range = tavrin::ParsePortSpec(text);
    if (range.hostLow() > range.hostHigh())
        std::abort();
    // What is written out reads back as the same range.
    if (tavrin::ParsePortSpec(tavrin::FormatPortRange(range)) != range ||
        tavrin::ParsePortSpec(tavrin::FormatPortLabel(range)) != range)
        std::abort();

    SilentMessages messages;
    tavrin::PortEntryList list(tavrin::PortListSide::Remote);
    if (list.add(text, messages) && list.ranges().front() != range)
        std::abort();

    // The domain is always the tail of the name, whole labels only.
    const std::string domain = tavrin::registrableDomain(text);
    if (!domain.empty()) {
        std::string_view name = text;
        if (name.back() == '.')
            name.remove_suffix(1);
        const bool whole = name == domain;
        const bool tail = name.size() > domain.size() &&
                          name.substr(name.size() - domain.size()) == domain &&
                          name[name.size() - domain.size() - 1] == '.';
        if (!whole && !tail)
            std::abort();
    }
    return 0;
}
