#include "CommonSettingsIo.h"

#include <string_view>

namespace tavrin::settings {

namespace {

struct BoolKey {
    const char* key;
    int32_t CommonSettings::*field;
};
struct IntKey {
    const char* key;
    int32_t CommonSettings::*field;
};

// Written in this order; WINDOW_SIZE and the rest follow the column lists.
constexpr BoolKey kLeadingBools[] = {
    {"PORT_PROCESS_MAPPING", &CommonSettings::portProcessMapping},
    {"AUTO_SAVE", &CommonSettings::autoSave},
    {"STARTUP_MINIMIZE", &CommonSettings::startupMinimize},
    {"STARTUP_ON", &CommonSettings::startupOn},
    {"NOICON", &CommonSettings::noIcon},
    {"SYSTEM_CHECK", &CommonSettings::systemCheck},
    {"SHOW_ACTIVE_CONNECTION_ONLY", &CommonSettings::showActiveConnectionOnly},
    {"SHOW_LISTENING", &CommonSettings::showListening},
};
constexpr IntKey kLeadingInts[] = {
    {"MAX_PACKET_CAPTURE_NUM", &CommonSettings::maxPacketCaptureNum},
    {"TIME_TO_CALC_AVERAGE_BANDWIDTH", &CommonSettings::timeToCalcAverageBandwidth},
};

void applyColumns(std::array<int32_t, kMaxColumns>& values, size_t count, const IniLine& line) {
    for (size_t i = 0; i < line.items.size() && i < count; ++i)
        if (!line.items[i].empty())
            values[i] = iniInt(line.items[i]);
}

} // namespace

void applyCommonLine(CommonSettings& s, const IniLine& line) {
    const std::string_view key = line.key;
    const std::string* value = line.firstValue();
    if (value == nullptr)
        return;

    for (const BoolKey& k : kLeadingBools) {
        if (key == k.key) {
            s.*k.field = iniBool(*value) ? 1 : 0;
            return;
        }
    }
    for (const IntKey& k : kLeadingInts) {
        if (key == k.key) {
            s.*k.field = iniInt(*value);
            return;
        }
    }
    if (key == "DO_DYNAMIC_FILTERING") {
        s.doDynamicFiltering = iniBool(*value) ? 1 : 0;
    } else if (key == "BANDWIDTH_CONTROL_TIME") {
        const int32_t ms = iniInt(*value);
        s.bandwidthControlTime = ms < 1 ? kDefaultBandwidthControlTime : ms;
    } else if (key == "CONFIRM_CLOSE") {
        s.confirmClose = iniBool(*value) ? 1 : 0;
    } else if (key == "CLOSE_BUTTON_ACTION") {
        s.closeButtonAction = iniInt(*value);
    } else if (key == "WINDOW_SIZE") {
        // Stored as top, left, bottom, right.
        int32_t* const order[] = {&s.window.top, &s.window.left, &s.window.bottom, &s.window.right};
        for (size_t i = 0; i < line.items.size() && i < 4; ++i)
            if (!line.items[i].empty())
                *order[i] = iniInt(line.items[i]);
    } else if (key == "NOT_SHOW_MESSAGE") {
        for (size_t i = 0; i < line.items.size() && i < kMessageFlagCount; ++i)
            if (!line.items[i].empty() && iniInt(line.items[i]) != 0)
                s.messageFlags[i] = 1;
    } else {
        for (const ColumnListInfo& info : kColumnLists) {
            const auto list = static_cast<size_t>(info.list);
            if (key == info.sizeKey)
                applyColumns(s.columnSizes[list], info.count, line);
            else if (key == info.orderKey)
                applyColumns(s.columnOrders[list], info.count, line);
        }
    }
}

bool writeCommonSection(PrivateProfile& profile, const CommonSettings& s, const std::string& file) {
    const std::string& section = s.commonSectionName;
    bool ok = true;
    auto put = [&](const char* key, const std::string& value) {
        ok = profile.writeString(section, key, value, file) && ok;
    };
    put("INI_FILE_VERSION", std::to_string(kIniFileVersion));
    for (const BoolKey& k : kLeadingBools)
        put(k.key, iniBoolText(s.*k.field));
    for (const IntKey& k : kLeadingInts)
        put(k.key, std::to_string(s.*k.field));
    put("DO_DYNAMIC_FILTERING", iniBoolText(s.doDynamicFiltering));
    put("BANDWIDTH_CONTROL_TIME", std::to_string(s.bandwidthControlTime));
    for (const ColumnListInfo& info : kColumnLists)
        put(info.sizeKey,
            iniIntList(s.columnSizes[static_cast<size_t>(info.list)].data(), info.count));
    for (const ColumnListInfo& info : kColumnLists)
        put(info.orderKey,
            iniIntList(s.columnOrders[static_cast<size_t>(info.list)].data(), info.count));
    const int32_t window[] = {s.window.top, s.window.left, s.window.bottom, s.window.right};
    put("WINDOW_SIZE", iniIntList(window, 4));
    put("CONFIRM_CLOSE", iniBoolText(s.confirmClose));
    put("CLOSE_BUTTON_ACTION", std::to_string(s.closeButtonAction));
    put("NOT_SHOW_MESSAGE", iniIntList(s.messageFlags.data(), kMessageFlagCount));
    return ok;
}

} // namespace tavrin::settings
