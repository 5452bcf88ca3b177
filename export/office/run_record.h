#pragma once
// Each run's record in the object store, so that the office sees every
// company's runs without reaching their machines: the history's line of the
// run plus the machine, the program's version and what went to the store,
// under <prefix><company>/execucoes/AAAA/MM/<fim>_<kind>_<result>_<sent>-<host>.json:
// the name alone carries what the office counts, so a listing is enough for it.

#include "export/history/history.h"
#include "export/destinations/object_store/s3_client.h"
#include "export/destinations/object_store/store_settings.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace exports {

inline constexpr const char* kRunRecordFolder = "execucoes/";
// A record is a line of the history: a bigger object is not one of ours.
inline constexpr long long kRunRecordCap = 128 * 1024;

// What the record holds beyond the history's line.
struct RunRecordExtras {
    std::string host, version;
    long long sent = 0, unchangedInStore = 0;  // documents sent to the store / found there already
    CheckCounts checks;
    std::string package;  // the month's archive (file name), package runs only
    long long gapRanges = 0, missingNumbers = 0;
};

// "20261211T071103.123Z": the end in UTC, sorting as time does.
std::string sortableUtc(Clock::time_point t);
std::optional<Clock::time_point> parseSortableUtc(std::string_view text);
// The machine's name as a part of a key: letters, digits, '-', '_' and '.'
// are kept, anything else becomes '_' (never a '/').
std::string hostKeyPart(const std::string& host);

// What a record's name says of its run.
struct RunRecordName {
    Clock::time_point ended{};  // to the millisecond
    std::string kind, result;   // the history's words
    long long sent = 0;
    std::string packageMonth;  // "AAAA-MM" for a package run's NFe-AAAA-MM.zip, else ""
    std::string host;          // as hostKeyPart left it
};
// <prefix><company>/execucoes/AAAA/MM/<fim>_<kind>_<result>_<sent>[_<AAAAMM>]-<host>.json
// (month of the end, UTC). A kind the history does not know gets the plain name.
std::string runRecordKey(const StoreSettings& store, const RunRecord& record, const RunRecordExtras& extras);
// <prefix><company>/execucoes/AAAA/MM/<fim>-<host>.json: the name records had
// before their names carried the run; the office reads these by GET.
std::string plainRunRecordKey(const StoreSettings& store, Clock::time_point ended, const std::string& host);
// nullopt for a plain name or one that is not ours; the key's folders are ignored.
std::optional<RunRecordName> parseRunRecordName(std::string_view key);

// The store's counts the run's note carries ("enviados=N inalterados=M").
void storeCountsFromNote(const std::string& note, long long& sent, long long& unchanged);
RunRecordExtras extrasOf(const RunRecord& record, const RunSummary& summary);
// The stored object: one JSON object, the history's fields first.
std::string runRecordText(const RunRecord& record, const RunRecordExtras& extras);

std::string machineName();
std::string programVersion();

// Sends the run's record with the documents' retention; returns "" or why it
// was not stored.
std::string sendRunRecord(const StoreSettings& store, const RunRecord& record, const RunSummary& summary,
                          const s3::RetryPolicy& policy);

// For the places that append the history: with a usable store, sends the
// record; when that fails, the local record's note says so and the message
// (for stderr) comes back. "" when sent or when there is no store.
std::string storeRunRecord(const std::optional<StoreSettings>& store, RunRecord& record, const RunSummary& summary);
// The same within about `limit` in all, retries included (a run being given up).
std::string storeRunRecord(const std::optional<StoreSettings>& store, RunRecord& record, const RunSummary& summary,
                           std::chrono::seconds limit);

// Sends each run's record on a thread of its own, then appends the run's
// history line (with the note when the record did not go): a window never
// waits on the store. Each send gives up within kSendLimit, so the
// destructor, which waits for them, is bounded too.
class RunRecordSender {
public:
    static constexpr std::chrono::seconds kSendLimit{10};
    RunRecordSender() = default;
    RunRecordSender(const RunRecordSender&) = delete;
    RunRecordSender& operator=(const RunRecordSender&) = delete;
    ~RunRecordSender();
    // `done` runs on the sending thread with storeRunRecord's message, after the line is appended.
    void send(std::optional<StoreSettings> store, std::string historyFile, RunRecord record, RunSummary summary,
              std::function<void(const std::string& error)> done = {});
    // Waits for every send started so far.
    void wait();

private:
    struct Job;
    std::vector<std::shared_ptr<Job>> jobs_;
};

}  // namespace exports
