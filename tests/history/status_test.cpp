// "/status [MINUTES]": what a monitoring check sees for each state of the history.

#include "export/run_status.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace exports;
using namespace std::chrono_literals;

const Clock::time_point kNow = Clock::time_point(std::chrono::seconds(1709298000));  // 01/03/2024 10:00:00 -03

RunRecord run(RunResult result, Clock::duration endedAgo, const char* kind = kRunUnattended) {
    RunRecord r;
    r.ended = kNow - endedAgo;
    r.started = r.ended - 3s;
    r.kind = kind;
    r.result = result;
    r.examined = 20;
    r.selected = 2;
    r.written = 2;
    r.stampBefore = "01/03/2024 08:00:00";
    r.stampAfter = "01/03/2024 09:00:00";
    if (result == RunResult::Failed) r.error = "Não foi possível gravar \"/srv/xml/NFe1.XML\": No space left on device";
    return r;
}

class StatusCommand : public testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/status-test-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        folder = tmpl;
        path = (folder / "ConfigQuillan.log.jsonl").string();
        ::setenv("TZ", "<-03>3", 1);
        ::tzset();
    }
    void TearDown() override { fs::remove_all(folder); }

    int status(std::vector<std::string> args = {}) {
        out.str({});
        err.str({});
        return statusCommand(path, args, out, err, kNow, platform::FormatSettings{});
    }

    fs::path folder;
    std::string path;
    std::ostringstream out, err;
};

TEST_F(StatusCommand, ExitStatusFollowsTheLastRun) {
    struct Case {
        const char* name;
        std::vector<RunRecord> oldestFirst;
        std::vector<std::string> args;
        int exit;
    } cases[] = {
        {"completed an hour ago", {run(RunResult::Complete, 1h)}, {}, kStatusOk},
        {"completed two days ago", {run(RunResult::Complete, 48h)}, {}, kStatusAttention},
        {"completed just inside the day", {run(RunResult::Complete, 1439min)}, {}, kStatusOk},
        {"older than the minutes given", {run(RunResult::Complete, 1h)}, {"30"}, kStatusAttention},
        {"within the minutes given", {run(RunResult::Complete, 1h)}, {"90"}, kStatusOk},
        {"failed after a success", {run(RunResult::Complete, 2h), run(RunResult::Failed, 1h)}, {}, kStatusAttention},
        {"completed after a failure", {run(RunResult::Failed, 2h), run(RunResult::Complete, 1h)}, {}, kStatusOk},
        {"interrupted", {run(RunResult::Interrupted, 1h)}, {}, kStatusAttention},
        {"documents refused", {run(RunResult::Refused, 1h)}, {}, kStatusAttention},
        {"busy after a success", {run(RunResult::Complete, 2h), run(RunResult::Busy, 1h)}, {}, kStatusOk},
        {"busy after a failure", {run(RunResult::Failed, 2h), run(RunResult::Busy, 1h)}, {}, kStatusAttention},
        {"only busy runs", {run(RunResult::Busy, 1h)}, {}, kStatusAttention},
        {"no run", {}, {}, kStatusNoRun},
        {"minutes not a number", {run(RunResult::Complete, 1h)}, {"1h"}, kStatusUsage},
        {"negative minutes", {run(RunResult::Complete, 1h)}, {"-5"}, kStatusUsage},
        {"two arguments", {run(RunResult::Complete, 1h)}, {"30", "40"}, kStatusUsage},
    };
    for (const Case& c : cases) {
        fs::remove(path);
        for (const RunRecord& r : c.oldestFirst) ASSERT_TRUE(appendRun(path, r));
        EXPECT_EQ(status(c.args), c.exit) << c.name << "\n" << out.str() << err.str();
    }
}

TEST_F(StatusCommand, PrintsTheRunInWords) {
    ASSERT_TRUE(appendRun(path, run(RunResult::Complete, 26h)));
    ASSERT_TRUE(appendRun(path, run(RunResult::Failed, 125min)));
    EXPECT_EQ(status(), kStatusAttention);
    EXPECT_EQ(out.str(),
              "Exportação agendada (/executa) falhou em 01/03/2024 07:55:00 (há 2 h 5 min): Não foi possível gravar "
              "\"/srv/xml/NFe1.XML\": No space left on device; examinados 20, selecionados 2, gravados 2, "
              "inalterados 0, recusados 0; marca 01/03/2024 08:00:00 → 01/03/2024 09:00:00\n");
    EXPECT_EQ(err.str(), "");
}

TEST_F(StatusCommand, SaysWhyAnOldSuccessNeedsAttention) {
    ASSERT_TRUE(appendRun(path, run(RunResult::Complete, 72h, kRunWindow)));
    EXPECT_EQ(status({"60"}), kStatusAttention);
    EXPECT_NE(out.str().find("Exportação pela janela (Gerar) concluída em 27/02/2024 10:00:00 (há 3 dias)"),
              std::string::npos)
        << out.str();
    EXPECT_NE(out.str().find("Mais antiga que 60 min"), std::string::npos) << out.str();
}

}  // namespace
