#include "export/settings/settings.h"

namespace exports {

Settings readSettings(const std::string& settingsFile) {
    Settings s;
    s.section = SettingsSection::read(settingsFile);
    auto read = [&](const char* key) { return s.section.value(key); };
    // Exactly one capital S ticks a box; "s" or "Sim" do not.
    auto ticked = [&](const char* key) { return read(key) == "S"; };
    s.file = settingsFile;
    s.database = read("Base");
    s.outputFolder = read("PastaExportar");
    s.kinds.issued = ticked("ExportaEmitidas");
    s.kinds.vehicles = ticked("ExportaEmitidasVeiculos");
    s.kinds.received = ticked("ExportaRecebidas");
    s.organize = read("Organizar");
    s.trustedCertificates = read("CertificadosConfiaveis");
    return s;
}

const std::vector<std::string>& generalSettingsKeys() {
    // The stamp's keys are the run's own (export/core/stamp.h).
    static const std::vector<std::string> keys{
        "Base",      "PastaExportar",         "ExportaEmitidas", "ExportaRecebidas", "ExportaEmitidasVeiculos",
        "Organizar", "CertificadosConfiaveis"};
    return keys;
}

ConnectionJob connectionJob(const Settings& settings) {
    ConnectionJob job;
    job.database = settings.database;
    job.outputFolder = settings.outputFolder;
    job.settingsFile = settings.file;
    job.organize = settings.organize;
    job.settings = settings.section;
    job.trustedCertificates = settings.trustedCertificates;
    return job;
}

IncrementalJob incrementalJob(const Settings& settings) {
    IncrementalJob job;
    static_cast<ConnectionJob&>(job) = connectionJob(settings);
    job.kinds = settings.kinds;
    return job;
}

}  // namespace exports
