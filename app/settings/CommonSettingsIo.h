// Reading and writing the "Common Settings" section, key by key.
#pragma once

#include "CommonSettings.h"
#include "IniLine.h"
#include "PrivateProfile.h"

namespace tavrin::settings {

// Applies one line of the section; keys that are not options are ignored.
void applyCommonLine(CommonSettings& settings, const IniLine& line);

// Writes every key in the file's order, INI_FILE_VERSION first, under the settings'
// section name. False when any write was refused.
bool writeCommonSection(PrivateProfile& profile, const CommonSettings& settings,
                        const std::string& file);

} // namespace tavrin::settings
