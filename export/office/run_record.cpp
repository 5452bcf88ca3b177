#include "export/office/run_record.h"

#include "export/destinations/object_store/aws_credentials.h"
#include "platform/codepage.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <ctime>
#include <regex>
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
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t - std::chrono::floor<std::chrono::seconds>(t));
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, int(ms.count()));
    return buf;
}

}  // namespace

std::string sortableUtc(Clock::time_point t) {
    const std::tm tm = utcOf(t);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t - std::chrono::floor<std::chrono::seconds>(t));
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

std::string runRecordKey(const StoreSettings& store, Clock::time_point ended, const std::string& host) {
    const std::tm tm = utcOf(ended);
    char month[16];
    std::snprintf(month, sizeof month, "%04d/%02d/", tm.tm_year + 1900, tm.tm_mon + 1);
    return store.companyPrefix() + kRunRecordFolder + month + sortableUtc(ended) + "-" + hostKeyPart(host) + ".json";
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
        const std::string key = runRecordKey(store, record.ended, extras.host);
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

std::string storeRunRecord(const std::optional<StoreSettings>& store, RunRecord& record, const RunSummary& summary) {
    // Without its company the record would land where the office looks for
    // companies; the run itself failed on that already.
    if (!store || !store->refusal.empty() || store->company.empty()) return {};
    // A run that already waited on an unreachable store must not wait as long again.
    s3::RetryPolicy policy;
    policy.attempts = 3;
    policy.connectTimeout = std::chrono::milliseconds(5000);
    policy.stallTimeout = std::chrono::seconds(15);
    const std::string error = sendRunRecord(*store, record, summary, policy);
    if (!error.empty()) record.note = record.note.empty() ? error : record.note + "; " + error;
    return error.empty() ? error : "Nuvem: " + error;
}

}  // namespace exports
