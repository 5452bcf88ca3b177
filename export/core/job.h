#pragma once
// What an export run needs, as plain values: the window, the unattended run,
// the tests and the benchmarks all fill the same structures.

#include "export/core/settings_section.h"
#include "platform/datetime.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace exports {

struct RunSummary;
enum class RunStep : int;

// What only a source's adapter reads besides the settings (a client library
// already loaded, a login): callers that hold it hand it over here.
struct SourceOptions {
    virtual ~SourceOptions() = default;
};

// The document kinds of the incremental export ("Notas Emitidas", "Notas
// Recebidas", "Notas Emitidas de Veículos").
struct Kinds {
    bool issued = false;
    bool received = false;
    bool vehicles = false;
    bool all() const { return issued && received && vehicles; }
    bool none() const { return !issued && !received && !vehicles; }
};

struct ConnectionJob {
    std::string database;  // where the source reads ("path" or "host:path"); bytes as stored
    // The source's own options; its defaults when empty.
    std::shared_ptr<const SourceOptions> sourceOptions;
    // The PastaExportar text; resolved against the settings file's folder.
    std::string outputFolder;
    // The settings file: the stamp lives there and the lock beside it.
    std::string settingsFile;
    // How long to wait for another run's lock before giving up as busy.
    std::chrono::milliseconds lockWait{0};
    // The Organizar pattern (bytes as stored): subfolders of the output
    // folder per document; empty keeps the flat folder.
    std::string organize;
    // The settings file's lines: each destination reads its own keys (the
    // object store's Nuvem…) and is left out when they are absent.
    SettingsSection settings;
    // CertificadosConfiaveis: a folder of certificates the signature check
    // trusts besides ICP-Brasil's; relative to the settings file's folder.
    std::string trustedCertificates;
};

struct IncrementalJob : ConnectionJob {
    Kinds kinds;
    // Every run of the program checks what it writes; a benchmark turns the
    // checks off to time the export's own work apart from theirs.
    bool checkDocuments = true;
};

struct PeriodJob : ConnectionJob {
    platform::DateTime startDate = 0;  // NullDate when the editor is empty
    platform::DateTime endDate = 0;
    std::string branch;  // the branch editor's text, sent for the server to convert
};

// How a long run reports and learns that it should stop. Called on the thread
// that runs the export.
class Observer {
public:
    virtual ~Observer() = default;
    // The connection is up (the client library may have installed its own
    // signal handling by now).
    virtual void connected() {}
    // The number of documents the run will look at; only asked for when
    // wantsTotal() (it costs a second pass over the selection).
    virtual bool wantsTotal() const { return false; }
    virtual void total(long /*documents*/) {}
    // Before each document: how many came before it and its number.
    virtual void document(long /*done*/, long long /*number*/) {}
    // Asked before each document; true ends the run there, stamp unmoved.
    virtual bool stopRequested() { return false; }
    // Before each step that may wait on something outside the program: the
    // counts so far and the step (export/core/summary.h), `document` the one it
    // concerns or 0.
    virtual void step(const RunSummary& /*soFar*/, RunStep /*step*/, long long /*document*/) {}
};

}  // namespace exports
