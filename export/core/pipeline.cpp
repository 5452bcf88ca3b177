#include "export/core/pipeline.h"

#include "export/checks/certificate_trust.h"
#include "export/checks/checks.h"
#include "export/core/duplicates.h"
#include "export/core/lock.h"
#include "export/core/package_run.h"
#include "export/core/registry.h"
#include "export/core/rules.h"
#include "export/core/run.h"
#include "export/core/settings_check.h"
#include "export/core/stamp.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <unordered_set>
#include <sys/stat.h>

namespace exports {

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

std::function<std::unique_ptr<DocumentSource>()> registeredSource(const ConnectionJob& job) {
    return [job] { return sourceFor(job).open(job); };
}

// Every registered destination's form for this run, in registration order.
void addDestinations(RunPlan& p, const std::string& folder, std::string yearMonth = {}) {
    const DestinationContext context{p.kind, p.job, folder, p.pattern, p.locks, std::move(yearMonth)};
    for (const DestinationType& type : destinationTypes()) {
        const DestinationMaker& make = p.kind == RunKind::Package ? type.archive : type.documents;
        if (!make) continue;
        if (std::unique_ptr<Destination> d = make(context)) p.destinations.push_back(std::move(d));
    }
    if (p.destinations.empty()) throw std::logic_error("nenhum destino registrado para esta exportação");
}

}  // namespace

RunPlan incrementalPlan(const IncrementalJob& job) {
    RunPlan p;
    p.kind = RunKind::Incremental;
    p.job = job;
    const std::string folder = resolveOutputFolder(job.outputFolder, job.settingsFile);
    // A bad pattern stops the run before anything is written.
    p.pattern = FolderPattern(job.organize);
    p.selection.kind = Selection::Kind::Changes;
    p.selection.kinds = job.kinds;
    p.selection.withDocumentType = p.pattern.usesDocumentType();
    p.checkDocuments = job.checkDocuments;
    p.openSource = registeredSource(job);
    addDestinations(p, folder);
    return p;
}

RunPlan periodPlan(const PeriodJob& job) {
    RunPlan p;
    p.kind = RunKind::Period;
    p.job = job;
    const std::string folder = resolveOutputFolder(job.outputFolder, job.settingsFile);
    p.pattern = FolderPattern(job.organize);  // refused before anything is written
    p.locks = !job.settingsFile.empty();
    p.selection.kind = Selection::Kind::Period;
    p.selection.start = job.startDate;
    p.selection.end = job.endDate;
    p.selection.branch = job.branch;
    p.openSource = registeredSource(job);
    addDestinations(p, folder);
    return p;
}

RunPlan packagePlan(const PackageJob& job) {
    RunPlan p;
    p.kind = RunKind::Package;
    p.job = job;
    if (!isYearMonth(job.yearMonth))
        throw std::runtime_error("Mês inválido \"" + printable(job.yearMonth) +
                                 "\" (use AAAA-MM, por exemplo 2024-03)");
    // Both are file-system names: the setting's bytes, FOLDER from the command line.
    const std::string folder = job.folder.empty() ? resolveOutputFolder(job.outputFolder, job.settingsFile)
                                                  : job.folder;
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw std::runtime_error("Pasta do pacote inexistente: " + printable(folder));
    p.selection.kind = Selection::Kind::Month;
    // the key holds the year's last two digits and the month
    p.selection.keyMonth = job.yearMonth.substr(2, 2) + job.yearMonth.substr(5, 2);
    // The package checks every member itself, for its manifest.
    p.checkDocuments = false;
    p.openSource = registeredSource(job);
    addDestinations(p, folder, job.yearMonth);
    return p;
}

RuledDocument applyRules(RunKind kind, const FolderPattern& pattern, const SourceRow& row, SourceText text) {
    RuledDocument out;
    OutgoingDocument& d = out.document;
    d.number = row.number;
    d.key = row.key;
    d.documentType = row.documentType;
    d.issueDate = row.issueDate;
    d.kind = text.kind;
    d.cancellation = text.kind == XmlKind::CancellationEvent;
    d.text = std::move(text.bytes);
    std::string name;
    if (kind == RunKind::Period) {
        name = periodDocumentFileName(row.key, row.taxNumber);
        out.refusal = unusableName({row.key, row.taxNumber}, name);
    } else {
        name = documentFileName(row.key, d.cancellation);
        out.refusal = unusableName(row.key, name);
    }
    if (!out.refusal.empty()) return out;
    d.fileName = fileSystemName(name);
    switch (kind) {
    case RunKind::Incremental: d.folder = organisedFolder(pattern, {row.key, row.documentType}); break;
    // every document of the period export is an issued one
    case RunKind::Period:
        d.folder = organisedFolder(pattern, {row.key, "NF"}) + std::string(entryExitFolder(row.flag)) + "/";
        break;
    // the member's folder in the archive
    case RunKind::Package: d.folder = std::string(kindFolder(row.documentType)) + "/"; break;
    }
    return out;
}

namespace {

CheckCounts finishQuietly(BackgroundChecks& checks) noexcept {
    try {
        return checks.finish();
    } catch (...) {
        return {};
    }
}

}  // namespace

RunSummary runPlan(const std::function<RunPlan()>& makePlan, Observer& observer) {
    const auto started = Clock::now();
    RunSummary s;
    std::optional<long long> current;
    RunPlan plan;
    // the run's certificates, for every check of it, until the last has finished
    std::optional<TrustForChecks> trust;
    std::optional<BackgroundChecks> checks;
    try {
        plan = makePlan();
        observer.step(s, RunStep::Starting, 0);
        trust.emplace(trustForRun(plan.job.trustedCertificates, plan.job.settingsFile));
        const std::optional<ExportLock> lock = plan.locks ? lockForRun(plan.job, observer, s)
                                                          : std::optional<ExportLock>();
        if (plan.locks && !lock) {
            s.seconds = since(started);
            return s;
        }
        const bool stamped = plan.kind == RunKind::Incremental;
        StampRecord stored;
        if (stamped) {
            // Read under the lock: a run that waited starts from the stamp the
            // run before it stored.
            checkSettingsFile(plan.job.settingsFile);
            stored = readStamp(plan.job.settingsFile);
            // A stamp that could not be stored would come after every document.
            checkSettingsWritable(plan.job.settingsFile);
            s.stampBefore = s.stampAfter = stored.date + " " + stored.time;
        }
        for (const auto& destination : plan.destinations) {
            observer.step(s, destination->steps().preparing, 0);
            destination->prepare();
        }

        observer.step(s, RunStep::Connecting, 0);
        const std::unique_ptr<DocumentSource> source = plan.openSource();
        observer.connected();
        StartFacts facts;
        Moment advance;
        if (stamped) {
            facts = source->start();
            const StartPoint start = startPoint(stored, facts.database, facts.snapshot);
            s.note = start.note;
            plan.selection.changes = start.selection;
            advance = start.selection.after;
        }
        if (observer.wantsTotal()) observer.total(source->count(plan.selection));
        // The rows of a key stored more than once are held until the last row:
        // each file name gets one text, decided before any destination sees
        // it, so a store never receives the copy the folder does not keep.
        std::unordered_set<std::string> repeated;
        for (std::string& key : source->repeatedKeys(plan.selection)) repeated.insert(std::move(key));
        source->open(plan.selection);

        if (plan.checkDocuments) checks.emplace();
        // Hands one kept document to every destination; the folder's answer is the count.
        auto deliver = [&](OutgoingDocument& doc, bool counted) {
            for (size_t i = 0; i < plan.destinations.size(); ++i) {
                observer.step(s, plan.destinations[i]->steps().delivering, doc.number);
                const PutResult put = plan.destinations[i]->put(doc);
                // An upload still in flight is settled, or the run failed, by finish().
                if (i == 0 && counted) ++(put == PutResult::Unchanged ? s.unchanged : s.written);
            }
            // written first, so the texts move over instead of being copied
            if (checks) checks->add(std::move(doc.key), std::move(doc.text), doc.kind);
        };
        SourceRow row;
        NameClaims names;
        long long previous = 0;
        std::map<std::string, OutgoingDocument> held;  // file path -> its text so far
        for (long done = 0;; ++done) {
            if (observer.stopRequested()) {
                if (checks) s.checks = checks->finish();
                for (const auto& destination : plan.destinations) destination->abandon();
                s.result = Result::Interrupted;
                s.seconds = since(started);
                return s;
            }
            observer.step(s, RunStep::Reading, previous);
            if (!source->next(row)) break;
            previous = row.number;
            observer.document(done, row.number);
            ++s.examined;
            // The period's rows carry their position, not a document number.
            if (plan.kind != RunKind::Period) current = row.number;
            // Every selected document moves the stamp, of a ticked kind or not,
            // written or not.
            if (stamped && row.moment) advance = advanceStamp(advance, *row.moment);
            if (row.wanted) {
                ++s.selected;
                RuledDocument ruled = applyRules(plan.kind, plan.pattern, row, source->text());
                OutgoingDocument& doc = ruled.document;
                if (!ruled.refusal.empty()) {
                    s.refuse(row.number, std::move(doc.key), std::move(ruled.refusal));
                } else {
                    const bool hold = repeated.count(row.key) > 0;
                    // One file name, one document: the authorised text whose
                    // checks pass, then the authorised one, then the newer one.
                    // Only the held rows are parsed and checked here: the others
                    // have their file name to themselves.
                    NameCandidate candidate{row.number, row.moment, 0};
                    if (hold && carriesAuthorisation(doc.text))
                        candidate.standing = checkDocument(doc.key, doc.text, doc.kind).empty() ? 2 : 1;
                    long long other = 0;
                    const std::string path = doc.relativePath();
                    const NameClaims::Outcome claim = names.claim(path, candidate, &other);
                    if (claim == NameClaims::Outcome::Loses) {
                        s.duplicate(other, row.number, std::move(doc.key));
                        current.reset();
                        continue;
                    }
                    if (claim == NameClaims::Outcome::Replaces) s.duplicate(row.number, other, doc.key);
                    if (hold) {
                        held[path] = std::move(doc);
                    } else {
                        // A name the source did not report as repeated: written
                        // over at once, and the file counted once.
                        deliver(doc, claim == NameClaims::Outcome::First);
                    }
                }
            }
            current.reset();
        }
        // The winners of the repeated keys, in document order.
        std::vector<OutgoingDocument*> winners;
        for (auto& [path, doc] : held) winners.push_back(&doc);
        std::sort(winners.begin(), winners.end(),
                  [](const OutgoingDocument* a, const OutgoingDocument* b) { return a->number < b->number; });
        for (OutgoingDocument* doc : winners) {
            if (plan.kind != RunKind::Period) current = doc->number;
            deliver(*doc, true);
            current.reset();
        }
        held.clear();
        // Everything taken is durable before the stamp moves past it.
        for (const auto& destination : plan.destinations) {
            observer.step(s, destination->steps().finishing, 0);
            destination->finish(s);
        }
        observer.step(s, RunStep::Checking, 0);
        if (checks) s.checks = checks->finish();
        if (stamped) {
            observer.step(s, RunStep::Stamping, 0);
            advance = storedStamp(advance, facts.snapshot.serverTime);
            storeStamp(plan.job.settingsFile, advance, facts.snapshot.oldestActive, facts.database.identity);
            s.stampAfter = dateText(advance) + " " + timeText(advance);
        }
        s.result = s.refused ? Result::Refused : Result::Complete;
    } catch (const std::exception& e) {
        for (const auto& destination : plan.destinations) destination->abandon();
        s.result = Result::Failed;
        s.error = e.what();
        // A destination's error names what it concerns; the document reached then is another.
        s.errorDocument = dynamic_cast<const DestinationError*>(&e) ? std::nullopt : current;
        // what was written before the failure was checked too
        if (checks) s.checks = finishQuietly(*checks);
    }
    s.seconds = since(started);
    return s;
}

}  // namespace exports
