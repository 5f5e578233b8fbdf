#include "IniFileReader.h"

#include "AdapterBinding.h"
#include "CommonSettingsIo.h"
#include "IniLine.h"
#include "PortSpec.h"
#include "TextEncoding.h"

#include <algorithm>
#include <bitset>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string_view>

namespace tavrin::settings {

namespace {

using Fetch = std::function<uint32_t(std::span<char>)>;

// Runs a profile read into `buffer`, which grows while the read reports it too
// small, and gives the strings as views into it: false when even the largest buffer
// is too small. The buffer is kept from one read to the next, so that a file of many
// small sections is not a buffer made and cleared for each.
bool fetchStrings(const Fetch& fetch, std::vector<char>& buffer, size_t initialSize,
                  std::vector<std::string_view>& strings) {
    strings.clear();
    if (buffer.size() < initialSize)
        buffer.resize(initialSize);
    for (;;) {
        // Whatever the count says, the strings are taken only from inside the buffer.
        const size_t n = std::min<size_t>(fetch(buffer), buffer.size() - 1);
        buffer.back() = '\0';
        if (n + 2 != buffer.size()) {
            // The strings end at n at the latest, whatever a longer read left behind.
            buffer[n] = '\0';
            for (size_t i = 0; i < n;) {
                const std::string_view s(buffer.data() + i);
                strings.push_back(s);
                i += s.size() + 1;
            }
            return true;
        }
        if (buffer.size() >= kMaxBufferSize)
            return false;
        // Doubling keeps the work and the room left over proportional to the data.
        buffer.resize(std::min(buffer.size() * 2, kMaxBufferSize));
    }
}

uint16_t protocolFrom(int32_t value) {
    // Out-of-range numbers must not wrap to 0, which would match every protocol.
    return value >= 0 && value <= 0xFFFF ? static_cast<uint16_t>(value) : uint16_t{0xFFFF};
}

// What reading one filter section found that the user is told about afterwards.
struct TextsCut {
    bool name = false;
    bool comment = false;
};

struct PacketContext {
    const AdapterList& adapters;
    Messages& messages;
    bool& allIpMark;
    bool portsCut = false;
    TextsCut texts;
};

void appendPorts(std::vector<PortRange>& ports, const IniLine& line, PacketContext& ctx) {
    for (const std::string& item : line.items) {
        if (item.empty())
            continue;
        if (ports.size() >= kMaxPortRanges) {
            ctx.portsCut = true;
            return;
        }
        ports.push_back(ParsePortSpec(item));
    }
}

int32_t directionFrom(const std::string& text, Messages& messages) {
    if (text == "UP")
        return kDirectionUp;
    if (text == "DOWN")
        return kDirectionDown;
    if (text == "OTHER")
        return kDirectionOther;
    messages.show(std::string(kMessageInvalidDirectionPrefix) + text);
    return -1;
}

void applyCommonFilterLine(CommonFilter& f, std::string_view key, const std::string& value,
                           TextsCut& cut) {
    if (key == "DROP")
        f.drop = iniBool(value) ? 1 : 0;
    else if (key == "DROP_SYN_ONLY")
        f.dropSynOnly = iniBool(value) ? 1 : 0;
    else if (key == "BANDWIDTH")
        f.bandwidth = iniInt(value);
    else if (key == "DO_BAND")
        f.doBand = iniBool(value) ? 1 : 0;
    else if (key == "MINIMUM_PACKET_SIZE")
        f.minimumPacketSize = iniInt(value);
    else if (key == "AVAILABLE")
        f.available = iniBool(value) ? 1 : 0;
    else if (key == "COMMENT")
        cut.comment = !f.comment.assign(iniTextItem(value));
    else if (key == "FILTER_NAME")
        cut.name = !f.filterName.assign(iniTextItem(value));
}

void applyPacketLine(PacketFilter& f, const IniLine& line, PacketContext& ctx) {
    const std::string_view key = line.key;
    const std::string* value = line.firstValue();
    if (value == nullptr)
        return;
    if (key == "OTHER_PORT") {
        appendPorts(f.otherPorts, line, ctx);
    } else if (key == "MY_PORT") {
        appendPorts(f.myPorts, line, ctx);
    } else if (key == "PROTOCOL") {
        f.protocol = protocolFrom(iniInt(*value));
    } else if (key == "ADAPTER_NAME") {
        bindAdapterByName(f, iniTextItem(*value), ctx.adapters);
    } else if (key == "ADAPTER_INDEX") {
        // Taken as the kernel's interface index, as the program keeps indices.
        bindAdapterByIndex(f, iniInt(*value), ctx.adapters);
    } else if (key == "OTHER_IP") {
        f.otherIp = iniAddress(*value);
    } else if (key == "MY_IP") {
        f.myIp = iniAddress(*value);
    } else if (key == "IS_MY_IP") {
        f.isMyIp = iniBool(*value) ? 1 : 0;
    } else if (key == "OTHER_IP_MASK") {
        // Files of the oldest format meant "every remote address" this way.
        f.otherIpMask = ctx.allIpMark && f.otherIp == 0 ? 0 : iniAddress(*value);
    } else if (key == "IS_OTHER_ALL_IP") {
        f.otherIpMask = 0;
        ctx.allIpMark = true;
    } else if (key == "IS_OTHER_ALL_PORT") {
        f.isOtherAllPort = iniBool(*value) ? 1 : 0;
    } else if (key == "MY_IP_MASK") {
        f.myIpMask = iniAddress(*value);
    } else if (key == "IS_MY_ALL_PORT") {
        f.isMyAllPort = iniBool(*value) ? 1 : 0;
    } else if (key == "DIR") {
        f.direction = directionFrom(*value, ctx.messages);
    } else if (key == "APPNAME") {
        f.appName = iniTextItem(*value);
    } else if (key == "ID") {
        f.id = iniInt(*value);
    } else {
        applyCommonFilterLine(f, key, *value, ctx.texts);
    }
}

void applyDynamicLine(DynamicFilter& f, const IniLine& line, TextsCut& cut) {
    const std::string_view key = line.key;
    const std::string* value = line.firstValue();
    if (value == nullptr)
        return;
    if (key == "TARGET_FILTER_ID") {
        for (const std::string& item : line.items)
            if (!item.empty())
                f.targetFilterIds.push_back(iniInt(item));
    } else if (key == "TRIGGER_RUNNING_PROCESS_NAME") {
        f.runningProcessName = iniTextItem(*value);
    } else if (key == "TRIGGER_CONNECTING_PROCESS_NAME") {
        f.connectingProcessName = iniTextItem(*value);
    } else if (key == "TRIGGER_TOTAL_UP_BANDWIDTH_LOW") {
        f.totalUpLow = iniInt(*value);
    } else if (key == "TRIGGER_TOTAL_UP_BANDWIDTH_HIGH") {
        f.totalUpHigh = iniInt(*value);
    } else if (key == "TRIGGER_TOTAL_DOWN_BANDWIDTH_LOW") {
        f.totalDownLow = iniInt(*value);
    } else if (key == "TRIGGER_TOTAL_DOWN_BANDWIDTH_HIGH") {
        f.totalDownHigh = iniInt(*value);
    } else if (key == "TRIGGER_FILTER_BANDWIDTH_LOW") {
        f.filterBandwidthLow = iniInt(*value);
    } else if (key == "TRIGGER_FILTER_BANDWIDTH_HIGH") {
        f.filterBandwidthHigh = iniInt(*value);
    } else if (key == "TRIGGER_FILTER_BANDWIDTH_ID") {
        f.triggerFilterId = iniInt(*value);
    } else {
        applyCommonFilterLine(f, key, *value, cut);
    }
}

void showFormatted(Messages& messages, const char* format, const std::string& name) {
    std::string text(std::strlen(format) + name.size() + 1, '\0');
    const int n = std::snprintf(text.data(), text.size(), format, name.c_str());
    text.resize(n > 0 ? std::min(static_cast<size_t>(n), text.size() - 1) : 0);
    messages.show(text);
}

void showTextsCut(Messages& messages, const CommonFilter& f, const TextsCut& cut) {
    if (cut.name)
        showFormatted(messages, kMessageNameCutFormat, f.filterName.str());
    if (cut.comment)
        showFormatted(messages, kMessageCommentCutFormat, f.filterName.str());
}

using IdSet = std::bitset<CommonFilter::kHighestId + 1>;

template <class List> IdSet idsInUse(const List& filters) {
    IdSet used;
    for (const auto& f : filters)
        if (f->id >= CommonFilter::kLowestId && f->id <= CommonFilter::kHighestId)
            used.set(static_cast<size_t>(f->id));
    return used;
}

std::string numbered(const char* prefix, int n) {
    return prefix + std::to_string(n);
}

} // namespace

namespace {

// Every read of one ReadIniFile sees the same version of the file, read once.
class HeldFile final {
public:
    HeldFile(PrivateProfile& profile, const std::string& file) : m_profile(profile), m_file(file) {
        m_profile.holdFile(m_file);
    }
    ~HeldFile() { m_profile.releaseFile(m_file); }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

private:
    PrivateProfile& m_profile;
    const std::string& m_file;
};

} // namespace

bool IniFileReader::ReadIniFile(IniFileObject& model, const std::string& file) {
    const HeldFile held(m_profile, file);
    std::vector<char> namesBuffer;
    std::vector<std::string_view> names;
    if (!fetchStrings([&](std::span<char> b) { return m_profile.getSectionNames(b, file); },
                      namesBuffer, kSectionNamesBufferSize, names)) {
        m_messages.show(kMessageSectionBufferTooSmall, kCaptionConfirm);
        return false;
    }
    if (names.empty())
        return false;
    if (const size_t line = m_profile.firstUncleanLine(file); line != 0)
        m_messages.show(mixedEncodingMessage(file, line));

    // Filters whose ID is missing, out of range or taken get a free one only once
    // every section was read, so that no free ID pushes a later explicit one aside.
    struct GiveIds {
        IniFileObject& model;
        ~GiveIds() { model.AssignFreePacketFilterIds(); }
    } giveIds{model};
    // The IDs in use so far, so that each section is checked without a search.
    IdSet packetIdsUsed = idsInUse(model.PacketFilters());
    IdSet dynamicIdsUsed = idsInUse(model.DynamicFilters());

    // The mark of the oldest format lasts for the rest of the file.
    bool allIpMark = false;
    int packetCounter = 1;
    int dynamicCounter = 1;
    std::vector<char> linesBuffer;
    std::vector<std::string_view> lines;
    for (const std::string_view nameView : names) {
        const std::string name(nameView);
        if (!fetchStrings([&](std::span<char> b) { return m_profile.getSection(name, b, file); },
                          linesBuffer, kSectionDataBufferSize, lines)) {
            m_messages.show(kMessageDataBufferTooSmall, kCaptionConfirm);
            return false;
        }

        if (name == kCommonSectionName) {
            for (const std::string_view line : lines)
                applyCommonLine(model.Common(), IniLine::parse(line));
        } else if (name == numbered("PacketFilter", packetCounter) ||
                   name == numbered("DirTrellin", packetCounter) ||
                   name == numbered("DirAppFilter", packetCounter)) {
            PacketFilter filter;
            PacketContext ctx{m_adapters, m_messages, allIpMark, false, {}};
            for (const std::string_view line : lines)
                applyPacketLine(filter, IniLine::parse(line), ctx);
            if (ctx.portsCut) {
                char text[512];
                std::snprintf(text, sizeof text, kMessageTooManyPortsFormat,
                              filter.filterName.c_str());
                m_messages.show(text);
            }
            showTextsCut(m_messages, filter, ctx.texts);
            // IDs must stay unique within the list and within 1 to 63.
            if (filter.id < CommonFilter::kLowestId || filter.id > CommonFilter::kHighestId ||
                packetIdsUsed.test(static_cast<size_t>(filter.id)))
                filter.id = 0;
            else
                packetIdsUsed.set(static_cast<size_t>(filter.id));
            model.InsertPacketFilter(model.PacketFilterCount(), filter);
            ++packetCounter;
        } else if (name == numbered("DynamicFilter", dynamicCounter)) {
            DynamicFilter filter;
            TextsCut cut;
            for (const std::string_view line : lines)
                applyDynamicLine(filter, IniLine::parse(line), cut);
            showTextsCut(m_messages, filter, cut);
            // Dynamic filters are numbered anew: the smallest free ID, 0 once all are used.
            filter.id = 0;
            for (int32_t id = CommonFilter::kLowestId; id <= CommonFilter::kHighestId; ++id) {
                if (!dynamicIdsUsed.test(static_cast<size_t>(id))) {
                    filter.id = id;
                    dynamicIdsUsed.set(static_cast<size_t>(id));
                    break;
                }
            }
            model.InsertDynamicFilter(model.DynamicFilterCount(), filter);
            ++dynamicCounter;
        }
    }
    return true;
}

} // namespace tavrin::settings
