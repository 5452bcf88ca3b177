#pragma once
// What one export run did, for the scheduler's journal, the window's status
// line and the run history.

#include "export/checks/checks.h"
#include "platform/codepage.h"

#include <optional>
#include <string>
#include <vector>

namespace exports {

enum class Result {
    Complete,     // every selected document written (or unchanged)
    Refused,      // complete, but some documents could not be named and were left out
    Failed,       // stopped by an error; the stamp did not move
    Interrupted,  // stopped on request at a document boundary; the stamp did not move
    Busy,         // another run held the lock; nothing was done
};

struct RefusedDocument {
    long long number = 0;
    std::string key;  // as stored (bytes)
    std::string reason;
};

// Two documents of a run that give one file name: one keeps the file.
struct DuplicateDocument {
    long long kept = 0, dropped = 0;  // document numbers
    std::string key;                  // as stored (bytes)
};

struct RunSummary {
    long examined = 0;   // rows the database handed over
    long selected = 0;   // changed after the stamp / mark (incremental) or matched (period)
    long written = 0;    // files written
    long unchanged = 0;  // files that already held exactly these bytes
    long refused = 0;
    std::vector<RefusedDocument> refusedDocuments;
    long duplicates = 0;  // documents that lost their file name to another of the run
    std::vector<DuplicateDocument> duplicateDocuments;
    std::string stampBefore, stampAfter;  // "dd/mm/yyyy hh:mm:ss"; empty for the period export
    std::string note;                     // e.g. the transaction mark was dropped
    CheckCounts checks;                   // the documents' key, XML and signature checks
    // The month's package only: the archive and the gaps in its numbering.
    std::string package;
    long gapRanges = 0;
    unsigned long long missingNumbers = 0;
    double seconds = 0;
    Result result = Result::Failed;
    std::string error;                       // empty when none
    std::optional<long long> errorDocument;  // the document the error concerns

    // A document left unwritten for its name; the run goes on.
    void refuse(long long number, std::string key, std::string reason) {
        ++refused;
        refusedDocuments.push_back({number, std::move(key), std::move(reason)});
    }
    void duplicate(long long kept, long long dropped, std::string key) {
        ++duplicates;
        duplicateDocuments.push_back({kept, dropped, std::move(key)});
    }
};

// What a run is doing, told to its observer before each step that may wait on
// something outside the program, so that a run ended from outside can say
// where it stood.
enum class RunStep : int {
    Starting,         // the lock, the settings file, the stamp
    PreparingFolder,  // the output folder or the package's
    PreparingStore,   // the object store answers (Nuvem)
    Connecting,       // the database
    Reading,          // the next row and its text from the database
    Writing,          // a document into the folder or the package
    Uploading,        // a document to the object store
    FinishingFolder,  // the folder's files made durable, the package named
    FinishingStore,   // the uploads still in flight acknowledged
    Checking,         // waiting for the documents' checks
    Stamping,         // the stamp stored in the settings file
};

// Whether the step waits on the object store: its messages start with "Nuvem: ".
bool storeStep(RunStep step);

// The failure of a run ended after `limitSeconds` without progress during
// `step` (`document` the one it concerns, 0 for none) with what it had done,
// e.g. "Nuvem: exportação abandonada: nenhum progresso em 600 s enviando o
// documento 12 à Nuvem (TempoSemProgresso), com 12 documentos examinados e 12
// gravados; marca não movida".
std::string abandonedRunError(long long limitSeconds, RunStep step, long long document, long examined = 0,
                              long written = 0);

// The one stdout line of an unattended run, e.g.
// Resumo: examinados=3 selecionados=2 gravados=2 marca_antes="01/01/2010 00:00:00"
//   marca_depois="25/12/2020 10:05:37" tempo=0.012s resultado=completo inalterados=0 recusados=0
//   falhas_chave=0 falhas_xml=0 falhas_assinatura=0
std::string summaryLine(const RunSummary& s);
// The stderr line of a failed run, naming the document when one is concerned.
std::string errorLine(const RunSummary& s);
// One stderr line per document that lost its file name to another.
std::string duplicateLine(const DuplicateDocument& d);
// One stderr line per refused document.
std::string refusedLine(const RefusedDocument& d);
// The counts as the window shows them; the error first when the run failed.
std::string windowText(const RunSummary& s, bool withStamp);
// Bytes and messages made fit for one line (platform/codepage.h).
using platform::messageText;
using platform::printable;

// The unattended run's exit status: 0 complete, 1 failed, 65 refused
// documents, 75 busy, 128 + the signal when interrupted.
int exitStatus(const RunSummary& s, int stopSignal = 2);

}  // namespace exports
