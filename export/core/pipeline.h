#pragma once
// One run loop for every kind of run: the lock, the document source, the
// rules, the checks, the destinations, the summary and, for the incremental
// export, the stamp. What differs between the incremental export, the period
// export and the month's package is the plan: which selection, which rules,
// which destinations, whether the stamp is read and stored.

#include "export/core/destination.h"
#include "export/core/document_source.h"
#include "export/core/job.h"
#include "export/core/organize.h"
#include "export/core/summary.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace exports {

enum class RunKind {
    Incremental,  // the changes after the stamp; the stamp moves
    Period,       // one branch's issued documents between two dates, into Entrada and Saida
    Package,      // the month of the keys, into one archive
};

struct RunPlan {
    RunKind kind = RunKind::Incremental;
    // The settings file (the stamp, the lock beside it), the lock's wait.
    ConnectionJob job;
    bool locks = true;  // a period export without a settings file runs unlocked
    Selection selection;
    FolderPattern pattern;       // the organised folders; flat when empty
    bool checkDocuments = true;  // checked on other threads while the run goes on
    // Connects; called under the lock.
    std::function<std::unique_ptr<DocumentSource>()> openSource;
    // Every kept document goes to each, in order; the first one's answers
    // are the summary's written and unchanged counts.
    std::vector<std::unique_ptr<Destination>> destinations;
};

// The plans of the three kinds of run, with the database as the source.
// Throw (nothing locked, nothing written) for an output folder that does not
// exist, a bad Organizar pattern, a bad month.
RunPlan incrementalPlan(const IncrementalJob& job);
RunPlan periodPlan(const PeriodJob& job);
struct PackageJob;
RunPlan packagePlan(const PackageJob& job);

// What the rules make of one row and its text: the document for the
// destinations, or why it is refused (`refusal` not empty).
struct RuledDocument {
    OutgoingDocument document;
    std::string refusal;
};
RuledDocument applyRules(RunKind kind, const FolderPattern& pattern, const SourceRow& row, SourceText text);

// Runs the plan `makePlan` builds. Errors end up in the summary, never as
// exceptions; a plan that cannot be built fails the run before the lock.
RunSummary runPlan(const std::function<RunPlan()>& makePlan, Observer& observer);

}  // namespace exports
