#include "export/core/run.h"

#include "export/core/lock.h"
#include "export/core/pipeline.h"
#include "export/core/rules.h"

#include <algorithm>
#include <sys/stat.h>

namespace exports {

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
    // A path setting is file-system bytes, and so is the settings file's
    // name: joined as they are, whatever characters the folders hold.
    std::string folder = setting;
    if (folder.front() != '/') folder = folderOf(settingsFile) + folder;
    if (folder.back() != '/') folder += '/';
    struct stat st {};
    // Without the separator: a file named like the folder is told apart.
    if (::stat(folder.substr(0, folder.size() > 1 ? folder.size() - 1 : 1).c_str(), &st) != 0)
        throw std::runtime_error("Pasta de exportação inexistente: " + folder);
    if (!S_ISDIR(st.st_mode))
        throw std::runtime_error("Pasta de exportação não é uma pasta: " + folder);
    return folder;
}

}  // namespace exports
