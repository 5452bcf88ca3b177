#pragma once
// The sources and destinations a run can use. Each adapter registers itself
// once (export/adapters.cpp) with the settings keys it owns and the forms it
// offers; the plans of the three kinds of run ask here and name no adapter.

#include "export/core/pipeline.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace exports {

// What a plan tells a destination about the run it is made for.
struct DestinationContext {
    RunKind kind = RunKind::Incremental;
    const ConnectionJob& job;      // its settings, settings file and options
    const std::string& folder;     // the output folder, or the package's, with its trailing '/'
    const FolderPattern& pattern;  // the organised folders; flat when empty
    bool locked = true;            // the run holds the export lock
    std::string yearMonth;         // the package's month, "AAAA-MM"
};

using DestinationMaker = std::function<std::unique_ptr<Destination>(const DestinationContext&)>;

struct DestinationType {
    std::string name;
    // The settings keys it reads from the job's settings (documentation and
    // the check that no two parts claim one key).
    std::vector<std::string> keys;
    // Each document of an incremental or period run; nullptr when the
    // settings do not ask for this destination. Throws when they ask for it
    // wrongly: the run fails before anything is written.
    DestinationMaker documents;
    // The month's package: the one that makes the archive, or one that
    // carries the archive the destination before it named (summary.package).
    DestinationMaker archive;
};

struct SourceType {
    std::string name;
    std::vector<std::string> keys;
    std::function<std::unique_ptr<DocumentSource>(const ConnectionJob&)> open;
};

// Adds a type; a second one of the same name replaces the first. The order of
// registration is the order a run writes in: the first destination's answers
// are the run's counts.
void registerDestination(DestinationType type);
void registerSource(SourceType type);

const std::vector<DestinationType>& destinationTypes();
// The source a job reads from: the first registered. Throws when none is.
const SourceType& sourceFor(const ConnectionJob& job);

}  // namespace exports
