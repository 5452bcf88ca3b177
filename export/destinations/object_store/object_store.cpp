#include "export/destinations/object_store/object_store.h"

#include "export/core/registry.h"
#include "export/core/summary.h"
#include "platform/codepage.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
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
    if (policy.caFile.empty()) policy.caFile = settings_.caFile;
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
    // The keys are fine; describe() names the clock.
    if (r.clockSkewed()) return {};
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
    // The client's own verdicts start with "Nuvem: " too: once is enough.
    std::string why = r.describe();
    if (why.rfind("Nuvem: ", 0) == 0) why.erase(0, 7);
    msg += " em " + settings_.bucket + " falhou: " + why;
    if (r.attempts > 1) msg += " após " + std::to_string(r.attempts) + " tentativas";
    const std::string advice = bucketAdvice(r);
    if (!advice.empty()) msg += "; " + advice;
    throw std::runtime_error(msg);
}

void ObjectStoreDestination::prepare() {
    requireCompany(settings_);
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
    if (!failure_.empty()) throw DestinationError(failure_);
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
            if (ifMatch_ == IfMatch::Quoted) ifMatch_ = IfMatch::Bare;
            else if (item->ifMatchForm == IfMatch::Bare) ifMatch_ = IfMatch::Unusable;
        }
        item->ifMatch = etag;
        item->ifMatchForm = ifMatch_;
        if (ifMatch_ == IfMatch::Quoted || etag.size() < 2 || etag.front() != '"') condition.ifMatch = etag;
        else if (ifMatch_ == IfMatch::Bare) condition.ifMatch = etag.substr(1, etag.size() - 2);
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
    client_->start(std::move(request), [this, item, version](s3::Request&&, s3::Response&& r) {
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
                throw std::runtime_error("Nuvem: a retenção que o armazenamento guardou para \"" + item->key +
                                         "\" em " + settings_.bucket + " (" +
                                         (mode.empty() ? std::string("nenhuma") : mode + " até " + until) +
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

namespace {

// The file an upload reads, a piece at a time.
class UploadFile {
public:
    explicit UploadFile(const std::string& path) : path_(path) {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) throw std::runtime_error("Nuvem: " + path + " não abre para envio: " + std::strerror(errno));
        struct stat st {};
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd_);
            throw std::runtime_error("Nuvem: " + path + " não é um arquivo que se possa enviar");
        }
        size_ = static_cast<std::uint64_t>(st.st_size);
    }
    ~UploadFile() { ::close(fd_); }
    UploadFile(const UploadFile&) = delete;
    UploadFile& operator=(const UploadFile&) = delete;

    std::uint64_t size() const { return size_; }

    std::string read(std::uint64_t offset, std::size_t count) const {
        std::string out(count, '\0');
        for (std::size_t done = 0; done < count;) {
            const ssize_t n = ::pread(fd_, out.data() + done, count - done, static_cast<off_t>(offset + done));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) throw std::runtime_error("Nuvem: erro ao ler " + path_ + " para envio: " + std::strerror(errno));
            if (n == 0) throw std::runtime_error("Nuvem: " + path_ + " diminuiu durante o envio");
            done += static_cast<std::size_t>(n);
        }
        return out;
    }

    std::string sha256() const {
        Sha256 whole;
        for (std::uint64_t offset = 0; offset < size_; offset += kPiece)
            whole.add(read(offset, static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, size_ - offset))));
        return whole.hex();
    }

    // A SHA-256 fed piece by piece.
    class Sha256 {
    public:
        Sha256() : ctx_(EVP_MD_CTX_new()) {
            if (!ctx_ || EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr) != 1)
                throw std::runtime_error("Nuvem: SHA-256 indisponível");
        }
        ~Sha256() { EVP_MD_CTX_free(ctx_); }
        Sha256(const Sha256&) = delete;
        Sha256& operator=(const Sha256&) = delete;
        void add(std::string_view bytes) { EVP_DigestUpdate(ctx_, bytes.data(), bytes.size()); }
        std::string hex() {
            unsigned char out[EVP_MAX_MD_SIZE];
            unsigned int size = 0;
            EVP_DigestFinal_ex(ctx_, out, &size);
            return s3::hexOf(out, size);
        }

    private:
        EVP_MD_CTX* ctx_;
    };

private:
    static constexpr std::uint64_t kPiece = 1u << 20;
    std::string path_;
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

std::string withoutQuotes(std::string etag) {
    for (const std::string quote : {"&quot;", "&#34;", "\""})
        for (size_t at; (at = etag.find(quote)) != std::string::npos;) etag.erase(at, quote.size());
    return etag;
}

}  // namespace

void ObjectStoreDestination::putFile(const std::string& name, const std::string& path) {
    checkFailure();
    const std::string key = keyFor(name);
    const UploadFile file(path);
    const std::string sha = file.sha256();

    // A multipart object's ETag is no MD5 of its bytes: the SHA-256 this
    // program stored with it tells an unchanged archive.
    const s3::Response head = client_->send(s3::headObject(target_, key));
    if (head.ok() && head.header("x-amz-meta-sha256") == sha &&
        head.header("content-length") == std::to_string(file.size()) &&
        (settings_.retention.count() <= 0 || !head.header("x-amz-object-lock-mode").empty())) {
        ++unchanged_;
        return;
    }
    if (!head.ok() && head.status != 404) fail(key, head, "consulta");

    if (file.size() < multipartThreshold_) {
        std::string bytes = file.read(0, static_cast<std::size_t>(file.size()));
        if (s3::sha256Hex(bytes) != sha)
            throw std::runtime_error("Nuvem: " + path + " mudou durante o envio de \"" + key + "\"");
        const std::string md5 = s3::md5Hex(bytes);
        s3::Request request = s3::putObject(target_, key, std::move(bytes), retention());
        request.headers.push_back("x-amz-meta-sha256: " + sha);
        const s3::Response put = client_->send(std::move(request));
        if (!put.ok()) fail(key, put, "envio");
        if (put.header("etag") != "\"" + md5 + "\"")
            throw std::runtime_error("Nuvem: envio de \"" + key + "\" em " + settings_.bucket + " devolveu ETag " +
                                     put.header("etag") + ", diferente do MD5 do pacote");
        ++written_;
        return;
    }

    const s3::Response created = client_->send(s3::createMultipartUpload(target_, key, retention(), {{"sha256", sha}}));
    const std::string uploadId = s3::xmlElement(created.body, "UploadId");
    if (!created.ok() || uploadId.empty()) fail(key, created, "início do envio em partes");
    try {
        // Two parts in flight: one on the wire while the next is read. Each
        // part is retried on its own by the client.
        struct Parts {
            int inFlight = 0;
            std::vector<s3::UploadedPart> done;
            int failedPart = 0;
            s3::Response failure;
        };
        auto parts = std::make_shared<Parts>();
        const std::uint64_t count = (file.size() + partSize_ - 1) / partSize_;
        parts->done.resize(static_cast<std::size_t>(count));
        std::vector<std::string> md5s;
        UploadFile::Sha256 sent;
        for (std::uint64_t offset = 0;;) {
            while (parts->inFlight < 2 && offset < file.size() && parts->failedPart == 0) {
                const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(partSize_, file.size() - offset));
                std::string bytes = file.read(offset, size);
                sent.add(bytes);
                md5s.push_back(s3::md5Hex(bytes));
                const int number = static_cast<int>(md5s.size());
                const std::string etag = "\"" + md5s.back() + "\"";
                ++parts->inFlight;
                client_->start(s3::uploadPart(target_, key, uploadId, number, std::move(bytes)),
                               [parts, number, etag](s3::Request&&, s3::Response&& r) {
                                   --parts->inFlight;
                                   if (r.ok() && r.header("etag") == etag) {
                                       parts->done[static_cast<std::size_t>(number - 1)] = {number, etag};
                                   } else if (parts->failedPart == 0) {
                                       parts->failedPart = number;
                                       parts->failure = std::move(r);
                                   }
                               });
                offset += size;
            }
            if (parts->inFlight == 0) break;
            client_->poll(std::chrono::milliseconds(1000));
        }
        if (parts->failedPart != 0) {
            const std::string step = "envio da parte " + std::to_string(parts->failedPart);
            if (!parts->failure.ok()) fail(key, parts->failure, step);
            throw std::runtime_error("Nuvem: " + step + " de \"" + key + "\" em " + settings_.bucket +
                                     " devolveu ETag " + parts->failure.header("etag") + ", diferente do MD5 da parte");
        }
        if (sent.hex() != sha) throw std::runtime_error("Nuvem: " + path + " mudou durante o envio de \"" + key + "\"");

        const std::string expected = s3::multipartEtag(md5s);
        s3::Response joined;
        // The store may answer 200 and report its failure in the body; the
        // ones that say "try again" are asked again.
        for (int attempt = 1;; ++attempt) {
            joined = client_->send(s3::completeMultipartUpload(target_, key, uploadId, parts->done));
            const std::string code = joined.errorCode();
            if (!(joined.ok() && (code == "InternalError" || code == "SlowDown")) || attempt == 3) break;
        }
        if (joined.ok() && joined.errorCode().empty()) {
            // radosgw 16 answers an empty <ETag>: one given must agree.
            const std::string etag = withoutQuotes(s3::xmlElement(joined.body, "ETag"));
            if (!etag.empty() && etag != withoutQuotes(expected))
                throw std::runtime_error("Nuvem: conclusão do envio em partes de \"" + key + "\" em " +
                                         settings_.bucket + " devolveu ETag " + etag + ", esperado " +
                                         withoutQuotes(expected));
        } else if (joined.errorCode() != "NoSuchUpload") {
            // NoSuchUpload: an answer lost on the way and the request retried;
            // the first try may have joined the parts, which the object tells.
            fail(key, joined, "conclusão do envio em partes");
        }
        // The object itself must hold these parts and this SHA-256.
        const s3::Response stored = client_->send(s3::headObject(target_, key));
        if (!stored.ok()) fail(key, joined.ok() ? stored : joined, "conclusão do envio em partes");
        if (withoutQuotes(stored.header("etag")) != withoutQuotes(expected) ||
            stored.header("x-amz-meta-sha256") != sha || stored.header("content-length") != std::to_string(file.size()))
            throw std::runtime_error("Nuvem: \"" + key + "\" em " + settings_.bucket +
                                     " não ficou com o pacote enviado (ETag " + stored.header("etag") + ", esperado " +
                                     expected + ")");
        // radosgw 16 drops the retention asked when the upload began: the
        // version gets it now, or the run fails.
        if (const auto wanted = retention(); wanted && stored.header("x-amz-object-lock-mode").empty()) {
            std::string version = joined.header("x-amz-version-id");
            if (version.empty()) version = stored.header("x-amz-version-id");
            if (version.empty())
                throw std::runtime_error("Nuvem: \"" + key + "\" em " + settings_.bucket +
                                         " foi gravado sem versão; a retenção não pôde ser aplicada");
            const s3::Response locked = client_->send(s3::putRetention(target_, key, version, *wanted));
            if (!locked.ok()) fail(key, locked, "retenção");
        }
    } catch (...) {
        // The parts already stored would stay (and be billed) without it.
        client_->send(s3::abortMultipartUpload(target_, key, uploadId));
        throw;
    }
    ++written_;
}

void ObjectStoreDestination::finish(RunSummary& summary) {
    while (client_->pending() > 0 && failure_.empty()) client_->poll(std::chrono::milliseconds(1000));
    if (!failure_.empty()) {
        client_->cancelAll();
        throw DestinationError(failure_);
    }
    std::string line = "nuvem " + settings_.place() + ": enviados=" + std::to_string(written_) +
                       " inalterados=" + std::to_string(unchanged_);
    if (extended_ > 0) line += " retencao_estendida=" + std::to_string(extended_);
    summary.note = summary.note.empty() ? line : summary.note + "; " + line;
}

void ObjectStoreDestination::abandon() noexcept { client_->cancelAll(); }

std::unique_ptr<ObjectStoreDestination> storeDestinationFor(const ConnectionJob& job, std::string subfolder) {
    const std::optional<StoreSettings> store = storeSettingsIn(job.settings);
    if (!store) return nullptr;
    if (!store->refusal.empty()) throw std::runtime_error(store->refusal);
    requireCompany(*store);
    AwsKeys keys = loadAwsKeys(store->profile);
    return std::make_unique<ObjectStoreDestination>(*store, std::move(keys), std::move(subfolder));
}

void registerObjectStoreDestination() {
    DestinationType type;
    type.name = "nuvem";
    type.keys = storeSettingsKeys();
    type.documents = [](const DestinationContext& c) -> std::unique_ptr<Destination> {
        return storeDestinationFor(c.job);
    };
    // After the package: the archive it names goes to the store.
    type.archive = [](const DestinationContext& c) -> std::unique_ptr<Destination> {
        auto store = storeDestinationFor(c.job, "pacotes/");
        if (!store) return nullptr;
        return std::make_unique<PackageStoreDestination>(std::move(store));
    };
    registerDestination(std::move(type));
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
