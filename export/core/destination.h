#pragma once
// Where a run's documents go. The run loop reads documents from a source,
// applies the rules and hands every kept document to each destination of the
// run: the plain or organised folder, the month's package, an object store.
// A destination never decides what is selected or how a file is named.

#include "export/checks/checks.h"
#include "export/core/summary.h"

#include <stdexcept>
#include <string>

namespace exports {

// A destination's failure that names what it concerns in its own message (an
// upload's key): the document the run had reached is not the one at fault.
class DestinationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The steps a run reports while a destination works, so that a run ended from
// outside says what it waited on (export/core/summary.h).
struct DestinationSteps {
    RunStep preparing = RunStep::PreparingFolder;
    RunStep delivering = RunStep::Writing;
    RunStep finishing = RunStep::FinishingFolder;
};

// One document as the rules leave it for the destinations.
struct OutgoingDocument {
    long long number = 0;  // the database's document number
    std::string key;       // the access key as stored (bytes)
    std::string folder;    // under the output folder: "" or "a/b/" (file-system bytes)
    std::string fileName;  // one component, file-system bytes: "NFe<key>.XML"
    std::string text;      // the stored bytes, without the CR LF a file adds
    XmlKind kind = XmlKind::Document;
    bool cancellation = false;  // the text is the cancellation event ("CanNFe…")
    std::string documentType;   // the document's type ("NF", …) when the source gave it
    std::string issueDate;      // "AAAA-MM-DD" when the source gave it

    // The file's path under the output folder; an object store's key under its prefix.
    std::string relativePath() const { return folder + fileName; }
};

enum class PutResult {
    Written,    // stored now
    Unchanged,  // already held exactly these bytes; left alone
    Pending,    // settled by finish() (an upload still in flight)
};

class Destination {
public:
    virtual ~Destination() = default;
    // Before the first document: throws when the destination cannot take the
    // run's documents, so nothing is written anywhere.
    virtual void prepare() {}
    // Takes one document; throws on a failure that must end the run.
    virtual PutResult put(const OutgoingDocument& doc) = 0;
    // After the last document: everything taken is durable (files synced,
    // uploads acknowledged, the package named) or this throws. Only then may
    // the stamp move. Adds what only the destination knows to the summary.
    virtual void finish(RunSummary& summary) = 0;
    // The run stopped or failed: leave nothing partial behind.
    virtual void abandon() noexcept {}
    // What the run waits on while this destination prepares, takes and finishes.
    virtual DestinationSteps steps() const { return {}; }
};

}  // namespace exports
