// Service records are read back from the run-time folder: whatever a record file
// holds is parsed or refused, and a parsed record formats to a text that parses to
// the same record.
#include "FuzzCheck.h"
#include "ServiceFolder.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    tavrin::core::ServiceFolder::Record record;
    if (!tavrin::core::parseServiceRecord(text, record))
        return 0;
    const std::string formatted = tavrin::core::formatServiceRecord(record);
    tavrin::core::ServiceFolder::Record again;
    FUZZ_CHECK(tavrin::core::parseServiceRecord(formatted, again), "a formatted record parses");
    FUZZ_CHECK(tavrin::core::formatServiceRecord(again) == formatted, "formatting is stable");
    FUZZ_CHECK(!again.config.executable.empty() && !again.config.devicePath.empty(),
               "a record names its executable and device");
    return 0;
}
