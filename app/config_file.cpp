#include "app/config_file.h"

#include "export/core/settings_check.h"
#include "platform/ini_file.h"

#include <cerrno>
#include <sys/stat.h>

namespace app {

bool ConfigFile::exists() const {
    struct stat st {};
    return ::stat(fileName_.c_str(), &st) == 0;
}

std::string ConfigFile::readString(const std::string& section, const std::string& key,
                                   const std::string& defaultValue) const {
    return platform::GetPrivateProfileString(section, key, defaultValue, fileName_);
}

void ConfigFile::writeString(const std::string& section, const std::string& key, const std::string& value) {
    if (!platform::WritePrivateProfileString(section, key, value, fileName_)) {
        const int err = errno;
        throw ConfigWriteError("Unable to write to " + fileName_ + ": " + exports::settingsWriteReason(fileName_, err));
    }
}

std::string configFilePath(const std::string& exeFolder) {
    std::string folder = exeFolder;
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder + kConfigFileName;
}

void createDefaultSettings(ConfigFile& file) {
    const std::string s = kConfigSection;
    file.writeString(s, "Base", "");
    file.writeString(s, "Data", "01/01/2010");
    file.writeString(s, "Hora", "00:00:00");
    file.writeString(s, "PastaExportar", "");
    file.writeString(s, "ExportaEmitidas", "");
    file.writeString(s, "ExportaEmitidasVeiculos", "");
    file.writeString(s, "ExportaRecebidas", "");
}

}  // namespace app
