#include "export/office/run_record.h"

#include "export/destinations/object_store/aws_credentials.h"
#include "platform/codepage.h"

#include <nlohmann/json.hpp>

#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <regex>
#include <thread>
#include <unistd.h>

#ifndef EXPORTAR_VERSION
#define EXPORTAR_VERSION "0"
#endif

namespace exports {

namespace {

using Json = nlohmann::ordered_json;

std::tm utcOf(Clock::time_point t) {
    const std::time_t secs = Clock::to_time_t(std::chrono::floor<std::chrono::seconds>(t));
    std::tm tm{};
    ::gmtime_r(&secs, &tm);
    return tm;
}

std::string isoUtcMillis(Clock::time_point t) {
    const std::tm tm = utcOf(t);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t -
                                                                          std::chrono::floor<std::chrono::seconds>(t));
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, int(ms.count()));
    return buf;
}

}  // namespace

std::string sortableUtc(Clock::time_point t) {
    const std::tm tm = utcOf(t);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t -
                                                                          std::chrono::floor<std::chrono::seconds>(t));
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d%02d%02dT%02d%02d%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, int(ms.count()));
    return buf;
}

std::string hostKeyPart(const std::string& host) {
    std::string out;
    for (unsigned char c : host.substr(0, 64)) {
        const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                          c == '_' || c == '.';
        out += kept ? char(c) : '_';
    }
    // ".." alone would read as a path step to a person copying keys around.
    if (out.empty() || out.find_first_not_of('.') == std::string::npos) out = "maquina";
    return out;
}

std::optional<Clock::time_point> parseSortableUtc(std::string_view text) {
    // AAAAMMDDTHHMMSS.mmmZ
    if (text.size() != 20 || text[8] != 'T' || text[15] != '.' || text[19] != 'Z') return std::nullopt;
    auto number = [&](size_t at, size_t n, int low, int high) -> std::optional<int> {
        int v = 0;
        for (size_t i = at; i < at + n; ++i) {
            if (text[i] < '0' || text[i] > '9') return std::nullopt;
            v = v * 10 + (text[i] - '0');
        }
        if (v < low || v > high) return std::nullopt;
        return v;
    };
    const auto year = number(0, 4, 1970, 9999), month = number(4, 2, 1, 12), day = number(6, 2, 1, 31),
               hour = number(9, 2, 0, 23), minute = number(11, 2, 0, 59), second = number(13, 2, 0, 60),
               ms = number(16, 3, 0, 999);
    if (!year || !month || !day || !hour || !minute || !second || !ms) return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year(*year), std::chrono::month(unsigned(*month)),
                                           std::chrono::day(unsigned(*day))};
    if (!date.ok()) return std::nullopt;
    return Clock::time_point(std::chrono::sys_days(date).time_since_epoch()) + std::chrono::hours(*hour) +
           std::chrono::minutes(*minute) + std::chrono::seconds(*second) + std::chrono::milliseconds(*ms);
}

namespace {

std::string monthFolderOf(Clock::time_point ended) {
    const std::tm tm = utcOf(ended);
    char month[32];
    std::snprintf(month, sizeof month, "%04d/%02d/", tm.tm_year + 1900, tm.tm_mon + 1);
    return month;
}

bool knownKind(std::string_view kind) {
    return kind == kRunWindow || kind == kRunUnattended || kind == kRunPeriod || kind == kRunPackage;
}

// "NFe-2026-11.zip" -> "2026-11".
std::string packageMonthOf(const std::string& package) {
    static const std::regex name("NFe-([0-9]{4})-(0[1-9]|1[0-2])\\.zip");
    std::smatch m;
    if (!std::regex_match(package, m, name)) return {};
    return m[1].str() + "-" + m[2].str();
}

}  // namespace

std::string plainRunRecordKey(const StoreSettings& store, Clock::time_point ended, const std::string& host) {
    return store.companyPrefix() + kRunRecordFolder + monthFolderOf(ended) + sortableUtc(ended) + "-" +
           hostKeyPart(host) + ".json";
}

std::string runRecordKey(const StoreSettings& store, const RunRecord& record, const RunRecordExtras& extras) {
    if (!knownKind(record.kind) || extras.sent < 0) return plainRunRecordKey(store, record.ended, extras.host);
    std::string name = sortableUtc(record.ended) + "_" + record.kind + "_" + resultName(record.result) + "_" +
                       std::to_string(extras.sent);
    if (const std::string month = packageMonthOf(extras.package); !month.empty())
        name += "_" + month.substr(0, 4) + month.substr(5, 2);
    return store.companyPrefix() + kRunRecordFolder + monthFolderOf(record.ended) + name + "-" +
           hostKeyPart(extras.host) + ".json";
}

std::optional<RunRecordName> parseRunRecordName(std::string_view key) {
    const auto slash = key.rfind('/');
    std::string_view name = key.substr(slash == std::string_view::npos ? 0 : slash + 1);
    constexpr std::string_view json = ".json";
    if (name.size() < 20 + 1 + json.size() || name.substr(name.size() - json.size()) != json || name[20] != '_')
        return std::nullopt;
    name.remove_suffix(json.size());
    RunRecordName r;
    const auto ended = parseSortableUtc(name.substr(0, 20));
    if (!ended) return std::nullopt;
    r.ended = *ended;
    // The words never hold a '-': the first one ends them, the host follows.
    const auto dash = name.find('-', 21);
    if (dash == std::string_view::npos || dash + 1 == name.size()) return std::nullopt;
    r.host = std::string(name.substr(dash + 1));
    if (hostKeyPart(r.host) != r.host) return std::nullopt;
    std::vector<std::string_view> words;
    for (std::string_view rest = name.substr(21, dash - 21);;) {
        const auto cut = rest.find('_');
        words.push_back(rest.substr(0, cut));
        if (cut == std::string_view::npos) break;
        rest.remove_prefix(cut + 1);
    }
    if (words.size() < 3 || words.size() > 4) return std::nullopt;
    if (!knownKind(words[0]) || !resultFromName(words[1])) return std::nullopt;
    r.kind = std::string(words[0]);
    r.result = std::string(words[1]);
    if (words[2].empty() || words[2].size() > 15 || words[2].find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    r.sent = std::stoll(std::string(words[2]));
    if (words.size() == 4) {
        const std::string_view m = words[3];
        if (r.kind != kRunPackage || m.size() != 6 || m.find_first_not_of("0123456789") != std::string_view::npos ||
            m.substr(4) < "01" || m.substr(4) > "12")
            return std::nullopt;
        r.packageMonth = std::string(m.substr(0, 4)) + "-" + std::string(m.substr(4));
    }
    return r;
}

void storeCountsFromNote(const std::string& note, long long& sent, long long& unchanged) {
    sent = unchanged = 0;
    static const std::regex counts("enviados=([0-9]{1,15}) inalterados=([0-9]{1,15})");
    for (auto it = std::sregex_iterator(note.begin(), note.end(), counts); it != std::sregex_iterator(); ++it) {
        sent += std::stoll((*it)[1].str());
        unchanged += std::stoll((*it)[2].str());
    }
}

RunRecordExtras extrasOf(const RunRecord& record, const RunSummary& summary) {
    RunRecordExtras e;
    e.host = machineName();
    e.version = programVersion();
    storeCountsFromNote(record.note, e.sent, e.unchangedInStore);
    e.checks = summary.checks;
    const auto slash = summary.package.rfind('/');
    e.package = summary.package.substr(slash == std::string::npos ? 0 : slash + 1);
    e.gapRanges = summary.gapRanges;
    e.missingNumbers = static_cast<long long>(summary.missingNumbers);
    return e;
}

std::string runRecordText(const RunRecord& record, const RunRecordExtras& e) {
    Json j = Json::parse(recordLine(record), nullptr, false);
    if (!j.is_object()) j = Json::object();
    j["fim_utc"] = isoUtcMillis(record.ended);
    j["maquina"] = platform::textToUtf8(e.host);
    j["versao"] = e.version;
    j["enviados"] = e.sent;
    j["inalterados_nuvem"] = e.unchangedInStore;
    j["verificados"] = e.checks.checked;
    j["falhas_chave"] = e.checks.badKeys;
    j["falhas_xml"] = e.checks.badXml;
    j["falhas_assinatura"] = e.checks.badSignatures;
    if (!e.package.empty()) {
        j["pacote"] = platform::textToUtf8(e.package);
        j["lacunas"] = e.gapRanges;
        j["numeros_faltando"] = e.missingNumbers;
    }
    return j.dump(-1, ' ', false, Json::error_handler_t::replace) + '\n';
}

std::string machineName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || !name[0]) return "maquina";
    return name;
}

std::string programVersion() { return EXPORTAR_VERSION; }

std::string sendRunRecord(const StoreSettings& store, const RunRecord& record, const RunSummary& summary,
                          const s3::RetryPolicy& policy) {
    try {
        const RunRecordExtras extras = extrasOf(record, summary);
        const std::string key = runRecordKey(store, record, extras);
        std::optional<s3::Retention> retention;
        // The record is kept as long as the documents it speaks of.
        if (store.retention.count() > 0)
            retention = s3::Retention{store.retentionMode, isoUtcMillis(Clock::now() + store.retention)};
        s3::Client client(loadAwsKeys(store.profile), store.region, policy, 1);
        const s3::Target target{store.endpoint, store.bucket, store.region};
        const s3::Response r = client.send(s3::putObject(target, key, runRecordText(record, extras), retention));
        if (!r.ok()) return "registro da execução não enviado à nuvem (" + key + "): " + r.describe();
        return {};
    } catch (const std::exception& e) {
        return std::string("registro da execução não enviado à nuvem: ") + e.what();
    }
}

namespace {

std::string storeWith(const std::optional<StoreSettings>& store, RunRecord& record, const RunSummary& summary,
                      s3::RetryPolicy policy) {
    // Without its company the record would land where the office looks for
    // companies; the run itself failed on that already.
    if (!store || !store->refusal.empty() || store->company.empty()) return {};
    policy.caFile = store->caFile;
    const std::string error = sendRunRecord(*store, record, summary, policy);
    if (!error.empty()) record.note = record.note.empty() ? error : record.note + "; " + error;
    return error.empty() ? error : "Nuvem: " + error;
}

}  // namespace

std::string storeRunRecord(const std::optional<StoreSettings>& store, RunRecord& record, const RunSummary& summary) {
    // A run that already waited on an unreachable store must not wait as long again.
    s3::RetryPolicy policy;
    policy.attempts = 3;
    policy.connectTimeout = std::chrono::milliseconds(5000);
    policy.stallTimeout = std::chrono::seconds(15);
    return storeWith(store, record, summary, policy);
}

std::string storeRunRecord(const std::optional<StoreSettings>& store, RunRecord& record, const RunSummary& summary,
                           std::chrono::seconds limit) {
    // Two tries, each ended by the client at half the time: a record is a few KB.
    s3::RetryPolicy policy;
    policy.attempts = 2;
    policy.firstDelay = std::chrono::milliseconds(100);
    const auto half = std::max(std::chrono::seconds(1), limit / 2);
    policy.timeLimit = half;
    policy.connectTimeout = std::min<std::chrono::milliseconds>(half, std::chrono::seconds(5));
    policy.stallTimeout = half;
    policy.minBytesPerSecond = 1 << 30;  // the body adds nothing to the time allowed
    return storeWith(store, record, summary, policy);
}

struct RunRecordSender::Job {
    std::thread thread;
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
};

RunRecordSender::~RunRecordSender() { wait(); }

void RunRecordSender::send(std::optional<StoreSettings> store, std::string historyFile, RunRecord record,
                           RunSummary summary, std::function<void(const std::string&)> done) {
    // The sends that ended are forgotten here, so the list stays short.
    std::erase_if(jobs_, [](const std::shared_ptr<Job>& job) {
        {
            std::lock_guard<std::mutex> lock(job->mutex);
            if (!job->done) return false;
        }
        job->thread.join();
        return true;
    });
    auto job = std::make_shared<Job>();
    job->thread = std::thread([job, store = std::move(store), historyFile = std::move(historyFile),
                               record = std::move(record), summary = std::move(summary),
                               done = std::move(done)]() mutable {
        const std::string error = storeRunRecord(store, record, summary, kSendLimit);
        // After the send, so the line notes a record that did not go.
        appendRun(historyFile, record);
        if (done) done(error);
        std::lock_guard<std::mutex> lock(job->mutex);
        job->done = true;
        job->ended.notify_all();
    });
    jobs_.push_back(std::move(job));
}

void RunRecordSender::wait() {
    for (auto& job : jobs_)
        if (job->thread.joinable()) job->thread.join();
    jobs_.clear();
}

}  // namespace exports
