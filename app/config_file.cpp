#include "app/config_file.h"

#include "export/settings_check.h"
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

std::optional<exports::StoreSettings> readStoreSettings(const ConfigFile& file) {
    const std::string s = kConfigSection;
    return exports::storeSettingsForJob({file.readString(s, "Nuvem"), file.readString(s, "NuvemRegiao"),
                                         file.readString(s, "NuvemPerfil"), file.readString(s, "NuvemRetencaoDias"),
                                         file.readString(s, "NuvemRetencaoModo")});
}

Settings loadSettings(const ConfigFile& file) {
    const std::string s = kConfigSection;
    Settings out;
    out.base = file.readString(s, "Base");
    out.data = file.readString(s, "Data");
    out.hora = file.readString(s, "Hora");
    out.stampHora = file.readString(s, "Hora");
    out.stampData = file.readString(s, "Data");
    out.pastaExportar = file.readString(s, "PastaExportar");
    // Exactly one capital S ticks a box; "s" or "Sim" do not.
    out.exportaEmitidas = file.readString(s, "ExportaEmitidas") == "S";
    out.exportaEmitidasVeiculos = file.readString(s, "ExportaEmitidasVeiculos") == "S";
    out.exportaRecebidas = file.readString(s, "ExportaRecebidas") == "S";
    out.organizar = file.readString(s, "Organizar");
    out.store = readStoreSettings(file);
    return out;
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
