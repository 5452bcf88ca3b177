#pragma once
// Where a run's documents come from: the ERP's database (export/sources/firebird)
// or, in tests, documents held in memory. A source hands over the rows of one
// selection in document-number order; the rules decide what becomes of them.

#include "export/checks/xml_check.h"  // XmlKind
#include "export/core/job.h"
#include "export/core/stamp.h"

#include <optional>
#include <string>
#include <vector>

namespace exports {

// What the database says about itself, read outside any transaction.
struct DatabaseState {
    long long nextTransaction = 0;
    std::string identity;  // its creation moment: a restored or other database differs
};

// What the run's snapshot fixes when it starts.
struct Snapshot {
    // The oldest transaction active when the snapshot started: every row the
    // snapshot cannot see was written by a transaction at or above it.
    long long oldestActive = 0;
    // The server's clock then, cut to the second.
    Moment serverTime;
};

// Which changes a run selects: changed after `after` (whole seconds), or
// written by a transaction at or above `mark`; `everything` selects every
// document that has a change moment (after a restore, when no mark holds).
struct ChangeSelection {
    Moment after;
    std::optional<long long> mark;
    bool everything = false;
};

// Which documents a run asks for.
struct Selection {
    enum class Kind { Changes, Period, Month };
    Kind kind = Kind::Changes;
    // Changes: after the stamp or at or above the mark; `kinds` decides `wanted`.
    ChangeSelection changes;
    Kinds kinds;
    bool withDocumentType = false;  // the header's type is needed ({tipo})
    // Period: issued documents of one branch between two dates.
    platform::DateTime start = 0, end = 0;
    std::string branch;
    // Month: the key's "AAMM".
    std::string keyMonth;
};

// One row as the source hands it over.
struct SourceRow {
    long long number = 0;          // the source's document number; a period row's position (1, 2, …)
    bool wanted = true;            // of a ticked kind (changes); the rest always
    std::optional<Moment> moment;  // the change moment (changes only)
    std::string key;               // the access key as stored; empty for a row not wanted
    std::string documentType;      // the document's type ("NF", …) when the selection asks for it
    std::string issueDate;         // "AAAA-MM-DD" (month)
    // The period's: "E" for an entry (else an exit), and the other party's CNPJ or CPF.
    std::string flag, taxNumber;
};

// The text chosen for the current row and which XML it is.
struct SourceText {
    std::string bytes;
    XmlKind kind = XmlKind::Either;
};

// What fixes an incremental run's start: the database's identity and the
// snapshot's oldest active transaction and clock.
struct StartFacts {
    DatabaseState database;
    Snapshot snapshot;
};

class DocumentSource {
public:
    virtual ~DocumentSource() = default;
    // Starts the run's snapshot before any statement (incremental runs only).
    virtual StartFacts start() = 0;
    // How many rows open() will hand over (a second pass; only when asked).
    virtual long count(const Selection& selection) = 0;
    // The access keys that more than one row of the selection carries: only
    // their rows are held until the last row, to pick one text per file.
    virtual std::vector<std::string> repeatedKeys(const Selection& selection) = 0;
    virtual void open(const Selection& selection) = 0;
    // The next row; false after the last.
    virtual bool next(SourceRow& row) = 0;
    // The current row's text: the cancellation event, else the distribution
    // text, else the document (blank texts do not count); the period takes
    // the first that is not NULL, whichever it is.
    virtual SourceText text() = 0;
};

}  // namespace exports
