#include "export/core/run.h"

#include "export/core/lock.h"
#include "export/core/pipeline.h"
#include "export/core/rules.h"

#include <algorithm>
#include <sys/stat.h>

namespace exports {

std::optional<ExportLock> lockForRun(const ConnectionJob& job, Observer& observer, RunSummary& s) {
    ExportLock lock = ExportLock::acquire(lockFileFor(job.settingsFile), job.lockWait,
                                          [&] { return observer.stopRequested(); });
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
    if (!S_ISDIR(st.st_mode)) throw std::runtime_error("Pasta de exportação não é uma pasta: " + folder);
    return folder;
}

}  // namespace exports
