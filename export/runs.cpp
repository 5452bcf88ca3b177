#include "export/runs.h"

#include "export/adapters.h"
#include "export/core/pipeline.h"

namespace exports {

RunSummary runIncremental(const IncrementalJob& job, Observer& observer) {
    registerBuiltInAdapters();
    return runPlan([&] { return incrementalPlan(job); }, observer);
}

RunSummary runPeriod(const PeriodJob& job, Observer& observer) {
    registerBuiltInAdapters();
    return runPlan([&] { return periodPlan(job); }, observer);
}

RunSummary runPackage(const PackageJob& job, Observer& observer) {
    registerBuiltInAdapters();
    return runPlan([&] { return packagePlan(job); }, observer);
}

}  // namespace exports
