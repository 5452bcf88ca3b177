#pragma once
// The run history: one JSON object per line in ConfigQuillan.log.jsonl beside
// the settings file, appended by every export (window, /executa, package) and
// read by /status, the tray and the "Histórico" window.
//
// A line is written with a single write() on an O_APPEND descriptor, so runs
// ending at the same moment never interleave. Reading skips lines that do not
// parse: a damaged line costs that run, never the program. The file keeps the
// newest kHistoryKeep runs; the surplus is dropped by writing the rest to a
// temporary file and renaming it over the old one.

#include "export/core/summary.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace exports {

using Clock = std::chrono::system_clock;

// "completo", "falhou", "interrompido", "ocupado", "recusados".
const char* resultName(Result result);
std::optional<Result> resultFromName(std::string_view name);

// Kinds of run as stored.
inline constexpr const char* kRunWindow = "janela";       // "Gerar"
inline constexpr const char* kRunUnattended = "executa";  // /executa
inline constexpr const char* kRunPeriod = "periodo";      // "Exportar"
inline constexpr const char* kRunPackage = "pacote";

// Texts may be UTF-8 or Windows-1252 bytes (database values, settings); they
// are stored as UTF-8. Records read back hold UTF-8.
struct RunRecord {
    Clock::time_point started{}, ended{};
    std::string kind;
    Result result = Result::Complete;
    long long examined = 0, selected = 0, written = 0, unchanged = 0, refused = 0;
    long long duplicates = 0;  // documents that lost their file name to another of the run
    std::string stampBefore, stampAfter;
    double seconds = 0;
    std::string error;
    std::string note;  // something unusual that did not stop the run (a dropped mark)
    // A run's first line, written before it touches anything: while no line
    // with its end follows, it is either still running or ended unrecorded.
    bool unfinished = false;
    long long pid = 0;  // the process that ran it
    // At most kRefusedKept are stored; `refused` keeps the full count.
    std::vector<RefusedDocument> refusedDocuments;
};

// A run as the history keeps it. `kind` is one of the kinds above.
RunRecord recordOf(const RunSummary& summary, std::string kind, Clock::time_point started, Clock::time_point ended);

// The first line of a run, recorded before its first document.
RunRecord startRecord(std::string kind, Clock::time_point started);

// Whether the process that wrote the record still runs.
bool runnerAlive(const RunRecord& record);

inline constexpr std::size_t kHistoryKeep = 1000;
// What is read of a history at most: a full history of runs that each refuse
// their most documents is about 21 MB; the rest of a bigger file is damage.
inline constexpr std::size_t kHistoryReadLimit = 32u << 20;
// A run refusing tens of thousands of documents must not make one line of
// megabytes; the first ones say what went wrong.
inline constexpr std::size_t kRefusedKept = 200;

// ConfigQuillan.log.jsonl in the folder of the settings file.
std::string historyFileFor(const std::string& settingsFile);

// ISO 8601 in local time with its offset, to the second: 2024-03-01T10:00:02-03:00.
std::string isoTime(Clock::time_point t);
std::optional<Clock::time_point> parseIsoTime(std::string_view text);

// One record as its line, '\n' included.
std::string recordLine(const RunRecord& record);
// nullopt for a line that is not a record (damaged, truncated, foreign).
std::optional<RunRecord> parseRecordLine(std::string_view line);

// Appends the record and trims the file to the newest `keep` runs. Returns
// false with `error` set when the line could not be written; a trim that
// fails leaves the file longer, never shorter or broken. The history must be
// a regular file: a link, a FIFO, a device or a folder there is refused.
bool appendRun(const std::string& path, const RunRecord& record, std::string* error = nullptr,
               std::size_t keep = kHistoryKeep);

// The newest `count` readable records, newest first; a run's first line is
// left out once its end is recorded. A missing file reads as no runs; one
// that cannot be read (or is not a regular file) too, with `error` set.
std::vector<RunRecord> readRuns(const std::string& path, std::size_t count = kHistoryKeep,
                                std::string* error = nullptr);
std::optional<RunRecord> lastRun(const std::string& path);

// Which failures the desktop was already told about: the end time of the
// newest one announced, in ConfigQuillan.log.avisado beside the settings.
std::string announcedFileFor(const std::string& settingsFile);
std::optional<Clock::time_point> readAnnouncedMark(const std::string& path);
// Replaces the file whole; a later mark never goes back.
bool writeAnnouncedMark(const std::string& path, Clock::time_point mark);

}  // namespace exports
