#pragma once
// The three kinds of run as functions, with the program's own source and
// destinations: a job in, an observer for progress and cancellation, the
// summary out. Each goes through the one run loop (export/core/pipeline.h).
// Nothing here touches a window.

#include "export/core/job.h"
#include "export/core/package_run.h"
#include "export/core/run.h"
#include "export/core/summary.h"

namespace exports {

// Every document changed after the stored stamp (or written by a transaction
// at or above the stored mark) whose kind is ticked, written to the output
// folder; then the stamp and the mark move, in one replacement of the
// settings file. Errors end up in the summary, never as exceptions.
RunSummary runIncremental(const IncrementalJob& job, Observer& observer);

// The issued documents of one branch and period, into Entrada and Saida.
RunSummary runPeriod(const PeriodJob& job, Observer& observer);

// Writes the archive; the stamp is neither read nor moved. Errors end up in
// the summary (result Failed, no archive), never as exceptions. Documents
// whose key cannot name a member are refused and left out.
RunSummary runPackage(const PackageJob& job, Observer& observer);

}  // namespace exports
