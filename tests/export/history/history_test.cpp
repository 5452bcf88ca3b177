// The history file: what a line holds, what survives damage, the cap, and
// several processes appending at once.

#include "export/history/history.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace exports;
using namespace std::chrono_literals;

class HistoryFile : public testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/history-test-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        folder = tmpl;
        path = historyFileFor((folder / "ConfigQuillan.ini").string());
        // Brasília time without daylight saving, whatever the machine says.
        ::setenv("TZ", "<-03>3", 1);
        ::tzset();
    }
    void TearDown() override { fs::remove_all(folder); }

    std::string content() const {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void append(const std::string& bytes) const {
        std::ofstream out(path, std::ios::binary | std::ios::app);
        out << bytes;
    }

    fs::path folder;
    std::string path;
};

RunRecord sample(long long n) {
    RunRecord r;
    r.started = Clock::time_point(std::chrono::seconds(1709298000 + n * 60));  // 2024-03-01T10:00:00-03:00
    r.ended = r.started + 2s;
    r.kind = kRunUnattended;
    r.result = Result::Complete;
    r.examined = n;
    return r;
}

TEST(HistoryTime, IsoTextsCarryTheOffset) {
    ::setenv("TZ", "<-03>3", 1);
    ::tzset();
    const auto t = Clock::time_point(std::chrono::seconds(1709298002));
    EXPECT_EQ(isoTime(t), "2024-03-01T10:00:02-03:00");
    EXPECT_EQ(parseIsoTime("2024-03-01T10:00:02-03:00"), t);
    EXPECT_EQ(parseIsoTime("2024-03-01T13:00:02Z"), t);
    EXPECT_EQ(parseIsoTime("2024-03-01T18:30:02+0530"), t);
    EXPECT_EQ(parseIsoTime("2024-03-01T10:00:02.750-03:00"), t);
    for (const char* bad : {"", "2024-03-01", "2024-03-01T10:00:02", "2024-02-30T10:00:02Z", "2024-03-01T25:00:00Z",
                            "2024-03-01T10:00:02-03:00 ", "2024-3-01T10:00:02Z", "2024-03-01T10:00:02+24:00"})
        EXPECT_FALSE(parseIsoTime(bad)) << bad;
    // beyond what the clock can hold: refused, not wrapped round
    EXPECT_FALSE(parseIsoTime("2263-01-01T00:00:00+00:00"));
    EXPECT_FALSE(parseIsoTime("9999-12-31T23:59:59-03:00"));
    EXPECT_FALSE(parseIsoTime("1500-01-01T00:00:00Z"));
    EXPECT_TRUE(parseIsoTime("2261-12-31T23:59:59Z"));
}

TEST_F(HistoryFile, ARecordComesBackWhole) {
    RunRecord r = sample(7);
    r.kind = kRunWindow;
    r.result = Result::Refused;
    r.selected = 5;
    r.written = 3;
    r.unchanged = 1;
    r.refused = 1;
    r.stampBefore = "01/03/2024 10:00:00";
    r.stampAfter = "01/03/2024 11:00:02";
    r.seconds = 0.8424;
    r.error = std::string("linha 1\nlinha 2\r\t\"aspas\" \\ \0 fim", 33);
    r.refusedDocuments = {{8, "3524\xE7/..", "Chave de acesso inv\xE1lida"}};
    r.note = "marca de transação descartada";
    ASSERT_TRUE(appendRun(path, r));

    const std::string text = content();
    EXPECT_EQ(text.find('\n'), text.size() - 1) << "one line per run: " << text;
    EXPECT_NE(text.find("\"inicio\":\"2024-03-01T10:07:00-03:00\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"resultado\":\"recusados\""), std::string::npos) << text;

    const auto back = lastRun(path);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->started, r.started);
    EXPECT_EQ(back->ended, r.ended);
    EXPECT_EQ(back->kind, "janela");
    EXPECT_EQ(back->result, Result::Refused);
    EXPECT_EQ(back->examined, 7);
    EXPECT_EQ(back->selected, 5);
    EXPECT_EQ(back->written, 3);
    EXPECT_EQ(back->unchanged, 1);
    EXPECT_EQ(back->refused, 1);
    EXPECT_EQ(back->stampBefore, r.stampBefore);
    EXPECT_EQ(back->stampAfter, r.stampAfter);
    EXPECT_DOUBLE_EQ(back->seconds, 0.842);
    EXPECT_EQ(back->error, r.error);
    EXPECT_EQ(back->note, r.note);
    ASSERT_EQ(back->refusedDocuments.size(), 1u);
    EXPECT_EQ(back->refusedDocuments[0].number, 8);
    EXPECT_EQ(back->refusedDocuments[0].key, "3524ç/..");
    EXPECT_EQ(back->refusedDocuments[0].reason, "Chave de acesso inválida");
}

TEST_F(HistoryFile, OnlyTheFirstRefusedDocumentsAreKept) {
    RunRecord r = sample(1);
    r.result = Result::Refused;
    r.refused = 50000;
    for (int i = 0; i < 50000; ++i) r.refusedDocuments.push_back({i, "chave", "motivo"});
    ASSERT_TRUE(appendRun(path, r));
    const auto back = lastRun(path);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->refused, 50000);
    EXPECT_EQ(back->refusedDocuments.size(), kRefusedKept);
}

TEST_F(HistoryFile, DamagedLinesAreSkipped) {
    ASSERT_TRUE(appendRun(path, sample(1)));
    append("not json at all\n");
    append("\n");
    append(
        "{\"inicio\":\"2024-03-01T10:00:00-03:00\",\"fim\":\"2024-03-01T10:00:02-03:00\",\"resultado\":\"talvez\"}\n");
    append(
        "{\"inicio\":\"2024-03-01T10:00:00-03:00\",\"fim\":\"2024-03-01T10:00:02-03:00\",\"resultado\":\"completo\","
        "\"examinados\":\"muitos\"}\n");
    append("[1,2,3]\n");
    ASSERT_TRUE(appendRun(path, sample(2)));
    // A run cut off in the middle of its line (full disk, power loss)...
    append(recordLine(sample(3)).substr(0, 40));
    // ...does not take the next one with it.
    ASSERT_TRUE(appendRun(path, sample(4)));

    const auto runs = readRuns(path);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].examined, 4);  // newest first
    EXPECT_EQ(runs[1].examined, 2);
    EXPECT_EQ(runs[2].examined, 1);
    EXPECT_EQ(readRuns(path, 2).size(), 2u);
}

TEST_F(HistoryFile, NoFileMeansNoRuns) {
    EXPECT_TRUE(readRuns(path).empty());
    EXPECT_FALSE(lastRun(path));
    std::string error;
    EXPECT_FALSE(appendRun((folder / "missing" / "h.jsonl").string(), sample(1), &error));
    EXPECT_NE(error.find("missing/h.jsonl"), std::string::npos) << error;
}

TEST_F(HistoryFile, TrimKeepsTheNewestRunsAndTheFileItself) {
    for (int i = 1; i <= 10; ++i) ASSERT_TRUE(appendRun(path, sample(i), nullptr, 10));
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(path.c_str(), 1234, 2345), 0);
    }
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    // What a trim killed before its rename left goes with the next trim; other names stay.
    std::ofstream(path + ".Ab12Zz") << "half a history";
    std::ofstream(path + ".Ab12Z") << "not ours";

    ASSERT_TRUE(appendRun(path, sample(11), nullptr, 10));

    const auto runs = readRuns(path);
    ASSERT_EQ(runs.size(), 10u);
    EXPECT_EQ(runs.front().examined, 11);
    EXPECT_EQ(runs.back().examined, 2);
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino) << "trimmed by a replace, not in place";
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    if (root) {
        EXPECT_EQ(after.st_uid, 1234u);
        EXPECT_EQ(after.st_gid, 2345u);
    }
    // No temporary file left beside it.
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
    const std::string file = fs::path(path).filename().string();
    EXPECT_EQ(names, (std::set<std::string>{file, file + ".Ab12Z"}));
}

TEST_F(HistoryFile, TheDefaultCapIsAThousandRuns) {
    std::string many;
    for (int i = 1; i <= 1000; ++i) many += recordLine(sample(i));
    append(many);
    ASSERT_TRUE(appendRun(path, sample(1001)));
    const auto runs = readRuns(path, 5000);
    ASSERT_EQ(runs.size(), 1000u);
    EXPECT_EQ(runs.front().examined, 1001);
    EXPECT_EQ(runs.back().examined, 2);
    // A few from the end of a long file: read from a tail that starts in
    // the middle of a line.
    const auto newest = readRuns(path, 3);
    ASSERT_EQ(newest.size(), 3u);
    EXPECT_EQ(newest[0].examined, 1001);
    EXPECT_EQ(newest[2].examined, 999);
    EXPECT_EQ(readRuns(path, 400).back().examined, 602);
}

// Processes ending together (the window and the scheduler) while the file
// is being trimmed: no line torn or interleaved, none lost to a replace.
TEST_F(HistoryFile, ConcurrentAppendersLoseNothing) {
    constexpr int kProcesses = 4, kEach = 60;
    constexpr std::size_t kKeep = 200;
    std::string old;
    for (int i = 0; i < 190; ++i) old += recordLine(sample(999999));
    append(old);

    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int i = 0; i < kEach; ++i) {
                RunRecord r = sample(p * 1000 + i);
                r.error = std::string(3000, char('a' + p));  // longer than a pipe's atomic write
                std::string error;
                if (!appendRun(path, r, &error, kKeep)) {
                    std::fprintf(stderr, "%s\n", error.c_str());
                    ::_exit(1);
                }
            }
            ::_exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    std::istringstream lines(content());
    std::string line;
    std::size_t count = 0;
    std::vector<std::vector<int>> seen(kProcesses);
    while (std::getline(lines, line)) {
        ++count;
        const auto r = parseRecordLine(line);
        ASSERT_TRUE(r) << "line " << count << " is damaged";
        ASSERT_NE(r->examined, 999999) << "an old run outlived 240 newer ones";
        const int p = int(r->examined / 1000);
        EXPECT_EQ(r->error, std::string(3000, char('a' + p)));
        seen[p].push_back(int(r->examined % 1000));
    }
    EXPECT_EQ(count, kKeep);
    // The others appended 180 runs in all: each process's newest runs are
    // all still there, in order, through its last one.
    for (int p = 0; p < kProcesses; ++p) {
        ASSERT_FALSE(seen[p].empty());
        EXPECT_EQ(seen[p].back(), kEach - 1) << "process " << p;
        for (std::size_t k = 1; k < seen[p].size(); ++k)
            EXPECT_EQ(seen[p][k], seen[p][k - 1] + 1) << "process " << p << " lost a run";
    }
}

}  // namespace

namespace {

// Anything but a regular file at the history's name is refused at once:
// no hang on a FIFO, nothing written through a link.
TEST_F(HistoryFile, OnlyARegularFileIsAHistory) {
    const fs::path target = folder / "elsewhere.txt";
    const struct {
        const char* name;
        std::function<void()> plant;
        const char* says;
    } cases[] = {
        {"fifo", [&] { ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0); }, "não é um arquivo comum"},
        {"folder", [&] { fs::create_directory(path); }, "não é um arquivo comum"},
        {"link",
         [&] {
             std::ofstream(target) << "";
             fs::create_symlink(target, path);
         },
         "é um link"},
        {"dangling link", [&] { fs::create_symlink(folder / "nothing", path); }, "é um link"},
        {"device", [&] { fs::create_symlink("/dev/null", path); }, "é um link"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(path);
        fs::remove(target);
        c.plant();
        std::string error;
        EXPECT_FALSE(appendRun(path, sample(1), &error));
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        EXPECT_NE(error.find(path), std::string::npos) << error;
        error.clear();
        EXPECT_TRUE(readRuns(path, 10, &error).empty());
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        if (fs::exists(target)) EXPECT_EQ(fs::file_size(target), 0u);
    }
}

// A file of damage without line breaks is read only up to a bound and is
// replaced by a fresh history on the next append.
TEST_F(HistoryFile, AHistoryWithoutLineBreaksIsReadBoundedAndStartsAfresh) {
    {
        std::ofstream out(path, std::ios::binary);
        const std::string block(1 << 20, '\0');
        for (std::size_t i = 0; i < kHistoryReadLimit / block.size() + 8; ++i) out << block;
    }
    EXPECT_TRUE(readRuns(path).empty());
    ASSERT_TRUE(appendRun(path, sample(3)));
    EXPECT_LT(fs::file_size(path), 4096u);
    const auto runs = readRuns(path);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].examined, 3);
}

// A run's first line stands for it until its end is recorded.
TEST_F(HistoryFile, ARunsFirstLineGivesWayToItsEnd) {
    RunRecord start = startRecord(kRunUnattended, sample(1).started);
    ASSERT_TRUE(appendRun(path, start));
    auto runs = readRuns(path);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs[0].unfinished);
    EXPECT_TRUE(runnerAlive(runs[0]));
    RunRecord end = sample(1);
    end.pid = start.pid;
    ASSERT_TRUE(appendRun(path, end));
    runs = readRuns(path);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_FALSE(runs[0].unfinished);
    // and a trim drops the first lines whose end is there
    for (int i = 2; i < 6; ++i) {
        RunRecord s = startRecord(kRunUnattended, sample(i).started), e = sample(i);
        e.pid = s.pid;
        ASSERT_TRUE(appendRun(path, s, nullptr, 3));
        ASSERT_TRUE(appendRun(path, e, nullptr, 3));
    }
    EXPECT_EQ(content().find("em_andamento"), std::string::npos) << content();
    EXPECT_EQ(readRuns(path).size(), 3u);
}

}  // namespace

namespace {

// A run ended for want of progress says where it stood; a stall of the object
// store is the store's ("Nuvem: ", as its other failures), a database that went
// silent is the server's, a stall elsewhere blames neither.
TEST(AbandonedRun, TheErrorNamesTheStepAndWhoseItWas) {
    struct Case {
        RunStep step;
        long long document;
        const char* starts;
        const char* says;
    };
    const Case cases[] = {
        {RunStep::Reading, 41, "Exportação abandonada: nenhum progresso em 600 s ",
         "lendo do banco o documento seguinte ao 41 (servidor ou rede sem resposta)"},
        {RunStep::Connecting, 0, "Exportação abandonada", "conectando ao banco (servidor ou rede sem resposta)"},
        {RunStep::Uploading, 40, "Nuvem: exportação abandonada", "enviando o documento 40 à Nuvem"},
        {RunStep::FinishingStore, 0, "Nuvem: exportação abandonada", "aguardando a Nuvem confirmar os envios"},
        {RunStep::PreparingStore, 0, "Nuvem: exportação abandonada", "consultando o bucket da Nuvem"},
        {RunStep::Checking, 0, "Exportação abandonada", "verificando os documentos"},
        {RunStep::Writing, 7, "Exportação abandonada", "gravando o documento 7"},
        {RunStep::Stamping, 0, "Exportação abandonada", "gravando a marca"},
    };
    for (const Case& c : cases) {
        const std::string error = abandonedRunError(600, c.step, c.document, 41, 40);
        SCOPED_TRACE(error);
        EXPECT_EQ(error.rfind(c.starts, 0), 0u);
        EXPECT_NE(error.find(c.says), std::string::npos);
        EXPECT_NE(error.find("(TempoSemProgresso), com 41 documentos examinados e 40 gravados; marca não movida"),
                  std::string::npos);
        // only a step that waits on the database blames the server
        EXPECT_EQ(error.find("servidor ou rede") != std::string::npos,
                  c.step == RunStep::Reading || c.step == RunStep::Connecting);
    }
}

}  // namespace
