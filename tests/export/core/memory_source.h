#pragma once
// Documents held in memory as a run's source: the rows a selection would
// hand over, without a database. Only what the rules see is modelled: the
// change moment against the stamp, the kinds, the key's month and the texts;
// the transaction mark and the period's dates and branch are the database's
// business and are tested against it.

#include "export/core/document_source.h"

#include <optional>
#include <string>
#include <vector>

namespace pipetest {

struct StoredDocument {
    long long number = 0;
    std::optional<std::string> key;      // NULL: not exportable
    std::optional<std::string> changed;  // DIG_DATAHORA, "2020-12-25 10:05:37"
    std::string documentType;            // PAI_TIPODOC; "" without a header row
    bool vehicle = false;
    std::optional<std::string> cancellation, distribution, xml;
    std::string flag = "S";
    std::string taxNumber = "11222333000181";
    std::string issueDate = "2024-03-05";
};

class MemorySource final : public exports::DocumentSource {
public:
    explicit MemorySource(std::vector<StoredDocument> documents);

    // What start() reports; the server's clock is far ahead unless set.
    exports::StartFacts facts;

    exports::StartFacts start() override { return facts; }
    long count(const exports::Selection& selection) override;
    std::vector<std::string> repeatedKeys(const exports::Selection& selection) override;
    void open(const exports::Selection& selection) override;
    bool next(exports::SourceRow& row) override;
    exports::SourceText text() override;

private:
    std::vector<const StoredDocument*> select(const exports::Selection& selection) const;

    std::vector<StoredDocument> documents_;
    exports::Selection selection_;
    std::vector<const StoredDocument*> rows_;
    size_t at_ = 0;
};

}  // namespace pipetest
