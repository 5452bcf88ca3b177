#pragma once
// The database as a run's document source: the three selections of Source
// (statements.h, where every statement lives) behind one interface.

#include "export/core/document_source.h"
#include "export/sources/firebird/statements.h"

namespace exports {

class FirebirdSource final : public DocumentSource {
public:
    // Attaches as the job says.
    explicit FirebirdSource(const ConnectionJob& job) : source_(job) {}

    StartFacts start() override;
    long count(const Selection& selection) override;
    std::vector<std::string> repeatedKeys(const Selection& selection) override;
    void open(const Selection& selection) override;
    bool next(SourceRow& row) override;
    SourceText text() override;

private:
    Source source_;
    Selection::Kind kind_ = Selection::Kind::Changes;
    bool withDocumentType_ = false;
    long long position_ = 0;  // the period's rows carry their position
    ChangedDocument change_;
    PeriodDocument period_;
    MonthDocument month_;
};

}  // namespace exports
