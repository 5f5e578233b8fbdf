// tavrinctl show [--json] [--write OUT] [FILE]: reads a settings file as the program
// does and prints every option, every packet filter with its driver rule, and every
// dynamic filter; --write writes the model back with the program's writer.
#include "AdapterBinding.h"
#include "AdapterList.h"
#include "CommonSettingsIo.h"
#include "FilePrivateProfile.h"
#include "IniFileObject.h"
#include "IniFileReader.h"
#include "IniFileWriter.h"
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

constexpr char kUsage[] = "usage: tavrinctl show [--json] [--write OUT] [FILE]\n";

// A JSON string; control bytes escaped, multi-byte characters as they are.
std::string json(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (u < 0x20 || u == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        } else {
            out.push_back(c);
        }
    }
    return out + "\"";
}

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
    std::string json;
};

Field number(std::string name, int64_t value, std::string note = {}) {
    const std::string digits = std::to_string(value);
    return {std::move(name), note.empty() ? digits : digits + " (" + note + ")", digits};
}

Field text(std::string name, std::string value) {
    std::string quoted = json(value);
    return {std::move(name), std::move(value), std::move(quoted)};
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

std::vector<std::pair<std::string, std::string>> actionFields(const DynamicFilter& f) {
    auto b = [](int32_t v) { return std::to_string(v); };
    return {{"drop", b(f.drop)},
            {"dropSynOnly", b(f.dropSynOnly)},
            {"doBand", b(f.doBand)},
            {"bandwidth", b(f.bandwidth)},
            {"minimumPacketSize", b(f.minimumPacketSize)}};
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
            std::printf(" %s=%s", name.c_str(), value.c_str());
        std::printf("\n");
    }
}

void printJson(const IniFileObject& model, const AdapterList& adapters, const std::string& file) {
    std::string out = "{\"file\":" + json(file) +
                      ",\"commonSectionName\":" + json(model.GetCommonSectionName()) +
                      ",\"common\":{";
    bool first = true;
    for (const auto& [key, value] : commonOptions(model)) {
        out += (first ? "" : ",") + json(key) + ":" + json(value);
        first = false;
    }
    out += "},\"packetFilters\":[";
    for (int i = 0; i < model.PacketFilterCount(); ++i) {
        const PacketFilter& f = *model.PacketFilterAt(i);
        out += (i == 0 ? "{" : ",{");
        out += "\"position\":" + std::to_string(i + 1) + ",\"id\":" + std::to_string(f.id) +
               ",\"name\":" + json(f.filterName) +
               ",\"enabled\":" + (f.available == 1 ? "true" : "false") +
               ",\"description\":" + json(f.GetDescription());
        for (const Field& field : packetFields(f, adapters))
            out += "," + json(field.name) + ":" + field.json;
        out += ",\"driverRule\":" + json(ruleHex(f)) + "}";
    }
    out += "],\"dynamicFilters\":[";
    for (int i = 0; i < model.DynamicFilterCount(); ++i) {
        const DynamicFilter& f = *model.DynamicFilterAt(i);
        out += (i == 0 ? "{" : ",{");
        out += "\"position\":" + std::to_string(i + 1) + ",\"id\":" + std::to_string(f.id) +
               ",\"name\":" + json(f.filterName) +
               ",\"enabled\":" + (f.available == 1 ? "true" : "false") +
               ",\"condition\":" + json(f.GetConditionText(model.PacketFilters())) +
               ",\"targets\":[" + ids(f.targetFilterIds) + "],\"action\":{";
        bool firstAction = true;
        for (const auto& [name, value] : actionFields(f)) {
            out += (firstAction ? "" : ",") + json(name) + ":" + value;
            firstAction = false;
        }
        out += "}}";
    }
    out += "]}\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
}

int run(int argc, char** argv) {
    bool asJson = false;
    std::string writeTo;
    std::string file = settings::kSettingsFile;
    bool haveFile = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) {
            asJson = true;
        } else if (std::strcmp(argv[i], "--write") == 0 && i + 1 < argc) {
            writeTo = argv[++i];
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            std::fprintf(stderr, "%s", kUsage);
            return kExitUsage;
        } else if (!haveFile) {
            file = argv[i];
            haveFile = true;
        } else {
            std::fprintf(stderr, "%s", kUsage);
            return kExitUsage;
        }
    }

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
