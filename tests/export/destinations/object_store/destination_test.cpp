// The object store destination against a real radosgw: bytes read back,
// versions counted, retention checked by trying to delete, the gateway killed
// mid-run, wrong keys, a bucket without Object Lock, and four companies
// sharing a bucket at once.
#include "export/core/summary.h"
#include "tests/support/store_helpers.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <zip.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <map>
#include <set>
#include <thread>
#include <tuple>

using namespace exports;
using namespace storetest;

namespace {

std::string xmlOf(int n, const std::string& company = "") {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><nfeProc><NFe><infNFe Id=\"NFe" + std::to_string(n) +
                       "\"><emit>" + company + "</emit>";
    // Some weight, and bytes that are not text.
    for (int i = 0; i < 40 + n % 17; ++i) text += "<det nItem=\"" + std::to_string(i) + "\">\xC3\xA7\x01</det>";
    return text + "</infNFe></NFe></nfeProc>";
}

std::string fileName(int n) { return "NFe3521" + std::to_string(1000000 + n) + ".XML"; }

std::map<std::string, std::string> documents(int count, const std::string& company = "") {
    std::map<std::string, std::string> docs;  // relative path -> text
    for (int n = 1; n <= count; ++n) {
        const std::string folder = n % 3 == 0 ? "" : n % 3 == 1 ? "11222333000181/2021-02/Entrada/" : "S\xE3o Paulo/";
        docs[folder + fileName(n)] = xmlOf(n, company);
    }
    return docs;
}

void putAll(ObjectStoreDestination& d, const std::map<std::string, std::string>& docs) {
    for (const auto& [path, text] : docs) {
        const auto slash = path.rfind('/');
        const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
        EXPECT_EQ(d.put(document(folder, path.substr(folder.size()), text)), PutResult::Pending);
    }
}

std::string body(const std::string& bucket, const std::string& key, const std::string& version = "") {
    const auto r = send(s3::getObject(target(bucket), key, version));
    EXPECT_TRUE(r.ok()) << key << ": " << r.describe();
    return r.body;
}

class ObjectStore : public testing::Test {
protected:
    void SetUp() override { REQUIRE_CEPH_CLUSTER(); }
};

TEST_F(ObjectStore, DocumentsArriveByteForByteAndASecondRunAddsNoVersion) {
    // Object Lock turns versioning on, so a needless upload would show as a version.
    const std::string bucket = newBucket("bytes", true);
    const auto docs = documents(120);
    RunSummary first;
    {
        ObjectStoreDestination d(settings(bucket, "escritorio/"), clusterKeys(), "", quickRetries());
        d.prepare();
        putAll(d, docs);
        d.finish(first);
        EXPECT_EQ(d.written(), 120);
        EXPECT_EQ(d.unchanged(), 0);
    }
    EXPECT_NE(first.note.find("enviados=120"), std::string::npos) << first.note;
    for (const auto& [path, text] : docs) {
        // The file's bytes: the text and its CR LF; a code-page folder name as UTF-8.
        const std::string key = "escritorio/" + kCompany + "/" +
                                (path.rfind("S\xE3o", 0) == 0 ? "S\xC3\xA3o" + path.substr(3) : path);
        EXPECT_EQ(body(bucket, key), text + "\r\n") << key;
    }

    auto changed = docs;
    changed.begin()->second += "<!-- corrigido -->";
    {
        ObjectStoreDestination d(settings(bucket, "escritorio/"), clusterKeys(), "", quickRetries());
        d.prepare();
        putAll(d, changed);
        RunSummary again;
        d.finish(again);
        EXPECT_EQ(d.written(), 1);
        EXPECT_EQ(d.unchanged(), 119);
    }
    const auto all = versions(bucket);
    EXPECT_EQ(all.size(), 121u);
}

TEST_F(ObjectStore, PackageFilesKeepTheirBytesUnderPacotes) {
    const std::string bucket = newBucket("package", false);
    std::string zip("PK\x03\x04\0\0\xFF\r\n\x00z", 12);
    for (unsigned i = 0; i < 300000; ++i) zip += static_cast<char>(i * 7919u % 256u);
    ObjectStoreDestination d(settings(bucket, "cliente/"), clusterKeys(), "pacotes/", quickRetries());
    d.prepare();
    d.putBytes("2021-02.zip", zip);
    d.putBytes("2021-02-manifesto.csv", "arquivo;chave\r\n");
    RunSummary s;
    d.finish(s);
    EXPECT_EQ(body(bucket, "cliente/" + kCompany + "/pacotes/2021-02.zip"), zip);
    EXPECT_EQ(body(bucket, "cliente/" + kCompany + "/pacotes/2021-02-manifesto.csv"), "arquivo;chave\r\n");
}

TEST_F(ObjectStore, TheMonthsArchiveAndItsTwoListsGoUnderPacotes) {
    const std::string bucket = newBucket("month", false);
    const auto dir = std::filesystem::temp_directory_path() / ("store-pkg-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string archive = (dir / "NFe-2021-02.zip").string();
    const std::string manifest = "arquivo;chave\r\nEmitidas/NFe1.XML;1\r\n", gaps = "emitente;modelo\r\n";
    {
        int error = 0;
        zip_t* z = zip_open(archive.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
        ASSERT_NE(z, nullptr);
        // Kept alive until the archive is closed: that is when libzip reads them.
        const std::vector<std::pair<std::string, std::string>> members = {
            {"Emitidas/NFe1.XML", xmlOf(1)}, {"manifesto.csv", manifest}, {"lacunas.csv", gaps}};
        for (const auto& [name, bytes] : members)
            zip_file_add(z, name.c_str(), zip_source_buffer(z, bytes.data(), bytes.size(), 0), 0);
        ASSERT_EQ(zip_close(z), 0);
    }
    std::ifstream in(archive, std::ios::binary);
    std::stringstream zipBytes;
    zipBytes << in.rdbuf();

    PackageStoreDestination d(std::make_unique<ObjectStoreDestination>(settings(bucket, "cliente/"), clusterKeys(),
                                                                       "pacotes/", quickRetries()));
    d.prepare();
    EXPECT_EQ(d.put(document("Emitidas/", "NFe1.XML", xmlOf(1))), PutResult::Pending);
    RunSummary s;
    s.package = archive;
    d.finish(s);
    EXPECT_EQ(body(bucket, "cliente/" + kCompany + "/pacotes/NFe-2021-02.zip"), zipBytes.str());
    EXPECT_EQ(body(bucket, "cliente/" + kCompany + "/pacotes/NFe-2021-02-manifesto.csv"), manifest);
    EXPECT_EQ(body(bucket, "cliente/" + kCompany + "/pacotes/NFe-2021-02-lacunas.csv"), gaps);
    EXPECT_EQ(versions(bucket).size(), 3u);  // the documents travel only inside the archive
    std::filesystem::remove_all(dir);
}

std::time_t parseUtc(const std::string& iso) {
    std::tm tm{};
    if (!strptime(iso.c_str(), "%Y-%m-%dT%H:%M:%S", &tm)) return 0;
    return timegm(&tm);
}

TEST_F(ObjectStore, RetentionAsConfiguredAndTheVersionCannotBeDeletedUntilItEnds) {
    const std::string bucket = newBucket("lock", true);
    auto s = settings(bucket, "");
    s.retentionMode = "COMPLIANCE";
    s.retention = std::chrono::seconds(6);
    const std::time_t before = std::time(nullptr);
    {
        ObjectStoreDestination d(s, clusterKeys(), "", quickRetries());
        d.prepare();
        d.put(document("a/", "NFe1.XML", xmlOf(1)));
        RunSummary sum;
        d.finish(sum);
        EXPECT_EQ(d.written(), 1);
    }
    const auto v = versions(bucket);
    ASSERT_EQ(v.size(), 1u);
    const std::string key = kCompany + "/a/NFe1.XML";
    const auto retention = send(s3::getRetention(target(bucket), key, v[0].versionId));
    ASSERT_TRUE(retention.ok()) << retention.describe() << retention.body;
    EXPECT_EQ(s3::xmlElement(retention.body, "Mode"), "COMPLIANCE");
    // The store answers with nine fraction digits.
    const std::time_t until = parseUtc(s3::xmlElement(retention.body, "RetainUntilDate"));
    EXPECT_GE(until, before + 5) << retention.body;
    EXPECT_LE(until, std::time(nullptr) + 7) << retention.body;

    const auto refused = send(s3::deleteObject(target(bucket), key, v[0].versionId));
    EXPECT_EQ(refused.status, 403) << refused.describe();
    // Without a version id a delete only hides the object behind a marker.
    EXPECT_TRUE(send(s3::deleteObject(target(bucket), key)).ok());
    EXPECT_EQ(body(bucket, key, v[0].versionId), xmlOf(1) + "\r\n");

    while (std::time(nullptr) <= until + 1) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto expired = send(s3::deleteObject(target(bucket), key, v[0].versionId));
    EXPECT_TRUE(expired.ok()) << expired.describe();
}

TEST_F(ObjectStore, ACopyStoredBeforeTheRetentionWasSetGetsAProtectedVersion) {
    const std::string bucket = newBucket("later", true);
    auto run = [&](bool withRetention) {
        auto s = settings(bucket, "");
        if (withRetention) {
            s.retentionMode = "GOVERNANCE";
            s.retention = std::chrono::hours(1);
        }
        ObjectStoreDestination d(s, clusterKeys(), "", quickRetries());
        d.prepare();
        d.put(document("", "NFe1.XML", xmlOf(1)));
        RunSummary sum;
        d.finish(sum);
        return d.written();
    };
    EXPECT_EQ(run(false), 1);
    EXPECT_EQ(run(false), 0);
    EXPECT_EQ(run(true), 1);
    EXPECT_EQ(run(true), 0);
    EXPECT_EQ(versions(bucket).size(), 2u);
}

TEST_F(ObjectStore, RetentionAskedOfABucketWithoutObjectLockIsRefusedBeforeTheFirstDocument) {
    const std::string bucket = newBucket("nolock", false);
    auto s = settings(bucket, "");
    s.retentionMode = "GOVERNANCE";
    s.retentionDays = 30;
    s.retention = std::chrono::hours(24 * 30);
    ObjectStoreDestination d(s, clusterKeys(), "", quickRetries());
    try {
        d.prepare();
        FAIL() << "accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("não tem Object Lock"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find(bucket), std::string::npos) << e.what();
    }
    // Without a retention the same bucket is fine.
    ObjectStoreDestination plain(settings(bucket, ""), clusterKeys(), "", quickRetries());
    EXPECT_NO_THROW(plain.prepare());
}

TEST_F(ObjectStore, WrongKeysOrAMissingBucketFailAtOnceNamingTheBucketAndNoSecret) {
    const std::string bucket = newBucket("keys", false);
    const AwsKeys right = clusterKeys();
    struct Case {
        std::string bucket;
        AwsKeys keys;
        std::string says;
    } cases[] = {
        {bucket, {right.accessKey, "WRONGSECRETwrongsecretWRONGSECRET1234567"}, "chave secreta não confere"},
        {bucket, {"NOSUCHACCESSKEY12345", right.secretKey}, "chave de acesso não é conhecida"},
        {bucket + "-absent", right, "não existe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        ObjectStoreDestination d(settings(c.bucket, ""), c.keys, "", quickRetries());
        const auto start = std::chrono::steady_clock::now();
        try {
            d.prepare();
            ADD_FAILURE() << "accepted";
        } catch (const std::runtime_error& e) {
            const std::string m = e.what();
            EXPECT_NE(m.find(c.says), std::string::npos) << m;
            EXPECT_NE(m.find(c.bucket), std::string::npos) << m;
            EXPECT_EQ(m.find(c.keys.secretKey), std::string::npos) << m;
            EXPECT_EQ(m.find(right.secretKey), std::string::npos) << m;
        }
        // Not retried: the answer will not change.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    }
    // The same refusal on an upload, when the keys stop working mid-run.
    ObjectStoreDestination d(settings(bucket, ""), {right.accessKey, "WRONGSECRETwrongsecretWRONGSECRET1234567"}, "",
                             quickRetries());
    RunSummary s;
    try {
        d.put(document("", "NFe9.XML", "x"));
        d.finish(s);
        ADD_FAILURE() << "accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("NFe9.XML"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("403"), std::string::npos) << e.what();
    }
}

TEST_F(ObjectStore, GatewayKilledMidRunFailsNamingTheKeyAndTheNextRunCompletesIt) {
    auto* cluster = testsupport::CephCluster::shared();
    const std::string bucket = newBucket("killed", false);
    const auto docs = documents(300);
    std::string error;
    {
        ObjectStoreDestination d(settings(bucket, ""), clusterKeys(), "", quickRetries(), 8);
        d.prepare();
        int n = 0;
        try {
            for (const auto& [path, text] : docs) {
                if (++n == 100) cluster->stopGateway();
                const auto slash = path.rfind('/');
                const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
                d.put(document(folder, path.substr(folder.size()), text));
            }
            RunSummary s;
            d.finish(s);
        } catch (const std::runtime_error& e) {
            error = e.what();
            d.abandon();
        }
    }
    ASSERT_TRUE(cluster->startGateway());
    ASSERT_NE(error, "") << "the run went on without the store";
    EXPECT_NE(error.find("sem resposta"), std::string::npos) << error;
    EXPECT_NE(error.find(".XML\""), std::string::npos) << error;
    EXPECT_NE(error.find("3 tentativas"), std::string::npos) << error;

    ObjectStoreDestination d(settings(bucket, ""), clusterKeys(), "", quickRetries());
    d.prepare();
    putAll(d, docs);
    RunSummary s;
    d.finish(s);
    EXPECT_GT(d.unchanged(), 0);
    EXPECT_EQ(d.written() + d.unchanged(), 300);
    std::set<std::string> keys;
    for (const auto& v : versions(bucket)) keys.insert(v.key);
    EXPECT_EQ(keys.size(), 300u);
    for (const auto& [path, text] : docs) {
        if (path.rfind("S\xE3o", 0) != 0) {
            EXPECT_EQ(body(bucket, kCompany + "/" + path), text + "\r\n") << path;
        }
    }
}

TEST_F(ObjectStore, ProcessKilledMidUploadLeavesNoTornObjectAndTheRerunCompletes) {
    const std::string bucket = newBucket("sigkill", true);
    const auto docs = documents(400);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        try {
            ObjectStoreDestination d(settings(bucket, ""), clusterKeys(), "", quickRetries(), 16);
            d.prepare();
            putAll(d, docs);
            RunSummary s;
            d.finish(s);
        } catch (...) {
        }
        ::_exit(0);
    }
    // Killed once some documents are stored and more are in flight.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (versions(bucket).size() < 40 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the upload ended before it could be killed";
    const size_t before = versions(bucket).size();
    EXPECT_LT(before, docs.size());

    ObjectStoreDestination d(settings(bucket, ""), clusterKeys(), "", quickRetries());
    d.prepare();
    putAll(d, docs);
    RunSummary s;
    d.finish(s);
    EXPECT_GE(static_cast<size_t>(d.unchanged()), before);
    // One version each: what was stored whole was recognised, nothing was stored torn.
    EXPECT_EQ(versions(bucket).size(), docs.size());
    for (const auto& [path, text] : docs) {
        if (path.rfind("S\xE3o", 0) != 0) {
            EXPECT_EQ(body(bucket, kCompany + "/" + path), text + "\r\n") << path;
        }
    }
}

TEST_F(ObjectStore, FourCompaniesAtOnceIntoOneBucketKeepEveryObject) {
    const std::string bucket = newBucket("office", true);
    const std::string cnpjs[4] = {"11222333000181", "22333444000192", "33444555000103", "44555666000114"};
    std::vector<std::thread> runs;
    std::string errors[4];
    for (int c = 0; c < 4; ++c) {
        runs.emplace_back([&, c] {
            try {
                auto s = settings(bucket, "escritorio/");
                s.company = cnpjs[c];
                s.retentionMode = "GOVERNANCE";
                s.retention = std::chrono::hours(24);
                ObjectStoreDestination d(s, clusterKeys(), "", quickRetries(), 8);
                d.prepare();
                // The same file names in every company: only {cnpj} tells them apart.
                for (int n = 1; n <= 150; ++n) d.put(document(cnpjs[c] + "/2021-02/", fileName(n), xmlOf(n, cnpjs[c])));
                RunSummary sum;
                d.finish(sum);
                if (d.written() != 150) errors[c] = "written " + std::to_string(d.written());
            } catch (const std::exception& e) {
                errors[c] = e.what();
            }
        });
    }
    for (auto& t : runs) t.join();
    for (const auto& e : errors) EXPECT_EQ(e, "");
    const auto all = versions(bucket);
    EXPECT_EQ(all.size(), 600u);  // one version each: nothing written twice
    for (int c = 0; c < 4; ++c)
        for (int n = 1; n <= 150; n += 37)
            EXPECT_EQ(body(bucket, "escritorio/" + cnpjs[c] + "/" + cnpjs[c] + "/2021-02/" + fileName(n)),
                      xmlOf(n, cnpjs[c]) + "\r\n");
}

// A retention the store cannot date (past 2106-02-07 it keeps 1970 or so) is
// read back and the run fails naming the object instead of calling it kept.
TEST_F(ObjectStore, ARetentionTheStoreKeptShorterFailsTheRunNamingTheObject) {
    const std::string bucket = newBucket("wrap", true);
    auto s = settings(bucket, "");
    s.retentionMode = "GOVERNANCE";  // what the store makes of it can be deleted by the test
    s.retention = std::chrono::hours(24) * 30000;
    ObjectStoreDestination d(s, clusterKeys(), "", quickRetries());
    d.prepare();
    d.put(document("a/", "NFe1.XML", xmlOf(1)));
    RunSummary sum;
    try {
        d.finish(sum);
        ADD_FAILURE() << "finished: " << sum.note;
    } catch (const DestinationError& e) {
        const std::string m = e.what();
        EXPECT_NE(m.find(kCompany + "/a/NFe1.XML"), std::string::npos) << m;
        EXPECT_NE(m.find("retenção"), std::string::npos) << m;
    }
    EXPECT_EQ(d.written(), 0);
}

// A retention raised after the documents were stored (1 minute GOVERNANCE,
// then 2 minutes COMPLIANCE) is put on the stored version, not counted as
// unchanged and not sent as a second copy.
TEST_F(ObjectStore, ARaisedRetentionExtendsTheStoredVersion) {
    const std::string bucket = newBucket("raise", true);
    auto run = [&](const char* mode, std::chrono::seconds retention) {
        auto s = settings(bucket, "");
        s.retentionMode = mode;
        s.retention = retention;
        ObjectStoreDestination d(s, clusterKeys(), "", quickRetries());
        d.prepare();
        for (int n = 1; n <= 3; ++n) d.put(document("", fileName(n), xmlOf(n)));
        RunSummary sum;
        d.finish(sum);
        return std::make_tuple(d.written(), d.unchanged(), d.extended(), sum.note);
    };
    const std::time_t start = std::time(nullptr);
    EXPECT_EQ(std::get<0>(run("GOVERNANCE", std::chrono::seconds(60))), 3);
    const auto [written, unchanged, extended, note] = run("COMPLIANCE", std::chrono::seconds(120));
    EXPECT_EQ(written, 0);
    EXPECT_EQ(unchanged, 0);
    EXPECT_EQ(extended, 3);
    EXPECT_NE(note.find("retencao_estendida=3"), std::string::npos) << note;
    const auto all = versions(bucket);
    ASSERT_EQ(all.size(), 3u);  // extended in place: no second copy
    for (const auto& v : all) {
        const auto r = send(s3::getRetention(target(bucket), v.key, v.versionId));
        ASSERT_TRUE(r.ok()) << r.describe();
        EXPECT_EQ(s3::xmlElement(r.body, "Mode"), "COMPLIANCE") << v.key;
        EXPECT_GE(parseUtc(s3::xmlElement(r.body, "RetainUntilDate")), start + 119) << r.body;
    }
    // Kept as asked now: nothing more to do.
    const auto again = run("COMPLIANCE", std::chrono::seconds(120));
    EXPECT_EQ(std::get<1>(again), 3);
    EXPECT_EQ(std::get<2>(again), 0);
}

// Two installations of one company storing the same documents at once: the
// conditional PUT lets one of them store each key, the other finds it stored.
// (radosgw 16 checks If-None-Match against the new version in a versioned
// bucket, so there both may store a key: see the README.)
TEST_F(ObjectStore, TwoInstallationsOfOneCompanyAtOnceStoreEachDocumentOnce) {
    const std::string bucket = newBucket("twice", false);
    const auto docs = documents(200);
    std::vector<std::thread> runs;
    std::string errors[2];
    long written[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        runs.emplace_back([&, i] {
            try {
                ObjectStoreDestination d(settings(bucket, "escritorio/"), clusterKeys(), "", quickRetries(), 16);
                d.prepare();
                putAll(d, docs);
                RunSummary sum;
                d.finish(sum);
                written[i] = d.written();
                if (d.written() + d.unchanged() != 200) errors[i] = sum.note;
            } catch (const std::exception& e) {
                errors[i] = e.what();
            }
        });
    }
    for (auto& t : runs) t.join();
    for (const auto& e : errors) EXPECT_EQ(e, "");
    EXPECT_EQ(written[0] + written[1], 200);  // each key stored by one of them
    EXPECT_EQ(versions(bucket).size(), 200u);
    for (const auto& [path, text] : docs)
        if (path.rfind("S\xE3o", 0) != 0) EXPECT_EQ(body(bucket, "escritorio/" + kCompany + "/" + path), text + "\r\n");
}

}  // namespace
