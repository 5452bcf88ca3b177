#pragma once
// The office's view of a bucket many companies send to: each company's runs,
// read back from the records they leave under <prefix><company>/execucoes/
// (export/office/run_record.h), never by listing documents. The counts come
// from the records' names in the listings; only the records the report shows
// (and those with a plain name, from before names told the run) are read.
// Only ListObjectsV2, GET and HEAD: read-only keys are enough, and nothing is written.

#include "export/destinations/object_store/aws_credentials.h"
#include "export/history/history.h"
#include "export/destinations/object_store/s3_client.h"
#include "export/destinations/object_store/store_settings.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace exports {

// Exit statuses of "/escritorio".
inline constexpr int kOfficeOk = 0;
inline constexpr int kOfficeAttention = 1;
inline constexpr int kOfficeUsage = 2;
inline constexpr int kOfficeNoCompany = 3;

inline constexpr double kDefaultOfficeHours = 26;
inline constexpr int kOfficeChartDays = 60;

// One record as the office uses it.
struct StoredRun {
    std::string key;
    Clock::time_point ended{};
    std::string kind, result, error, host, version;
    long long sent = 0, unchangedInStore = 0, written = 0, selected = 0;
    long long badKeys = 0, badXml = 0, badSignatures = 0, checked = 0;
    std::string package;
    long long gapRanges = 0, missingNumbers = 0;
    // Only what the key's name tells (end, kind, result, sent, host as in the key):
    // the record itself was not read, or did not read.
    bool fromName = false;
};

// nullopt for a text that is not a record of ours (damaged, cut short, foreign).
std::optional<StoredRun> parseStoredRun(std::string_view text);

enum class CompanyState { Ok, Failed, Silent, Unreadable, Incomplete };
// "ok", "falhou", "silenciosa", "ilegível", "incompleta".
const char* stateName(CompanyState state);

struct CompanyReport {
    std::string name;    // the prefix's last part: the CNPJ/CPF digits
    std::string prefix;  // the whole key prefix, "root/<company>/"
    CompanyState state = CompanyState::Ok;
    std::optional<StoredRun> last, lastCompleted, lastFailed, lastPackage;
    long long thisMonth = 0, lastMonth = 0;
    std::vector<long long> perDay = std::vector<long long>(kOfficeChartDays, 0);  // oldest first, today last
    bool lastMonthPackage = false;
    std::vector<std::string> unreadable;  // keys of records that did not read
    std::string problem;                  // a listing or reading failure
};

struct OfficeReport {
    std::string place;  // bucket/prefix
    Clock::time_point now{};
    double hours = kDefaultOfficeHours;
    std::string month, previousMonth;  // "AAAA-MM", local time
    std::vector<CompanyReport> companies;
    std::string error;  // the root could not be listed
    long long requests = 0;
};

struct OfficeOptions {
    double hours = kDefaultOfficeHours;
    s3::RetryPolicy policy{};
    int inFlight = 96;  // small GETs: the store answers faster the more wait at once
};

OfficeReport buildOfficeReport(const StoreSettings& store, const AwsKeys& keys, Clock::time_point now,
                               const OfficeOptions& options = {});
int officeStatus(const OfficeReport& report);
// One line a company and the companies that need someone; UTF-8, store texts printable.
std::string officeText(const OfficeReport& report);
std::string officeJson(const OfficeReport& report);

// Decimal hours, 0 or more ("0.05", "26", "1,5"); nullopt otherwise.
std::optional<double> parseOfficeHours(std::string_view text);

// "/escritorio [HOURS] [--json] [--html FILE]".
int officeCommand(const std::string& settingsFile, const std::vector<std::string>& arguments, std::ostream& out,
                  std::ostream& err, Clock::time_point now);

}  // namespace exports
