// tavrinctl show [--json] [--write OUT] [FILE]: reads a settings file as the program
// does and prints every option, every packet filter with its driver rule, and every
// dynamic filter; --write writes the model back with the program's writer.
#include "AdapterBinding.h"
#include "AdapterList.h"
#include "ArgumentParser.h"
#include "CommonSettingsIo.h"
#include "FilePrivateProfile.h"
#include "IniFileObject.h"
#include "IniFileReader.h"
#include "IniFileWriter.h"
#include "JsonOutput.h"
#include "MemoryPrivateProfile.h"
#include "Messages.h"
#include "PlainText.h"
#include "PortSpec.h"
#include "PosixFileSystem.h"
#include "SettingsSaver.h"
#include "Subcommand.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace tavrin::ctl {
namespace {

using settings::IniFileObject;

constexpr char kUsage[] = "[--json] [--write OUT] [FILE]";

std::string hex(const void* data, size_t size) {
    std::string out;
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02x", bytes[i]);
        out += buf;
    }
    return out;
}

std::string ids(const std::vector<int32_t>& list) {
    std::string out;
    for (int32_t id : list)
        out += (out.empty() ? "" : ",") + std::to_string(id);
    return out;
}

// The common options as the writer writes them: key and value text, in order. The
// JSON output keeps them as the file's text too ("TRUE", "0,0,500,800").
std::vector<std::pair<std::string, std::string>> commonOptions(const IniFileObject& model) {
    settings::MemoryPrivateProfile profile;
    settings::writeCommonSection(profile, model.Common(), "");
    std::vector<std::pair<std::string, std::string>> out;
    for (const std::string& line : profile.document().sectionLines(model.GetCommonSectionName())) {
        const size_t eq = line.find('=');
        out.emplace_back(line.substr(0, eq), line.substr(eq + 1));
    }
    return out;
}

// One field of a packet filter: its text for the listing, and its JSON value (a
// number for numeric fields).
struct Field {
    std::string name;
    std::string text;
    Json json;
};

Field number(std::string name, int64_t value, std::string note = {}) {
    const std::string digits = std::to_string(value);
    return {std::move(name), note.empty() ? digits : digits + " (" + note + ")", value};
}

Field text(std::string name, std::string value) {
    Json json = value;
    return {std::move(name), std::move(value), std::move(json)};
}

// Every field of a packet filter, in the file's terms.
std::vector<Field> packetFields(const PacketFilter& f, const AdapterList& adapters) {
    const bool validDirection = f.direction >= kDirectionUp && f.direction <= kDirectionOther;
    return {
        number("protocol", f.protocol),
        number("direction", f.direction,
               validDirection ? settings::directionText(f.direction) : "invalid, written as OTHER"),
        number("adapterIndex", f.adapterIndex),
        text("adapterName", std::string(settings::adapterNameToWrite(f, adapters))),
        text("myIp", dottedAddress(f.myIp)),
        text("myIpMask", dottedAddress(f.myIpMask)),
        number("isMyIp", f.isMyIp),
        text("otherIp", dottedAddress(f.otherIp)),
        text("otherIpMask", dottedAddress(f.otherIpMask)),
        number("isMyAllPort", f.isMyAllPort),
        text("myPorts", FormatPortList(f.myPorts)),
        number("isOtherAllPort", f.isOtherAllPort),
        text("otherPorts", FormatPortList(f.otherPorts)),
        text("appName", f.appName),
        number("drop", f.drop),
        number("dropSynOnly", f.dropSynOnly),
        number("doBand", f.doBand),
        number("bandwidth", f.bandwidth),
        number("minimumPacketSize", f.minimumPacketSize),
        text("comment", f.comment.str()),
    };
}

std::vector<std::pair<std::string, int32_t>> actionFields(const DynamicFilter& f) {
    return {{"drop", f.drop},
            {"dropSynOnly", f.dropSynOnly},
            {"doBand", f.doBand},
            {"bandwidth", f.bandwidth},
            {"minimumPacketSize", f.minimumPacketSize}};
}

std::string ruleHex(const PacketFilter& f) {
    ovlank::DriverRule rule{};
    f.ToDriverRule(rule);
    return hex(&rule, sizeof rule);
}

void printText(const IniFileObject& model, const AdapterList& adapters, const std::string& file) {
    std::printf("Settings file: %s\n\n[%s]\n", escapeControlBytes(file).c_str(),
                escapeControlBytes(model.GetCommonSectionName()).c_str());
    for (const auto& [key, value] : commonOptions(model))
        std::printf("  %s = %s\n", key.c_str(), escapeControlBytes(value).c_str());

    std::printf("\nPacket filters: %d\n", model.PacketFilterCount());
    for (int i = 0; i < model.PacketFilterCount(); ++i) {
        const PacketFilter& f = *model.PacketFilterAt(i);
        std::printf("\n  #%d  ID %d  %s  (%s)\n", i + 1, f.id,
                    escapeControlBytes(f.filterName).c_str(),
                    f.available == 1 ? "enabled" : "disabled");
        std::printf("    %s\n", escapeControlBytes(f.GetDescription()).c_str());
        for (const Field& field : packetFields(f, adapters))
            std::printf("    %-18s %s\n", field.name.c_str(),
                        escapeControlBytes(field.text).c_str());
        std::printf("    %-18s %s\n", "DriverRule", ruleHex(f).c_str());
    }

    std::printf("\nDynamic filters: %d\n", model.DynamicFilterCount());
    for (int i = 0; i < model.DynamicFilterCount(); ++i) {
        const DynamicFilter& f = *model.DynamicFilterAt(i);
        std::printf("\n  #%d  ID %d  %s  (%s)\n", i + 1, f.id,
                    escapeControlBytes(f.filterName).c_str(),
                    f.available == 1 ? "enabled" : "disabled");
        std::printf("    condition: %s\n",
                    escapeControlBytes(f.GetConditionText(model.PacketFilters())).c_str());
        std::printf("    targets:   %s\n", ids(f.targetFilterIds).c_str());
        std::printf("    action:   ");
        for (const auto& [name, value] : actionFields(f))
            std::printf(" %s=%d", name.c_str(), value);
        std::printf("\n");
    }
}

void printJson(const IniFileObject& model, const AdapterList& adapters, const std::string& file) {
    Json common = Json::object();
    for (const auto& [key, value] : commonOptions(model))
        common[key] = value;
    Json packetFilters = Json::array();
    for (int i = 0; i < model.PacketFilterCount(); ++i) {
        const PacketFilter& f = *model.PacketFilterAt(i);
        Json filter = {{"position", i + 1},
                       {"id", f.id},
                       {"name", f.filterName},
                       {"enabled", f.available == 1},
                       {"description", f.GetDescription()}};
        for (const Field& field : packetFields(f, adapters))
            filter[field.name] = field.json;
        filter["driverRule"] = ruleHex(f);
        packetFilters.push_back(std::move(filter));
    }
    Json dynamicFilters = Json::array();
    for (int i = 0; i < model.DynamicFilterCount(); ++i) {
        const DynamicFilter& f = *model.DynamicFilterAt(i);
        Json action = Json::object();
        for (const auto& [name, value] : actionFields(f))
            action[name] = value;
        dynamicFilters.push_back({{"position", i + 1},
                                  {"id", f.id},
                                  {"name", f.filterName},
                                  {"enabled", f.available == 1},
                                  {"condition", f.GetConditionText(model.PacketFilters())},
                                  {"targets", f.targetFilterIds},
                                  {"action", std::move(action)}});
    }
    const Json document = {{"file", file},
                           {"commonSectionName", model.GetCommonSectionName()},
                           {"common", std::move(common)},
                           {"packetFilters", std::move(packetFilters)},
                           {"dynamicFilters", std::move(dynamicFilters)}};
    const std::string out = jsonLine(document);
    std::fwrite(out.data(), 1, out.size(), stdout);
}

int run(int argc, char** argv) {
    bool asJson = false;
    std::string writeTo;
    std::string file = settings::kSettingsFile;
    cli::ArgumentParser line("tavrinctl show", {kUsage},
                             "Reads a settings file as Tavrin does and prints every option, every\n"
                             "packet filter with the rule it gives the daemon, and every dynamic\n"
                             "filter. Messages of the reading go to standard error.");
    CLI::App& app = line.app();
    app.add_flag("--json", asJson, "print one JSON document instead of the listing");
    app.add_option("--write", writeTo, "write the settings back to OUT with Tavrin's writer")
        ->type_name("OUT")
        ->check([](const std::string& value) {
            return value.empty() ? std::string("--write needs a file") : std::string();
        });
    app.add_option("FILE", file, "the settings file (default ./Setting.ini)");
    if (const auto result = line.parse(argc, argv); result != cli::ArgumentParser::Result::Run)
        return line.report(result);

    settings::PosixFileSystem fs;
    settings::FilePrivateProfile profile(fs);
    StreamMessages messages(stderr, Answer::No);
    AdapterList adapters;
    adapters.rebuild();
    IniFileObject model;
    settings::IniFileReader reader(profile, adapters, messages);
    if (!reader.ReadIniFile(model, file)) {
        const std::error_code ec = profile.lastError();
        std::fprintf(stderr, "tavrinctl show: no settings read from %s%s%s\n",
                     escapeControlBytes(file).c_str(),
                     ec ? ": " : " (missing, or without sections)", ec ? ec.message().c_str() : "");
        return kExitFailure;
    }
    if (asJson)
        printJson(model, adapters, file);
    else
        printText(model, adapters, file);

    if (!writeTo.empty()) {
        profile.beginNewFile(writeTo);
        settings::IniFileWriter writer(profile, adapters);
        if (!writer.WriteIniFile(false, model, writeTo)) {
            const std::error_code ec = profile.lastError();
            std::fprintf(stderr, "tavrinctl show: cannot write %s%s%s\n",
                         escapeControlBytes(writeTo).c_str(), ec ? ": " : "",
                         ec ? ec.message().c_str() : "");
            return kExitFailure;
        }
    }
    return kExitOk;
}

} // namespace

extern const Subcommand kShowCommand = {
    "show", "[--json] [--write OUT] [FILE]",
    "print the options and filters of a Setting.ini (./Setting.ini); --write writes them back",
    run};

} // namespace tavrin::ctl
