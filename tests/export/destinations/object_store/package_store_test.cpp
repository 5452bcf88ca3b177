// The month's archive into a real radosgw from its file: in parts above the
// multipart size (retention and Content-MD5 as Object Lock asks), a part the
// network drops retried alone, an upload that cannot finish aborted, a
// CompleteMultipartUpload that answers 200 with an <Error> not taken for
// success, and an unchanged archive never stored again.
#include "export/core/summary.h"
#include "tests/support/store_helpers.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <thread>

using namespace exports;
using namespace storetest;
namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t MiB = 1u << 20;

// A relay in front of the gateway that sees the requests go by: it counts
// each part's requests and drops or answers some of them itself.
class PartRelay {
public:
    enum class Mode {
        DropPartOnce,          // the first request of part `part` is cut
        DropPartAlways,        // every request of part `part` is cut
        CompleteAnswersError,  // CompleteMultipartUpload gets "200 OK" with an <Error> body
    };

    PartRelay(int targetPort, Mode mode, int part = 2) : target_(targetPort), mode_(mode), part_(part) {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(listen_, 16) != 0 || ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            throw std::runtime_error("relay: no loopback port");
        port_ = ntohs(a.sin_port);
        acceptor_ = std::thread([this] { acceptLoop(); });
    }
    ~PartRelay() {
        stop_ = true;
        ::shutdown(listen_, SHUT_RDWR);
        acceptor_.join();
        for (auto& t : threads_) t.join();
        ::close(listen_);
    }

    int port() const { return port_; }
    int requestsOfPart(int part) {
        std::lock_guard<std::mutex> lock(mutex_);
        return parts_[part];
    }
    int completes() const { return completes_; }

private:
    void acceptLoop() {
        for (;;) {
            pollfd p{listen_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) {
                if (stop_) return;
                continue;
            }
            const int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) return;
            threads_.emplace_back([this, client] { relay(client); });
        }
    }

    // What the client's bytes hold, seen with the end of the bytes before
    // them: true when the connection is to be cut here.
    bool inspect(int client, std::string& carry, const char* data, size_t size) {
        const std::string seen = carry + std::string(data, size);
        const size_t fresh = carry.size();
        bool cut = false;
        for (size_t at = 0; (at = seen.find("?partNumber=", at)) != std::string::npos; ++at) {
            size_t end = at + 12;
            while (end < seen.size() && std::isdigit(static_cast<unsigned char>(seen[end]))) ++end;
            if (end >= seen.size() || seen[end] != '&' || end < fresh) continue;  // not whole yet, or counted
            const int part = std::stoi(seen.substr(at + 12, end - at - 12));
            int count;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                count = ++parts_[part];
            }
            if (part == part_ && (mode_ == Mode::DropPartAlways || (mode_ == Mode::DropPartOnce && count == 1)))
                cut = true;
        }
        const size_t line = seen.rfind("POST ");
        if (line != std::string::npos && line + 5 >= fresh && seen.find("?uploadId=", line) != std::string::npos &&
            seen.find('\n', line) > seen.find("?uploadId=", line)) {
            ++completes_;
            if (mode_ == Mode::CompleteAnswersError) {
                const std::string body =
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Error><Code>InternalError</Code>"
                    "<Message>We encountered an internal error.</Message></Error>";
                const std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: application/xml\r\nContent-Length: " +
                                           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
                (void)!::write(client, answer.data(), answer.size());
                cut = true;
            }
        }
        carry = seen.size() > 1024 ? seen.substr(seen.size() - 1024) : seen;
        return cut;
    }

    void relay(int client) {
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(target_));
        if (::connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(server);
            ::close(client);
            return;
        }
        std::string carry;
        std::vector<char> buf(1 << 16);
        while (!stop_) {
            pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            if (::poll(p, 2, 100) <= 0) continue;
            bool closed = false;
            for (int i = 0; i < 2 && !closed; ++i) {
                if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                const ssize_t n = ::read(p[i].fd, buf.data(), buf.size());
                if (n <= 0 || (i == 0 && inspect(client, carry, buf.data(), size_t(n)))) {
                    closed = true;
                    break;
                }
                for (ssize_t done = 0; done < n;) {
                    const ssize_t w = ::write(p[1 - i].fd, buf.data() + done, size_t(n - done));
                    if (w <= 0) break;
                    done += w;
                }
            }
            if (closed) break;
        }
        ::close(server);
        ::close(client);
    }

    int listen_ = -1, port_ = 0, target_;
    Mode mode_;
    int part_;
    std::mutex mutex_;
    std::map<int, int> parts_;
    std::atomic<int> completes_{0};
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
    std::thread acceptor_;
};

int gatewayPort() {
    const std::string endpoint = testsupport::CephCluster::shared()->endpoint();
    return std::stoi(endpoint.substr(endpoint.rfind(':') + 1));
}

// An archive-sized file of bytes that do not compress.
struct ArchiveFile {
    fs::path dir, path;
    std::string bytes;
    explicit ArchiveFile(std::uint64_t size) {
        dir = fs::temp_directory_path() / ("store-multipart-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        path = dir / "NFe-2021-02.zip";
        std::mt19937_64 random(size);
        bytes.resize(size);
        for (size_t i = 0; i + 8 <= bytes.size(); i += 8) {
            const std::uint64_t v = random();
            std::memcpy(bytes.data() + i, &v, 8);
        }
        std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    }
    ~ArchiveFile() { fs::remove_all(dir); }
};

std::unique_ptr<ObjectStoreDestination> destination(const StoreSettings& s) {
    auto d = std::make_unique<ObjectStoreDestination>(s, clusterKeys(), "pacotes/", quickRetries());
    d->setMultipart(5 * MiB, 5 * MiB);  // the store's smallest part
    return d;
}

std::string pendingUploads(const std::string& bucket) {
    const auto r = send(s3::listMultipartUploads(target(bucket), ""));
    EXPECT_TRUE(r.ok()) << r.describe();
    return s3::xmlElement(r.body, "UploadId");
}

class PackageStore : public testing::Test {
protected:
    void SetUp() override { REQUIRE_CEPH_CLUSTER(); }
};

}  // namespace

// 12 MiB in three parts into an Object Lock bucket: the bytes come back
// whole, protected until the retention ends, with the archive's SHA-256; the
// same archive again, and again through a fresh destination, adds no version.
TEST_F(PackageStore, ArchiveInPartsArrivesWholeProtectedAndIsNotStoredTwice) {
    const ArchiveFile file(12 * MiB + 12345);
    const std::string bucket = newBucket("parts", true);
    auto s = settings(bucket, "escritorio/");
    s.retentionMode = "GOVERNANCE";
    s.retention = std::chrono::hours(24);
    const std::string key = "escritorio/" + kCompany + "/pacotes/NFe-2021-02.zip";
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        auto d = destination(s);
        d->prepare();
        d->putFile("NFe-2021-02.zip", file.path.string());
        EXPECT_EQ(d->written(), run == 0 ? 1 : 0);
        EXPECT_EQ(d->unchanged(), run == 0 ? 0 : 1);
        RunSummary summary;
        d->finish(summary);
        const auto v = versions(bucket);
        ASSERT_EQ(v.size(), 1u);
        // protected: its retention is the one asked, and the version cannot be deleted
        const auto retention = send(s3::getRetention(target(bucket), key, v[0].versionId));
        EXPECT_EQ(s3::xmlElement(retention.body, "Mode"), "GOVERNANCE") << retention.describe() << retention.body;
        EXPECT_EQ(send(s3::deleteObject(target(bucket), key, v[0].versionId)).status, 403);
    }
    const auto stored = send(s3::getObject(target(bucket), key));
    ASSERT_TRUE(stored.ok()) << stored.describe();
    EXPECT_TRUE(stored.body == file.bytes);
    EXPECT_EQ(stored.header("x-amz-meta-sha256"), s3::sha256Hex(file.bytes));
    EXPECT_NE(stored.header("etag").find("-3\""), std::string::npos) << stored.header("etag");
    EXPECT_EQ(pendingUploads(bucket), "");

    // a changed archive is a new version; one under the multipart size goes whole
    const ArchiveFile changed(3 * MiB);
    auto d = destination(s);
    d->putFile("NFe-2021-02.zip", changed.path.string());
    d->putFile("NFe-2021-02.zip", changed.path.string());
    EXPECT_EQ(d->written(), 1);
    EXPECT_EQ(d->unchanged(), 1);
    EXPECT_TRUE(send(s3::getObject(target(bucket), key)).body == changed.bytes);
    EXPECT_EQ(versions(bucket).size(), 2u);
}

// The network drops one part's request: that part alone goes again and the
// upload completes with every byte.
TEST_F(PackageStore, APartDroppedOnceIsRetriedAloneAndTheUploadCompletes) {
    const ArchiveFile file(16 * MiB + 7);
    const std::string bucket = newBucket("dropped", false);
    PartRelay relay(gatewayPort(), PartRelay::Mode::DropPartOnce, 2);
    auto s = settings(bucket, "");
    s.endpoint = "http://127.0.0.1:" + std::to_string(relay.port());
    auto d = destination(s);
    d->putFile("NFe-2021-02.zip", file.path.string());
    EXPECT_EQ(d->written(), 1);
    EXPECT_EQ(relay.requestsOfPart(1), 1);
    EXPECT_EQ(relay.requestsOfPart(2), 2);
    EXPECT_EQ(relay.requestsOfPart(3), 1);
    EXPECT_EQ(relay.requestsOfPart(4), 1);
    EXPECT_EQ(relay.completes(), 1);
    EXPECT_TRUE(send(s3::getObject(target(bucket), kCompany + "/pacotes/NFe-2021-02.zip")).body == file.bytes);
    EXPECT_EQ(pendingUploads(bucket), "");
}

// A part that never gets through, or a join the store reports failed in a
// 200 answer: the run fails naming the key, the upload is aborted (no parts
// left behind) and no object is stored.
TEST_F(PackageStore, AnUploadThatCannotFinishIsAbortedAndNothingIsStored) {
    for (const auto mode : {PartRelay::Mode::DropPartAlways, PartRelay::Mode::CompleteAnswersError}) {
        const bool dropped = mode == PartRelay::Mode::DropPartAlways;
        SCOPED_TRACE(dropped ? "part dropped" : "complete answers an error");
        const ArchiveFile file(11 * MiB);
        const std::string bucket = newBucket("aborted", false);
        PartRelay relay(gatewayPort(), mode, 2);
        auto s = settings(bucket, "");
        s.endpoint = "http://127.0.0.1:" + std::to_string(relay.port());
        auto d = destination(s);
        try {
            d->putFile("NFe-2021-02.zip", file.path.string());
            ADD_FAILURE() << "no failure";
        } catch (const std::exception& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find("pacotes/NFe-2021-02.zip"), std::string::npos) << what;
            EXPECT_NE(what.find(dropped ? "parte 2" : "InternalError"), std::string::npos) << what;
        }
        if (dropped) EXPECT_EQ(relay.completes(), 0);
        EXPECT_EQ(pendingUploads(bucket), "");
        EXPECT_TRUE(versions(bucket).empty());
        EXPECT_EQ(d->written(), 0);
    }
}

// What the store checks before it keeps a part or an upload: the retention
// and the archive's digest where the upload begins, a Content-MD5 and payload
// hash on each part, and the query names in the order they are signed.
TEST(Request, MultipartUploadCarriesRetentionMetadataAndPartDigests) {
    const s3::Target t{"http://127.0.0.1:7480", "arquivo", "us-east-1"};
    const auto create = s3::createMultipartUpload(t, "c/pacotes/NFe-2021-02.zip",
                                                  s3::Retention{"COMPLIANCE", "2031-01-01T00:00:00.000Z"},
                                                  {{"sha256", std::string(64, 'a')}});
    EXPECT_EQ(create.method, "POST");
    EXPECT_EQ(create.url, "http://127.0.0.1:7480/arquivo/c/pacotes/NFe-2021-02.zip?uploads=");
    EXPECT_EQ(s3::headerValue(create, "x-amz-object-lock-mode"), "COMPLIANCE");
    EXPECT_EQ(s3::headerValue(create, "x-amz-object-lock-retain-until-date"), "2031-01-01T00:00:00.000Z");
    EXPECT_EQ(s3::headerValue(create, "x-amz-meta-sha256"), std::string(64, 'a'));

    const std::string bytes(5 << 20, '\x01');
    const auto part = s3::uploadPart(t, "c/pacotes/NFe-2021-02.zip", "2~a/b+c", 7, bytes);
    EXPECT_EQ(part.method, "PUT");
    EXPECT_EQ(part.url, "http://127.0.0.1:7480/arquivo/c/pacotes/NFe-2021-02.zip?partNumber=7&uploadId=2~a%2Fb%2Bc");
    EXPECT_EQ(s3::headerValue(part, "Content-MD5"), s3::md5Base64(bytes));
    EXPECT_EQ(s3::headerValue(part, "x-amz-content-sha256"), s3::sha256Hex(bytes));
    EXPECT_TRUE(part.body == bytes);

    const auto join = s3::completeMultipartUpload(t, "k", "u", {{1, "\"aa\""}, {2, "\"bb\""}});
    EXPECT_EQ(join.body,
              "<CompleteMultipartUpload><Part><PartNumber>1</PartNumber><ETag>\"aa\"</ETag></Part>"
              "<Part><PartNumber>2</PartNumber><ETag>\"bb\"</ETag></Part></CompleteMultipartUpload>");
    EXPECT_EQ(s3::headerValue(join, "x-amz-content-sha256"), s3::sha256Hex(join.body));
    EXPECT_EQ(s3::abortMultipartUpload(t, "k", "u").method, "DELETE");
    const auto lock = s3::putRetention(t, "k", "v1", {"GOVERNANCE", "2031-01-01T00:00:00.000Z"});
    EXPECT_EQ(lock.url, "http://127.0.0.1:7480/arquivo/k?retention=&versionId=v1");
    EXPECT_EQ(s3::headerValue(lock, "Content-MD5"), s3::md5Base64(lock.body));
}
