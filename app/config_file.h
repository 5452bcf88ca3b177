#pragma once
// The program's settings file, "ConfigQuillan.ini" beside the executable, and
// the ExportStamp texts held for the whole run.

#include "export/store_settings.h"

#include <optional>
#include <stdexcept>
#include <string>

namespace app {

inline constexpr const char* kConfigFileName = "ConfigQuillan.ini";
inline constexpr const char* kConfigSection = "Configuracoes";

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

// The object store's lines (Nuvem…) as the job takes them; read at each run.
std::optional<exports::StoreSettings> readStoreSettings(const ConfigFile& file);

// The executable's folder with its trailing separator, followed by the file name.
std::string configFilePath(const std::string& exeFolder);

// The settings as the window shows them.
struct Settings {
    std::string base;                      // Base
    std::string data = "01/01/1900";       // Data
    std::string hora = "00:00:00";         // Hora
    std::string stampData, stampHora;      // the same two keys, read again for the stamp
    std::string pastaExportar;             // PastaExportar
    bool exportaEmitidas = false;          // ExportaEmitidas == "S"
    bool exportaEmitidasVeiculos = false;  // ExportaEmitidasVeiculos == "S"
    bool exportaRecebidas = false;         // ExportaRecebidas == "S"
    std::string organizar;                 // Organizar: subfolders per document; empty keeps the flat folder
    // Nuvem and its keys: the object store every document also goes to.
    std::optional<exports::StoreSettings> store;
};

// Reads the keys in the order the program always has: Base, Data, Hora, Hora,
// Data, PastaExportar, ExportaEmitidas, ExportaEmitidasVeiculos, ExportaRecebidas;
// then the optional Organizar.
Settings loadSettings(const ConfigFile& file);

// The first-run file: the section and the seven keys, in order. Throws
// ConfigWriteError (nothing after the failing key is written).
void createDefaultSettings(ConfigFile& file);

}  // namespace app
