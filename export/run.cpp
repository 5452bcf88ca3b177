#include "export/run.h"

#include "export/checks.h"
#include "export/lock.h"
#include "export/organize.h"
#include "export/settings_check.h"
#include "export/source.h"
#include "export/stamp.h"
#include "export/writer.h"
#include "platform/codepage.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <string_view>
#include <sys/stat.h>

namespace exports {

namespace {

constexpr const char* kPrefixCancel = "CanNFe";
constexpr const char* kPrefixDocument = "NFe";

using Clock = std::chrono::steady_clock;

// A document's folder under the output folder: "" or "a/b/".
std::string relativeFolder(const std::vector<std::string>& folders) {
    std::string relative;
    for (const std::string& f : folders) relative += f + "/";
    return relative;
}

std::string folderOf(const std::string& file) {
    const size_t slash = file.rfind('/');
    return slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
}

double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

CheckCounts finishQuietly(BackgroundChecks& checks) noexcept {
    try {
        return checks.finish();
    } catch (...) {
        return {};
    }
}

}  // namespace

StartPoint startPoint(const StampRecord& stored, const DatabaseState& database, const Snapshot& snapshot) {
    StartPoint p;
    p.selection.after = std::min(stored.moment, snapshot.serverTime);
    p.selection.mark = stored.mark;
    if (stored.moment > snapshot.serverTime) {
        // Without a mark nothing tells which documents a stamp from the
        // future has hidden: they are all read again.
        p.note = "marca de data adiante do relógio do servidor";
        if (!stored.mark) {
            p.selection.everything = true;
            p.note += ": todos os documentos relidos";
        }
    }
    if (stored.mark && (stored.databaseIdentity != database.identity || *stored.mark > database.nextTransaction)) {
        // Whatever the stamp says, rows committed late before a restore or
        // stamped by a clock ahead would be lost: everything is read again and
        // the files that already hold the same bytes are left alone.
        p.selection.mark.reset();
        p.selection.everything = true;
        if (!p.note.empty()) p.note += "; ";
        p.note += "marca de transação descartada (base restaurada ou trocada): todos os documentos relidos";
    }
    return p;
}

std::optional<ExportLock> lockForRun(const ConnectionJob& job, Observer& observer, RunSummary& s) {
    ExportLock lock =
        ExportLock::acquire(lockFileFor(job.settingsFile), job.lockWait, [&] { return observer.stopRequested(); });
    if (lock.state() == ExportLock::State::Held) return lock;
    s.result = lock.state() == ExportLock::State::Busy ? Result::Busy : Result::Failed;
    if (observer.stopRequested()) s.result = Result::Interrupted;
    s.error = lock.message();
    return std::nullopt;
}

std::string resolveOutputFolder(const std::string& setting, const std::string& settingsFile) {
    if (setting.empty())
        throw std::runtime_error("Pasta de exportação (PastaExportar) não configurada em " + settingsFile);
    // The system would read the name only up to the NUL: another folder.
    if (setting.find('\0') != std::string::npos)
        throw std::runtime_error("Pasta de exportação (PastaExportar) com um byte nulo em " + settingsFile + ": \"" +
                                 printable(setting) + "\"");
    std::string folder = setting;
    // The settings file's folder is a file system (UTF-8) name; the setting
    // and every name made from it are Windows-1252 text.
    if (folder.front() != '/') folder = platform::utf8ToAnsi(folderOf(settingsFile)) + folder;
    if (folder.back() != '/') folder += '/';
    struct stat st {};
    // Without the separator: a file named like the folder is told apart.
    if (::stat(fileSystemName(folder.substr(0, folder.size() > 1 ? folder.size() - 1 : 1)).c_str(), &st) != 0)
        throw std::runtime_error("Pasta de exportação inexistente: " + fileSystemName(folder));
    if (!S_ISDIR(st.st_mode))
        throw std::runtime_error("Pasta de exportação não é uma pasta: " + fileSystemName(folder));
    return folder;
}

std::string periodFileName(const std::string& folder, const std::string& flag, const std::string& key,
                           const std::string& taxNumber) {
    // Exactly one capital E: a padded "E " goes to Saida, as it always has.
    return folder + (flag == "E" ? "Entrada/NFe" : "Saida/NFe") + key + "_" + taxNumber + ".XML";
}

std::string unusableName(const std::string& part, const std::string& fileName) {
    // A fixed-length column holds blanks where nothing was stored.
    if (!hasNonBlank(part)) return "nome vazio";
    if (isUnsafeNamePart(part)) return "nome inseguro";
    if (!fileNameFits(fileSystemName(fileName))) return "nome longo demais";
    return {};
}

RunSummary runIncremental(const IncrementalJob& job, Observer& observer) {
    const auto started = Clock::now();
    RunSummary s;
    std::optional<long long> current;
    std::optional<BackgroundChecks> checks;
    try {
        const std::string folder = resolveOutputFolder(job.outputFolder, job.settingsFile);
        // A bad pattern stops the run before anything is written.
        const FolderPattern pattern(job.organize);
        const std::optional<ExportLock> lock = lockForRun(job, observer, s);
        if (!lock) {
            s.seconds = since(started);
            return s;
        }
        // Read under the lock: a run that waited starts from the stamp the
        // run before it stored.
        checkSettingsFile(job.settingsFile);
        const StampRecord stored = readStamp(job.settingsFile);
        // A stamp that could not be stored would come after every document.
        checkSettingsWritable(job.settingsFile);
        removeLeftoverTemporaries(fileSystemName(folder));
        s.stampBefore = s.stampAfter = stored.date + " " + stored.time;

        Source source(job);
        observer.connected();
        const DatabaseState state = source.state();
        // Right after the snapshot starts and before any row is read: every
        // transaction whose rows this run cannot see is at or above its mark.
        const Snapshot snapshot = source.beginSnapshot();
        const StartPoint start = startPoint(stored, state, snapshot);
        s.note = start.note;
        if (observer.wantsTotal()) observer.total(source.countChanges(start.selection, job.kinds));
        const bool withType = pattern.usesDocumentType();
        source.openChanges(start.selection, job.kinds, withType);

        if (job.checkDocuments) checks.emplace();
        FolderTree folders(fileSystemName(folder), true);
        folders.cleaned("");
        Moment advance = start.selection.after;
        std::string lastWritten;
        ChangedDocument d;
        for (long done = 0;; ++done) {
            if (observer.stopRequested()) {
                if (checks) s.checks = checks->finish();
                s.result = Result::Interrupted;
                s.seconds = since(started);
                return s;
            }
            if (!source.nextChange(d)) break;
            observer.document(done, d.number);
            ++s.examined;
            ++s.selected;
            current = d.number;
            if (d.wanted) {
                std::string key = source.changeKey();
                bool cancellation = false;
                std::string text = source.changeText(cancellation);
                const std::string fileName = (cancellation ? kPrefixCancel : kPrefixDocument) + key + ".XML";
                const std::string name = folder + fileName;
                if (const std::string why = unusableName(key, name); !why.empty()) {
                    s.refuse(d.number, key, why);
                } else {
                    const std::string type = withType ? source.changeType() : std::string();
                    const std::string where = relativeFolder(pattern.folders({key, type}));
                    if (folders.at(where).put(fileSystemName(fileName), text)) {
                        ++s.written;
                        lastWritten = fileSystemName(folder);
                    } else {
                        ++s.unchanged;
                    }
                    // written first, so the texts move over instead of being copied
                    if (checks)
                        checks->add(std::move(key), std::move(text),
                                    cancellation ? XmlKind::CancellationEvent : XmlKind::Document);
                }
            }
            // Every selected document moves the stamp, written or not.
            if (d.moment > advance) advance = d.moment;
            current.reset();
        }
        // The files reach the disk before the stamp says they exist.
        if (!lastWritten.empty()) syncFileSystem(lastWritten);
        if (checks) s.checks = checks->finish();
        // A moment ahead of the server's clock (a client clock, a typo) is
        // written but does not carry the stamp past now: such documents are
        // selected again, and left alone while unchanged, until it passes.
        advance = std::min(advance, snapshot.serverTime);
        storeStamp(job.settingsFile, advance, snapshot.oldestActive, state.identity);
        s.stampAfter = dateText(advance) + " " + timeText(advance);
        s.result = s.refused ? Result::Refused : Result::Complete;
    } catch (const std::exception& e) {
        s.result = Result::Failed;
        s.error = e.what();
        s.errorDocument = current;
        // what was written before the failure was checked too
        if (checks) s.checks = finishQuietly(*checks);
    }
    s.seconds = since(started);
    return s;
}

RunSummary runPeriod(const PeriodJob& job, Observer& observer) {
    const auto started = Clock::now();
    RunSummary s;
    std::optional<BackgroundChecks> checks;
    try {
        const std::string folder = resolveOutputFolder(job.outputFolder, job.settingsFile);
        const FolderPattern pattern(job.organize);  // refused before anything is written
        const bool locking = !job.settingsFile.empty();
        const std::optional<ExportLock> lock = locking ? lockForRun(job, observer, s) : std::nullopt;
        if (locking && !lock) {
            s.seconds = since(started);
            return s;
        }
        // Organised, Entrada and Saida sit inside each document's folder.
        // Opened here and kept: a link put in their place later leads nowhere.
        FolderTree folders(fileSystemName(folder), lock.has_value());
        if (pattern.flat())
            for (const char* sub : {"Entrada/", "Saida/"}) folders.at(sub);

        Source source(job);
        observer.connected();
        if (observer.wantsTotal()) observer.total(source.countPeriod(job.startDate, job.endDate, job.branch));
        source.openPeriod(job.startDate, job.endDate, job.branch);
        checks.emplace();
        std::string lastWritten;
        PeriodDocument d;
        for (long done = 0;; ++done) {
            if (observer.stopRequested()) {
                s.checks = checks->finish();
                s.result = Result::Interrupted;
                s.seconds = since(started);
                return s;
            }
            if (!source.nextPeriod(d)) break;
            observer.document(done, done + 1);
            ++s.examined;
            ++s.selected;
            const std::string name = periodFileName(folder, d.flag, d.key, d.taxNumber);
            std::string why = unusableName(d.key, name);
            if (why.empty()) why = unusableName(d.taxNumber, name);
            if (!why.empty()) {
                s.refuse(done + 1, d.key, why);
                continue;
            }
            std::string text = source.periodText();
            const size_t slash = name.rfind('/');
            // every document here is an issued one
            const std::string where = relativeFolder(pattern.folders({d.key, "NF"})) +
                                      name.substr(folder.size(), slash + 1 - folder.size());
            if (folders.at(where).put(fileSystemName(name.substr(slash + 1)), text)) {
                ++s.written;
                lastWritten = fileSystemName(folder);
            } else {
                ++s.unchanged;
            }
            // the first text that is not NULL: a document or its cancellation event
            checks->add(d.key, std::move(text), XmlKind::Either);
        }
        if (!lastWritten.empty()) syncFileSystem(lastWritten);
        s.checks = checks->finish();
        s.result = s.refused ? Result::Refused : Result::Complete;
    } catch (const std::exception& e) {
        s.result = Result::Failed;
        s.error = e.what();
        if (checks) s.checks = finishQuietly(*checks);
    }
    s.seconds = since(started);
    return s;
}

}  // namespace exports
