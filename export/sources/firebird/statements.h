#pragma once
// The database side of the exports: owns the connection and its one snapshot
// transaction, and holds every SQL statement of the program.

#include "export/core/document_source.h"
#include "export/core/job.h"
#include "export/core/stamp.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace db {
class Database;
class Query;
}  // namespace db

namespace exports {

// One changed document of the incremental selection.
struct ChangedDocument {
    long long number = 0;
    Moment moment;        // cut to the second
    bool wanted = false;  // passes the ticked kinds
};

// One document of the period selection.
struct PeriodDocument {
    std::string flag, key, taxNumber;
};

// One document of the month's package.
struct MonthDocument {
    long long number = 0;
    std::string key;           // as stored
    std::string documentType;  // PAI_TIPODOC; empty without a header row
    std::string issueDate;     // "AAAA-MM-DD"; empty without a header row
};

class Source {
public:
    // Attaches (nothing else happens until the first statement).
    explicit Source(const ConnectionJob& job);
    ~Source();
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    // Read before the snapshot starts.
    DatabaseState state();
    // Starts the run's one snapshot (before any statement) and reads what it
    // fixes. Every later statement reads in it.
    Snapshot beginSnapshot();

    // The selected documents in document-number order. Streamed: only the
    // current row is held. The mark also covers the rows that decide the
    // ticked kinds (the header, the vehicle row): a kind that becomes true
    // later is caught by the next run.
    // `withDocumentType`: also the header's type, for changeType().
    void openChanges(const ChangeSelection& selection, const Kinds& kinds, bool withDocumentType = true);
    long countChanges(const ChangeSelection& selection, const Kinds& kinds);
    // The keys that more than one row of the selection carries (key only, no texts).
    std::vector<std::string> repeatedChangeKeys(const ChangeSelection& selection, const Kinds& kinds);
    bool nextChange(ChangedDocument& out);
    // Texts of the current change (only for wanted rows).
    std::string changeKey();
    // Its header's PAI_TIPODOC; empty without a header row.
    std::string changeType();
    // The text to write and whether it is the cancellation text.
    std::string changeText(bool& cancellation);

    void openPeriod(platform::DateTime start, platform::DateTime end, const std::string& branch);
    long countPeriod(platform::DateTime start, platform::DateTime end, const std::string& branch);
    std::vector<std::string> repeatedPeriodKeys(platform::DateTime start, platform::DateTime end,
                                                const std::string& branch);
    bool nextPeriod(PeriodDocument& out);
    std::string periodText();

    // The exportable documents whose access key carries `keyMonth` ("AAMM",
    // its third to sixth characters), with their header's type and issue
    // date, in document-number order. Streamed.
    void openMonth(const std::string& keyMonth);
    long countMonth(const std::string& keyMonth);
    std::vector<std::string> repeatedMonthKeys(const std::string& keyMonth);
    bool nextMonth(MonthDocument& out);
    // The text of the current document, chosen as for the incremental export.
    std::string monthText(bool& cancellation) { return changeText(cancellation); }

    // The embedded engine's page cache, in pages.
    static constexpr int kEmbeddedCachePages = 256;

    // Texts up to this many bytes travel inside the row; longer ones as blobs.
    static constexpr int kInlineBytes = 16000;

private:
    struct TextColumn;
    void describeTexts();
    std::string textAt(int text);
    // How many columns textSelect_ adds: pick, inline text and three blob ids,
    // or an inline and a blob column per text.
    int textColumnCount() const { return picked_ ? 5 : 6; }
    static std::string changesWhere(const ChangeSelection& selection, const Kinds& kinds);
    static void bindChanges(db::Query& q, const ChangeSelection& selection);
    // Runs a statement in the run's transaction and reads its first column.
    static long count(db::Query& q);
    static std::vector<std::string> firstColumn(db::Query& q);
    // Makes the streamed selection's statement, in place of the last one.
    db::Query& select(const std::string& sql);
    // Moves the selection to its next row; false past its end.
    bool advance();

    std::unique_ptr<db::Database> database_;
    std::unique_ptr<db::Query> query_;  // goes before its database
    std::string textSelect_;            // the three texts, inline and blob, in select-list form
    bool described_ = false;
    bool picked_ = false;  // one inline text, chosen by the statement
    bool first_ = true;
    bool withDocumentType_ = true;
};

// Whether a database name reaches its file through a server ("host:path")
// rather than the engine inside this process (a plain path).
bool goesThroughServer(std::string_view database);

}  // namespace exports
