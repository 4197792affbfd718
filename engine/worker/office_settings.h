// The office profile settings, read from the engine's settings file (office_settings.ini, beside
// the worker; the script worker reads the same file) and written as the profile's
// registrymodifications.xcu. Portable: the file format is tested on its own.
#pragma once

#include <string>
#include <vector>

namespace vellumor::engine {

inline constexpr const char* kOfficeSettingsFileName = "office_settings.ini";

struct OfficeSetting {
    std::string path;  // configuration node; ending in ['name'] it is a member of a set
    std::string name;
    std::string value;
    bool onWindows = true;  // false: left out on Windows
};

// The settings in the file's order. False, with a reason naming the file (and the line), when
// the file cannot be read, holds a line of no known form, or holds no settings at all.
bool ReadOfficeSettings(const std::string& file, std::vector<OfficeSetting>& settings,
                        std::string& error);

// The settings as registrymodifications.xcu: one item per property; the properties of a set
// member together, as one node the set gets.
std::string ProfileSettingsText(const std::vector<OfficeSetting>& settings);

}  // namespace vellumor::engine
