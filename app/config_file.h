#pragma once
// The program's settings file, "ConfigQuillan.ini" beside the executable:
// where it is, and the first-run file. exports::readSettings reads it.

#include "export/settings/settings.h"

#include <stdexcept>
#include <string>

namespace app {

inline constexpr const char* kConfigFileName = "ConfigQuillan.ini";
inline constexpr const char* kConfigSection = exports::kSettingsSection;

// Raised when the file cannot be written; what() is "Unable to write to
// <file>: <reason>".
class ConfigWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Holds nothing but the file's full name: every read and every write goes to
// the file at once. Values are the file's bytes, unchanged.
class ConfigFile {
public:
    explicit ConfigFile(std::string fileName) : fileName_(std::move(fileName)) {}

    const std::string& fileName() const { return fileName_; }
    bool exists() const;

    std::string readString(const std::string& section, const std::string& key,
                           const std::string& defaultValue = {}) const;
    // Throws ConfigWriteError.
    void writeString(const std::string& section, const std::string& key, const std::string& value);

private:
    std::string fileName_;
};


// The executable's folder with its trailing separator, followed by the file name.
std::string configFilePath(const std::string& exeFolder);

// The first-run file: the section and the seven keys, in order. Throws
// ConfigWriteError (nothing after the failing key is written).
void createDefaultSettings(ConfigFile& file);

}  // namespace app
