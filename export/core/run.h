#pragma once
// What the run loop needs before its first document: where an incremental
// run starts, the run's lock, the output folder.

#include "export/core/job.h"
#include "export/core/lock.h"
#include "export/core/rules.h"
#include "export/core/document_source.h"
#include "export/core/stamp.h"
#include "export/core/summary.h"

#include <optional>
#include <string>

namespace exports {


// The run's lock beside the settings file, waiting as the job says (a stop
// request ends the wait). Empty when it cannot be had; the summary then says
// why: busy, failed, or interrupted.
std::optional<ExportLock> lockForRun(const ConnectionJob& job, Observer& observer, RunSummary& s);

// The output folder a PastaExportar setting names, as a file-system name with
// its trailing separator: relative to the settings file's folder when relative. Throws
// std::runtime_error when empty or not an existing folder.
std::string resolveOutputFolder(const std::string& setting, const std::string& settingsFile);

}  // namespace exports
