#include "export/settings/settings.h"

#include "platform/ini_file.h"

namespace exports {

Settings readSettings(const std::string& settingsFile) {
    auto read = [&](const char* key) {
        return platform::GetPrivateProfileString(kSettingsSection, key, "", settingsFile);
    };
    // Exactly one capital S ticks a box; "s" or "Sim" do not.
    auto ticked = [&](const char* key) { return read(key) == "S"; };
    Settings s;
    s.file = settingsFile;
    s.database = read("Base");
    s.outputFolder = read("PastaExportar");
    s.kinds.issued = ticked("ExportaEmitidas");
    s.kinds.vehicles = ticked("ExportaEmitidasVeiculos");
    s.kinds.received = ticked("ExportaRecebidas");
    s.organize = read("Organizar");
    s.store = storeSettingsForJob(
        {read("Nuvem"), read("NuvemRegiao"), read("NuvemPerfil"), read("NuvemRetencaoDias"), read("NuvemRetencaoModo"),
         read("NuvemEmpresa"), read("NuvemCA")});
    s.trustedCertificates = read("CertificadosConfiaveis");
    return s;
}

ConnectionJob connectionJob(const Settings& settings) {
    ConnectionJob job;
    job.database = settings.database;
    job.outputFolder = settings.outputFolder;
    job.settingsFile = settings.file;
    job.organize = settings.organize;
    job.store = settings.store;
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
