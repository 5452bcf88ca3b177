#include "app/incremental_export.h"

#include "app/config_file.h"
#include "export/writer.h"
#include "export/lock.h"
#include "app/exports.h"
#include "app/gauge.h"
#include "app/main_window.h"
#include "app/run_summary.h"

#include <QCheckBox>
#include <QLabel>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace app {

using namespace exports;

Moment momentOf(platform::DateTime value) {
    const double day = std::floor(value);
    // Half a tenth of a millisecond absorbs the rounding of the serial; the
    // database keeps tenths of milliseconds, so no real second is crossed.
    int second = static_cast<int>(std::floor((value - day) * 86400.0 + 0.00005));
    if (second > 86399) second = 86399;
    return {static_cast<long long>(day), second};
}

std::optional<Moment> parseStamp(const std::string& date, const std::string& time,
                                 const platform::FormatSettings& fs) {
    const auto t = platform::strToTime(time, fs);
    const auto d = platform::strToDate(date, fs);
    if (!t || !d) return std::nullopt;
    Moment m = momentOf(*t);
    m.day = static_cast<long long>(std::floor(*d));
    return m;
}

std::string stampDateText(const Moment& m, const platform::FormatSettings& fs) {
    return platform::formatShortDate(static_cast<double>(m.day), fs);
}

std::string stampTimeText(const Moment& m, const platform::FormatSettings& fs) {
    return platform::formatLongTime(m.second / 86400.0, fs);
}

bool hasNonBlank(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) > 32) return true;
    return false;
}

namespace {

// The kind checks, with the document number bound as a parameter so each
// statement is prepared once.
constexpr std::array<std::string_view, 3> kCheckIssued = {
    "SELECT PAI_SEQU FROM MVTO_PAI ", "WHERE PAI_SEQU = :SEQUENCIAL", " AND PAI_TIPODOC = 'NF'"};
constexpr std::array<std::string_view, 3> kCheckReceived = {
    "SELECT PAI_SEQU FROM MVTO_PAI ", "WHERE PAI_SEQU = :SEQUENCIAL", " AND PAI_TIPODOC = 'NE'"};
constexpr std::array<std::string_view, 4> kCheckVehicles = {
    "SELECT a.PAI_SEQU FROM MVTO_PAI a, mvto_veiculos b", "WHERE a.PAI_SEQU = :SEQUENCIAL",
    "and a.pai_sequ = b.pai_sequ ", " AND PAI_TIPODOC = 'NF'"};

template <size_t N>
void setLines(db::TIBQuery& q, const std::array<std::string_view, N>& lines) {
    bool same = q.sql().size() == N;
    for (size_t i = 0; same && i < N; ++i) same = q.sql()[i] == lines[i];
    if (same) return;
    q.sql().clear();
    for (std::string_view l : lines) q.sql().add(std::string(l));
}

template <size_t N>
bool kindCheck(db::TIBQuery& q, const std::array<std::string_view, N>& lines, long long seq) {
    q.close();
    setLines(q, lines);
    q.paramByName("SEQUENCIAL").setInteger(seq);
    q.open();
    // Only whether a row exists matters: the first row answers it, so the
    // rest of the result is not fetched.
    return !q.eof();
}

bool passesKinds(TForm1& form, long long seq) {
    // Read for every row: a change in the window counts from the next row on.
    const bool issued = form.CheckBox1->isChecked(), received = form.CheckBox2->isChecked(),
               vehicles = form.CheckBox3->isChecked();
    if (issued && received && vehicles) return true;
    // A pass is never undone, so the remaining checks cannot change the answer.
    if (issued && kindCheck(form.IBQuery3, kCheckIssued, seq)) return true;
    if (received && kindCheck(form.IBQuery3, kCheckReceived, seq)) return true;
    if (vehicles && kindCheck(form.IBQuery3, kCheckVehicles, seq)) return true;
    return false;
}

// Writes the preferred text of one document; returns the file written, or
// an empty text when the document has no row.
std::string exportDocument(TForm1& form, long long seq, const std::string& folder,
                           const platform::FormatSettings& fs) {
    db::TIBQuery& q = form.QExportar;
    q.close();
    q.paramByName("SEQUENCIAL").setInteger(seq);
    q.open();
    // The document number is the key: the first row is the only one used.
    if (q.eof()) return {};
    const std::string key = q.field(0).asText(fs);
    requireSafeNamePart("Chave de acesso", key);
    const char* prefix = kPrefixCancel;
    std::string text = q.field(1).asText(fs);
    if (!hasNonBlank(text)) {
        prefix = kPrefixDocument;
        text = q.field(2).asText(fs);
        if (!hasNonBlank(text)) text = q.field(3).asText(fs);
    }
    const std::string path = fileSystemName(folder + prefix + key + ".XML");
    writeDocument(path, text);
    return path;
}

void reconnect(TForm1& form) {
    try {
        form.IBDatabase1.close();
    } catch (const std::exception&) {
        // The old connection is gone either way; the new one is what matters.
    }
    form.IBDatabase1.setDatabaseName(form.databaseNameText());
    form.IBDatabase1.open();
}

}  // namespace

}  // namespace app

void RunIncrementalExport(TForm1& form) {
    using namespace app;
    // Hidden window: the unattended run; it reports on stdout/stderr and in the exit status.
    const bool unattended = !form.isVisible();
    if (exportRunning()) {
        showStatus(form, StatusPlace::Incremental, "Uma exportação já está em andamento", true);
        return;
    }
    ExportRunningFlag running;
    const auto started = std::chrono::steady_clock::now();
    RunSummary s;

    auto finish = [&] {
        s.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (unattended) {
            std::fprintf(stdout, "%s\n", summaryLine(s).c_str());
            std::fflush(stdout);
            if (!s.complete) {
                std::fprintf(stderr, "%s\n", errorLine(s).c_str());
                std::fflush(stderr);
                form.setExitCode(1);
            }
        } else {
            showStatus(form, StatusPlace::Incremental, windowText(s, true), !s.complete);
        }
    };

    ConfigFile* config = form.config();
    if (!config) {
        s.error = "Configuração não carregada";
        finish();
        return;
    }
    ExportLock lock = ExportLock::acquire(lockFileFor(config->fileName()),
                                          unattended ? std::chrono::seconds(10) : std::chrono::seconds(0));
    if (lock.state() == ExportLock::State::Busy) {
        if (unattended) {
            std::fprintf(stderr, "%s\n", lock.message().c_str());
            std::fflush(stderr);
            form.setExitCode(kExitExportBusy);
        } else {
            showStatus(form, StatusPlace::Incremental, lock.message(), true);
        }
        return;
    }
    if (lock.state() != ExportLock::State::Held) {
        s.error = lock.message();
        finish();
        return;
    }
    if (!unattended) showStatus(form, StatusPlace::Incremental, "Exportando...", false);

    const platform::FormatSettings fs = platform::currentFormatSettings();
    const std::string storedDate = config->readString(kConfigSection, "Data");
    const std::string storedTime = config->readString(kConfigSection, "Hora");
    s.stampBefore = s.stampAfter = storedDate + " " + storedTime;
    std::optional<long long> currentSeq;
    std::optional<Moment> advance;
    // The in-memory advance stamp reached, also after an early end.
    auto keepAdvance = [&] {
        if (!advance) return;
        advanceStamp().time = stampTimeText(*advance, fs);
        advanceStamp().date = stampDateText(*advance, fs);
    };
    try {
        const auto selection = parseStamp(form.edtDataText(), form.edtHoraText(), fs);
        if (!selection)
            throw std::runtime_error("Data e hora da última exportação inválidas: \"" + form.edtDataText() + " " +
                                     form.edtHoraText() + "\"");
        advance = parseStamp(advanceStamp().date, advanceStamp().time, fs);
        if (!advance)
            throw std::runtime_error("Data e hora da última exportação inválidas: \"" + advanceStamp().date + " " +
                                     advanceStamp().time + "\"");

        reconnect(form);
        form.Gauge1->setProgress(0);
        db::TIBQuery& rows = form.IBQuery1;
        rows.close();
        rows.open();
        rows.fetchAll();
        form.Gauge1->setMaxValue(rows.recordCount());
        form.Gauge1->setMinValue(0);

        const std::string folder = form.outputFolderText();
        std::string lastWritten;
        rows.first();
        while (!rows.eof()) {
            form.Gauge1->addProgress(1);
            const long long seq = form.IBQuery1PAI_SEQU.asInteger();
            form.Label7->setText(QStringLiteral("SEQ: ") + QString::number(seq));
            ++s.examined;
            if (!form.IBQuery1DIG_DATAHORA.isNull()) {
                const Moment m = momentOf(form.IBQuery1DIG_DATAHORA.asDateTime());
                if (m > *selection) {
                    ++s.selected;
                    currentSeq = seq;
                    if (passesKinds(form, seq)) {
                        std::string path = exportDocument(form, seq, folder, fs);
                        if (!path.empty()) {
                            ++s.written;
                            lastWritten = std::move(path);
                        }
                    }
                    // In memory the stamp follows every selected row; the file
                    // only learns it once the whole run has succeeded.
                    if (m > *advance) *advance = m;
                    currentSeq.reset();
                }
            }
            form.ProcessMessages();
            rows.next();
        }

        // The files reach the disk before the stamp says they exist.
        if (!lastWritten.empty()) syncFileSystem(lastWritten);
        keepAdvance();
        const auto stored = parseStamp(storedDate, storedTime, fs);
        if (!stored || *advance > *stored) {
            writeStamp(*config, stampDateText(*advance, fs), stampTimeText(*advance, fs));
            s.stampAfter = stampDateText(*advance, fs) + " " + stampTimeText(*advance, fs);
        }
        s.complete = true;
    } catch (const std::exception& e) {
        s.error = e.what();
        s.errorSeq = currentSeq;
        keepAdvance();
    }
    finish();
}
