#pragma once
// The object store's lines of [Configuracoes], as plain values. Without a
// Nuvem line there is no store and nothing changes.

#include "export/core/settings_section.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace exports {

// The texts as the settings file holds them ("" when a key is absent).
struct StoreSettingsText {
    std::string url;            // Nuvem
    std::string region;         // NuvemRegiao
    std::string profile;        // NuvemPerfil
    std::string retentionDays;  // NuvemRetencaoDias
    std::string retentionMode;  // NuvemRetencaoModo
    std::string company;        // NuvemEmpresa
    std::string ca;             // NuvemCA
};

struct StoreSettings {
    std::string endpoint;  // "https://host:port" (no path)
    std::string host;
    std::string bucket;
    std::string prefix;  // "" or "a/b/": put before every key
    // NuvemEmpresa: the company's CNPJ (14 digits) or CPF (11), digits only;
    // required with Nuvem. Every key of the company goes under prefix + company.
    std::string company;
    std::string region = "us-east-1";
    // NuvemPerfil, else AWS_PROFILE, else "default".
    std::string profile = "default";
    // NuvemCA: a PEM file of the authorities to trust ("" for the usual ones).
    std::string caFile;
    int retentionDays = 0;      // 0: objects stored without a retention
    std::string retentionMode;  // "COMPLIANCE" or "GOVERNANCE" when retentionDays > 0
    // The retention itself: retentionDays days (a test may ask for seconds).
    std::chrono::seconds retention{0};
    // Not empty when the lines could not be used: every run that would use the
    // store fails with this message instead of running without it.
    std::string refusal;
    // "bucket" or "bucket/prefix" for messages.
    std::string place() const;
    // The company's part of the bucket: "prefix/<company>/" ("prefix" alone
    // when no company is set).
    std::string companyPrefix() const;
};

// nullopt when Nuvem is empty; throws std::invalid_argument with a message
// naming the key when a text cannot be used (http:// off the loopback host,
// no bucket, no NuvemEmpresa, a mode without days, a retention past what the
// store can date…). Nuvem's text is never repeated in a refusal: a key pasted
// into it would go to the screen and the history. `now` is when the retention
// starts counting.
std::optional<StoreSettings> parseStoreSettings(
    const StoreSettingsText& text, std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

// The longest NuvemRetencaoDias accepted at `now`: the date it gives stays
// more than a year before 2106-02-07, where radosgw's retention dates wrap.
int maxRetentionDays(std::chrono::system_clock::time_point now);

// parseStoreSettings for a job: a refusal travels in the settings, so the run
// fails with it where every run's failures are reported.
// The digits of a CNPJ (14) or CPF (11) with valid check digits, written
// plain or with its usual mask ("11.222.333/0001-81"); "" otherwise.
std::string companyDigits(const std::string& text);

// Throws (runtime_error, naming NuvemEmpresa) when the settings have no
// company: what writes to the store needs one, the office's reading does not.
void requireCompany(const StoreSettings& settings);

std::optional<StoreSettings> storeSettingsForJob(const StoreSettingsText& text);
// The same from the settings file's lines (Nuvem, NuvemRegiao, …).
std::optional<StoreSettings> storeSettingsIn(const SettingsSection& settings);
// The keys read above, in the order the README lists them.
const std::vector<std::string>& storeSettingsKeys();

}  // namespace exports
