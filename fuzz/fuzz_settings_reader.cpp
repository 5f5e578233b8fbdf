// The settings reader on arbitrary file contents. It must never read or write
// outside a buffer, and what the writer makes of the model must be a fixed point:
// written, read and written again, it gives the same text without a message.
#include "AdapterList.h"
#include "IniFileObject.h"
#include "IniFileReader.h"
#include "IniFileWriter.h"
#include "MemoryPrivateProfile.h"
#include "Messages.h"
#include "ProfileDocument.h"
#include "TextEncoding.h"

#include <cstdint>
#include <cstdlib>

namespace {

class CountingMessages final : public tavrin::Messages {
public:
    void show(std::string_view, std::string_view, tavrin::MessageIcon) override { ++count; }
    tavrin::Answer askYesNo(std::string_view, std::string_view, tavrin::MessageIcon) override {
        ++count;
        return tavrin::Answer::No;
    }
    tavrin::Answer askYesNoCancel(std::string_view, std::string_view,
                                  tavrin::MessageIcon) override {
        ++count;
        return tavrin::Answer::Cancel;
    }
    int count = 0;
};

std::string writeText(const tavrin::settings::IniFileObject& model,
                      const tavrin::AdapterList& adapters) {
    tavrin::settings::MemoryPrivateProfile profile;
    tavrin::settings::IniFileWriter writer(profile, adapters);
    if (!writer.WriteIniFile(false, model, "Setting.ini"))
        std::abort(); // every model that was read can be written
    return profile.document().serialize();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavrin::settings;
    // Never asks the kernel: the list holds the entry for no adapter alone.
    static const tavrin::AdapterList adapters;
    DecodedText decoded = decodeFileText(std::string(reinterpret_cast<const char*>(data), size));
    const size_t uncleanLine = decoded.firstUncleanLine;
    ProfileDocument document = ProfileDocument::parse(std::move(decoded));
    // Lines kept in the file's bytes are the ones that were not UTF-8.
    if (uncleanLine == 0 && !isValidUtf8(document.serialize()))
        std::abort();

    MemoryPrivateProfile input(std::move(document));
    CountingMessages messages;
    IniFileObject first;
    if (!IniFileReader(input, adapters, messages).ReadIniFile(first, "Setting.ini"))
        return 0;

    const std::string written = writeText(first, adapters);
    MemoryPrivateProfile again(ProfileDocument::parse(written));
    CountingMessages quiet;
    IniFileObject second;
    if (!IniFileReader(again, adapters, quiet).ReadIniFile(second, "Setting.ini"))
        std::abort();
    if (quiet.count != 0 || writeText(second, adapters) != written)
        std::abort();
    return 0;
}
