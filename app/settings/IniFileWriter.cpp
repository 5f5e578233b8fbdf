#include "IniFileWriter.h"

#include "AdapterBinding.h"
#include "CommonSettingsIo.h"
#include "IniLine.h"
#include "PlainText.h"
#include "PortSpec.h"

namespace tavrin::settings {

const char* directionText(int32_t direction) {
    switch (direction) {
    case kDirectionUp: return "UP";
    case kDirectionDown: return "DOWN";
    default: return "OTHER";
    }
}

bool IniFileWriter::WriteIniFile(bool commonOnly, const IniFileObject& model,
                                 const std::string& file) {
    return PutIniFile(commonOnly, model, file) && m_profile.flush(file);
}

bool IniFileWriter::PutIniFile(bool commonOnly, const IniFileObject& model,
                               const std::string& file) {
    bool ok = writeCommonSection(m_profile, model.Common(), file);
    if (!commonOnly) {
        std::string section; // the filter section being written
        auto put = [&](const char* key, const std::string& value) {
            ok = m_profile.writeString(section, key, value, file) && ok;
        };
        auto putText = [&](const char* key, std::string_view value) {
            ok = isStorableText(value) && ok;
            // Blanks at either end would be dropped on reading; the file says what it means.
            put(key, std::string(iniTextItem(value)));
        };
        int n = 0;
        for (const auto& f : model.PacketFilters()) {
            section = "PacketFilter" + std::to_string(++n);
            put("PROTOCOL", std::to_string(f->protocol));
            putText("ADAPTER_NAME", adapterNameToWrite(*f, m_adapters));
            put("OTHER_IP", dottedAddress(f->otherIp));
            put("MY_IP", dottedAddress(f->myIp));
            put("IS_MY_IP", iniBoolText(f->isMyIp));
            put("OTHER_IP_MASK", dottedAddress(f->otherIpMask));
            put("OTHER_PORT", FormatPortList(f->otherPorts));
            put("IS_OTHER_ALL_PORT", iniBoolText(f->isOtherAllPort));
            put("MY_IP_MASK", dottedAddress(f->myIpMask));
            put("MY_PORT", FormatPortList(f->myPorts));
            put("IS_MY_ALL_PORT", iniBoolText(f->isMyAllPort));
            put("DROP", iniBoolText(f->drop));
            put("DROP_SYN_ONLY", iniBoolText(f->dropSynOnly));
            put("BANDWIDTH", std::to_string(f->bandwidth));
            put("DO_BAND", iniBoolText(f->doBand));
            put("MINIMUM_PACKET_SIZE", std::to_string(f->minimumPacketSize));
            put("DIR", directionText(f->direction));
            put("AVAILABLE", iniBoolText(f->available));
            putText("COMMENT", f->comment);
            putText("APPNAME", f->appName);
            putText("FILTER_NAME", f->filterName);
            put("ID", std::to_string(f->id));
        }
        n = 0;
        for (const auto& f : model.DynamicFilters()) {
            section = "DynamicFilter" + std::to_string(++n);
            put("DROP", iniBoolText(f->drop));
            put("DROP_SYN_ONLY", iniBoolText(f->dropSynOnly));
            put("BANDWIDTH", std::to_string(f->bandwidth));
            put("DO_BAND", iniBoolText(f->doBand));
            put("MINIMUM_PACKET_SIZE", std::to_string(f->minimumPacketSize));
            put("AVAILABLE", iniBoolText(f->available));
            putText("COMMENT", f->comment);
            putText("FILTER_NAME", f->filterName);
            putText("TRIGGER_RUNNING_PROCESS_NAME", f->runningProcessName);
            putText("TRIGGER_CONNECTING_PROCESS_NAME", f->connectingProcessName);
            put("TRIGGER_TOTAL_UP_BANDWIDTH_LOW", std::to_string(f->totalUpLow));
            put("TRIGGER_TOTAL_UP_BANDWIDTH_HIGH", std::to_string(f->totalUpHigh));
            put("TRIGGER_TOTAL_DOWN_BANDWIDTH_LOW", std::to_string(f->totalDownLow));
            put("TRIGGER_TOTAL_DOWN_BANDWIDTH_HIGH", std::to_string(f->totalDownHigh));
            put("TRIGGER_FILTER_BANDWIDTH_LOW", std::to_string(f->filterBandwidthLow));
            put("TRIGGER_FILTER_BANDWIDTH_HIGH", std::to_string(f->filterBandwidthHigh));
            put("TRIGGER_FILTER_BANDWIDTH_ID", std::to_string(f->triggerFilterId));
            put("TARGET_FILTER_ID",
                iniIntList(f->targetFilterIds.data(), f->targetFilterIds.size()));
        }
    }
    // All or nothing: a refused key, or a text that would read back as another text,
    // leaves the file as it was.
    if (!ok)
        m_profile.discard(file);
    return ok;
}

} // namespace tavrin::settings
