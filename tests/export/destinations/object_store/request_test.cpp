// The store's requests, settings and keys, without a network.
#include "export/destinations/object_store/aws_credentials.h"
#include "export/destinations/object_store/s3_client.h"
#include "export/destinations/object_store/store_settings.h"
#include "tests/support/store_helpers.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

using namespace exports;
namespace fs = std::filesystem;
using storetest::Env;

namespace {

const s3::Target kTarget{"https://s3.example.com:8443", "arquivo", "sa-east-1"};

TEST(Request, ObjectLockUploadCarriesPayloadHashContentMd5AndRetention) {
    const auto r = s3::putObject(kTarget, "empresa/NFe1.XML", "hello",
                                 s3::Retention{"COMPLIANCE", "2031-01-02T03:04:05.000Z"});
    EXPECT_EQ(r.method, "PUT");
    EXPECT_EQ(r.url, "https://s3.example.com:8443/arquivo/empresa/NFe1.XML");
    EXPECT_EQ(r.body, "hello");
    // Without the payload hash the store refuses every signature curl makes.
    EXPECT_EQ(s3::headerValue(r, "x-amz-content-sha256"),
              "2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824");
    // AWS refuses an Object Lock upload without it.
    EXPECT_EQ(s3::headerValue(r, "Content-MD5"), "XUFAKrxLKna5cZ2REBfFkg==");
    EXPECT_EQ(s3::headerValue(r, "x-amz-object-lock-mode"), "COMPLIANCE");
    EXPECT_EQ(s3::headerValue(r, "x-amz-object-lock-retain-until-date"), "2031-01-02T03:04:05.000Z");
}

TEST(Request, EveryRequestCarriesAPayloadHash) {
    const std::string emptyHash = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
    for (const auto& r :
         {s3::headObject(kTarget, "a"), s3::getObject(kTarget, "a", "v1"), s3::headBucket(kTarget),
          s3::getObjectLockConfiguration(kTarget), s3::deleteObject(kTarget, "a", "v"), s3::listVersions(kTarget, "p/"),
          s3::createBucket(kTarget, true), s3::getRetention(kTarget, "a", "v")}) {
        SCOPED_TRACE(r.method + " " + r.url);
        EXPECT_EQ(s3::headerValue(r, "x-amz-content-sha256"), emptyHash);
    }
    const auto plain = s3::putObject(kTarget, "k", "", std::nullopt);
    EXPECT_EQ(s3::headerValue(plain, "Content-MD5"), "1B2M2Y8AsgTpgAmY7PhCfg==");
    EXPECT_EQ(s3::headerValue(plain, "x-amz-object-lock-mode"), "");
}

TEST(Request, KeysAndQueriesAreEncodedAsSigned) {
    struct Case {
        std::string key, url;
    } cases[] = {
        {"a b/c+d.XML", "https://s3.example.com:8443/arquivo/a%20b/c%2Bd.XML"},
        {"S\xC3\xA3o/x~y_z-1.XML", "https://s3.example.com:8443/arquivo/S%C3%A3o/x~y_z-1.XML"},
        {"q?x=1&y#z", "https://s3.example.com:8443/arquivo/q%3Fx%3D1%26y%23z"},
    };
    for (const auto& c : cases) EXPECT_EQ(s3::headObject(kTarget, c.key).url, c.url) << c.key;
    // Query names sorted and each with '=', as the signature's canonical form has them.
    EXPECT_EQ(s3::getObjectLockConfiguration(kTarget).url, "https://s3.example.com:8443/arquivo?object-lock=");
    EXPECT_EQ(s3::getRetention(kTarget, "k", "v+1").url,
              "https://s3.example.com:8443/arquivo/k?retention=&versionId=v%2B1");
    EXPECT_EQ(s3::listVersions(kTarget, "p/q", "k m", "v").url,
              "https://s3.example.com:8443/arquivo?key-marker=k%20m&prefix=p%2Fq&version-id-marker=v&versions=");
    EXPECT_EQ(s3::headerValue(s3::createBucket(kTarget, true), "x-amz-bucket-object-lock-enabled"), "true");
}

TEST(Answer, RetriedOnlyWhenTheStoreSaysTryAgain) {
    struct Case {
        long status;
        std::string body;
        bool retry;
    } cases[] = {
        {0, "", true},  // no answer: refused connection, timeout
        {500, "", true},
        {503, "<Error><Code>ServiceUnavailable</Code></Error>", true},
        {400, "<Error><Code>SlowDown</Code></Error>", true},
        {403, "<Error><Code>AccessDenied</Code></Error>", false},
        {403, "<Error><Code>SignatureDoesNotMatch</Code></Error>", false},
        {404, "<Error><Code>NoSuchBucket</Code></Error>", false},
        {400, "<Error><Code>InvalidDigest</Code></Error>", false},
    };
    for (const auto& c : cases) {
        s3::Response r;
        r.status = c.status;
        r.body = c.body;
        EXPECT_EQ(r.retryable(), c.retry) << c.status << " " << c.body;
    }
}

TEST(StoreSettings, TextsBecomeSettingsOrAClearRefusal) {
    struct Case {
        StoreSettingsText text;
        std::string endpoint, bucket, prefix;  // endpoint "" = no store
        std::string refusal;                   // part of the message when refused
    } cases[] = {
        {{"", "", "", "", ""}, "", "", "", ""},
        {{"https://s3.escritorio.com.br:9000/arquivo/clientes/", "", "", "", ""},
         "https://s3.escritorio.com.br:9000",
         "arquivo",
         "clientes/",
         ""},
        {{"  HTTPS://S3.Example.com/b  ", "", "", "", ""}, "https://s3.example.com", "b", "", ""},
        {{"http://127.0.0.1:7480/b/x/y", "", "", "", ""}, "http://127.0.0.1:7480", "b", "x/y/", ""},
        {{"http://localhost:7480/b", "", "", "", ""}, "http://localhost:7480", "b", "", ""},
        {{"http://[::1]:7480/b", "", "", "", ""}, "http://[::1]:7480", "b", "", ""},
        {{"http://s3.example.com/b", "", "", "", ""}, "", "", "", "http:// só é aceito"},
        {{"http://127.0.0.1.evil.com/b", "", "", "", ""}, "", "", "", "http:// só é aceito"},
        {{"http://10.1.2.3:7480/b", "", "", "", ""}, "", "", "", "http:// só é aceito"},
        {{"http://[fe80::1]:7480/b", "", "", "", ""}, "", "", "", "http:// só é aceito"},
        {{"ftp://h/b", "", "", "", ""}, "", "", "", "https://"},
        {{"s3.example.com/b", "", "", "", ""}, "", "", "", "https://servidor"},
        {{"https://h:99999/b", "", "", "", ""}, "", "", "", "porta"},
        {{"https://h/", "", "", "", ""}, "", "", "", "sem bucket"},
        {{"https://h/Bucket_X", "", "", "", ""}, "", "", "", "bucket inválido"},
        {{"https://h/b/a//c", "", "", "", ""}, "", "", "", "prefixo inválido"},
        {{"https://h/b/../c", "", "", "", ""}, "", "", "", "prefixo inválido"},
        {{"https://key:secret@h/b", "", "", "", ""}, "", "", "", "não leva usuário"},
        {{"https://h/b", "", "", "30", ""}, "", "", "", "pede NuvemRetencaoModo"},
        {{"https://h/b", "", "", "", "GOVERNANCE"}, "", "", "", "pede NuvemRetencaoDias"},
        {{"https://h/b", "", "", "0", "GOVERNANCE"}, "", "", "", "número de dias de 1 a"},
        {{"https://h/b", "", "", "-5", "GOVERNANCE"}, "", "", "", "número de dias de 1 a"},
        {{"https://h/b", "", "", "30", "LEGAL"}, "", "", "", "COMPLIANCE ou GOVERNANCE"},
        // the company goes after the prefix, never inside it
        {{"https://h/b/11222333000181", "", "", "", ""}, "", "", "", "prefixo não pode ter um CNPJ"},
        {{"https://h/b/x/529.982.247-25", "", "", "", ""}, "", "", "", "prefixo não pode ter um CNPJ"},
        {{"https://h/b/52998224725/x", "", "", "", ""}, "", "", "", "prefixo não pode ter um CNPJ"},
        {{"https://h/b/12345678901/x", "", "", "", ""}, "https://h", "b", "12345678901/x/", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.url + " " + c.text.retentionDays + " " + c.text.retentionMode);
        try {
            StoreSettingsText text = c.text;
            text.company = "11222333000181";
            const auto s = parseStoreSettings(text);
            EXPECT_EQ(c.refusal, "") << "accepted";
            if (c.endpoint.empty()) {
                EXPECT_FALSE(s);
                continue;
            }
            ASSERT_TRUE(s);
            EXPECT_EQ(s->endpoint, c.endpoint);
            EXPECT_EQ(s->bucket, c.bucket);
            EXPECT_EQ(s->prefix, c.prefix);
            EXPECT_EQ(s->region, "us-east-1");
            EXPECT_EQ(s->profile, "default");
            EXPECT_EQ(s->retention.count(), 0);
            EXPECT_EQ(s->companyPrefix(), c.prefix + "11222333000181/");
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(c.refusal, "") << e.what();
            EXPECT_NE(std::string(e.what()).find(c.refusal), std::string::npos) << e.what();
            EXPECT_EQ(std::string(e.what()).find("secret"), std::string::npos) << e.what();
        }
    }
}

TEST(StoreSettings, RetentionRegionAndProfile) {
    const auto s = parseStoreSettings({"https://h/b", "sa-east-1", "escritorio", " 3650 ", "compliance",
                                       "11222333000181"});
    ASSERT_TRUE(s);
    EXPECT_EQ(s->region, "sa-east-1");
    EXPECT_EQ(s->profile, "escritorio");
    EXPECT_EQ(s->retentionDays, 3650);
    EXPECT_EQ(s->retentionMode, "COMPLIANCE");
    EXPECT_EQ(s->retention, std::chrono::hours(24 * 3650));
}

TEST(StoreSettings, CompanyIsAValidCnpjOrCpf) {
    struct Case {
        const char* text;
        const char* digits;  // "" = refused
    } cases[] = {
        {"11.222.333/0001-81", "11222333000181"},
        {"11222333000181", "11222333000181"},
        {"11222333000182", ""},  // wrong check digit
        {"529.982.247-25", "52998224725"},
        {"52998224724", ""},
        {"00000000000000", ""},     // passes the digits, names nobody
        {"1122233300018", ""},      // 13 digits
        {"11222333000181/..", ""},  // a path, not a number
        {"../11222333000181", ""},
        {"11222333000181x", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(companyDigits(c.text), c.digits) << c.text;
        try {
            const auto s = parseStoreSettings({"https://h/b/escritorio", "", "", "", "", c.text});
            ASSERT_TRUE(s);
            EXPECT_EQ(s->company, c.digits) << c.text;
            EXPECT_EQ(s->companyPrefix(), std::string("escritorio/") + c.digits + "/") << c.text;
            EXPECT_STRNE(c.digits, "") << c.text << " accepted";
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(c.digits, "") << c.text << ": " << e.what();
            EXPECT_NE(std::string(e.what()).find("NuvemEmpresa"), std::string::npos) << e.what();
        }
    }
    // Without it nothing may be written: the store would mix companies. The
    // office's reading of the whole bucket needs none.
    for (const char* blank : {"", "  "}) {
        const auto s = parseStoreSettings({"https://h/b/escritorio", "", "", "", "", blank});
        ASSERT_TRUE(s);
        try {
            requireCompany(*s);
            ADD_FAILURE() << "a store without NuvemEmpresa accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("NuvemEmpresa"), std::string::npos) << e.what();
        }
    }
    EXPECT_NO_THROW(requireCompany(*parseStoreSettings({"https://h/b", "", "", "", "", "11222333000181"})));
    EXPECT_FALSE(parseStoreSettings({"", "", "", "", "", ""}));  // no store, nothing asked
}

TEST(StoreSettings, RetentionStopsWellBeforeTheDateTheStoreWrapsAround) {
    // radosgw keeps the date as seconds in 32 bits: past 2106-02-07 it comes back as 1970.
    const auto wrap = std::chrono::system_clock::from_time_t(4294967295LL);
    const auto now = std::chrono::system_clock::from_time_t(1796947200LL);  // 2026-12-11
    const int longest = maxRetentionDays(now);
    EXPECT_GT(longest, 365 * 70);
    EXPECT_LT(now + std::chrono::hours(24) * longest, wrap - std::chrono::hours(24 * 365));
    struct Case {
        std::string days;
        bool accepted;
    } cases[] = {
        {"1", true},
        {"1825", true},
        {std::to_string(longest), true},
        {std::to_string(longest + 1), false},
        {"28913", false},
        {"36500", false},
        {"99999", false},
        {"999999", false},
        {"1234567", false},
    };
    for (const auto& c : cases) {
        try {
            const auto s = parseStoreSettings({"https://h/b", "", "", c.days, "COMPLIANCE", "11222333000181"}, now);
            EXPECT_TRUE(c.accepted) << c.days << " accepted";
            ASSERT_TRUE(s);
            EXPECT_EQ(s->retention, std::chrono::hours(24) * std::stoi(c.days));
        } catch (const std::invalid_argument& e) {
            EXPECT_FALSE(c.accepted) << c.days << ": " << e.what();
            EXPECT_NE(std::string(e.what()).find("NuvemRetencaoDias"), std::string::npos) << e.what();
        }
    }
}

TEST(Request, ConditionalPutAndRetentionChange) {
    const auto create = s3::putObject(kTarget, "a/b.XML", "x", std::nullopt, s3::PutCondition{true, ""});
    EXPECT_EQ(s3::headerValue(create, "If-None-Match"), "*");
    EXPECT_EQ(s3::headerValue(create, "If-Match"), "");
    const auto replace = s3::putObject(kTarget, "a/b.XML", "x", std::nullopt, s3::PutCondition{false, "\"abc\""});
    EXPECT_EQ(s3::headerValue(replace, "If-Match"), "\"abc\"");
    EXPECT_EQ(s3::headerValue(replace, "If-None-Match"), "");

    const auto r = s3::putRetention(kTarget, "a b.XML", "v+1", {"COMPLIANCE", "2031-01-01T00:00:00.000Z"});
    EXPECT_EQ(r.method, "PUT");
    EXPECT_EQ(r.url, "https://s3.example.com:8443/arquivo/a%20b.XML?retention=&versionId=v%2B1");
    EXPECT_NE(r.body.find("<Mode>COMPLIANCE</Mode><RetainUntilDate>2031-01-01T00:00:00.000Z</RetainUntilDate>"),
              std::string::npos);
    // Object Lock requests must carry the body's MD5; the signature its hash.
    EXPECT_EQ(s3::headerValue(r, "Content-MD5"), s3::md5Base64(r.body));
    EXPECT_EQ(s3::headerValue(r, "x-amz-content-sha256"), s3::sha256Hex(r.body));
}

TEST(Request, ListingPagesAreAskedInSignedOrderAndRead) {
    EXPECT_EQ(s3::listObjects(kTarget, "esc/").url,
              "https://s3.example.com:8443/arquivo?list-type=2&max-keys=1000&prefix=esc%2F");
    EXPECT_EQ(s3::listObjects(kTarget, "esc/", "/", "t+1/=", 50).url,
              "https://s3.example.com:8443/arquivo?continuation-token=t%2B1%2F%3D&delimiter=%2F&list-type=2&"
              "max-keys=50&prefix=esc%2F");
    const std::string body =
        "<?xml version=\"1.0\"?><ListBucketResult><Name>arquivo</Name><IsTruncated>true</IsTruncated>"
        "<Contents><Key>esc/a&amp;b/&#231;&#x e.json</Key><LastModified>2026-12-01T10:00:00.000Z</LastModified>"
        "<ETag>&quot;abc&quot;</ETag><Size>123</Size></Contents>"
        "<Contents><Key>esc/c&lt;d</Key><Size>0</Size></Contents>"
        "<CommonPrefixes><Prefix>esc/11222333000181/</Prefix></CommonPrefixes>"
        "<CommonPrefixes><Prefix>esc/&#xE9;/</Prefix></CommonPrefixes>"
        "<NextContinuationToken>tok&amp;1</NextContinuationToken></ListBucketResult>";
    const s3::ListPage page = s3::parseListPage(body);
    ASSERT_EQ(page.objects.size(), 2u);
    // an unknown or cut reference stays as written
    EXPECT_EQ(page.objects[0].key, "esc/a&b/\xc3\xa7&#x e.json");
    EXPECT_EQ(page.objects[0].etag, "\"abc\"");
    EXPECT_EQ(page.objects[0].size, 123);
    EXPECT_EQ(page.objects[0].lastModified, "2026-12-01T10:00:00.000Z");
    EXPECT_EQ(page.objects[1].key, "esc/c<d");
    ASSERT_EQ(page.prefixes.size(), 2u);
    EXPECT_EQ(page.prefixes[0], "esc/11222333000181/");
    EXPECT_EQ(page.prefixes[1], "esc/\xc3\xa9/");
    EXPECT_TRUE(page.truncated);
    EXPECT_EQ(page.nextToken, "tok&1");
    EXPECT_FALSE(s3::parseListPage("<ListBucketResult><IsTruncated>false</IsTruncated></ListBucketResult>").truncated);
}

TEST(Credentials, ProfileTexts) {
    const std::string text =
        "# keys\n[default]\naws_access_key_id = AKDEFAULT\naws_secret_access_key=SECRETDEFAULT\r\n\n"
        "[escritorio]\n  aws_access_key_id=AKOFFICE  \naws_secret_access_key = SECRETOFFICE\n"
        "[profile outro]\naws_access_key_id=AKOTHER\naws_secret_access_key=SECRETOTHER\n[meio]\naws_access_key_id=X\n";
    EXPECT_EQ(parseCredentialsText(text, "default").accessKey, "AKDEFAULT");
    EXPECT_EQ(parseCredentialsText(text, "default").secretKey, "SECRETDEFAULT");
    EXPECT_EQ(parseCredentialsText(text, "escritorio").accessKey, "AKOFFICE");
    EXPECT_EQ(parseCredentialsText(text, "escritorio").secretKey, "SECRETOFFICE");
    EXPECT_EQ(parseCredentialsText(text, "outro").secretKey, "SECRETOTHER");
    for (const char* profile : {"nenhum", "meio"}) {
        try {
            parseCredentialsText(text, profile);
            ADD_FAILURE() << profile << " accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(profile), std::string::npos) << e.what();
            EXPECT_EQ(std::string(e.what()).find("SECRET"), std::string::npos) << e.what();
        }
    }
}

TEST(Credentials, FileReadableByOthersIsRefusedWithoutShowingTheSecret) {
    const fs::path dir = fs::temp_directory_path() / ("store-cred-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path file = dir / "credentials";
    std::ofstream(file) << "[default]\naws_access_key_id=AKFILE\naws_secret_access_key=TOPSECRETVALUE\n";
    Env a("AWS_ACCESS_KEY_ID", nullptr), b("AWS_SECRET_ACCESS_KEY", nullptr);
    Env c("AWS_SHARED_CREDENTIALS_FILE", file.c_str());

    for (mode_t mode : {0644, 0640, 0604}) {
        ::chmod(file.c_str(), mode);
        try {
            loadAwsKeys("default");
            ADD_FAILURE() << std::oct << mode << " accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("lido por outros"), std::string::npos) << e.what();
            EXPECT_EQ(std::string(e.what()).find("TOPSECRET"), std::string::npos) << e.what();
        }
    }
    // A link to it changes nothing: the mode of the file opened counts.
    const fs::path link = dir / "link";
    fs::create_symlink(file, link);
    {
        Env l("AWS_SHARED_CREDENTIALS_FILE", link.c_str());
        EXPECT_THROW(loadAwsKeys("default"), std::runtime_error);
    }
    ::chmod(file.c_str(), 0600);
    EXPECT_EQ(loadAwsKeys("default").secretKey, "TOPSECRETVALUE");
    {
        // The environment's keys come first, the file unread.
        Env x("AWS_ACCESS_KEY_ID", "AKENV"), y("AWS_SECRET_ACCESS_KEY", "SECRETENV");
        ::chmod(file.c_str(), 0644);
        EXPECT_EQ(loadAwsKeys("default").accessKey, "AKENV");
    }
    fs::remove_all(dir);
}

}  // namespace

// ---------------------------------------------------------------------------
// How the client takes "try again" answers. A real store will not answer 503
// on request, so a loopback server plays the answers; everything else about
// the store is tested against radosgw.

#include "export/destinations/object_store/object_store.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Answers each request on its own connection with the next of `answers`
// (the last one repeats) and counts the requests; with `dripMs` the answer
// goes out a byte at a time, one each `dripMs`.
class ScriptedServer {
public:
    explicit ScriptedServer(std::vector<std::string> answers, int dripMs = 0)
        : answers_(std::move(answers)), dripMs_(dripMs) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_, 16);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~ScriptedServer() {
        stop_ = true;
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
        thread_.join();
    }
    std::string endpoint() const { return "http://127.0.0.1:" + std::to_string(port_); }
    int requests() const { return requests_; }
    std::string lastRequest() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return last_;
    }

private:
    void serve() {
        while (!stop_) {
            const int c = ::accept(fd_, nullptr, nullptr);
            if (c < 0) return;
            std::string in;
            char buf[4096];
            // Headers, then the body its Content-Length announces.
            while (in.find("\r\n\r\n") == std::string::npos) {
                const ssize_t got = ::read(c, buf, sizeof buf);
                if (got <= 0) break;
                in.append(buf, static_cast<size_t>(got));
            }
            const auto cl = in.find("Content-Length: ");
            if (cl != std::string::npos) {
                const size_t want = std::stoul(in.substr(cl + 16)) + in.find("\r\n\r\n") + 4;
                while (in.size() < want) {
                    const ssize_t got = ::read(c, buf, sizeof buf);
                    if (got <= 0) break;
                    in.append(buf, static_cast<size_t>(got));
                }
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                last_ = in;
            }
            const std::string& out = answers_[std::min<size_t>(requests_, answers_.size() - 1)];
            ++requests_;
            if (dripMs_ == 0) {
                (void)!::send(c, out.data(), out.size(), MSG_NOSIGNAL);
            } else {
                for (size_t i = 0; i < out.size() && !stop_; ++i) {
                    if (::send(c, out.data() + i, 1, MSG_NOSIGNAL) != 1) break;
                    std::this_thread::sleep_for(std::chrono::milliseconds(dripMs_));
                }
            }
            ::close(c);
        }
    }

    std::vector<std::string> answers_;
    int dripMs_ = 0;
    mutable std::mutex mutex_;
    std::string last_;
    int fd_ = -1, port_ = 0;
    std::atomic<int> requests_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

std::string answer(int status, const std::string& reason, const std::string& code, const std::string& etag = "") {
    const std::string body = code.empty() ? "" : "<Error><Code>" + code + "</Code></Error>";
    std::string h = "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\nConnection: close\r\n";
    if (!etag.empty()) h += "ETag: \"" + etag + "\"\r\n";
    return h + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

s3::RetryPolicy fast() {
    s3::RetryPolicy p;
    p.attempts = 4;
    p.firstDelay = std::chrono::milliseconds(20);
    return p;
}

TEST(Answer, TryAgainAnswersAreRetriedWithBackoffThenReported) {
    const std::string etag = s3::md5Hex("doc");
    struct Case {
        std::vector<std::string> answers;
        long status;
        int requests;
    } cases[] = {
        {{answer(503, "Slow Down", "SlowDown"), answer(500, "Internal", "InternalError"), answer(200, "OK", "", etag)},
         200,
         3},
        {{answer(503, "Service Unavailable", "SlowDown")}, 503, 4},  // gives up after the attempts
        // a plain 503, without a code to say "slow down", is still "try again"
        {{answer(503, "Service Unavailable", ""), answer(502, "Bad Gateway", ""), answer(200, "OK", "", etag)}, 200, 3},
        {{answer(403, "Forbidden", "AccessDenied"), answer(200, "OK", "", etag)}, 403, 1},  // at once
        {{answer(404, "Not Found", "NoSuchBucket"), answer(200, "OK", "", etag)}, 404, 1},
    };
    for (const auto& c : cases) {
        ScriptedServer server(c.answers);
        s3::Client client({"AK", "SECRET"}, "us-east-1", fast());
        const auto start = std::chrono::steady_clock::now();
        const auto r = client.send(s3::putObject({server.endpoint(), "b", "us-east-1"}, "k", "doc", std::nullopt));
        EXPECT_EQ(r.status, c.status) << r.describe();
        EXPECT_EQ(server.requests(), c.requests);
        EXPECT_EQ(r.attempts, c.requests);
        if (c.requests > 1) {
            // 20 ms, then 40, then 80: the pauses grow.
            EXPECT_GE(std::chrono::steady_clock::now() - start,
                      std::chrono::milliseconds(20 * ((1 << (c.requests - 1)) - 1)));
        }
    }
}


TEST(Answer, RedirectIsNamedAndNeverFollowed) {
    ScriptedServer elsewhere({answer(200, "OK", "")});
    const std::string location = elsewhere.endpoint() + "/b/k";
    const std::string body =
        "<Error><Code>PermanentRedirect</Code><Endpoint>b.s3.sa-east-1.amazonaws.com</Endpoint></Error>";
    struct Case {
        std::string answer, named;
    } cases[] = {
        {"HTTP/1.1 301 Moved Permanently\r\nConnection: close\r\nLocation: " + location +
             "\r\nContent-Length: 0\r\n\r\n",
         location},
        {"HTTP/1.1 301 Moved Permanently\r\nConnection: close\r\nContent-Length: " + std::to_string(body.size()) +
             "\r\n\r\n" + body,
         "b.s3.sa-east-1.amazonaws.com"},
        {"HTTP/1.1 307 Temporary Redirect\r\nConnection: close\r\nLocation: " + location +
             "\r\nContent-Length: 0\r\n\r\n",
         location},
    };
    for (const auto& c : cases) {
        ScriptedServer server({c.answer});
        s3::Client client({"AK", "SECRET"}, "us-east-1", fast());
        const auto r = client.send(s3::putObject({server.endpoint(), "b", "us-east-1"}, "k", "doc", std::nullopt));
        EXPECT_FALSE(r.ok());
        EXPECT_EQ(server.requests(), 1);
        EXPECT_NE(r.describe().find(c.named), std::string::npos) << r.describe();
        EXPECT_NE(r.describe().find("outra região"), std::string::npos) << r.describe();
    }
    // Neither the document nor the signed headers went where the answers pointed.
    EXPECT_EQ(elsewhere.requests(), 0);
}

std::string httpDate(std::time_t t) {
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S GMT", &tm);
    return buf;
}

TEST(Answer, ASkewedClockIsNamedAsTheClockNotTheKeys) {
    const std::string skewed = "<Error><Code>RequestTimeTooSkewed</Code></Error>";
    struct Case {
        std::string answer;
        bool clock;
    } cases[] = {
        {"HTTP/1.1 403 Forbidden\r\nConnection: close\r\nContent-Length: " + std::to_string(skewed.size()) +
             "\r\n\r\n" + skewed,
         true},
        // a HEAD's refusal has no body: the server's Date tells
        {"HTTP/1.1 403 Forbidden\r\nConnection: close\r\nDate: " + httpDate(std::time(nullptr) - 17 * 60) +
             "\r\nContent-Length: 0\r\n\r\n",
         true},
        {"HTTP/1.1 403 Forbidden\r\nConnection: close\r\nDate: " + httpDate(std::time(nullptr) + 3600) +
             "\r\nContent-Length: 0\r\n\r\n",
         true},
        {"HTTP/1.1 403 Forbidden\r\nConnection: close\r\nDate: " + httpDate(std::time(nullptr)) +
             "\r\nContent-Length: 0\r\n\r\n",
         false},
    };
    for (const auto& c : cases) {
        ScriptedServer server({c.answer});
        StoreSettings settings;
        settings.endpoint = server.endpoint();
        settings.bucket = "b";
        settings.company = "11222333000181";
        ObjectStoreDestination d(settings, {"AK", "SECRET"}, "", fast());
        try {
            d.prepare();
            ADD_FAILURE() << "accepted";
        } catch (const std::runtime_error& e) {
            const std::string what = e.what();
            EXPECT_EQ(what.rfind("Nuvem:", 0), 0u) << what;
            EXPECT_EQ(what.find("relógio deste computador") != std::string::npos, c.clock) << what;
            EXPECT_EQ(what.find("confira as chaves") == std::string::npos, c.clock) << what;
        }
    }
}

TEST(Answer, AHugeOrEndlessAnswerEndsTheRequestNamingTheKey) {
    const std::string huge(8u << 20, 'x');
    std::string headers = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
    while (headers.size() < (8u << 20)) headers += "X-Pad: " + std::string(1000, 'p') + "\r\n";
    s3::RetryPolicy policy = fast();
    policy.maxAnswerBytes = 64 * 1024;
    policy.timeLimit = std::chrono::seconds(2);
    struct Case {
        std::string answer;
        int dripMs;
        std::string why;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " + std::to_string(huge.size()) + "\r\n\r\n" + huge,
         0, "passou de 64 KiB"},
        {"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + huge, 0, "passou de 64 KiB"},  // no length: until closed
        {headers + "\r\n", 0, "passou de 64 KiB"},
        // a few bytes a second: never a stall, never an end
        {"HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 5000\r\n\r\n" + std::string(5000, 'x'), 50,
         "não terminou em 2 s"},
    };
    for (const auto& c : cases) {
        ScriptedServer server({c.answer}, c.dripMs);
        s3::Client client({"AK", "SECRET"}, "us-east-1", policy);
        const auto r = client.send(s3::getObject({server.endpoint(), "b", "us-east-1"}, "empresa/NFe1.XML"));
        EXPECT_FALSE(r.ok());
        EXPECT_EQ(server.requests(), 1) << "retried: " << r.describe();
        const std::string what = r.describe();
        EXPECT_EQ(what.rfind("Nuvem:", 0), 0u) << what;
        EXPECT_NE(what.find(c.why), std::string::npos) << what;
        EXPECT_NE(what.find("\"empresa/NFe1.XML\""), std::string::npos) << what;
        EXPECT_LE(r.body.size(), policy.maxAnswerBytes);
    }
    // The bound on time grows with the body sent.
    EXPECT_EQ(s3::requestTimeLimit(policy, 0), std::chrono::seconds(2));
    EXPECT_EQ(s3::requestTimeLimit(policy, 10 * 256 * 1024), std::chrono::seconds(12));
}

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

TEST(Request, ASessionTokenIsSentAndSigned) {
    for (const std::string token : {"", "IQoJb3JpZ2luX2VjEXAMPLETOKEN/+="}) {
        ScriptedServer server({answer(200, "OK", "")});
        s3::Client client({"AK", "SECRET", token}, "us-east-1", fast());
        const auto r = client.send(s3::headBucket({server.endpoint(), "b", "us-east-1"}));
        EXPECT_TRUE(r.ok()) << r.describe();
        const std::string request = lower(server.lastRequest());
        const auto auth = request.find("\r\nauthorization: ");
        ASSERT_NE(auth, std::string::npos) << request;
        const std::string authorization = request.substr(auth, request.find("\r\n", auth + 2) - auth);
        if (token.empty()) {
            EXPECT_EQ(request.find("x-amz-security-token"), std::string::npos) << request;
        } else {
            EXPECT_NE(request.find("\r\nx-amz-security-token: " + lower(token) + "\r\n"), std::string::npos) << request;
            EXPECT_NE(authorization.find("x-amz-security-token"), std::string::npos) << authorization;
        }
    }
}

TEST(StoreSettings, SecretsInTheAddressAreRefusedWithoutBeingShown) {
    const std::string secret = "wJalrXUtnFEMIK7MDENGbPxRfiCYEXAMPLEKEY";
    for (const std::string url : {
             "AKIDEXAMPLE:" + secret + "@s3.example.com:9000/b",
             "https://AKIDEXAMPLE:" + secret + "@s3.example.com/b",
             "s3.example.com:" + secret + "/b",
             "https://s3.example.com:" + secret + "/b",
             "https://s3.example.com/b?X-Amz-Credential=AKIDEXAMPLE&X-Amz-Signature=" + secret,
             "https://s3.example.com/b#" + secret,
             "https://s3.example.com/" + secret,
             "https://s3.example.com/b/" + secret + ":x",
             "https://" + secret + "_/b",
             "http://" + secret + "/b",
             secret,
         }) {
        try {
            parseStoreSettings({url, "", "", "", "", "11222333000181"});
            ADD_FAILURE() << url << " accepted";
        } catch (const std::invalid_argument& e) {
            EXPECT_EQ(std::string(e.what()).find(secret.substr(0, 8)), std::string::npos) << e.what();
            EXPECT_EQ(std::string(e.what()).find("wjalr"), std::string::npos) << e.what();
        }
    }
}

TEST(StoreSettings, PrefixPartsMustBeFolderNamesOrganizarAccepts) {
    for (const char* prefix : {"a\\b", "%2e%2e", "a/%2E%2E/b", "...", "a/.../b", "C:", "C:/x", "a/b:c", "a\x01z",
                               "a\x7fz", "pasta.", "a|b", "a*b", "a\"b", "a<b>"}) {
        try {
            parseStoreSettings({std::string("https://h/b/") + prefix, "", "", "", "", "11222333000181"});
            ADD_FAILURE() << prefix << " accepted";
        } catch (const std::invalid_argument& e) {
            const std::string what = e.what();
            EXPECT_TRUE(what.find("prefixo inválido") != std::string::npos ||
                        what.find("caractere de controle") != std::string::npos)
                << prefix << ": " << what;
        }
    }
    const auto s = parseStoreSettings({"https://h/b/clientes.2026/a-b_c/S\xC3\xA3o", "", "", "", "", "11222333000181"});
    ASSERT_TRUE(s);
    EXPECT_EQ(s->prefix, "clientes.2026/a-b_c/S\xC3\xA3o/");
}

TEST(StoreSettings, AnUnreadableNuvemCAIsRefusedAtTheStart) {
    const fs::path dir = fs::temp_directory_path() / ("store-ca-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path pem = dir / "ca.pem";
    std::ofstream(pem) << "-----BEGIN CERTIFICATE-----\n";
    for (const fs::path& bad : {dir / "ausente.pem", dir}) {
        try {
            parseStoreSettings({"https://h/b", "", "", "", "", "11222333000181", bad.string()});
            ADD_FAILURE() << bad << " accepted";
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find("NuvemCA"), std::string::npos) << e.what();
        }
    }
    const auto s = parseStoreSettings({"https://h/b", "", "", "", "", "11222333000181", pem.string()});
    ASSERT_TRUE(s);
    EXPECT_EQ(s->caFile, pem.string());
    fs::remove_all(dir);
}

// A credentials file of 0600 with keys for [default] and [outro].
class CredentialsFile {
public:
    CredentialsFile()
        : dir_(fs::temp_directory_path() / ("store-keys-" + std::to_string(::getpid()))),
          env_("AWS_SHARED_CREDENTIALS_FILE", (dir_ / "credentials").c_str()) {
        fs::create_directories(dir_);
        std::ofstream(dir_ / "credentials") << "[default]\naws_access_key_id=AKFILE\naws_secret_access_key=SECRETFILE\n"
                                               "[outro]\naws_access_key_id=AKOUTRO\naws_secret_access_key=SECRETOUTRO\n"
                                               "aws_session_token = TOKENOUTRO\n";
        ::chmod((dir_ / "credentials").c_str(), 0600);
    }
    ~CredentialsFile() { fs::remove_all(dir_); }

private:
    fs::path dir_;
    Env env_;
};

TEST(Credentials, PartOfTheKeysInTheEnvironmentIsRefusedNotMixedWithTheFile) {
    CredentialsFile file;
    Env profile("AWS_PROFILE", nullptr);
    struct Case {
        const char *id, *secret, *token, *missing;
    } cases[] = {
        {"AKENVONLY", nullptr, nullptr, "AWS_SECRET_ACCESS_KEY"},
        {nullptr, "SECRETENVONLY", nullptr, "AWS_ACCESS_KEY_ID"},
        {nullptr, nullptr, "TOKENENVONLY", "AWS_ACCESS_KEY_ID e AWS_SECRET_ACCESS_KEY"},
        {"AKENVONLY", nullptr, "TOKENENVONLY", "AWS_SECRET_ACCESS_KEY"},
    };
    for (const auto& c : cases) {
        Env a("AWS_ACCESS_KEY_ID", c.id), b("AWS_SECRET_ACCESS_KEY", c.secret), t("AWS_SESSION_TOKEN", c.token);
        try {
            const AwsKeys keys = loadAwsKeys("");
            ADD_FAILURE() << c.missing << " missing, accepted with " << keys.accessKey;
        } catch (const std::runtime_error& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find("incompletas"), std::string::npos) << what;
            EXPECT_NE(what.find("falta " + std::string(c.missing)), std::string::npos) << what;
            EXPECT_EQ(what.find("ENVONLY"), std::string::npos) << what;
        }
    }
}

TEST(Credentials, SessionTokensAndAwsProfile) {
    CredentialsFile file;
    Env a("AWS_ACCESS_KEY_ID", nullptr), b("AWS_SECRET_ACCESS_KEY", nullptr), t("AWS_SESSION_TOKEN", nullptr);
    struct Case {
        const char* nuvemPerfil;
        const char* awsProfile;
        const char *accessKey, *token;
    } cases[] = {
        {"", nullptr, "AKFILE", ""},
        {"", "outro", "AKOUTRO", "TOKENOUTRO"},
        {"default", "outro", "AKFILE", ""},  // NuvemPerfil first
        {"outro", nullptr, "AKOUTRO", "TOKENOUTRO"},
    };
    for (const auto& c : cases) {
        Env p("AWS_PROFILE", c.awsProfile);
        SCOPED_TRACE(std::string(c.nuvemPerfil) + " / " + (c.awsProfile ? c.awsProfile : "-"));
        const auto s = parseStoreSettings({"https://h/b", "", c.nuvemPerfil, "", "", "11222333000181"});
        ASSERT_TRUE(s);
        const AwsKeys keys = loadAwsKeys(s->profile);
        EXPECT_EQ(keys.accessKey, c.accessKey);
        EXPECT_EQ(keys.sessionToken, c.token);
        EXPECT_EQ(loadAwsKeys(c.nuvemPerfil).accessKey, c.accessKey);
    }
    Env x("AWS_ACCESS_KEY_ID", "AKENV"), y("AWS_SECRET_ACCESS_KEY", "SECRETENV"), z("AWS_SESSION_TOKEN", "TOKENENV");
    const AwsKeys env = loadAwsKeys("outro");
    EXPECT_EQ(env.accessKey, "AKENV");
    EXPECT_EQ(env.sessionToken, "TOKENENV");
    // A line break in a key would smuggle headers into every request.
    Env injected("AWS_SESSION_TOKEN", "TOKEN\r\nx-amz-acl: public-read");
    EXPECT_THROW(loadAwsKeys("outro"), std::runtime_error);
}

TEST(Credentials, NoCoreDumpOnceKeysAreLoaded) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Dumps on, as far as this process may turn them on, then the keys.
        ::prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);
        rlimit core{};
        ::getrlimit(RLIMIT_CORE, &core);
        core.rlim_cur = core.rlim_max;
        ::setrlimit(RLIMIT_CORE, &core);
        ::setenv("AWS_ACCESS_KEY_ID", "AKCHILD", 1);
        ::setenv("AWS_SECRET_ACCESS_KEY", "SECRETCHILD", 1);
        if (::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) != 1) ::_exit(3);
        const AwsKeys keys = loadAwsKeys("");
        if (keys.secretKey != "SECRETCHILD") ::_exit(4);
        if (::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) != 0) ::_exit(5);
        ::getrlimit(RLIMIT_CORE, &core);
        if (core.rlim_cur != 0) ::_exit(6);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "3: dumps could not be turned on; 5: still dumpable; 6: core limit kept";
}

}  // namespace
