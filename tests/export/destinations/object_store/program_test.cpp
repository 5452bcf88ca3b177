// The real program's runs with a Nuvem line, against the Ceph cluster the
// test program starts: /executa and /pacote put the same bytes in the folder
// and the bucket, the stamp moves only when both have them, and the store's
// failures end the run with status 1 and a message naming the store.
#include "tests/support/workspace.h"
#include "tests/support/store_helpers.h"
#include "tests/support/silent_proxy.h"

#include "export/history/history.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <set>
#include <thread>

namespace {

using namespace exptest;
using namespace storetest;
using namespace std::chrono_literals;

// A 44-digit access key of `cnpj`, February 2021, model 55, number `n`.
std::string keyOf(const std::string& cnpj, int n) {
    char number[10];
    std::snprintf(number, sizeof number, "%09d", n);
    return "352102" + cnpj + "55001" + number + "1" + "12345678" + "0";
}

std::vector<Doc> companyDocs(const std::string& cnpj, int count) {
    std::vector<Doc> docs;
    for (int n = 1; n <= count; ++n) {
        Doc d;
        d.seq = n;
        d.moment = "2021-02-0" + std::to_string(1 + n % 9) + " 10:00:0" + std::to_string(n % 10);
        d.key = keyOf(cnpj, n);
        d.cnpj = cnpj;
        d.tipo = n % 2 ? "NF" : "NE";
        d.entsai = "S";
        d.xml = "<nfeProc><emit>" + cnpj + "</emit><n>" + std::to_string(n) + "</n>" + std::string(2000, 'x') +
                "</nfeProc>";
        docs.push_back(d);
    }
    return docs;
}

// The versions of the documents: each run also leaves its record under execucoes/.
std::vector<Version> documentVersions(const std::string& bucket) {
    std::vector<Version> out;
    for (auto& v : versions(bucket))
        if (v.key.find("/execucoes/") == std::string::npos) out.push_back(std::move(v));
    return out;
}

// The keys of the cluster in the environment the program inherits.
class ClusterKeysInEnvironment {
public:
    ClusterKeysInEnvironment() {
        ::setenv("AWS_ACCESS_KEY_ID", clusterKeys().accessKey.c_str(), 1);
        ::setenv("AWS_SECRET_ACCESS_KEY", clusterKeys().secretKey.c_str(), 1);
        ::unsetenv("AWS_SHARED_CREDENTIALS_FILE");
    }
    ~ClusterKeysInEnvironment() {
        ::unsetenv("AWS_ACCESS_KEY_ID");
        ::unsetenv("AWS_SECRET_ACCESS_KEY");
        ::unsetenv("AWS_SHARED_CREDENTIALS_FILE");
    }
};

class StoreProgram : public testing::Test {
protected:
    void SetUp() override { REQUIRE_CEPH_CLUSTER(); }

    void configure(Workspace& w, const std::string& bucket, const std::string& extra = "",
                   const std::string& company = kCompany) {
        w.writeConfig("01/01/2010", "00:00:00", w.out.string());
        spit(w.ini, slurp(w.ini) +
                        "Organizar={cnpj}/{aaaa}-{mm}\r\nNuvem=" + testsupport::CephCluster::shared()->endpoint() +
                        "/" + bucket + "/escritorio\r\nNuvemEmpresa=" + company + "\r\n" + extra);
    }

    // Every file of the output folder is in the bucket under the company's part, same bytes.
    void expectStoreHoldsFolder(const Workspace& w, const std::string& bucket, const std::string& company = kCompany) {
        const auto files = Workspace::files(w.out);
        ASSERT_FALSE(files.empty());
        for (const auto& [name, bytes] : files) {
            const auto r = send(exports::s3::getObject(target(bucket), "escritorio/" + company + "/" + name));
            EXPECT_TRUE(r.ok()) << name << " " << r.describe();
            EXPECT_EQ(r.body, bytes) << name;
        }
    }

    ClusterKeysInEnvironment keys_;
};

TEST_F(StoreProgram, ExecutaPutsEveryDocumentInTheBucketAndASecondRunSendsNothing) {
    Workspace w(Mode::Embedded);
    w.createDatabase(companyDocs("11222333000181", 40));
    const std::string bucket = newBucket("executa", true);
    configure(w, bucket, "NuvemRetencaoDias=1\r\nNuvemRetencaoModo=GOVERNANCE\r\n");
    const RunResult first = w.run();
    ASSERT_EQ(first.status, 0) << first.out << first.err;
    EXPECT_NE(first.out.find("enviados=40"), std::string::npos) << first.out;
    EXPECT_NE(w.configValue("Data"), "01/01/2010");
    expectStoreHoldsFolder(w, bucket);

    const RunResult second = w.run();
    ASSERT_EQ(second.status, 0) << second.out << second.err;
    EXPECT_EQ(documentVersions(bucket).size(), 40u);
}

TEST_F(StoreProgram, StoreFailuresEndTheRunWithStatusOneAndTheStampUnmoved) {
    Workspace w(Mode::Embedded);
    w.createDatabase(companyDocs("11222333000181", 10));
    const std::string plain = newBucket("plain", false);
    struct Case {
        std::string bucket, extra, says;
        std::function<void()> setup;
    } cases[] = {
        {plain, "NuvemRetencaoDias=30\r\nNuvemRetencaoModo=COMPLIANCE\r\n", "não tem Object Lock", [] {}},
        {plain, "", "chave secreta não confere",
         [] { ::setenv("AWS_SECRET_ACCESS_KEY", "WRONGSECRETwrongsecretWRONGSECRET1234567", 1); }},
        {plain + "-absent", "", "não existe", [] {}},
        {plain, "", "pode ser lido por outros",
         [&] {
             ::unsetenv("AWS_ACCESS_KEY_ID");
             ::unsetenv("AWS_SECRET_ACCESS_KEY");
             const auto file = w.dir / "credentials";
             spit(file, "[default]\naws_access_key_id=" + clusterKeys().accessKey +
                            "\naws_secret_access_key=" + clusterKeys().secretKey + "\n");
             ::chmod(file.c_str(), 0644);
             ::setenv("AWS_SHARED_CREDENTIALS_FILE", file.c_str(), 1);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        ClusterKeysInEnvironment restored;
        c.setup();
        configure(w, c.bucket, c.extra);
        const RunResult r = w.run();
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_NE(r.err.find("Nuvem"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(w.configValue("Data"), "01/01/2010");
        // Refused before the first document: nothing in the folder either.
        EXPECT_TRUE(Workspace::files(w.out).empty());
        for (const auto& secret : {clusterKeys().secretKey, std::string("WRONGSECRET")}) {
            EXPECT_EQ(r.out.find(secret), std::string::npos);
            EXPECT_EQ(r.err.find(secret), std::string::npos);
            EXPECT_EQ(slurp(w.ini.parent_path() / "ConfigQuillan.log.jsonl").find(secret), std::string::npos);
        }
    }
}

TEST_F(StoreProgram, AnUnusableNuvemLineFailsTheRunInsteadOfSkippingTheStore) {
    Workspace w(Mode::Embedded);
    w.createDatabase(companyDocs("11222333000181", 3));
    const std::string bucket = newBucket("unusable", false);
    struct Case {
        std::string lines, says;
    } cases[] = {
        {"Nuvem=http://s3.example.com/arquivo\r\nNuvemEmpresa=" + kCompany + "\r\n", "http:// só é aceito"},
        // a usable store, but no company to keep its keys apart from the others'
        {"Nuvem=" + testsupport::CephCluster::shared()->endpoint() + "/" + bucket + "/escritorio\r\n", "NuvemEmpresa"},
        {"Nuvem=" + testsupport::CephCluster::shared()->endpoint() + "/" + bucket + "/escritorio\r\nNuvemEmpresa=\r\n",
         "NuvemEmpresa"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        w.writeConfig("01/01/2010", "00:00:00", w.out.string());
        spit(w.ini, slurp(w.ini) + c.lines);
        const RunResult r = w.run();
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(w.configValue("Data"), "01/01/2010");
        EXPECT_TRUE(Workspace::files(w.out).empty());
    }
    EXPECT_TRUE(versions(bucket).empty());
}

TEST_F(StoreProgram, GatewayKilledMidRunThenRestartedTheNextRunCompletes) {
    auto* cluster = testsupport::CephCluster::shared();
    Workspace w(Mode::Embedded);
    w.createDatabase(companyDocs("11222333000181", 1500));
    const std::string bucket = newBucket("gateway", false);
    configure(w, bucket);
    const pid_t pid = w.start();
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    while (versions(bucket).size() < 100 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    cluster->stopGateway();
    const RunResult failed = w.wait(pid);
    ASSERT_TRUE(cluster->startGateway());
    EXPECT_EQ(failed.status, 1) << failed.out << failed.err;
    EXPECT_NE(failed.err.find("Nuvem"), std::string::npos) << failed.err;
    EXPECT_EQ(w.configValue("Data"), "01/01/2010");

    const RunResult again = w.run();
    ASSERT_EQ(again.status, 0) << again.out << again.err;
    EXPECT_EQ(Workspace::files(w.out).size(), 1500u);
    expectStoreHoldsFolder(w, bucket);
}

// The store stops answering mid-run behind a relay that keeps its connections
// open: the progress limit ends the run, and its record says it was the
// store, with what the run had done by then.
TEST_F(StoreProgram, AStoreThatStopsAnsweringEndsTheRunAsTheStoresWithItsCounts) {
    const std::string endpoint = testsupport::CephCluster::shared()->endpoint();
    testsupport::SilentProxy proxy(std::stoi(endpoint.substr(endpoint.rfind(':') + 1)), 20000);
    Workspace w(Mode::Embedded);
    w.createDatabase(companyDocs("11222333000181", 300));
    const std::string bucket = newBucket("silent", false);
    w.writeConfig("01/01/2010", "00:00:00", w.out.string());
    spit(w.ini, slurp(w.ini) +
                    "Organizar={cnpj}/{aaaa}-{mm}\r\nNuvem=http://127.0.0.1:" + std::to_string(proxy.port()) + "/" +
                    bucket + "/escritorio\r\nNuvemEmpresa=" + kCompany + "\r\nTempoSemProgresso=3\r\n");
    const RunResult r = w.run();
    EXPECT_TRUE(proxy.silent());
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(r.err.rfind("Nuvem: exportação abandonada: nenhum progresso em 3 s ", 0), 0u) << r.err;
    EXPECT_EQ(w.configValue("Data"), "01/01/2010");
    const auto last = exports::lastRun((w.dir / "ConfigQuillan.log.jsonl").string());
    ASSERT_TRUE(last);
    const long long files = static_cast<long long>(Workspace::files(w.out).size());
    EXPECT_GT(files, 0);
    EXPECT_EQ(last->written, files) << last->error;
    EXPECT_GE(last->examined, files);
    EXPECT_EQ(last->error.rfind("Nuvem: ", 0), 0u) << last->error;
}

TEST_F(StoreProgram, ProgramKilledMidUploadThenRerunLeavesNothingMissing) {
    Workspace w(Mode::Embedded);
    w.createDatabase(companyDocs("11222333000181", 1500));
    const std::string bucket = newBucket("sigkill-program", true);
    configure(w, bucket);
    const pid_t pid = w.start();
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    while (versions(bucket).size() < 100 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    ::kill(pid, SIGKILL);
    w.wait(pid);
    EXPECT_EQ(w.configValue("Data"), "01/01/2010");
    const RunResult again = w.run();
    ASSERT_EQ(again.status, 0) << again.out << again.err;
    EXPECT_EQ(Workspace::files(w.out).size(), 1500u);
    expectStoreHoldsFolder(w, bucket);
    EXPECT_EQ(documentVersions(bucket).size(), 1500u);  // what was stored whole was not sent again
}

TEST_F(StoreProgram, FourCompaniesExportingAtOnceShareOneBucket) {
    const std::string bucket = newBucket("companies", true);
    const std::string cnpjs[4] = {"11222333000181", "22333444000181", "33444555000181", "44555666000181"};
    std::vector<std::unique_ptr<Workspace>> ws;
    for (const auto& cnpj : cnpjs) {
        ws.push_back(std::make_unique<Workspace>(Mode::Embedded));
        ws.back()->createDatabase(companyDocs(cnpj, 200));
        configure(*ws.back(), bucket, "NuvemRetencaoDias=1\r\nNuvemRetencaoModo=GOVERNANCE\r\n", cnpj);
    }
    std::vector<pid_t> pids;
    for (auto& w : ws) pids.push_back(w->start());
    for (size_t i = 0; i < ws.size(); ++i) {
        const RunResult r = ws[i]->wait(pids[i]);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
    }
    EXPECT_EQ(documentVersions(bucket).size(), 800u);  // none written over another
    for (size_t i = 0; i < ws.size(); ++i) expectStoreHoldsFolder(*ws[i], bucket, cnpjs[i]);
}

TEST_F(StoreProgram, PacoteSendsTheArchiveAndItsListsUnderPacotes) {
    Workspace w(Mode::Embedded);
    w.createDatabase(companyDocs("11222333000181", 30));
    const std::string bucket = newBucket("pacote", false);
    configure(w, bucket);
    const RunResult r = w.run({"/pacote", "2021-02"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const auto zip = slurp(w.out / "NFe-2021-02.zip");
    ASSERT_FALSE(zip.empty());
    const auto stored = send(exports::s3::getObject(target(bucket),
                                                    "escritorio/" + kCompany + "/pacotes/NFe-2021-02.zip"));
    EXPECT_EQ(stored.body, zip);
    for (const char* list : {"manifesto", "lacunas"}) {
        const auto l = send(exports::s3::getObject(target(bucket),
                                                   "escritorio/" + kCompany + "/pacotes/NFe-2021-02-" + list + ".csv"));
        EXPECT_TRUE(l.ok()) << list << " " << l.describe();
    }
}

// A key stored twice, a large rejected copy (its upload outlasts the other's)
// and then the authorised text in a later row: the bucket's current version is the folder's file, and it is the
// only version of that key (the rejected copy never went out).
TEST_F(StoreProgram, AKeyStoredTwiceSendsOnlyTheTextTheFolderKeeps) {
    Workspace w(Mode::Embedded);
    auto docs = companyDocs("11222333000181", 40);
    for (int i = 0; i < 40; i += 2) {
        docs[i + 1].key = docs[i].key;
        docs[i + 1].tipo = docs[i].tipo;
        docs[i].xml = "<nfeProc><NFe/><protNFe><infProt><cStat>302</cStat></infProt></protNFe>" +
                      std::string(60000, 'r') + "</nfeProc>";
        docs[i + 1].xml = "<nfeProc><NFe/><protNFe><infProt><cStat>100</cStat></infProt></protNFe></nfeProc>";
    }
    w.createDatabase(docs);
    const std::string bucket = newBucket("twice-stored", true);
    configure(w, bucket, "NuvemRetencaoDias=1\r\nNuvemRetencaoModo=GOVERNANCE\r\n");
    const RunResult r = w.run();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("enviados=20"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("gravados=20"), std::string::npos) << r.out;
    const auto files = Workspace::files(w.out);
    EXPECT_EQ(files.size(), 20u);
    for (const auto& [name, bytes] : files) EXPECT_EQ(bytes.find("302"), std::string::npos) << name;
    expectStoreHoldsFolder(w, bucket);
    EXPECT_EQ(documentVersions(bucket).size(), 20u);
}

// Four companies packaging one month at once into one bucket: four archives,
// each under its company and equal to its folder's.
TEST_F(StoreProgram, FourCompaniesPackagingOneMonthAtOnceKeepFourPackages) {
    const std::string bucket = newBucket("packages", false);
    const std::string cnpjs[4] = {"11222333000181", "22333444000181", "33444555000181", "44555666000181"};
    std::vector<std::unique_ptr<Workspace>> ws;
    for (const auto& cnpj : cnpjs) {
        ws.push_back(std::make_unique<Workspace>(Mode::Embedded));
        ws.back()->createDatabase(companyDocs(cnpj, 60));
        configure(*ws.back(), bucket, "", cnpj);
    }
    std::vector<pid_t> pids;
    for (auto& w : ws) pids.push_back(w->start({"/pacote", "2021-02"}));
    for (size_t i = 0; i < ws.size(); ++i) {
        const RunResult r = ws[i]->wait(pids[i]);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
    }
    std::set<std::string> archives;
    for (size_t i = 0; i < ws.size(); ++i) {
        const auto zip = slurp(ws[i]->out / "NFe-2021-02.zip");
        ASSERT_FALSE(zip.empty());
        const auto stored = send(exports::s3::getObject(target(bucket),
                                                        "escritorio/" + cnpjs[i] + "/pacotes/NFe-2021-02.zip"));
        EXPECT_TRUE(stored.ok()) << cnpjs[i] << " " << stored.describe();
        EXPECT_EQ(stored.body, zip) << cnpjs[i];
        archives.insert(zip);
    }
    EXPECT_EQ(archives.size(), 4u);
    for (const auto& v : documentVersions(bucket)) EXPECT_NE(v.key.find("/pacotes/"), std::string::npos) << v.key;
}

}  // namespace
