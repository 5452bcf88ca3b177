#pragma once
// Each run's record in the object store, so that the office sees every
// company's runs without reaching their machines: the history's line of the
// run plus the machine, the program's version and what went to the store,
// under <prefix><company>/execucoes/AAAA/MM/<fim>-<host>.json.

#include "export/history/history.h"
#include "export/destinations/object_store/s3_client.h"
#include "export/destinations/object_store/store_settings.h"

#include <optional>
#include <string>

namespace exports {

inline constexpr const char* kRunRecordFolder = "execucoes/";
// A record is a line of the history: a bigger object is not one of ours.
inline constexpr long long kRunRecordCap = 128 * 1024;

// "20261211T071103.123Z": the end in UTC, sorting as time does.
std::string sortableUtc(Clock::time_point t);
// The machine's name as a part of a key: letters, digits, '-', '_' and '.'
// are kept, anything else becomes '_' (never a '/').
std::string hostKeyPart(const std::string& host);
// <prefix><company>/execucoes/AAAA/MM/<fim>-<host>.json (month of the end, UTC).
std::string runRecordKey(const StoreSettings& store, Clock::time_point ended, const std::string& host);

// What the record holds beyond the history's line.
struct RunRecordExtras {
    std::string host, version;
    long long sent = 0, unchangedInStore = 0;  // documents sent to the store / found there already
    CheckCounts checks;
    std::string package;  // the month's archive (file name), package runs only
    long long gapRanges = 0, missingNumbers = 0;
};
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

}  // namespace exports
