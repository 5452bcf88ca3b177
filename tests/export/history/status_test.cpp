// "/status [MINUTES]": what a monitoring check sees for each state of the history.

#include "export/history/run_status.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <algorithm>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace exports;
using namespace std::chrono_literals;

const Clock::time_point kNow = Clock::time_point(std::chrono::seconds(1709298000));  // 01/03/2024 10:00:00 -03

RunRecord run(Result result, Clock::duration endedAgo, const char* kind = kRunUnattended) {
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
    if (result == Result::Failed) r.error = "Não foi possível gravar \"/srv/xml/NFe1.XML\": No space left on device";
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
        {"completed an hour ago", {run(Result::Complete, 1h)}, {}, kStatusOk},
        {"completed two days ago", {run(Result::Complete, 48h)}, {}, kStatusAttention},
        {"completed just inside the day", {run(Result::Complete, 1439min)}, {}, kStatusOk},
        {"completed exactly a day ago", {run(Result::Complete, 1440min)}, {}, kStatusOk},
        {"completed a second past the day", {run(Result::Complete, 1440min + 1s)}, {}, kStatusAttention},
        {"exactly the minutes given", {run(Result::Complete, 30min)}, {"30"}, kStatusOk},
        {"a second past the minutes given", {run(Result::Complete, 30min + 1s)}, {"30"}, kStatusAttention},
        {"no minutes, ended this second", {run(Result::Complete, 0s)}, {"0"}, kStatusOk},
        {"no minutes, ended a second ago", {run(Result::Complete, 1s)}, {"0"}, kStatusAttention},
        {"older than the minutes given", {run(Result::Complete, 1h)}, {"30"}, kStatusAttention},
        {"within the minutes given", {run(Result::Complete, 1h)}, {"90"}, kStatusOk},
        {"failed after a success", {run(Result::Complete, 2h), run(Result::Failed, 1h)}, {}, kStatusAttention},
        {"completed after a failure", {run(Result::Failed, 2h), run(Result::Complete, 1h)}, {}, kStatusOk},
        {"interrupted", {run(Result::Interrupted, 1h)}, {}, kStatusAttention},
        {"documents refused", {run(Result::Refused, 1h)}, {}, kStatusAttention},
        {"busy after a success", {run(Result::Complete, 2h), run(Result::Busy, 1h)}, {}, kStatusOk},
        {"busy after a failure", {run(Result::Failed, 2h), run(Result::Busy, 1h)}, {}, kStatusAttention},
        {"only busy runs", {run(Result::Busy, 1h)}, {}, kStatusAttention},
        {"no run", {}, {}, kStatusNoRun},
        {"minutes not a number", {run(Result::Complete, 1h)}, {"1h"}, kStatusUsage},
        {"negative minutes", {run(Result::Complete, 1h)}, {"-5"}, kStatusUsage},
        {"two arguments", {run(Result::Complete, 1h)}, {"30", "40"}, kStatusUsage},
    };
    for (const Case& c : cases) {
        fs::remove(path);
        for (const RunRecord& r : c.oldestFirst) ASSERT_TRUE(appendRun(path, r));
        EXPECT_EQ(status(c.args), c.exit) << c.name << "\n" << out.str() << err.str();
    }
}

TEST_F(StatusCommand, PrintsTheRunInWords) {
    ASSERT_TRUE(appendRun(path, run(Result::Complete, 26h)));
    ASSERT_TRUE(appendRun(path, run(Result::Failed, 125min)));
    EXPECT_EQ(status(), kStatusAttention);
    EXPECT_EQ(out.str(),
              "Exportação agendada (/executa) falhou em 01/03/2024 07:55:00 (há 2 h 5 min): Não foi possível gravar "
              "\"/srv/xml/NFe1.XML\": No space left on device; examinados 20, selecionados 2, gravados 2, "
              "inalterados 0, recusados 0; marca 01/03/2024 08:00:00 → 01/03/2024 09:00:00\n");
    EXPECT_EQ(err.str(), "");
}

TEST_F(StatusCommand, ShowsWhatWasUnusualInACompletedRun) {
    RunRecord r = run(Result::Complete, 1h);
    r.note = "marca de transação descartada (base restaurada ou trocada): todos os documentos relidos";
    ASSERT_TRUE(appendRun(path, r));
    EXPECT_EQ(status(), kStatusOk);
    EXPECT_NE(
        out.str().find("(marca de transação descartada (base restaurada ou trocada): todos os documentos relidos)"),
        std::string::npos)
        << out.str();
    EXPECT_NE(trayRunText(*lastRun(path), platform::FormatSettings{}).find("marca de transação descartada"),
              std::string::npos);
}

// A run whose end is not recorded: still running (judged on the run before
// it until it has taken longer than MINUTES), or gone without a word.
TEST_F(StatusCommand, ARunWithoutItsEndIsNeverGreenForLong) {
    RunRecord alive = startRecord(kRunUnattended, kNow - 10min);
    RunRecord gone = alive;
    gone.pid = 999999999;  // no such process
    const struct {
        const char* name;
        RunRecord last;
        std::vector<std::string> minutes;
        int status;
        const char* says;
    } cases[] = {
        {"running for 10 min, limit 60", alive, {"60"}, kStatusOk, "concluída"},
        {"running for 10 min, limit 5", alive, {"5"}, kStatusAttention, "Em andamento há mais de 5 min"},
        {"gone without its end", gone, {"60"}, kStatusAttention, "terminou sem registrar o fim"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(path);
        ASSERT_TRUE(appendRun(path, run(Result::Complete, 1h)));
        ASSERT_TRUE(appendRun(path, c.last));
        EXPECT_EQ(status(c.minutes), c.status);
        EXPECT_NE(out.str().find(c.says), std::string::npos) << out.str();
    }
}

TEST_F(StatusCommand, AHistoryThatIsNotAFileIsReportedNotWaitedOn) {
    ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
    EXPECT_EQ(status(), kStatusAttention);
    EXPECT_NE(out.str().find("não é um arquivo comum"), std::string::npos) << out.str();
}

TEST_F(StatusCommand, AnErrorInSeveralLinesStaysOnOne) {
    RunRecord r = run(Result::Failed, 1h);
    r.error = "I/O error during \"open\"\nError while trying to open file\r\nArquivo inexistente\n";
    ASSERT_TRUE(appendRun(path, r));
    EXPECT_EQ(status(), kStatusAttention);
    EXPECT_NE(
        out.str().find(": I/O error during \"open\" Error while trying to open file Arquivo inexistente; examinados"),
        std::string::npos)
        << out.str();
    const std::string text = out.str();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
}

TEST_F(StatusCommand, SaysWhyAnOldSuccessNeedsAttention) {
    ASSERT_TRUE(appendRun(path, run(Result::Complete, 72h, kRunWindow)));
    EXPECT_EQ(status({"60"}), kStatusAttention);
    EXPECT_NE(out.str().find("Exportação pela janela (Gerar) concluída em 27/02/2024 10:00:00 (há 3 dias)"),
              std::string::npos)
        << out.str();
    EXPECT_NE(out.str().find("Mais antiga que 60 min"), std::string::npos) << out.str();
}

}  // namespace

namespace {

TEST(Announcement, OnlyFailuresNotYetAnnounced) {
    const auto at = [](std::vector<RunRecord> runs) {  // oldest first in, newest first out
        std::reverse(runs.begin(), runs.end());
        return runs;
    };
    const auto failedOld = run(Result::Failed, 5h), doneMid = run(Result::Complete, 3h),
               failedNew = run(Result::Interrupted, 2h), refusedNewest = run(Result::Refused, 1h),
               busyNewest = run(Result::Busy, 10min);
    struct Case {
        const char* name;
        std::vector<RunRecord> newestFirst;
        std::optional<Clock::time_point> mark;
        Clock::duration announcedAgo;  // ended this long before kNow; zero: nothing announced
        int earlier;
    } cases[] = {
        {"first start, last run failed", at({doneMid, failedNew}), std::nullopt, 2h, 0},
        {"first start, a failure long past", at({failedOld, doneMid}), std::nullopt, {}, 0},
        {"first start, busy after a failure", at({failedNew, busyNewest}), std::nullopt, 2h, 0},
        {"two new since the mark", at({failedOld, doneMid, failedNew, refusedNewest}), kNow - 4h, 1h, 1},
        {"all announced", at({failedOld, doneMid, failedNew}), kNow - 2h, {}, 0},
        {"empty history", {}, kNow - 2h, {}, 0},
    };
    for (const Case& c : cases) {
        const Announcement a = pendingAnnouncement(c.newestFirst, c.mark);
        if (c.announcedAgo == Clock::duration::zero()) {
            EXPECT_EQ(a.run, nullptr) << c.name;
        } else {
            ASSERT_NE(a.run, nullptr) << c.name;
            EXPECT_EQ(a.run->ended, kNow - c.announcedAgo) << c.name;
            EXPECT_EQ(a.earlier, c.earlier) << c.name;
        }
        if (!c.newestFirst.empty()) {
            ASSERT_TRUE(a.mark) << c.name;
            EXPECT_GE(*a.mark, c.newestFirst.front().ended) << c.name;
        }
    }
}

TEST(Announcement, BodyNamesTheErrorAndTheOthers) {
    ::setenv("TZ", "<-03>3", 1);
    ::tzset();
    const std::vector<RunRecord> runs = {run(Result::Failed, 1h), run(Result::Failed, 2h), run(Result::Failed, 3h)};
    const Announcement a = pendingAnnouncement(runs, kNow - 4h);
    EXPECT_EQ(announcementSummary(*a.run), "Exportação agendada (/executa) falhou");
    EXPECT_EQ(announcementBody(a, platform::FormatSettings{}),
              "Em 01/03/2024 09:00:00: Não foi possível gravar \"/srv/xml/NFe1.XML\": No space left on device\n"
              "E mais 2 falhas antes desta.\nVeja o Histórico.");
}

TEST(AnnouncedMark, KeptBesideTheSettingsAndNeverGoesBack) {
    char tmpl[] = "/tmp/mark-test-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const fs::path folder = tmpl;
    const std::string path = announcedFileFor((folder / "ConfigQuillan.ini").string());
    EXPECT_EQ(path, (folder / "ConfigQuillan.log.avisado").string());
    EXPECT_FALSE(readAnnouncedMark(path));
    ASSERT_TRUE(writeAnnouncedMark(path, kNow));
    EXPECT_EQ(readAnnouncedMark(path), kNow);
    ASSERT_TRUE(writeAnnouncedMark(path, kNow - 1h));
    EXPECT_EQ(readAnnouncedMark(path), kNow);
    ASSERT_TRUE(writeAnnouncedMark(path, kNow + 1h));
    EXPECT_EQ(readAnnouncedMark(path), kNow + 1h);
    { std::ofstream(path) << "garbage\n"; }
    EXPECT_FALSE(readAnnouncedMark(path));
    fs::remove_all(folder);
}

}  // namespace
