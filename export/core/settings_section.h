#pragma once
// The [Configuracoes] lines of the settings file, read once per run. The
// general keys are read by export/settings; every source and destination reads
// its own keys from here, so a new one adds keys without touching the reader.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace exports {

inline constexpr const char* kSettingsSection = "Configuracoes";

class SettingsSection {
public:
    SettingsSection() = default;
    explicit SettingsSection(std::vector<std::pair<std::string, std::string>> lines) : lines_(std::move(lines)) {}
    // The section of `settingsFile`; empty when the file or the section is missing.
    static SettingsSection read(const std::string& settingsFile);

    // The value of `key` (letter case ignored, as the profile functions do),
    // "" when absent. Bytes as stored.
    std::string value(std::string_view key) const;
    bool has(std::string_view key) const;
    // Sets or adds a line (callers that build a job by hand, tests).
    void set(std::string_view key, std::string value);

    const std::vector<std::pair<std::string, std::string>>& lines() const { return lines_; }

private:
    std::vector<std::pair<std::string, std::string>> lines_;
};

}  // namespace exports
