// The office's view of a bucket shared by several companies: each run leaves
// its record under <prefix><company>/execucoes/, and "/escritorio" reads the
// records back (never the documents) to name the companies that failed, went
// silent or lack last month's package.
#include "export/office/office.h"
#include "export/core/package_run.h"
#include "export/office/run_record.h"
#include "tests/export/office/office_helpers.h"
#include "tests/support/workspace.h"

#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <thread>

namespace {

using namespace exptest;
using namespace storetest;
using namespace std::chrono_literals;
using Json = nlohmann::json;

// Documents of `cnpj` whose keys belong to last month, so /pacote of that month holds them.
std::vector<Doc> lastMonthDocs(const std::string& cnpj, int count) {
    const std::string month = exports::previousMonth(std::time(nullptr));  // AAAA-MM
    std::vector<Doc> docs;
    for (int n = 1; n <= count; ++n) {
        Doc d;
        d.seq = n;
        d.moment = month + "-0" + std::to_string(1 + n % 9) + " 10:00:0" + std::to_string(n % 10);
        char number[10];
        std::snprintf(number, sizeof number, "%09d", n);
        d.key = "35" + month.substr(2, 2) + month.substr(5, 2) + cnpj + "55001" + number + "1" + "12345678" + "0";
        d.cnpj = cnpj;
        d.tipo = "NF";
        d.entsai = "S";
        d.issued = month + "-02";
        d.xml = "<nfeProc><emit>" + cnpj + "</emit><n>" + std::to_string(n) + "</n></nfeProc>";
        docs.push_back(d);
    }
    return docs;
}

class OfficeProgram : public testing::Test {
protected:
    void SetUp() override { REQUIRE_CEPH_CLUSTER(); }

    // A company's machine: its database, its folder, the shared bucket.
    std::unique_ptr<Workspace> company(const std::string& bucket, const std::string& cnpj, int docs,
                                       bool retention = true) {
        auto w = std::make_unique<Workspace>(Mode::Embedded);
        w->createDatabase(lastMonthDocs(cnpj, docs));
        w->writeConfig("01/01/2010", "00:00:00", w->out.string());
        spit(w->ini, slurp(w->ini) + "Nuvem=" + testsupport::CephCluster::shared()->endpoint() + "/" + bucket +
                         "/escritorio\r\nNuvemEmpresa=" + cnpj + "\r\n" +
                         (retention ? "NuvemRetencaoDias=1\r\nNuvemRetencaoModo=GOVERNANCE\r\n" : ""));
        return w;
    }

    ClusterKeysInEnvironment keys_;
};

const std::string kA = "11222333000181", kB = "22333444000181", kC = "33444555000181", kD = "44555666000181";

TEST_F(OfficeProgram, FourCompaniesEachNamedForWhatTheyNeedThenAllHealthy) {
    const std::string bucket = newBucket("office", true);
    const std::string month = exports::previousMonth(std::time(nullptr));
    auto a = company(bucket, kA, 12), b = company(bucket, kB, 5), c = company(bucket, kC, 7),
         d = company(bucket, kD, 3);
    Workspace office(Mode::Embedded);
    office.writeConfig("01/01/2010", "00:00:00", office.out.string());
    spit(office.ini, slurp(office.ini) + "Nuvem=" + testsupport::CephCluster::shared()->endpoint() + "/" + bucket +
                         "/escritorio\r\n");
    EXPECT_EQ(office.run({"/escritorio"}).status, exports::kOfficeNoCompany);

    // C runs first, then stays silent for longer than the office's limit (0.02 h = 72 s).
    for (const auto& args : {std::vector<std::string>{"/executa"}, {"/pacote", month}}) {
        const RunResult r = c->run(args);
        ASSERT_EQ(r.status, 0) << r.out << r.err;
    }
    const auto silentSince = std::chrono::steady_clock::now();
    std::this_thread::sleep_until(silentSince + 76s);
    // B completes, then fails: its output folder is a file now.
    ASSERT_EQ(b->run({"/pacote", month}).status, 0);
    ASSERT_EQ(b->run().status, 0);
    fs::remove_all(b->out);
    spit(b->out, "não é uma pasta");
    const RunResult failed = b->run();
    ASSERT_EQ(failed.status, 1) << failed.err;
    // D never makes last month's package.
    ASSERT_EQ(d->run().status, 0);
    const RunResult aRun = a->run();
    ASSERT_EQ(aRun.status, 0) << aRun.err;
    ASSERT_EQ(a->run({"/pacote", month}).status, 0);

    // A's record: the history's object, the machine, the version, what went to the store, under Object Lock.
    const auto records = listKeys(bucket, "escritorio/" + kA + "/execucoes/");
    ASSERT_EQ(records.size(), 2u);
    const auto first = send(exports::s3::getObject(target(bucket), records[0]));
    const Json record = Json::parse(first.body);
    EXPECT_EQ(record["tipo"], "executa");
    EXPECT_EQ(record["resultado"], "completo");
    EXPECT_EQ(record["enviados"], 12);
    EXPECT_EQ(record["maquina"], exports::machineName());
    EXPECT_EQ(record["versao"], exports::programVersion());
    EXPECT_FALSE(first.header("x-amz-object-lock-mode").empty()) << records[0];
    const auto bRecords = listKeys(bucket, "escritorio/" + kB + "/execucoes/");
    ASSERT_EQ(bRecords.size(), 3u);
    EXPECT_EQ(Json::parse(send(exports::s3::getObject(target(bucket), bRecords[2])).body)["resultado"], "falhou");

    const RunResult report = office.run({"/escritorio", "0.02"});
    EXPECT_EQ(report.status, exports::kOfficeAttention) << report.out << report.err;
    const std::string attention = report.out.substr(report.out.find("Atenção:"));
    EXPECT_NE(attention.find(kB + " falhou"), std::string::npos) << report.out;
    EXPECT_NE(attention.find(kC + " silenciosa"), std::string::npos) << report.out;
    EXPECT_NE(attention.find(kD + " sem o pacote de " + month), std::string::npos) << report.out;
    EXPECT_EQ(attention.find(kA), std::string::npos) << report.out;
    EXPECT_NE(report.out.find(kA + ": ok; última execução: pacote"), std::string::npos) << report.out;

    const RunResult json = office.run({"/escritorio", "0.02", "--json"});
    EXPECT_EQ(json.status, exports::kOfficeAttention);
    const Json j = Json::parse(json.out);
    std::map<std::string, Json> byName;
    for (const auto& e : j["empresas"]) byName[e["nome"]] = e;
    ASSERT_EQ(byName.size(), 4u) << json.out;
    EXPECT_EQ(byName[kA]["estado"], "ok");
    EXPECT_EQ(byName[kB]["estado"], "falhou");
    EXPECT_EQ(byName[kC]["estado"], "silenciosa");
    EXPECT_EQ(byName[kD]["estado"], "incompleta");
    EXPECT_EQ(byName[kA]["documentos_mes"], 12);
    EXPECT_EQ(byName[kA]["documentos_por_dia"].back(), 12);
    EXPECT_EQ(byName[kA]["pacote"]["arquivo"], "NFe-" + month + ".zip");
    EXPECT_TRUE(byName[kA]["pacote"]["presente"]);
    EXPECT_FALSE(byName[kD]["pacote"]["presente"]);

    // Everyone healthy: B's folder back, C runs again, D makes its package.
    fs::remove(b->out);
    fs::create_directories(b->out);
    ASSERT_EQ(b->run().status, 0);
    ASSERT_EQ(c->run().status, 0);
    ASSERT_EQ(d->run({"/pacote", month}).status, 0);
    const RunResult healthy = office.run({"/escritorio"});
    EXPECT_EQ(healthy.status, exports::kOfficeOk) << healthy.out << healthy.err;
    EXPECT_EQ(healthy.out.find("Atenção"), std::string::npos) << healthy.out;
}

TEST_F(OfficeProgram, ARecordTheStoreRefusesIsToldButTheRunStands) {
    const std::string bucket = newBucket("office-deny", false);
    // The documents may go, the records may not.
    putPolicy(bucket, R"({"Version":"2012-10-17","Statement":[{"Effect":"Deny","Principal":{"AWS":["*"]},)"
                      R"("Action":["s3:PutObject"],"Resource":["arn:aws:s3:::)" +
                          bucket + R"(/escritorio/*/execucoes/*"]}]})");
    auto w = company(bucket, kA, 4, false);
    const RunResult r = w->run();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.err.find("registro da execução não enviado"), std::string::npos) << r.err;
    EXPECT_NE(slurp(w->ini.parent_path() / "ConfigQuillan.log.jsonl").find("registro da execução não enviado"),
              std::string::npos);
    EXPECT_TRUE(listKeys(bucket, "escritorio/" + kA + "/execucoes/").empty());
    EXPECT_EQ(listKeys(bucket, "escritorio/").size(), 4u);
}

TEST_F(OfficeProgram, AFailedRunWithTheStoreAwaySaysItsRecordDidNotGo) {
    Workspace w(Mode::Embedded);
    w.createDatabase(lastMonthDocs(kA, 2));
    w.writeConfig("01/01/2010", "00:00:00", w.out.string());
    // A loopback port nobody listens on.
    spit(w.ini, slurp(w.ini) + "Nuvem=http://127.0.0.1:9/ninguem/escritorio\r\nNuvemEmpresa=" + kA + "\r\n");
    const RunResult r = w.run();
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("registro da execução não enviado"), std::string::npos) << r.err;
}

}  // namespace
