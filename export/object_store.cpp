#include "export/object_store.h"

#include "export/summary.h"
#include "platform/codepage.h"

#include <zip.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace exports {

namespace {

bool validUtf8(const std::string& s) {
    for (size_t i = 0, len; i < s.size(); i += len)
        if ((len = platform::utf8SequenceAt(s, i)) == 0) return false;
    return true;
}

std::string isoUtc(std::chrono::system_clock::time_point t) {
    const auto secs = std::chrono::time_point_cast<std::chrono::seconds>(t);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t - secs).count();
    const std::time_t tt = std::chrono::system_clock::to_time_t(secs);
    std::tm tm{};
    gmtime_r(&tt, &tm);
    char buf[80];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
    return buf;
}

// "2031-01-01T00:00:00.000Z", with any number of fraction digits, in
// seconds since 1970; nullopt when it is not such a date.
std::optional<std::time_t> isoSeconds(const std::string& text) {
    int y, mo, d, h, mi, sec;
    char t, z;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d", &y, &mo, &d, &t, &h, &mi, &sec) != 7 || t != 'T')
        return std::nullopt;
    z = text.empty() ? 0 : text.back();
    if (z != 'Z') return std::nullopt;
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = sec;
    return timegm(&tm);
}

// An HTTP date, "Fri, 11 Dec 2026 07:10:42 GMT", read without the locale.
std::optional<std::time_t> httpDateSeconds(const std::string& text) {
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char day[4], month[4];
    int d, y, h, mi, sec;
    if (std::sscanf(text.c_str(), "%3s, %d %3s %d %d:%d:%d", day, &d, month, &y, &h, &mi, &sec) != 7)
        return std::nullopt;
    std::tm tm{};
    tm.tm_mon = -1;
    for (int i = 0; i < 12; ++i)
        if (std::strcmp(month, months[i]) == 0) tm.tm_mon = i;
    if (tm.tm_mon < 0) return std::nullopt;
    tm.tm_year = y - 1900;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = sec;
    return timegm(&tm);
}

}  // namespace

ObjectStoreDestination::ObjectStoreDestination(StoreSettings settings, AwsKeys keys, std::string subfolder,
                                               s3::RetryPolicy policy, int inFlight, Clock now)
    : settings_(std::move(settings)), subfolder_(std::move(subfolder)), now_(std::move(now)) {
    if (!now_) now_ = [] { return std::chrono::system_clock::now(); };
    target_ = {settings_.endpoint, settings_.bucket, settings_.region};
    client_ = std::make_unique<s3::Client>(std::move(keys), settings_.region, policy, inFlight);
}

ObjectStoreDestination::~ObjectStoreDestination() = default;

std::string ObjectStoreDestination::keyFor(const std::string& relativePath) const {
    // Keys are UTF-8; a path in the system's code page is carried over.
    const std::string path = validUtf8(relativePath) ? relativePath : platform::ansiToUtf8(relativePath);
    // The company's part of the bucket: two companies never share a key.
    return settings_.companyPrefix() + subfolder_ + path;
}

std::optional<s3::Retention> ObjectStoreDestination::retention() const {
    if (settings_.retention.count() <= 0) return std::nullopt;
    return s3::Retention{settings_.retentionMode, isoUtc(now_() + settings_.retention)};
}

std::string ObjectStoreDestination::bucketAdvice(const s3::Response& r) const {
    const std::string code = r.errorCode();
    if (r.status == 404 || code == "NoSuchBucket")
        return "o bucket \"" + settings_.bucket + "\" não existe em " + settings_.endpoint +
               " (confira o nome em Nuvem ou crie o bucket)";
    if (code == "InvalidAccessKeyId")
        return "a chave de acesso não é conhecida por " + settings_.endpoint +
               " (confira AWS_ACCESS_KEY_ID ou o perfil [" + settings_.profile + "] de ~/.aws/credentials)";
    if (code == "SignatureDoesNotMatch")
        return "a chave secreta não confere (confira AWS_SECRET_ACCESS_KEY ou o perfil [" + settings_.profile +
               "] de ~/.aws/credentials, e NuvemRegiao)";
    if (r.status == 403)
        return "acesso negado ao bucket \"" + settings_.bucket +
               "\" (confira as chaves, NuvemRegiao e se o usuário pode gravar nele)";
    return {};
}

[[noreturn]] void ObjectStoreDestination::fail(const std::string& key, const s3::Response& r, const std::string& step) {
    std::string msg = "Nuvem: " + step;
    if (!key.empty()) msg += " de \"" + key + "\"";
    msg += " em " + settings_.bucket + " falhou: " + r.describe();
    if (r.attempts > 1) msg += " após " + std::to_string(r.attempts) + " tentativas";
    const std::string advice = bucketAdvice(r);
    if (!advice.empty()) msg += "; " + advice;
    throw std::runtime_error(msg);
}

void ObjectStoreDestination::prepare() {
    if (settings_.company.empty())
        throw std::runtime_error("Nuvem pede NuvemEmpresa: o CNPJ ou CPF da empresa, que separa os seus arquivos no "
                                 "bucket dos de outras empresas");
    s3::Response r = client_->send(s3::headBucket(target_));
    if (!r.ok()) {
        // A HEAD answer has no body: ask again with a GET to learn the reason.
        if (r.status == 403 || r.status == 400) {
            s3::Response detail = client_->send(s3::getObjectLockConfiguration(target_));
            if (!detail.errorCode().empty()) r = std::move(detail);
        }
        fail("", r, "acesso ao bucket");
    }
    if (settings_.retention.count() > 0) {
        const s3::Response lock = client_->send(s3::getObjectLockConfiguration(target_));
        const bool enabled = lock.ok() && s3::xmlElement(lock.body, "ObjectLockEnabled") == "Enabled";
        if (!enabled) {
            // 404 (ObjectLockConfigurationNotFoundError) or a configuration
            // without it: no Object Lock. Any other answer is its own failure.
            if (!lock.ok() && lock.status != 404) fail("", lock, "consulta do Object Lock");
            throw std::runtime_error("Nuvem: o bucket \"" + settings_.bucket +
                                     "\" não tem Object Lock e NuvemRetencaoDias pede retenção; crie o bucket com "
                                     "Object Lock (o Object Lock só se liga na criação) ou tire NuvemRetencaoDias");
        }
    }
}

void ObjectStoreDestination::checkFailure() {
    if (!failure_.empty()) throw StoreError(failure_);
}

void ObjectStoreDestination::upload(std::string key, std::string bytes) {
    checkFailure();
    // Room for one more: the client queues beyond its transfers, so the run
    // waits here instead of holding every document in memory.
    while (client_->pending() >= static_cast<size_t>(client_->maxInFlight())) {
        client_->poll(std::chrono::milliseconds(1000));
        checkFailure();
    }
    auto item = std::make_shared<Upload>();
    item->key = std::move(key);
    item->md5 = s3::md5Hex(bytes);
    item->body = std::move(bytes);
    look(item);
    // Let finished transfers make room without waiting.
    client_->poll(std::chrono::milliseconds(0));
}

void ObjectStoreDestination::failWith(const std::exception& e) {
    if (failure_.empty()) failure_ = e.what();
}

void ObjectStoreDestination::look(const std::shared_ptr<Upload>& item) {
    client_->start(s3::headObject(target_, item->key), [this, item](s3::Request&&, s3::Response&& head) {
        if (!failure_.empty()) return;
        try {
            decide(item, head);
        } catch (const std::exception& e) {
            failWith(e);
        }
    });
}

void ObjectStoreDestination::decide(const std::shared_ptr<Upload>& item, const s3::Response& head) {
    const auto asked = retention();
    if (head.ok() && head.header("etag") == "\"" + item->md5 + "\"") {
        // The same bytes. A copy stored before the retention was set gets a
        // protected version; one kept shorter or weaker has its own extended.
        if (!asked) {
            ++unchanged_;
            return;
        }
        const std::string mode = head.header("x-amz-object-lock-mode");
        if (!mode.empty()) {
            if (retentionHolds(head)) {
                ++unchanged_;
                return;
            }
            extend(item, head);
            return;
        }
    } else if (!head.ok() && head.status != 404) {
        fail(item->key, head, "consulta");
    }
    // Only over what the HEAD saw: another writer of the key in between makes
    // the store refuse (412), and the answer is looked at again.
    s3::PutCondition condition;
    if (head.ok()) {
        const std::string etag = head.header("etag");
        // Refused though the object is still the one the condition named:
        // radosgw compares If-Match with its ETag without the quotes, and in a
        // versioned bucket with the new version, so it never holds there.
        if (!item->ifMatch.empty() && item->ifMatch == etag) {
            if (ifMatch_ == IfMatch::Quoted)
                ifMatch_ = IfMatch::Bare;
            else if (item->ifMatchForm == IfMatch::Bare)
                ifMatch_ = IfMatch::Unusable;
        }
        item->ifMatch = etag;
        item->ifMatchForm = ifMatch_;
        if (ifMatch_ == IfMatch::Quoted || etag.size() < 2 || etag.front() != '"')
            condition.ifMatch = etag;
        else if (ifMatch_ == IfMatch::Bare)
            condition.ifMatch = etag.substr(1, etag.size() - 2);
    } else {
        condition.ifNoneMatch = true;
    }
    if (asked) item->asked = *asked;
    client_->start(s3::putObject(target_, item->key, item->body, asked, condition),
                   [this, item](s3::Request&&, s3::Response&& put) {
                       if (!failure_.empty()) return;
                       try {
                           stored(item, put);
                       } catch (const std::exception& e) {
                           failWith(e);
                       }
                   });
}

void ObjectStoreDestination::stored(const std::shared_ptr<Upload>& item, const s3::Response& put) {
    if (put.status == 412 && ++item->refusals < 5) {
        look(item);
        return;
    }
    // The store's ETag of a single-part upload is the MD5 of what it kept.
    if (put.ok() && put.header("etag") == "\"" + item->md5 + "\"") {
        if (!retention()) {
            ++written_;
            return;
        }
        readBack(item, put.header("x-amz-version-id"), [this] { ++written_; });
        return;
    }
    if (put.ok())
        throw std::runtime_error("Nuvem: envio de \"" + item->key + "\" em " + settings_.bucket + " devolveu ETag " +
                                 put.header("etag") + ", diferente do MD5 do documento");
    fail(item->key, put, "envio");
}

void ObjectStoreDestination::extend(const std::shared_ptr<Upload>& item, const s3::Response& head) {
    const std::string version = head.header("x-amz-version-id");
    s3::Retention wanted = *retention();
    // A COMPLIANCE version stays COMPLIANCE: the store refuses to weaken it.
    if (head.header("x-amz-object-lock-mode") == "COMPLIANCE") wanted.mode = "COMPLIANCE";
    item->asked = wanted;
    s3::Request request = s3::putRetention(target_, item->key, version, wanted);
    // radosgw takes a GOVERNANCE lock made COMPLIANCE as a change of the
    // governance lock: only with the bypass (the date only grows here).
    if (head.header("x-amz-object-lock-mode") == "GOVERNANCE" && wanted.mode == "COMPLIANCE")
        request.headers.push_back("x-amz-bypass-governance-retention: true");
    client_->start(std::move(request),
                   [this, item, version](s3::Request&&, s3::Response&& r) {
                       if (!failure_.empty()) return;
                       try {
                           if (!r.ok()) fail(item->key, r, "extensão da retenção");
                           readBack(item, version, [this] { ++extended_; });
                       } catch (const std::exception& e) {
                           failWith(e);
                       }
                   });
}

void ObjectStoreDestination::readBack(const std::shared_ptr<Upload>& item, const std::string& version,
                                      std::function<void()> counted) {
    if (version.empty())
        throw std::runtime_error("Nuvem: \"" + item->key + "\" em " + settings_.bucket +
                                 " foi gravado sem versão; a retenção pedida não pode ser conferida");
    s3::Request head = s3::headObject(target_, item->key);
    head.url += "?versionId=" + s3::uriEncode(version, false);
    client_->start(std::move(head), [this, item, counted](s3::Request&&, s3::Response&& r) {
        if (!failure_.empty()) return;
        try {
            if (!r.ok()) fail(item->key, r, "conferência da retenção");
            if (!retentionHolds(r, &item->asked)) {
                const std::string mode = r.header("x-amz-object-lock-mode");
                const std::string until = r.header("x-amz-object-lock-retain-until-date");
                throw std::runtime_error(
                    "Nuvem: a retenção que o armazenamento guardou para \"" + item->key + "\" em " +
                    settings_.bucket + " (" + (mode.empty() ? std::string("nenhuma") : mode + " até " + until) +
                    ") não é a pedida (" + item->asked.mode + " até " + item->asked.until +
                    "); o documento não está protegido como NuvemRetencaoDias pede");
            }
            counted();
        } catch (const std::exception& e) {
            failWith(e);
        }
    });
}

bool ObjectStoreDestination::retentionHolds(const s3::Response& head, const s3::Retention* justSet) const {
    const auto asked = retention();
    if (!asked) return true;
    const std::string mode = head.header("x-amz-object-lock-mode");
    if (mode.empty()) return false;
    if (mode != asked->mode && mode != "COMPLIANCE") return false;  // GOVERNANCE where COMPLIANCE is asked
    const std::optional<std::time_t> until = isoSeconds(head.header("x-amz-object-lock-retain-until-date"));
    if (!until) return false;
    const auto retention = std::chrono::duration_cast<std::chrono::seconds>(settings_.retention).count();
    if (justSet) {
        // What was just asked comes back as it was sent, to the second.
        const std::optional<std::time_t> sent = isoSeconds(justSet->until);
        return sent && *until >= *sent && (mode == justSet->mode || mode == "COMPLIANCE");
    }
    // Counted from when the version was stored; a clock apart by a little
    // is not a shorter retention.
    const std::optional<std::time_t> storedAt = httpDateSeconds(head.header("last-modified"));
    if (!storedAt) return false;
    const long long slack = std::min<long long>(3600, retention / 10);
    return static_cast<long long>(*until) + slack >= static_cast<long long>(*storedAt) + retention;
}

PutResult ObjectStoreDestination::put(const OutgoingDocument& doc) {
    std::string bytes;
    bytes.reserve(doc.text.size() + 2);
    bytes += doc.text;
    bytes += "\r\n";
    upload(keyFor(doc.relativePath()), std::move(bytes));
    return PutResult::Pending;
}

void ObjectStoreDestination::putBytes(const std::string& name, std::string bytes) {
    upload(keyFor(name), std::move(bytes));
}

void ObjectStoreDestination::putFile(const std::string& name, const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("Nuvem: " + path + " não abre para envio");
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw std::runtime_error("Nuvem: erro ao ler " + path + " para envio");
    upload(keyFor(name), std::move(bytes));
}

void ObjectStoreDestination::finish(RunSummary& summary) {
    while (client_->pending() > 0 && failure_.empty()) client_->poll(std::chrono::milliseconds(1000));
    if (!failure_.empty()) {
        client_->cancelAll();
        throw StoreError(failure_);
    }
    std::string line = "nuvem " + settings_.place() + ": enviados=" + std::to_string(written_) +
                       " inalterados=" + std::to_string(unchanged_);
    if (extended_ > 0) line += " retencao_estendida=" + std::to_string(extended_);
    summary.note = summary.note.empty() ? line : summary.note + "; " + line;
}

void ObjectStoreDestination::abandon() noexcept { client_->cancelAll(); }

std::unique_ptr<ObjectStoreDestination> storeDestinationFor(const ConnectionJob& job, std::string subfolder) {
    if (!job.store) return nullptr;
    if (!job.store->refusal.empty()) throw std::runtime_error(job.store->refusal);
    AwsKeys keys = loadAwsKeys(job.store->profile);
    return std::make_unique<ObjectStoreDestination>(*job.store, std::move(keys), std::move(subfolder));
}

namespace {

// One member of an archive, whole.
std::string member(const std::string& archive, const char* name) {
    int error = 0;
    zip_t* z = zip_open(archive.c_str(), ZIP_RDONLY, &error);
    if (!z) throw std::runtime_error("Nuvem: o pacote " + archive + " não abre para envio");
    std::string bytes;
    zip_stat_t st;
    zip_stat_init(&st);
    zip_file_t* f = zip_stat(z, name, 0, &st) == 0 ? zip_fopen(z, name, 0) : nullptr;
    bool ok = f != nullptr;
    if (f) {
        bytes.resize(static_cast<size_t>(st.size));
        ok = zip_fread(f, bytes.data(), st.size) == static_cast<zip_int64_t>(st.size);
        zip_fclose(f);
    }
    zip_close(z);
    if (!ok) throw std::runtime_error(std::string("Nuvem: ") + name + " ausente do pacote " + archive);
    return bytes;
}

}  // namespace

PackageStoreDestination::PackageStoreDestination(std::unique_ptr<ObjectStoreDestination> store)
    : store_(std::move(store)) {}

void PackageStoreDestination::prepare() { store_->prepare(); }

void PackageStoreDestination::finish(RunSummary& summary) {
    if (summary.package.empty()) throw std::runtime_error("Nuvem: o pacote não foi gravado; nada a enviar");
    const std::string& archive = summary.package;
    const auto slash = archive.rfind('/');
    const std::string name = archive.substr(slash == std::string::npos ? 0 : slash + 1);
    const std::string stem = name.size() > 4 && name.compare(name.size() - 4, 4, ".zip") == 0
                                 ? name.substr(0, name.size() - 4)
                                 : name;
    store_->putFile(name, archive);
    store_->putBytes(stem + "-manifesto.csv", member(archive, "manifesto.csv"));
    store_->putBytes(stem + "-lacunas.csv", member(archive, "lacunas.csv"));
    store_->finish(summary);
}

void PackageStoreDestination::abandon() noexcept { store_->abandon(); }

}  // namespace exports
