#include "tests/export/core/memory_source.h"

#include "export/core/rules.h"

#include <algorithm>
#include <map>

namespace pipetest {

using namespace exports;

MemorySource::MemorySource(std::vector<StoredDocument> documents) : documents_(std::move(documents)) {
    std::sort(documents_.begin(), documents_.end(),
              [](const StoredDocument& a, const StoredDocument& b) { return a.number < b.number; });
    facts.database = {100, "memoria"};
    facts.snapshot.oldestActive = 50;
    facts.snapshot.serverTime = {2100, 1, 1, 0, 0, 0};
}

std::vector<const StoredDocument*> MemorySource::select(const Selection& s) const {
    std::vector<const StoredDocument*> out;
    for (const StoredDocument& d : documents_) {
        // An access key and at least one text.
        if (!d.key || !(d.cancellation || d.distribution || d.xml)) continue;
        switch (s.kind) {
        case Selection::Kind::Changes: {
            if (!d.changed) continue;
            const auto moment = parseDatabaseMoment(*d.changed + ".0000");
            if (!s.changes.everything && !(moment && *moment >= nextSecond(s.changes.after))) continue;
            break;
        }
        case Selection::Kind::Period: break;
        case Selection::Kind::Month:
            if (d.key->size() < 6 || d.key->substr(2, 4) != s.keyMonth) continue;
            break;
        }
        out.push_back(&d);
    }
    return out;
}

long MemorySource::count(const Selection& selection) { return static_cast<long>(select(selection).size()); }

std::vector<std::string> MemorySource::repeatedKeys(const Selection& selection) {
    std::map<std::string, int> rows;
    for (const StoredDocument* d : select(selection)) ++rows[*d->key];
    std::vector<std::string> out;
    for (const auto& [key, n] : rows)
        if (n > 1) out.push_back(key);
    return out;
}

void MemorySource::open(const Selection& selection) {
    selection_ = selection;
    rows_ = select(selection);
    at_ = 0;
}

bool MemorySource::next(SourceRow& row) {
    if (at_ >= rows_.size()) return false;
    const StoredDocument& d = *rows_[at_++];
    row = SourceRow();
    switch (selection_.kind) {
    case Selection::Kind::Changes:
        row.number = d.number;
        row.moment = parseDatabaseMoment(*d.changed + ".0000");
        row.wanted = ofTickedKind(selection_.kinds, d.documentType, d.vehicle);
        if (row.wanted) row.key = *d.key;
        if (row.wanted && selection_.withDocumentType) row.documentType = d.documentType;
        break;
    case Selection::Kind::Period:
        row.number = static_cast<long long>(at_);
        row.key = *d.key;
        row.flag = d.flag;
        row.taxNumber = d.taxNumber;
        break;
    case Selection::Kind::Month:
        row.number = d.number;
        row.key = *d.key;
        row.documentType = d.documentType;
        row.issueDate = d.issueDate;
        break;
    }
    return true;
}

SourceText MemorySource::text() {
    const StoredDocument& d = *rows_[at_ - 1];
    if (selection_.kind == Selection::Kind::Period)
        return {d.cancellation ? *d.cancellation : d.distribution ? *d.distribution : *d.xml, XmlKind::Either};
    if (d.cancellation && hasNonBlank(*d.cancellation)) return {*d.cancellation, XmlKind::CancellationEvent};
    if (d.distribution && hasNonBlank(*d.distribution)) return {*d.distribution, XmlKind::Document};
    return {d.xml.value_or(std::string()), XmlKind::Document};
}

}  // namespace pipetest
