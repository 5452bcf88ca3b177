#include "export/sources/firebird/firebird_source.h"

#include "export/core/registry.h"
#include "export/sources/firebird/firebird_options.h"

namespace exports {

StartFacts FirebirdSource::start() {
    StartFacts facts;
    facts.database = source_.state();
    // Right after the snapshot starts and before any row is read.
    facts.snapshot = source_.beginSnapshot();
    return facts;
}

long FirebirdSource::count(const Selection& s) {
    switch (s.kind) {
    case Selection::Kind::Changes: return source_.countChanges(s.changes, s.kinds);
    case Selection::Kind::Period: return source_.countPeriod(s.start, s.end, s.branch);
    case Selection::Kind::Month: return source_.countMonth(s.keyMonth);
    }
    return 0;
}

std::vector<std::string> FirebirdSource::repeatedKeys(const Selection& s) {
    switch (s.kind) {
    case Selection::Kind::Changes: return source_.repeatedChangeKeys(s.changes, s.kinds);
    case Selection::Kind::Period: return source_.repeatedPeriodKeys(s.start, s.end, s.branch);
    case Selection::Kind::Month: return source_.repeatedMonthKeys(s.keyMonth);
    }
    return {};
}

void FirebirdSource::open(const Selection& s) {
    kind_ = s.kind;
    position_ = 0;
    withDocumentType_ = s.withDocumentType;
    switch (s.kind) {
    case Selection::Kind::Changes: source_.openChanges(s.changes, s.kinds, s.withDocumentType); break;
    case Selection::Kind::Period: source_.openPeriod(s.start, s.end, s.branch); break;
    case Selection::Kind::Month: source_.openMonth(s.keyMonth); break;
    }
}

bool FirebirdSource::next(SourceRow& row) {
    switch (kind_) {
    case Selection::Kind::Changes:
        if (!source_.nextChange(change_)) return false;
        row.number = change_.number;
        row.moment = change_.moment;
        row.wanted = change_.wanted;
        // Only the rows of a ticked kind carry their texts.
        row.key = row.wanted ? source_.changeKey() : std::string();
        row.documentType = row.wanted && withDocumentType_ ? source_.changeType() : std::string();
        return true;
    case Selection::Kind::Period:
        if (!source_.nextPeriod(period_)) return false;
        row.number = ++position_;
        row.flag = std::move(period_.flag);
        row.key = std::move(period_.key);
        row.taxNumber = std::move(period_.taxNumber);
        return true;
    case Selection::Kind::Month:
        if (!source_.nextMonth(month_)) return false;
        row.number = month_.number;
        row.key = std::move(month_.key);
        row.documentType = std::move(month_.documentType);
        row.issueDate = std::move(month_.issueDate);
        return true;
    }
    return false;
}

SourceText FirebirdSource::text() {
    SourceText t;
    if (kind_ == Selection::Kind::Period) {
        // the first text that is not NULL: a document or its cancellation event
        t.bytes = source_.periodText();
        t.kind = XmlKind::Either;
        return t;
    }
    bool cancellation = false;
    t.bytes = source_.changeText(cancellation);
    t.kind = cancellation ? XmlKind::CancellationEvent : XmlKind::Document;
    return t;
}

std::shared_ptr<const SourceOptions> firebirdOptions(std::shared_ptr<db::FbClient> client, Credentials credentials) {
    auto options = std::make_shared<FirebirdOptions>();
    options->client = std::move(client);
    options->credentials = std::move(credentials);
    return options;
}

const FirebirdOptions& firebirdOptionsOf(const ConnectionJob& job) {
    static const FirebirdOptions defaults;
    const auto* options = dynamic_cast<const FirebirdOptions*>(job.sourceOptions.get());
    return options ? *options : defaults;
}

void registerFirebirdSource() {
    // Base names the database; the login and the client library come from the caller.
    registerSource({"firebird", {"Base"}, [](const ConnectionJob& job) {
                        return std::unique_ptr<DocumentSource>(std::make_unique<FirebirdSource>(job));
                    }});
}

}  // namespace exports
