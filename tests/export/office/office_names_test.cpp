// Records whose names tell their run: "/escritorio" counts from the listings
// and reads only the records it shows, still reads the plain names earlier
// versions left, and names unreadable what does not say what its name says.
// Also the record sent beside a window (never holding it) and by a run the
// watchdog gives up on.
#include "export/office/office.h"
#include "export/core/package_run.h"
#include "export/office/run_record.h"
#include "tests/export/office/office_helpers.h"
#include "tests/support/silent_proxy.h"
#include "tests/support/workspace.h"

#include <nlohmann/json.hpp>

#include <thread>

namespace {

using namespace exptest;
using namespace storetest;
using exports::Clock;
using Json = nlohmann::json;
using namespace std::chrono_literals;

exports::RunRecord run(const char* kind, exports::Result result, Clock::time_point ended) {
    exports::RunRecord r;
    r.kind = kind;
    r.result = result;
    r.started = ended - 3s;
    r.ended = ended;
    return r;
}

exports::StoreSettings company(const std::string& cnpj) {
    exports::StoreSettings s;
    s.bucket = "b";
    s.prefix = "escritorio/";
    s.company = cnpj;
    return s;
}

TEST(OfficeRecordName, TellsItsRunBackAndRefusesWhatIsNotOurs) {
    const Clock::time_point ended = Clock::from_time_t(1796972463) + 123ms;  // 2026-12-11T07:01:03.123Z
    struct Case {
        const char* kind;
        exports::Result result;
        long long sent;
        std::string host, package;
        std::string hostInKey, packageMonth;
    };
    const Case cases[] = {
        {"executa", exports::Result::Complete, 12, "caixa-loja1", "", "caixa-loja1", ""},
        // a host with the words' own separators, and one that is no name at all
        {"janela", exports::Result::Failed, 0, "a_b-c.d", "", "a_b-c.d", ""},
        {"periodo", exports::Result::Refused, 999999999999999, "máquina/../x y", "", "m__quina_.._x_y", ""},
        {"executa", exports::Result::Interrupted, 3, "..", "", "maquina", ""},
        {"pacote", exports::Result::Complete, 0, "caixa", "NFe-2026-11.zip", "caixa", "2026-11"},
        // an archive of another name keeps no month
        {"pacote", exports::Result::Busy, 0, "caixa", "outro.zip", "caixa", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.kind) + " " + c.host);
        exports::RunRecord r = run(c.kind, c.result, ended);
        exports::RunRecordExtras extras;
        extras.host = c.host;
        extras.sent = c.sent;
        extras.package = c.package;
        const std::string key = exports::runRecordKey(company("11222333000181"), r, extras);
        EXPECT_EQ(key.rfind("escritorio/11222333000181/execucoes/2026/12/20261211T070103.123Z_", 0), 0u) << key;
        const auto name = exports::parseRunRecordName(key);
        ASSERT_TRUE(name) << key;
        EXPECT_EQ(name->ended, ended);
        EXPECT_EQ(name->kind, c.kind);
        EXPECT_EQ(name->result, exports::resultName(c.result));
        EXPECT_EQ(name->sent, c.sent);
        EXPECT_EQ(name->host, c.hostInKey);
        EXPECT_EQ(name->packageMonth, c.packageMonth);
    }
    // A kind the history does not know keeps the plain name, which tells nothing.
    exports::RunRecordExtras extras;
    extras.host = "caixa";
    const std::string plain = exports::runRecordKey(company("1"), run("outro", exports::Result::Complete, ended),
                                                    extras);
    EXPECT_EQ(plain, exports::plainRunRecordKey(company("1"), ended, "caixa"));
    EXPECT_EQ(plain, "escritorio/1/execucoes/2026/12/20261211T070103.123Z-caixa.json");
    for (const std::string& bad : {
             plain,
             std::string("20261211T070103.123Z_executa_completo_12-caixa.xml"),
             std::string("20261211T070103.123Z_executa_completo_12-.json"),
             std::string("20261211T070103.123Z_executa_completo_12.json"),
             std::string("20261311T074103.123Z_executa_completo_12-caixa.json"),
             std::string("20260231T074103.123Z_executa_completo_12-caixa.json"),
             std::string("20261211T070103.123Z_outro_completo_12-caixa.json"),
             std::string("20261211T070103.123Z_executa_bom_12-caixa.json"),
             std::string("20261211T070103.123Z_executa_completo_-1-caixa.json"),
             std::string("20261211T070103.123Z_executa_completo_1x-caixa.json"),
             std::string("20261211T070103.123Z_executa_completo_1234567890123456-caixa.json"),
             std::string("20261211T070103.123Z_executa_completo_12_202611-caixa.json"),
             std::string("20261211T070103.123Z_pacote_completo_0_202613-caixa.json"),
             std::string("20261211T070103.123Z_pacote_completo_0_202611_1-caixa.json"),
             std::string("20261211T070103.123Z_executa_completo_12-cai xa.json"),
         })
        EXPECT_FALSE(exports::parseRunRecordName(bad)) << bad;
}

const std::string kPlain = "11222333000181", kNamed = "22333444000181", kMixed = "33444555000181";

class OfficeNames : public testing::Test {
protected:
    void SetUp() override { REQUIRE_CEPH_CLUSTER(); }

    static exports::StoreSettings store(const std::string& bucket) {
        exports::StoreSettings s = settings(bucket, "escritorio/");
        s.company.clear();
        return s;
    }

    // A bucket the read-only user may list and read.
    static std::string readableBucket(const char* name) {
        const std::string bucket = newBucket(name, false);
        std::string uid;
        readOnlyUser(&uid);
        putPolicy(bucket,
                  R"({"Version":"2012-10-17","Statement":[{"Effect":"Allow","Principal":{"AWS":["arn:aws:iam:::user/)" +
                      uid + R"("]},"Action":["s3:ListBucket","s3:GetObject"],"Resource":["arn:aws:s3:::)" + bucket +
                      R"(","arn:aws:s3:::)" + bucket + R"(/*"]}]})");
        return bucket;
    }

    static std::map<std::string, Json> byName(const exports::OfficeReport& report) {
        std::map<std::string, Json> out;
        const Json j = Json::parse(exports::officeJson(report));
        for (const auto& e : j["empresas"]) out[e["nome"].get<std::string>()] = e;
        return out;
    }
};

// Without the keys, which differ by their names.
Json withoutKeys(Json j) {
    for (const char* run : {"ultima", "ultima_completa", "ultima_falha"})
        if (j[run].is_object()) j[run].erase("chave");
    if (j["pacote"].contains("ultimo")) j["pacote"]["ultimo"].erase("chave");
    j.erase("nome");
    j.erase("prefixo");
    return j;
}

TEST_F(OfficeNames, PlainAndTellingNamesReportAlikeAndOnlyTheShownRecordsAreRead) {
    const std::string bucket = readableBucket("office-names");
    const std::string previousMonth = exports::previousMonth(std::time(nullptr));
    const auto now = Clock::now();
    const auto day = 24h;
    struct Run {
        Clock::time_point ended;
        const char* kind;
        exports::Result result;
        long long sent;
        std::string package, error;
    };
    const std::vector<Run> runs = {
        {now - 40 * day, "executa", exports::Result::Complete, 10, "", ""},
        {now - 20 * day, "janela", exports::Result::Complete, 20, "", ""},
        {now - 3 * day, "pacote", exports::Result::Complete, 0, "NFe-" + previousMonth + ".zip", ""},
        {now - 2 * day, "executa", exports::Result::Failed, 0, "", "Pasta de exportação não é uma pasta"},
        {now - 2min, "executa", exports::Result::Complete, 5, "", ""},
        {now - 1min, "executa", exports::Result::Busy, 0, "", ""},
    };
    // The same runs, recorded by earlier versions, by this one, and by both in turn.
    for (size_t i = 0; i < runs.size(); ++i) {
        exports::RunRecord r = run(runs[i].kind, runs[i].result, runs[i].ended);
        r.error = runs[i].error;
        r.selected = r.written = runs[i].sent;
        for (const auto& [cnpj, plain] : {std::pair{kPlain, true}, {kNamed, false}, {kMixed, i < 3}})
            putRecord(bucket, "escritorio/", cnpj, r, runs[i].sent, "caixa-1", runs[i].package, plain);
    }
    // No archive in the store: last month's package is known from its run alone.
    const auto before = versions(bucket);
    const exports::OfficeReport report = exports::buildOfficeReport(store(bucket), readOnlyUser(), Clock::now());
    auto companies = byName(report);
    ASSERT_EQ(companies.size(), 3u) << exports::officeJson(report);
    const Json plain = withoutKeys(companies[kPlain]);
    EXPECT_EQ(plain["estado"], "ok");
    EXPECT_EQ(plain["ultima"]["resultado"], "ocupado");
    EXPECT_EQ(plain["ultima_completa"]["enviados"], 5);
    EXPECT_EQ(plain["ultima_completa"]["maquina"], "caixa-1");
    EXPECT_EQ(plain["ultima_falha"]["erro"], "Pasta de exportação não é uma pasta");
    EXPECT_EQ(plain["pacote"]["arquivo"], "NFe-" + previousMonth + ".zip");
    EXPECT_TRUE(plain["pacote"]["presente"]);
    EXPECT_EQ(plain["documentos_por_dia"][59], 5);
    EXPECT_EQ(plain["documentos_por_dia"][59 - 20], 20);
    EXPECT_EQ(plain["documentos_por_dia"][59 - 40], 10);
    EXPECT_EQ(withoutKeys(companies[kNamed]), plain);
    EXPECT_EQ(withoutKeys(companies[kMixed]), plain);
    EXPECT_TRUE(companies[kPlain]["ilegiveis"].empty());
    EXPECT_TRUE(companies[kNamed]["ilegiveis"].empty());
    EXPECT_EQ(versions(bucket).size(), before.size());  // nothing written

    // A company of many runs: its listings, the records shown and one HEAD, not a GET a run.
    const std::string many = readableBucket("office-many");
    for (int d = 0; d < 50; ++d) {
        exports::RunRecord r = run("executa", exports::Result::Complete, now - d * day - 10min);
        putRecord(many, "escritorio/", kNamed, r, 100, "caixa-1");
    }
    putRecord(many, "escritorio/", kNamed, run("pacote", exports::Result::Complete, now - 5 * day), 0, "caixa-1",
              "NFe-" + previousMonth + ".zip");
    const exports::OfficeReport counted = exports::buildOfficeReport(store(many), readOnlyUser(), Clock::now());
    ASSERT_EQ(counted.companies.size(), 1u);
    const auto& c = counted.companies[0];
    EXPECT_EQ(c.state, exports::CompanyState::Ok) << exports::officeText(counted);
    long long perDay = 0;
    for (long long n : c.perDay) perDay += n;
    EXPECT_EQ(perDay, 50 * 100);
    ASSERT_TRUE(c.last && c.lastPackage);
    EXPECT_FALSE(c.last->fromName);
    EXPECT_EQ(c.last->version, "1.0.0");  // read: the name does not hold it
    EXPECT_FALSE(c.lastPackage->fromName);
    // the root, one listing of the window, two records; no HEAD: the package's run tells it is there
    EXPECT_LE(counted.requests, 4) << exports::officeText(counted);
}

TEST_F(OfficeNames, ARecordThatDoesNotSayWhatItsNameSaysIsUnreadableAndTheOthersStillCount) {
    const std::string bucket = newBucket("office-lies", false);
    const auto now = Clock::now();
    const std::string kLie = "44555666000181", kGarbage = "55666777000181", kBig = "66777888000181";
    for (const auto& cnpj : {kLie, kGarbage, kBig})
        putRecord(bucket, "escritorio/", cnpj, run("executa", exports::Result::Complete, now - 3h), 7, "caixa-1");
    exports::StoreSettings s = settings(bucket, "escritorio/");
    exports::RunRecordExtras extras;
    extras.host = "caixa-1";
    extras.sent = 5;
    const exports::RunRecord named = run("executa", exports::Result::Complete, now - 1min);
    exports::RunRecord failed = named;
    failed.result = exports::Result::Failed;
    failed.error = "falhou de verdade";
    // A name that says completed over a failed run's record.
    s.company = kLie;
    send(exports::s3::putObject(target(bucket), exports::runRecordKey(s, named, extras),
                                exports::runRecordText(failed, extras), std::nullopt));
    s.company = kGarbage;
    send(exports::s3::putObject(target(bucket), exports::runRecordKey(s, named, extras), "{\"inicio\":", std::nullopt));
    // Bigger than any record: its name does not count either.
    s.company = kBig;
    exports::RunRecord big = named;
    big.note = std::string(200 * 1024, 'n');
    send(exports::s3::putObject(target(bucket), exports::runRecordKey(s, big, extras),
                                exports::runRecordText(big, extras), std::nullopt));

    exports::StoreSettings office = settings(bucket, "escritorio/");
    office.company.clear();
    const exports::OfficeReport report = exports::buildOfficeReport(office, clusterKeys(), Clock::now());
    auto companies = byName(report);
    ASSERT_EQ(companies.size(), 3u);
    for (const auto& cnpj : {kLie, kGarbage, kBig}) {
        SCOPED_TRACE(cnpj);
        const Json& c = companies[cnpj];
        EXPECT_EQ(c["estado"], "ilegível");
        ASSERT_EQ(c["ilegiveis"].size(), 1u);
        EXPECT_NE(c["ilegiveis"][0].get<std::string>().find("_executa_completo_5-caixa-1.json"), std::string::npos);
        EXPECT_EQ(c["documentos_por_dia"][59].get<long long>() + c["documentos_por_dia"][58].get<long long>(),
                  cnpj == kBig ? 7 : 12);
    }
    // Shown as its name tells it, never as the record it does not match.
    EXPECT_EQ(companies[kLie]["ultima"]["resultado"], "completo");
    EXPECT_EQ(companies[kLie]["ultima"]["erro"], "");
    EXPECT_EQ(companies[kGarbage]["ultima"]["enviados"], 5);
    EXPECT_EQ(companies[kBig]["ultima"]["enviados"], 7);
}

// A run's record sent beside the window: the caller goes on at once, the
// history's line comes once the send gave up, noting it.
TEST_F(OfficeNames, TheSenderNeverHoldsItsCallerAndTheLineNotesARecordThatDidNotGo) {
    const std::string bucket = newBucket("office-silent", false);
    const std::string endpoint = testsupport::CephCluster::shared()->endpoint();
    testsupport::SilentProxy proxy(std::stoi(endpoint.substr(endpoint.rfind(':') + 1)), 0);
    exports::StoreSettings s = settings(bucket, "escritorio/");
    s.endpoint = "http://127.0.0.1:" + std::to_string(proxy.port());
    Workspace w(Mode::Embedded);
    const std::string history = (w.dir / "ConfigQuillan.log.jsonl").string();
    std::string told;
    std::atomic<bool> done{false};
    {
        ClusterKeysInEnvironment keys;
        exports::RunRecordSender sender;
        sender.send(s, history, run("janela", exports::Result::Complete, Clock::now()), exports::RunSummary{},
                    [&](const std::string& error) {
                        told = error;
                        done = true;
                    });
        // The store holds the request: nothing came back yet, the caller is free.
        EXPECT_FALSE(done);
        EXPECT_FALSE(fs::exists(history));
        sender.wait();
    }
    EXPECT_TRUE(proxy.silent());
    EXPECT_NE(told.find("registro da execução não enviado"), std::string::npos) << told;
    const auto last = exports::lastRun(history);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->kind, "janela");
    EXPECT_NE(last->note.find("registro da execução não enviado"), std::string::npos) << last->note;

    // With the store answering, the record is in it when the line is.
    s.endpoint = endpoint;
    {
        ClusterKeysInEnvironment keys;
        exports::RunRecordSender sender;
        sender.send(s, history, run("periodo", exports::Result::Complete, Clock::now()), exports::RunSummary{});
    }
    EXPECT_EQ(exports::lastRun(history)->kind, "periodo");
    EXPECT_EQ(exports::lastRun(history)->note, "");
    const auto keys = listKeys(bucket, "escritorio/");
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_NE(keys[0].find("_periodo_completo_0-"), std::string::npos) << keys[0];
}

// The database stops answering: the watchdog ends the run, and the office
// still gets its record, as failed.
TEST_F(OfficeNames, ARunTheWatchdogGivesUpOnStillLeavesItsRecord) {
    REQUIRE_FIREBIRD_SERVER();
    const std::string bucket = newBucket("office-watchdog", false);
    ClusterKeysInEnvironment keys;
    Workspace ws(Mode::Server);
    ws.createDatabase({});
    ws.generate(3000, 2048);
    testsupport::SilentProxy proxy(3050, 300000);
    ws.dbName = "127.0.0.1/" + std::to_string(proxy.port()) + ":" + ws.dbFile.string();
    spit(ws.ini, ws.configText("01/01/2000", "00:00:00", ws.out.string() + "/") +
                     "TempoSemProgresso=3\r\nNuvem=" + testsupport::CephCluster::shared()->endpoint() + "/" + bucket +
                     "/escritorio\r\nNuvemEmpresa=11222333000181\r\n");
    const RunResult r = ws.run();
    EXPECT_TRUE(proxy.silent());
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("nenhum progresso em 3 s"), std::string::npos) << r.err;
    const auto records = listKeys(bucket, "escritorio/11222333000181/execucoes/");
    ASSERT_EQ(records.size(), 1u) << r.err;
    const auto name = exports::parseRunRecordName(records[0]);
    ASSERT_TRUE(name) << records[0];
    EXPECT_EQ(name->result, "falhou");
    const Json record = Json::parse(send(exports::s3::getObject(target(bucket), records[0])).body);
    EXPECT_NE(record["erro"].get<std::string>().find("nenhum progresso em 3 s"), std::string::npos) << record.dump();
    const auto last = exports::lastRun((ws.dir / "ConfigQuillan.log.jsonl").string());
    ASSERT_TRUE(last);
    EXPECT_EQ(last->note.find("registro da execução não enviado"), std::string::npos) << last->note;
}

}  // namespace
