// The destination and the client against radosgw seen through a relay: an
// answer altered on its way back, and TLS with the office's own certificate
// authority in front of the plain gateway.
#include "export/core/summary.h"
#include "tests/support/store_helpers.h"
#include "tests/support/store_relay.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

using namespace exports;
using namespace storetest;
namespace fs = std::filesystem;

namespace {

int gatewayPort() {
    const std::string endpoint = testsupport::CephCluster::shared()->endpoint();
    return std::stoi(endpoint.substr(endpoint.rfind(':') + 1));
}

class ObjectStoreRelayed : public testing::Test {
protected:
    void SetUp() override { REQUIRE_CEPH_CLUSTER(); }
};

TEST_F(ObjectStoreRelayed, AnAnswerWithAnotherEtagFailsTheRunNamingTheKey) {
    const std::string bucket = newBucket("etag", false);
    // The PUT's answer says 200 with an ETag that is not the document's MD5:
    // the store kept other bytes than were sent.
    testsupport::StoreRelay relay(gatewayPort(), {[](std::string& piece) {
                                                      for (const char* name : {"ETag: \"", "etag: \""}) {
                                                          const auto at = piece.find(name);
                                                          if (at != std::string::npos && at + 8 < piece.size())
                                                              piece[at + 7] = piece[at + 7] == '0' ? '1' : '0';
                                                      }
                                                  },
                                                  "", ""});
    StoreSettings s = settings(bucket, "escritorio/");
    s.endpoint = "http://127.0.0.1:" + std::to_string(relay.port());
    ObjectStoreDestination d(s, clusterKeys(), "", quickRetries());
    d.prepare();
    d.put(document("", "NFe1.XML", "<nfeProc>um</nfeProc>"));
    RunSummary summary;
    try {
        d.finish(summary);
        ADD_FAILURE() << "a changed ETag accepted: " << summary.note;
    } catch (const std::runtime_error& e) {
        const std::string what = e.what();
        EXPECT_EQ(what.rfind("Nuvem:", 0), 0u) << what;
        EXPECT_NE(what.find("escritorio/11222333000181/NFe1.XML"), std::string::npos) << what;
        EXPECT_NE(what.find("ETag"), std::string::npos) << what;
    }
    EXPECT_EQ(d.written(), 0);
}

// An authority and a certificate for 127.0.0.1 it signed, made now.
struct Authority {
    fs::path dir;
    bool made = false;
    explicit Authority(const std::string& name)
        : dir(fs::temp_directory_path() / ("store-ca-" + name + "-" + std::to_string(::getpid()))) {
        fs::create_directories(dir);
        const std::string d = dir.string();
        const std::string cmd =
            "cd '" + d +
            "' && printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\\n' > ext && "
            "openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj '/CN=" +
            name +
            "' && openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj /CN=127.0.0.1 && "
            "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 "
            "-extfile ext";
        made = std::system(("(" + cmd + ") >/dev/null 2>&1").c_str()) == 0;
    }
    ~Authority() { fs::remove_all(dir); }
    std::string file(const char* name) const { return (dir / name).string(); }
};

TEST_F(ObjectStoreRelayed, APrivateAuthorityIsTrustedOnlyWhenNamedAndARefusedCertificateIsNotRetried) {
    Authority office("Escritorio CA"), other("Outra CA");
    ASSERT_TRUE(office.made && other.made) << "openssl could not make the certificates";
    testsupport::StoreRelay relay(gatewayPort(), {{}, office.file("server.pem"), office.file("server.key")});
    const std::string bucket = newBucket("tls", false);
    const s3::Target target{"https://127.0.0.1:" + std::to_string(relay.port()), bucket, "us-east-1"};
    Env a("SSL_CERT_FILE", nullptr), b("CURL_CA_BUNDLE", nullptr);

    struct Case {
        std::string nuvemCA, sslCertFile, curlCaBundle;
        bool trusted;
    } cases[] = {
        {"", "", "", false},  // the system's authorities do not know the office's
        {other.file("ca.pem"), "", "", false},
        {office.file("ca.pem"), "", "", true},
        {"", office.file("ca.pem"), "", true},
        {"", "", office.file("ca.pem"), true},
        {office.file("ca.pem"), other.file("ca.pem"), "", true},  // NuvemCA first
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.nuvemCA + " | " + c.sslCertFile + " | " + c.curlCaBundle);
        Env x("SSL_CERT_FILE", c.sslCertFile.empty() ? nullptr : c.sslCertFile.c_str());
        Env y("CURL_CA_BUNDLE", c.curlCaBundle.empty() ? nullptr : c.curlCaBundle.c_str());
        s3::RetryPolicy policy = quickRetries();
        policy.caFile = c.nuvemCA;
        s3::Client client(clusterKeys(), "us-east-1", policy);
        const int before = relay.refusedHandshakes();
        const auto r = client.send(s3::headBucket(target));
        if (c.trusted) {
            EXPECT_TRUE(r.ok()) << r.describe();
            continue;
        }
        EXPECT_FALSE(r.ok());
        EXPECT_EQ(r.attempts, 1) << "retried: " << r.describe();
        // The client may hear the refusal before the relay's thread counts it.
        for (int i = 0; i < 200 && relay.refusedHandshakes() == before; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(relay.refusedHandshakes() - before, 1);
        EXPECT_EQ(r.describe().rfind("Nuvem:", 0), 0u) << r.describe();
        EXPECT_NE(r.describe().find("certificado"), std::string::npos) << r.describe();
        EXPECT_NE(r.describe().find("NuvemCA"), std::string::npos) << r.describe();
    }

    // The whole destination through the settings' NuvemCA.
    StoreSettings s = settings(bucket, "tls/");
    s.endpoint = target.endpoint;
    s.caFile = office.file("ca.pem");
    ObjectStoreDestination d(s, clusterKeys(), "", quickRetries());
    d.prepare();
    d.put(document("", "NFe1.XML", "<nfeProc>tls</nfeProc>"));
    RunSummary summary;
    d.finish(summary);
    EXPECT_EQ(d.written(), 1);
    const auto back = send(s3::getObject(storetest::target(bucket), "tls/" + kCompany + "/NFe1.XML"));
    EXPECT_EQ(back.body, "<nfeProc>tls</nfeProc>\r\n");
}

}  // namespace
