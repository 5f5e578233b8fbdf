// Writes a settings model into a settings file through the profile functions:
// the common section, then (unless only the options are saved) one section per
// packet filter and per dynamic filter in list order.
#pragma once

#include "AdapterList.h"
#include "IniFileObject.h"
#include "PrivateProfile.h"

#include <string>

namespace tavrin::settings {

class IniFileWriter final {
public:
    IniFileWriter(PrivateProfile& profile, const AdapterList& adapters)
        : m_profile(profile), m_adapters(adapters) {}

    // Adds and replaces keys, removes nothing, and flushes the file. With
    // commonOnly the filter sections of the file stay as they are. False, and the
    // file as it was, when any write failed or a filter holds a text that
    // isStorableText refuses: it would read back as another filter.
    bool WriteIniFile(bool commonOnly, const IniFileObject& model, const std::string& file);

    // The same writes without the flush, so that a save can check everything that
    // could refuse it before it touches a file; false (and the writes discarded)
    // where WriteIniFile would refuse.
    bool PutIniFile(bool commonOnly, const IniFileObject& model, const std::string& file);

private:
    PrivateProfile& m_profile;
    const AdapterList& m_adapters;
};

const char* directionText(int32_t direction); // "UP", "DOWN", or "OTHER"

} // namespace tavrin::settings
