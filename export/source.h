#pragma once
// The database side of the exports: owns the connection and its one snapshot
// transaction, and holds every SQL statement of the program.

#include "export/job.h"
#include "export/stamp.h"

#include <memory>
#include <optional>
#include <string>

namespace db {
class TIBDatabase;
class TIBTransaction;
class TIBQuery;
}  // namespace db

namespace exports {

// What the database says about itself, read outside any transaction.
struct DatabaseState {
    long long oldestActive = 0;
    long long nextTransaction = 0;
    std::string identity;  // its creation moment: a restored or other database differs
};

// One changed document of the incremental selection.
struct ChangedDocument {
    long long number = 0;
    Moment moment;    // cut to the second
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

    // Must be read before the first statement: the run's snapshot starts then.
    DatabaseState state();

    // Documents changed after `stamp` (whole seconds), or written by a
    // transaction at or above `mark`, in document-number order. Streamed:
    // only the current row is held.
    // `withDocumentType`: also the header's type, for changeType().
    void openChanges(const Moment& stamp, std::optional<long long> mark, const Kinds& kinds,
                     bool withDocumentType = true);
    long countChanges(const Moment& stamp, std::optional<long long> mark);
    bool nextChange(ChangedDocument& out);
    // Texts of the current change (only for wanted rows).
    std::string changeKey();
    // Its header's PAI_TIPODOC; empty without a header row.
    std::string changeType();
    // The text to write and whether it is the cancellation text.
    std::string changeText(bool& cancellation);

    void openPeriod(platform::DateTime start, platform::DateTime end, const std::string& branch);
    long countPeriod(platform::DateTime start, platform::DateTime end, const std::string& branch);
    bool nextPeriod(PeriodDocument& out);
    std::string periodText();

    // The exportable documents whose access key carries `keyMonth` ("AAMM",
    // its third to sixth characters), with their header's type and issue
    // date, in document-number order. Streamed.
    void openMonth(const std::string& keyMonth);
    long countMonth(const std::string& keyMonth);
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
    std::string changesWhere(std::optional<long long> mark) const;

    std::unique_ptr<db::TIBDatabase> database_;
    std::unique_ptr<db::TIBTransaction> transaction_;
    std::unique_ptr<db::TIBQuery> query_;
    std::string textSelect_;  // the three texts, inline and blob, in select-list form
    bool described_ = false;
    bool picked_ = false;  // one inline text, chosen by the statement
    bool first_ = true;
    bool withDocumentType_ = true;
};

// Whether a database name reaches its file through a server ("host:path")
// rather than the engine inside this process (a plain path).
bool goesThroughServer(std::string_view database);

// True when a character other than a blank (codes 0 to 32) is left after trimming.
bool hasNonBlank(std::string_view text);

}  // namespace exports
