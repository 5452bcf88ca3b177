#include "export/destinations/object_store/s3_client.h"

#include <curl/curl.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <random>
#include <stdexcept>
#include <thread>

namespace exports::s3 {

namespace {

using SteadyClock = std::chrono::steady_clock;

std::string digest(const EVP_MD* md, std::string_view bytes, bool hex) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(bytes.data(), bytes.size(), out, &size, md, nullptr);
    if (hex) return hexOf(out, size);
    std::string b64(4 * ((size + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(b64.data()), out, static_cast<int>(size));
    b64.resize(static_cast<size_t>(n));
    return b64;
}

std::string objectUrl(const Target& t, const std::string& key) {
    return t.endpoint + "/" + uriEncode(t.bucket, false) + "/" + uriEncode(key, true);
}

std::string bucketUrl(const Target& t) { return t.endpoint + "/" + uriEncode(t.bucket, false); }

Request make(std::string method, std::string url, std::string key) {
    Request r;
    r.method = std::move(method);
    r.url = std::move(url);
    r.key = std::move(key);
    // curl 7.88 signs without a payload hash header and the store then refuses
    // every request; an empty body's hash serves the requests without one.
    r.headers.push_back("x-amz-content-sha256: " + sha256Hex(""));
    return r;
}

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

std::string hexOf(const unsigned char* data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

std::string md5Hex(std::string_view bytes) { return digest(EVP_md5(), bytes, true); }
std::string md5Base64(std::string_view bytes) { return digest(EVP_md5(), bytes, false); }
std::string sha256Hex(std::string_view bytes) { return digest(EVP_sha256(), bytes, true); }

std::string uriEncode(std::string_view bytes, bool keepSlash) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() + 8);
    for (unsigned char c : bytes) {
        if (std::isalnum(c) && c < 0x80) out += static_cast<char>(c);
        else if (c == '-' || c == '_' || c == '.' || c == '~' || (keepSlash && c == '/')) out += static_cast<char>(c);
        else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

std::string headerValue(const Request& r, std::string_view name) {
    for (const auto& h : r.headers) {
        const auto colon = h.find(':');
        if (colon != name.size()) continue;
        bool same = true;
        for (size_t i = 0; i < colon && same; ++i)
            same = std::tolower(static_cast<unsigned char>(h[i])) == std::tolower(static_cast<unsigned char>(name[i]));
        if (!same) continue;
        size_t b = colon + 1;
        while (b < h.size() && h[b] == ' ') ++b;
        return h.substr(b);
    }
    return {};
}

Request putObject(const Target& t, const std::string& key, std::string body,
                  const std::optional<Retention>& retention) {
    Request r;
    r.method = "PUT";
    r.url = objectUrl(t, key);
    r.key = key;
    r.headers.push_back("x-amz-content-sha256: " + sha256Hex(body));
    // Object Lock uploads must carry it; on the others it still lets the store
    // refuse bytes damaged on the way.
    r.headers.push_back("Content-MD5: " + md5Base64(body));
    r.headers.push_back("Content-Type: application/octet-stream");
    if (retention) {
        r.headers.push_back("x-amz-object-lock-mode: " + retention->mode);
        r.headers.push_back("x-amz-object-lock-retain-until-date: " + retention->until);
    }
    r.body = std::move(body);
    return r;
}

Request putObject(const Target& t, const std::string& key, std::string body, const std::optional<Retention>& retention,
                  const PutCondition& condition) {
    Request r = putObject(t, key, std::move(body), retention);
    if (condition.ifNoneMatch) r.headers.push_back("If-None-Match: *");
    if (!condition.ifMatch.empty()) r.headers.push_back("If-Match: " + condition.ifMatch);
    return r;
}

Request putRetention(const Target& t, const std::string& key, const std::string& versionId,
                     const Retention& retention) {
    std::string body = "<Retention xmlns=\"http://s3.amazonaws.com/doc/2006-03-01/\"><Mode>" + retention.mode +
                       "</Mode><RetainUntilDate>" + retention.until + "</RetainUntilDate></Retention>";
    Request r;
    r.method = "PUT";
    // Query names in sorted order and with "=": curl 7.88 signs the query as written.
    r.url = objectUrl(t, key) + "?retention=&versionId=" + uriEncode(versionId, false);
    r.key = key;
    r.headers.push_back("x-amz-content-sha256: " + sha256Hex(body));
    r.headers.push_back("Content-MD5: " + md5Base64(body));
    r.headers.push_back("Content-Type: application/xml");
    r.body = std::move(body);
    return r;
}

Request headObject(const Target& t, const std::string& key) { return make("HEAD", objectUrl(t, key), key); }

Request getObject(const Target& t, const std::string& key, const std::string& versionId) {
    std::string url = objectUrl(t, key);
    if (!versionId.empty()) url += "?versionId=" + uriEncode(versionId, false);
    return make("GET", url, key);
}

Request deleteObject(const Target& t, const std::string& key, const std::string& versionId) {
    std::string url = objectUrl(t, key);
    if (!versionId.empty()) url += "?versionId=" + uriEncode(versionId, false);
    return make("DELETE", url, key);
}

Request getRetention(const Target& t, const std::string& key, const std::string& versionId) {
    // Query names in sorted order and with "=": curl 7.88 signs the query as written.
    return make("GET", objectUrl(t, key) + "?retention=&versionId=" + uriEncode(versionId, false), key);
}

Request headBucket(const Target& t) { return make("HEAD", bucketUrl(t), ""); }

Request getObjectLockConfiguration(const Target& t) { return make("GET", bucketUrl(t) + "?object-lock=", ""); }

Request createBucket(const Target& t, bool objectLock) {
    Request r = make("PUT", bucketUrl(t), "");
    if (objectLock) r.headers.push_back("x-amz-bucket-object-lock-enabled: true");
    return r;
}

Request listVersions(const Target& t, const std::string& prefix, const std::string& keyMarker,
                     const std::string& versionMarker) {
    std::string url = bucketUrl(t) + "?";
    if (!keyMarker.empty()) url += "key-marker=" + uriEncode(keyMarker, false) + "&";
    url += "prefix=" + uriEncode(prefix, false);
    if (!versionMarker.empty()) url += "&version-id-marker=" + uriEncode(versionMarker, false);
    url += "&versions=";
    return make("GET", url, prefix);
}

Request listObjects(const Target& t, const std::string& prefix, const std::string& delimiter,
                    const std::string& continuationToken, int maxKeys) {
    // Sorted names, each with "=", as curl signs the query as written.
    std::string url = bucketUrl(t) + "?";
    if (!continuationToken.empty()) url += "continuation-token=" + uriEncode(continuationToken, false) + "&";
    if (!delimiter.empty()) url += "delimiter=" + uriEncode(delimiter, false) + "&";
    url += "list-type=2&max-keys=" + std::to_string(maxKeys) + "&prefix=" + uriEncode(prefix, false);
    return make("GET", url, prefix);
}

std::string xmlUnescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            out += text[i];
            continue;
        }
        const auto semi = text.find(';', i);
        if (semi == std::string_view::npos || semi - i > 12) {
            out += text[i];
            continue;
        }
        const std::string_view name = text.substr(i + 1, semi - i - 1);
        unsigned long cp = 0;
        bool known = true;
        if (name == "amp") cp = '&';
        else if (name == "lt") cp = '<';
        else if (name == "gt") cp = '>';
        else if (name == "quot") cp = '"';
        else if (name == "apos") cp = '\'';
        else if (name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x' || name[1] == 'X';
            const std::string digits(name.substr(hex ? 2 : 1));
            char* end = nullptr;
            cp = digits.empty() ? 0 : std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
            known = !digits.empty() && end && *end == '\0' && cp > 0 && cp <= 0x10FFFF &&
                    !(cp >= 0xD800 && cp <= 0xDFFF);
        } else {
            known = false;
        }
        if (!known) {
            out += text[i];
            continue;
        }
        // UTF-8 of the code point
        if (cp < 0x80) out += static_cast<char>(cp);
        else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
        i = semi;
    }
    return out;
}

ListPage parseListPage(std::string_view body) {
    ListPage page;
    // Each <Contents> and <CommonPrefixes> block in turn.
    auto blocks = [&](std::string_view name, auto&& each) {
        const std::string open = "<" + std::string(name) + ">", close = "</" + std::string(name) + ">";
        for (size_t pos = 0;;) {
            const auto b = body.find(open, pos);
            if (b == std::string_view::npos) return;
            const auto e = body.find(close, b + open.size());
            if (e == std::string_view::npos) return;
            each(body.substr(b + open.size(), e - b - open.size()));
            pos = e + close.size();
        }
    };
    blocks("Contents", [&](std::string_view c) {
        ListedObject o;
        o.key = xmlUnescape(xmlElement(c, "Key"));
        o.etag = xmlUnescape(xmlElement(c, "ETag"));
        o.lastModified = xmlElement(c, "LastModified");
        const std::string size = xmlElement(c, "Size");
        o.size = size.empty() ? 0 : std::strtoll(size.c_str(), nullptr, 10);
        page.objects.push_back(std::move(o));
    });
    blocks("CommonPrefixes",
           [&](std::string_view c) { page.prefixes.push_back(xmlUnescape(xmlElement(c, "Prefix"))); });
    page.truncated = xmlElement(body, "IsTruncated") == "true";
    page.nextToken = xmlUnescape(xmlElement(body, "NextContinuationToken"));
    return page;
}

std::string xmlElement(std::string_view body, std::string_view name) {
    const std::string open = "<" + std::string(name) + ">";
    const std::string close = "</" + std::string(name) + ">";
    const auto b = body.find(open);
    if (b == std::string_view::npos) return {};
    const auto e = body.find(close, b + open.size());
    if (e == std::string_view::npos) return {};
    return std::string(body.substr(b + open.size(), e - b - open.size()));
}

std::string Response::errorCode() const { return xmlElement(body, "Code"); }

bool Response::retryable() const {
    if (final) return false;
    if (status == 0) return true;
    if (status == 500 || status == 502 || status == 503 || status == 504) return true;
    return errorCode() == "SlowDown";
}

namespace {

// A text from the store fit for a message: printable, and short.
std::string shown(std::string_view text) {
    std::string out;
    for (unsigned char c : text.substr(0, 200)) out += c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);
    if (text.size() > 200) out += "…";
    return out;
}

}  // namespace

std::string Response::describe() const {
    if (final) return transportError;
    if (status == 0) return "sem resposta (" + transportError + ")";
    std::string d = "HTTP " + std::to_string(status);
    const std::string code = errorCode();
    if (!code.empty()) d += " " + shown(code);
    if (status >= 300 && status < 400) {
        // Never followed (the keys would go along): say where it points.
        std::string to = header("location");
        if (to.empty()) to = xmlUnescape(xmlElement(body, "Endpoint"));
        d += to.empty() ? " (redirecionamento sem destino" : " (o servidor manda para " + shown(to);
        d += ": o bucket fica em outra região ou o endereço em Nuvem está errado; redirecionamentos não são seguidos)";
    }
    if (clockSkewed())
        d += " (o relógio deste computador difere do relógio do servidor em 15 minutos ou mais: acerte a data, a hora "
             "e o fuso horário deste computador)";
    return d;
}

bool Response::clockSkewed() const {
    if (errorCode() == "RequestTimeTooSkewed") return true;
    if (status != 403) return false;
    // A HEAD answer has no body to say so; its Date does.
    const std::string date = header("date");
    std::tm tm{};
    const char* end = ::strptime(date.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &tm);
    if (!end || *end != '\0') return false;
    const std::time_t server = ::timegm(&tm);
    const std::time_t here = std::time(nullptr);
    return std::abs(static_cast<long long>(server) - static_cast<long long>(here)) >= 15 * 60;
}

std::string Response::header(const std::string& lowerName) const {
    const auto it = headers.find(lowerName);
    return it == headers.end() ? std::string() : it->second;
}

// ---------------------------------------------------------------------------

std::chrono::milliseconds requestTimeLimit(const RetryPolicy& policy, size_t bodyBytes) {
    const long long rate = std::max<long long>(1, policy.minBytesPerSecond);
    return std::chrono::duration_cast<std::chrono::milliseconds>(policy.timeLimit) +
           std::chrono::milliseconds(static_cast<long long>(bodyBytes) * 1000 / rate);
}

namespace {

// Where an answer's bytes go, with the bound on them.
struct Sink {
    Response* response = nullptr;
    size_t cap = 0;
    size_t received = 0;  // headers and body
    bool overflow = false;
};

}  // namespace

struct Client::Transfer {
    Request request;
    Done done;
    Response response;
    Sink sink;
    SteadyClock::time_point started{};
    std::chrono::milliseconds limit{0};
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    SteadyClock::time_point due{};
    char errorBuffer[CURL_ERROR_SIZE] = {};

    ~Transfer() {
        if (headers) curl_slist_free_all(headers);
        if (easy) curl_easy_cleanup(easy);
    }
};

namespace {

// False once the answer has gone past its bound.
bool within(Sink* sink, size_t bytes) {
    sink->received += bytes;
    if (sink->received <= sink->cap) return true;
    sink->overflow = true;
    return false;
}

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    // Answers worth reading are small (errors, listings, run records): a
    // hostile or broken server could send gigabytes.
    if (!within(sink, size * count)) return 0;
    sink->response->body.append(data, size * count);
    return size * count;
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    if (!within(sink, size * count)) return 0;
    Response* r = sink->response;
    std::string_view line(data, size * count);
    if (line.rfind("HTTP/", 0) == 0) {
        r->headers.clear();  // a 100 Continue or a redirect's headers
        return size * count;
    }
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) return size * count;
    std::string name(line.substr(0, colon));
    for (auto& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    auto value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' '))
        value.remove_suffix(1);
    r->headers[name] = std::string(value);
    return size * count;
}

}  // namespace

Client::Client(AwsKeys keys, std::string region, RetryPolicy policy, int maxInFlight)
    : keys_(std::move(keys)), sigv4_("aws:amz:" + region + ":s3"), policy_(policy),
      maxInFlight_(std::max(1, maxInFlight)) {
    initCurlOnce();
    // The authorities to trust: NuvemCA, else what the usual variables name.
    caInfo_ = policy_.caFile;
    for (const char* name : {"SSL_CERT_FILE", "CURL_CA_BUNDLE"}) {
        const char* v = std::getenv(name);
        if (caInfo_.empty() && v && *v) caInfo_ = v;
    }
    multi_ = curl_multi_init();
    if (!multi_) throw std::runtime_error("Nuvem: libcurl não iniciou");
    curl_multi_setopt(static_cast<CURLM*>(multi_), CURLMOPT_MAX_HOST_CONNECTIONS, static_cast<long>(maxInFlight_));
}

Client::~Client() {
    cancelAll();
    curl_multi_cleanup(static_cast<CURLM*>(multi_));
}

void Client::start(Request request, Done done) {
    auto t = std::make_unique<Transfer>();
    t->request = std::move(request);
    t->done = std::move(done);
    t->due = SteadyClock::now();
    waiting_.push_back(std::move(t));
    launchDue();
}

Response Client::send(Request request) {
    Response result;
    bool settled = false;
    start(std::move(request), [&](Request&&, Response&& r) {
        result = std::move(r);
        settled = true;
    });
    while (!settled) poll(std::chrono::milliseconds(100));
    return result;
}

size_t Client::pending() const { return running_.size() + waiting_.size(); }

void Client::launchDue() {
    const auto now = SteadyClock::now();
    for (auto it = waiting_.begin(); it != waiting_.end() && static_cast<int>(running_.size()) < maxInFlight_;) {
        if ((*it)->due <= now) {
            auto t = std::move(*it);
            it = waiting_.erase(it);
            launch(std::move(t));
        } else {
            ++it;
        }
    }
}

void Client::launch(std::unique_ptr<Transfer> t) {
    if (t->easy) curl_easy_cleanup(t->easy);
    if (t->headers) curl_slist_free_all(t->headers);
    t->headers = nullptr;
    t->easy = curl_easy_init();
    if (!t->easy) {
        settle(t.release(), 0, "libcurl sem memória");
        return;
    }
    CURL* e = t->easy;
    const Request& r = t->request;
    ++t->response.attempts;
    t->response.body.clear();
    t->response.headers.clear();
    t->response.status = 0;
    t->response.final = false;
    t->errorBuffer[0] = '\0';
    t->sink = Sink{&t->response, policy_.maxAnswerBytes};
    t->started = SteadyClock::now();
    t->limit = requestTimeLimit(policy_, r.body.size());

    curl_easy_setopt(e, CURLOPT_URL, r.url.c_str());
    curl_easy_setopt(e, CURLOPT_AWS_SIGV4, sigv4_.c_str());
    curl_easy_setopt(e, CURLOPT_USERNAME, keys_.accessKey.c_str());
    curl_easy_setopt(e, CURLOPT_PASSWORD, keys_.secretKey.c_str());
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(policy_.connectTimeout.count()));
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, static_cast<long>(policy_.stallTimeout.count()));
    // A server dripping its answer a byte at a time passes the stall check:
    // the whole request has its own bound.
    curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(t->limit.count()));
    if (!caInfo_.empty()) curl_easy_setopt(e, CURLOPT_CAINFO, caInfo_.c_str());
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, t->errorBuffer);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &t->sink);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &t->sink);
    curl_easy_setopt(e, CURLOPT_PRIVATE, t.get());
    // Only the protocols the endpoint may name; never follow a redirect with the keys.
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);

    if (r.method == "HEAD") {
        curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    } else if (r.method == "GET") {
        curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    } else {
        curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, r.method.c_str());
        if (r.method == "PUT" || r.method == "POST") {
            curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(r.body.size()));
            curl_easy_setopt(e, CURLOPT_POSTFIELDS, r.body.data());
        }
    }
    for (const auto& h : r.headers) t->headers = curl_slist_append(t->headers, h.c_str());
    // Temporary keys: curl signs every header it is given, this one included.
    if (!keys_.sessionToken.empty())
        t->headers = curl_slist_append(t->headers, ("x-amz-security-token: " + keys_.sessionToken).c_str());
    // No "Expect:" or "Content-Type:" to drop curl's own headers: curl 7.88
    // signs the dropped header all the same and the store refuses the request.
    // A large body waits a moment for "100 Continue" instead.
    curl_easy_setopt(e, CURLOPT_EXPECT_100_TIMEOUT_MS, 200L);
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, t->headers);

    curl_multi_add_handle(static_cast<CURLM*>(multi_), e);
    running_[e] = std::move(t);
}

void Client::settle(Transfer* raw, long status, const std::string& transportError) {
    std::unique_ptr<Transfer> t(raw);
    t->response.status = status;
    t->response.transportError = transportError;
    if (t->response.retryable() && t->response.attempts < policy_.attempts) {
        // Exponential backoff with jitter, so uploads that failed together do
        // not come back together.
        static thread_local std::minstd_rand rng{std::random_device{}()};
        const auto base = policy_.firstDelay * (1 << (t->response.attempts - 1));
        const auto jitter = std::chrono::milliseconds(rng() % (base.count() / 2 + 1));
        t->due = SteadyClock::now() + base + jitter;
        waiting_.push_back(std::move(t));
        return;
    }
    ++settled_;
    Done done = std::move(t->done);
    Request request = std::move(t->request);
    Response response = std::move(t->response);
    t.reset();
    if (done) done(std::move(request), std::move(response));
}

void Client::poll(std::chrono::milliseconds wait) {
    auto* multi = static_cast<CURLM*>(multi_);
    const int before = settled_;
    const auto end = SteadyClock::now() + wait;
    for (;;) {
        launchDue();
        int still = 0;
        curl_multi_perform(multi, &still);
        int left = 0;
        while (CURLMsg* m = curl_multi_info_read(multi, &left)) {
            if (m->msg != CURLMSG_DONE) continue;
            CURL* e = m->easy_handle;
            const CURLcode code = m->data.result;
            curl_multi_remove_handle(multi, e);
            auto it = running_.find(e);
            if (it == running_.end()) continue;
            std::unique_ptr<Transfer> t = std::move(it->second);
            running_.erase(it);
            long status = 0;
            std::string error;
            if (code == CURLE_OK) {
                curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
            } else {
                error = t->errorBuffer[0] ? t->errorBuffer : curl_easy_strerror(code);
                const std::string what = t->request.method + (t->request.key.empty()
                                                                  ? std::string(" do bucket")
                                                                  : " de \"" + t->request.key + "\"");
                if (t->sink.overflow) {
                    t->response.final = true;
                    error = "Nuvem: a resposta a " + what + " passou de " +
                            std::to_string(policy_.maxAnswerBytes / 1024) +
                            " KiB e foi cortada (o servidor em Nuvem não responde como um armazenamento S3)";
                } else if (code == CURLE_OPERATION_TIMEDOUT &&
                           SteadyClock::now() - t->started + std::chrono::milliseconds(250) >= t->limit) {
                    // The whole request's bound (curl's clock runs a little
                    // ahead of ours), not a stall: trying again would take as long.
                    t->response.final = true;
                    error = "Nuvem: " + what + " não terminou em " +
                            std::to_string(std::chrono::duration_cast<std::chrono::seconds>(t->limit).count()) +
                            " s e foi encerrado (servidor ou rede lentos demais)";
                } else if (code == CURLE_PEER_FAILED_VERIFICATION || code == CURLE_SSL_CACERT_BADFILE ||
                           code == CURLE_SSL_CERTPROBLEM || code == CURLE_SSL_ISSUER_ERROR ||
                           code == CURLE_SSL_PINNEDPUBKEYNOTMATCH || code == CURLE_SSL_INVALIDCERTSTATUS ||
                           code == CURLE_SSL_CRL_BADFILE) {
                    // Trying again changes nothing.
                    t->response.final = true;
                    error = "Nuvem: o certificado do servidor não foi aceito em " + what + " (" + error +
                            "); se o servidor usa uma autoridade certificadora própria, aponte NuvemCA para o "
                            "arquivo PEM dela";
                }
            }
            settle(t.release(), status, error);
        }
        launchDue();
        if (settled_ != before || pending() == 0) return;
        const auto now = SteadyClock::now();
        if (now >= end) return;
        auto timeout = std::chrono::duration_cast<std::chrono::milliseconds>(end - now);
        // Wake for the earliest retry too.
        for (const auto& w : waiting_)
            timeout = std::min(timeout, std::max(std::chrono::milliseconds(0),
                                                 std::chrono::duration_cast<std::chrono::milliseconds>(w->due - now)));
        if (running_.empty()) {
            std::this_thread::sleep_for(timeout);
        } else {
            curl_multi_poll(multi, nullptr, 0, static_cast<int>(std::max<long long>(1, timeout.count())), nullptr);
        }
    }
}

void Client::wait() {
    while (pending() > 0) poll(std::chrono::milliseconds(1000));
}

void Client::cancelAll() noexcept {
    auto* multi = static_cast<CURLM*>(multi_);
    for (auto& [e, t] : running_) curl_multi_remove_handle(multi, static_cast<CURL*>(e));
    running_.clear();
    waiting_.clear();
}

// ---------------------------------------------------------------------------

Request createMultipartUpload(const Target& t, const std::string& key, const std::optional<Retention>& retention,
                              const std::map<std::string, std::string>& metadata) {
    Request r = make("POST", objectUrl(t, key) + "?uploads=", key);
    r.headers.push_back("Content-Type: application/octet-stream");
    if (retention) {
        r.headers.push_back("x-amz-object-lock-mode: " + retention->mode);
        r.headers.push_back("x-amz-object-lock-retain-until-date: " + retention->until);
    }
    for (const auto& [name, value] : metadata) r.headers.push_back("x-amz-meta-" + name + ": " + value);
    return r;
}

Request uploadPart(const Target& t, const std::string& key, const std::string& uploadId, int partNumber,
                   std::string body) {
    Request r;
    r.method = "PUT";
    // Query names in sorted order, as curl signs them as written.
    r.url = objectUrl(t, key) + "?partNumber=" + std::to_string(partNumber) + "&uploadId=" + uriEncode(uploadId, false);
    r.key = key;
    r.headers.push_back("x-amz-content-sha256: " + sha256Hex(body));
    r.headers.push_back("Content-MD5: " + md5Base64(body));
    r.body = std::move(body);
    return r;
}

Request completeMultipartUpload(const Target& t, const std::string& key, const std::string& uploadId,
                                const std::vector<UploadedPart>& parts) {
    std::string xml = "<CompleteMultipartUpload>";
    for (const auto& p : parts)
        xml += "<Part><PartNumber>" + std::to_string(p.number) + "</PartNumber><ETag>" + p.etag + "</ETag></Part>";
    xml += "</CompleteMultipartUpload>";
    Request r;
    r.method = "POST";
    r.url = objectUrl(t, key) + "?uploadId=" + uriEncode(uploadId, false);
    r.key = key;
    r.headers.push_back("x-amz-content-sha256: " + sha256Hex(xml));
    r.headers.push_back("Content-Type: application/xml");
    r.body = std::move(xml);
    return r;
}

Request abortMultipartUpload(const Target& t, const std::string& key, const std::string& uploadId) {
    return make("DELETE", objectUrl(t, key) + "?uploadId=" + uriEncode(uploadId, false), key);
}

std::string multipartEtag(const std::vector<std::string>& partMd5s) {
    std::string raw;
    for (const auto& hex : partMd5s)
        for (size_t i = 0; i + 1 < hex.size(); i += 2)
            raw += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return "\"" + md5Hex(raw) + "-" + std::to_string(partMd5s.size()) + "\"";
}

Request listMultipartUploads(const Target& t, const std::string& prefix) {
    return make("GET", bucketUrl(t) + "?prefix=" + uriEncode(prefix, false) + "&uploads=", prefix);
}


}  // namespace exports::s3
