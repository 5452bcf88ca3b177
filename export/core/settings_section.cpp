#include "export/core/settings_section.h"

#include "platform/ini_file.h"

#include <strings.h>

namespace exports {

namespace {

bool sameKey(std::string_view a, std::string_view b) {
    return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

SettingsSection SettingsSection::read(const std::string& settingsFile) {
    return SettingsSection(platform::GetPrivateProfileSection(kSettingsSection, settingsFile));
}

std::string SettingsSection::value(std::string_view key) const {
    for (const auto& [k, v] : lines_)
        if (sameKey(k, key)) return v;
    return {};
}

bool SettingsSection::has(std::string_view key) const {
    for (const auto& [k, v] : lines_)
        if (sameKey(k, key)) return true;
    return false;
}

void SettingsSection::set(std::string_view key, std::string value) {
    for (auto& [k, v] : lines_)
        if (sameKey(k, key)) {
            v = std::move(value);
            return;
        }
    lines_.emplace_back(std::string(key), std::move(value));
}

}  // namespace exports
