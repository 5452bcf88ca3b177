// "/escritorio" over records written as the companies' runs write them:
// read-only keys, records damaged or oversized, hostile texts, the day chart,
// and the page as headless Chromium renders it.
#include "export/office/office.h"
#include "export/core/package_run.h"
#include "export/office/run_record.h"
#include "tests/export/office/office_helpers.h"
#include "tests/support/workspace.h"

#include <nlohmann/json.hpp>

#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace exptest;
using namespace storetest;
using Json = nlohmann::json;
using exports::Clock;

const std::string kOk = "11222333000181", kGarbage = "22333444000181", kHuge = "33444555000181",
                  kHostile = "44555666000181";
const std::string kHostileHost = "<script>document.title='x'</script>";
const std::string kHostileError = "</td><img src=x onerror=alert(1)><td>";

exports::RunRecord run(const char* kind, exports::Result result, Clock::time_point ended) {
    exports::RunRecord r;
    r.kind = kind;
    r.result = result;
    r.started = ended - std::chrono::seconds(3);
    r.ended = ended;
    return r;
}

// Four companies and one folder that is none, in a bucket without Object Lock.
struct Office {
    std::string bucket;
    std::string previousMonth = exports::previousMonth(std::time(nullptr));

    Office() : bucket(newBucket("office-read", false)) {
        const auto now = Clock::now();
        const auto day = std::chrono::hours(24);
        putRecord(bucket, "escritorio/", kOk, run("executa", exports::Result::Complete, now - 5 * day), 3);
        putRecord(bucket, "escritorio/", kOk, run("executa", exports::Result::Complete, now - 2 * day), 7);
        putRecord(bucket, "escritorio/", kOk,
                  run("pacote", exports::Result::Complete, now - 2 * day + std::chrono::minutes(1)), 0, "maquina-1",
                  "NFe-" + previousMonth + ".zip");
        putRecord(bucket, "escritorio/", kOk, run("executa", exports::Result::Complete, now - std::chrono::minutes(5)),
                  5);
        send(exports::s3::putObject(target(bucket), "escritorio/" + kOk + "/pacotes/NFe-" + previousMonth + ".zip",
                                    "PK", std::nullopt));
        // Cut short by hand, newer than its good record.
        putRecord(bucket, "escritorio/", kGarbage, run("executa", exports::Result::Complete, now - day), 4);
        send(exports::s3::putObject(target(bucket),
                                    "escritorio/" + kGarbage + "/execucoes/" + monthFolder(now) +
                                        "99999999T999999.999Z-x.json",
                                    "{\"inicio\":\"2026-12-", std::nullopt));
        // A record far bigger than any run writes.
        exports::RunRecord big = run("executa", exports::Result::Complete, now - std::chrono::minutes(2));
        big.note = std::string(300 * 1024, 'n');
        putRecord(bucket, "escritorio/", kHuge, big, 1);
        // Markup where texts go.
        exports::RunRecord hostile = run("executa", exports::Result::Failed, now - std::chrono::minutes(1));
        hostile.error = kHostileError;
        putRecord(bucket, "escritorio/", kHostile, hostile, 0, kHostileHost);
        send(exports::s3::putObject(target(bucket), "escritorio/outra-coisa/documento.xml", "<x/>", std::nullopt));
    }

    static std::string monthFolder(Clock::time_point t) {
        const std::string stamp = exports::sortableUtc(t);
        return stamp.substr(0, 4) + "/" + stamp.substr(4, 2) + "/";
    }
};

class OfficeReport : public testing::Test {
protected:
    void SetUp() override { REQUIRE_CEPH_CLUSTER(); }

    // A workspace whose settings name the bucket; no database.
    std::unique_ptr<Workspace> officeMachine(const std::string& bucket) {
        auto w = std::make_unique<Workspace>(Mode::Embedded);
        w->writeConfig("01/01/2010", "00:00:00", w->out.string());
        spit(w->ini, slurp(w->ini) + "Nuvem=" + testsupport::CephCluster::shared()->endpoint() + "/" + bucket +
                         "/escritorio\r\n");
        return w;
    }
};

TEST_F(OfficeReport, ReadOnlyKeysSeeEveryCompanyAndDamagedRecordsStayWithTheirCompany) {
    Office office;
    std::string uid;
    const exports::AwsKeys reader = readOnlyUser(&uid);
    putPolicy(office.bucket,
              R"({"Version":"2012-10-17","Statement":[{"Effect":"Allow","Principal":{"AWS":["arn:aws:iam:::user/)" +
                  uid + R"("]},"Action":["s3:ListBucket","s3:GetObject"],"Resource":["arn:aws:s3:::)" + office.bucket +
                  R"(","arn:aws:s3:::)" + office.bucket + R"(/*"]}]})");
    {
        // The reader cannot write: the keys are as read-only as the office's should be.
        exports::s3::Client client(reader, "us-east-1", quickRetries());
        EXPECT_EQ(client.send(exports::s3::putObject(target(office.bucket), "escritorio/x", "x", std::nullopt)).status,
                  403);
    }
    const auto before = versions(office.bucket);
    auto w = officeMachine(office.bucket);
    ClusterKeysInEnvironment keys(reader);
    const RunResult r = w->run({"/escritorio", "--json"});
    EXPECT_EQ(r.status, exports::kOfficeAttention) << r.out << r.err;
    const Json j = Json::parse(r.out);
    std::map<std::string, Json> byName;
    for (const auto& e : j["empresas"]) byName[e["nome"]] = e;
    ASSERT_EQ(byName.size(), 4u) << r.out;
    EXPECT_EQ(byName[kOk]["estado"], "ok");
    EXPECT_EQ(byName[kGarbage]["estado"], "ilegível");
    EXPECT_EQ(byName[kGarbage]["ilegiveis"].size(), 1u);
    EXPECT_EQ(byName[kGarbage]["ultima"]["tipo"], "executa");  // its readable record still counts
    EXPECT_EQ(byName[kHuge]["estado"], "silenciosa");          // its only record does not read
    EXPECT_EQ(byName[kHuge]["ilegiveis"].size(), 1u);
    EXPECT_EQ(byName[kHostile]["estado"], "falhou");
    EXPECT_EQ(byName[kHostile]["ultima"]["maquina"], kHostileHost);
    // The chart: documents per day, today last, a day without runs an empty place.
    const Json days = byName[kOk]["documentos_por_dia"];
    ASSERT_EQ(days.size(), size_t(exports::kOfficeChartDays));
    EXPECT_EQ(days[59], 5);
    EXPECT_EQ(days[58], 0);
    EXPECT_EQ(days[57], 7);
    EXPECT_EQ(days[54], 3);
    EXPECT_TRUE(byName[kOk]["pacote"]["presente"]);
    EXPECT_EQ(byName[kOk]["pacote"]["arquivo"], "NFe-" + office.previousMonth + ".zip");
    // Nothing written, no secret shown.
    EXPECT_EQ(versions(office.bucket).size(), before.size());
    for (const auto& secret : {reader.secretKey, clusterKeys().secretKey}) {
        EXPECT_EQ(r.out.find(secret), std::string::npos);
        EXPECT_EQ(r.err.find(secret), std::string::npos);
    }
    // The text report names the same.
    const RunResult text = w->run({"/escritorio"});
    EXPECT_EQ(text.status, exports::kOfficeAttention);
    EXPECT_NE(text.out.find(kGarbage + " ilegível"), std::string::npos) << text.out;
    EXPECT_EQ(text.out.find("outra-coisa"), std::string::npos) << text.out;
}

TEST_F(OfficeReport, ArgumentsAndAnEmptyPrefix) {
    const std::string bucket = newBucket("office-empty", false);
    auto w = officeMachine(bucket);
    ClusterKeysInEnvironment keys;
    for (const char* bad : {"abc", "-1", "1.2.3", "--html"}) EXPECT_EQ(w->run({"/escritorio", bad}).status, 2) << bad;
    EXPECT_EQ(w->run({"/escritorio", "0.05"}).status, exports::kOfficeNoCompany);
}

bool chromiumPresent() { return ::access("/usr/bin/chromium", X_OK) == 0; }

// Chromium's rendered DOM of a local file.
std::string renderedDom(const fs::path& page, const fs::path& work) {
    const fs::path profile = work / "chromium-profile", dom = work / "dom.html";
    fs::create_directories(profile);
    const std::string command =
        "/usr/bin/chromium --headless --no-sandbox --disable-gpu --disable-background-networking "
        "--disable-component-update --disable-sync --no-first-run --user-data-dir='" +
        profile.string() + "' --dump-dom 'file://" + page.string() + "' > '" + dom.string() + "' 2>/dev/null";
    const int status = std::system(command.c_str());
    EXPECT_EQ(status, 0) << command;
    return slurp(dom);
}

TEST_F(OfficeReport, PageRenderedInChromiumShowsEachCompanyAndNoInjectedMarkup) {
    REQUIRE_PREREQUISITE(chromiumPresent(), "no /usr/bin/chromium (scripts/install-deps.sh installs chromium)");
    Office office;
    auto w = officeMachine(office.bucket);
    ClusterKeysInEnvironment keys;
    const fs::path page = w->dir / "escritorio.html";
    const RunResult r = w->run({"/escritorio", "--html", page.string()});
    EXPECT_EQ(r.status, exports::kOfficeAttention) << r.err;
    const std::string dom = renderedDom(page, w->dir);
    ASSERT_NE(dom.find("<table id=\"empresas\">"), std::string::npos) << dom;
    // One row a company, with its state, in the rendered table.
    const std::pair<std::string, std::string> expected[] = {
        {kOk, "ok"}, {kGarbage, "ilegivel"}, {kHuge, "silenciosa"}, {kHostile, "falhou"}};
    size_t rows = 0;
    for (size_t at = dom.find("<tr class=\"empresa\""); at != std::string::npos;
         at = dom.find("<tr class=\"empresa\"", at + 1))
        ++rows;
    EXPECT_EQ(rows, 4u);
    for (const auto& [name, state] : expected)
        EXPECT_NE(dom.find("data-estado=\"" + state + "\"><td class=\"nome\">" + name + "</td>"), std::string::npos)
            << name << " " << state;
    // The hostile texts are text: no script or image element came out of them.
    EXPECT_EQ(dom.find("<script"), std::string::npos);
    EXPECT_EQ(dom.find("<img"), std::string::npos);
    EXPECT_NE(dom.find("&lt;script&gt;document.title"), std::string::npos);
    EXPECT_NE(dom.find("&lt;img src=x onerror=alert(1)&gt;"), std::string::npos);
    // Nothing fetched from anywhere: the page is one file.
    const std::string html = slurp(page);
    EXPECT_EQ(html.find("src="), html.find("src=x"));  // only the escaped hostile text
    EXPECT_EQ(html.find("http://"), html.find("http://www.w3.org/2000/svg"));
    EXPECT_EQ(html.find("https://"), std::string::npos);
    // A day with documents is a bar of the chart; the empty ones are holes.
    EXPECT_NE(dom.find("<title>7</title>"), std::string::npos);
}

}  // namespace
