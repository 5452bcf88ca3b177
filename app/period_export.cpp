#include "app/period_export.h"

#include "app/config_file.h"
#include "export/writer.h"
#include "export/lock.h"
#include "app/exports.h"
#include "app/gauge.h"
#include "app/main_window.h"
#include "app/run_summary.h"

#include <chrono>
#include <sys/stat.h>

namespace app {

using namespace exports;

std::string periodFileName(const std::string& folder, const std::string& flag, const std::string& key,
                           const std::string& taxNumber) {
    // Exactly one capital E: a padded "E " goes to Saida, as it always has.
    return folder + (flag == "E" ? "/Entrada/NFe" : "/Saida/NFe") + key + "_" + taxNumber + ".XML";
}

}  // namespace app

void RunPeriodExport(TForm1& form) {
    using namespace app;
    if (exportRunning()) {
        showStatus(form, StatusPlace::Period, "Uma exportação já está em andamento", true);
        return;
    }
    ExportRunningFlag running;
    const auto started = std::chrono::steady_clock::now();
    RunSummary s;
    auto finish = [&] {
        s.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        showStatus(form, StatusPlace::Period, windowText(s, false), !s.complete);
    };

    std::optional<ExportLock> lock;
    if (ConfigFile* config = form.config()) {
        lock.emplace(ExportLock::acquire(lockFileFor(config->fileName()), std::chrono::seconds(0)));
        if (lock->state() != ExportLock::State::Held) {
            showStatus(form, StatusPlace::Period, lock->message(), true);
            return;
        }
    }
    showStatus(form, StatusPlace::Period, "Exportando...", false);

    // Read once, at the start.
    const platform::DateTime startDate = form.startDate(), endDate = form.endDate();
    const std::string branch = form.branchText();
    const std::string folder = form.outputFolderText();
    const std::string database = form.databaseNameText();
    const platform::FormatSettings fs = platform::currentFormatSettings();

    form.Gauge1->setProgress(0);
    // One level each; a failure shows up when the first file cannot be written.
    ::mkdir(fileSystemName(folder + "/Entrada").c_str(), 0777);
    ::mkdir(fileSystemName(folder + "/Saida").c_str(), 0777);

    try {
        try {
            form.IBDatabase1.close();
        } catch (const std::exception&) {
        }
        form.IBDatabase1.setDatabaseName(database);
        form.IBDatabase1.open();

        db::TIBQuery& q = form.IBQuery2;
        q.close();
        q.paramByName("dt1").setDate(startDate);
        q.paramByName("dt2").setDate(endDate);
        q.paramByName("filial").setText(branch);
        q.open();
        q.fetchAll();
        form.Gauge1->setMaxValue(q.recordCount());
        form.Gauge1->setMinValue(0);
        q.first();
        std::string lastWritten;
        while (!q.eof()) {
            form.Gauge1->addProgress(1);
            ++s.examined;
            ++s.selected;
            const std::string key = q.field(1).asText(fs);
            const std::string taxNumber = q.field(3).asText(fs);
            requireSafeNamePart("Chave de acesso", key);
            requireSafeNamePart("CNPJ/CPF", taxNumber);
            const std::string path = fileSystemName(periodFileName(folder, q.field(0).asText(fs), key, taxNumber));
            writeDocument(path, q.field(2).asText(fs));
            ++s.written;
            lastWritten = path;
            form.ProcessMessages();
            q.next();
        }
        if (!lastWritten.empty()) syncFileSystem(lastWritten);
        s.complete = true;
    } catch (const std::exception& e) {
        s.error = e.what();
    }
    finish();
}
