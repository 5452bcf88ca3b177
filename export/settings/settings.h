#pragma once
// The one reader of "ConfigQuillan.ini": the window, "/executa" and
// "/pacote" all build their jobs from what it returns. Values are the file's
// bytes: Windows-1252 text where they are shown, file-system bytes where they
// name a path. The stamp is not here: the export reads it under its lock.

#include "export/core/job.h"
#include "export/core/settings_section.h"

#include <optional>
#include <string>
#include <vector>

namespace exports {

struct Settings {
    std::string file;      // the settings file itself (a file-system name)
    std::string database;  // Base
    // PastaExportar: file-system bytes; a relative name is taken from the
    // settings file's folder when the run resolves it.
    std::string outputFolder;
    Kinds kinds;           // ExportaEmitidas, ExportaRecebidas, ExportaEmitidasVeiculos
    std::string organize;  // Organizar: empty keeps the flat folder
    // Every line of the section: each destination reads its own keys there
    // (the object store's Nuvem…), so a new one needs nothing added here.
    SettingsSection section;
    // CertificadosConfiaveis: file-system bytes; a folder of PEM certificates
    // trusted besides ICP-Brasil's compiled-in ones (a newer intermediate).
    std::string trustedCertificates;
};

// Reads the section once. A missing file or key reads as empty.
Settings readSettings(const std::string& settingsFile);

// The keys read here for every kind of run; the sources and destinations
// name their own (export/core/registry.h).
const std::vector<std::string>& generalSettingsKeys();

// The jobs the settings describe; the caller adds what only it knows
// (client library, lock wait, dates, month).
ConnectionJob connectionJob(const Settings& settings);
IncrementalJob incrementalJob(const Settings& settings);

}  // namespace exports
