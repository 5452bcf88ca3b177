// The real program's unattended incremental export ("/executa") against real
// databases, embedded and through the server, with pt-BR pinned.
#include "tests/support/workspace.h"

#include "db/database.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace exptest {
namespace {

// Whether the process has `file` open: a run that opened the lock file while
// another holds the lock is waiting for it (the observable sign, not a pause).
bool hasOpen(pid_t pid, const std::filesystem::path& file) {
    std::error_code ec;
    const std::string proc = "/proc/" + std::to_string(pid);
    // Between fork and exec the child still holds this program's files.
    if (std::filesystem::read_symlink(proc + "/exe", ec) == std::filesystem::read_symlink("/proc/self/exe", ec))
        return false;
    const auto want = std::filesystem::weakly_canonical(file, ec);
    for (const auto& e : std::filesystem::directory_iterator(proc + "/fd", ec)) {
        std::error_code linkError;
        if (std::filesystem::read_symlink(e.path(), linkError) == want) return true;
    }
    return false;
}

// Until `pid` has `file` open, at most a minute; false when it never did.
bool waitUntilOpen(pid_t pid, const std::filesystem::path& file) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!hasOpen(pid, file))
        if (std::chrono::steady_clock::now() > until) return false;
        else std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return true;
}

}  // namespace

namespace {

using namespace std::chrono_literals;

// Windows-1252 bytes, CR LF and lone LF line breaks.
const std::string kX2 =
    "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n<NFe><xNome>Jos\xE9 Concei\xE7\xE3o & Filhos</xNome>\n"
    "<obs>a\xE7\xFA"
    "car \x80 \x96 \xBA</obs>\n</NFe>";

Doc doc(int seq, std::optional<std::string> moment, std::optional<std::string> tipo, std::string xml) {
    Doc d;
    d.seq = seq;
    d.moment = std::move(moment);
    d.tipo = std::move(tipo);
    d.entsai = "S";
    d.xml = std::move(xml);
    return d;
}

// Numbered order is not change order: 7 holds the newest change.
std::vector<Doc> mainDocs() {
    std::vector<Doc> v;
    v.push_back(doc(1, "2020-12-25 10:05:37", "NF", "<doc>1</doc>"));
    v.push_back(doc(2, "2020-12-25 10:05:38", "NF", kX2));
    v.push_back(doc(3, "2020-12-25 10:05:36.900", "NF", "<doc>3</doc>"));
    v.push_back(doc(4, "2020-12-24 23:59:59", "NE", "<doc>4</doc>"));
    v.push_back(doc(5, "2020-12-26 00:00:00", "NE", "<doc>5 meia-noite</doc>"));
    v.push_back(doc(6, std::nullopt, "NF", "<doc>6 sem momento</doc>"));
    Doc d7 = doc(7, "2021-01-02 08:00:00", "NF",
                 "<doc>7 ve\xED"
                 "culo</doc>");
    d7.vehicle = true;
    v.push_back(d7);
    Doc d8 = doc(8, "2020-12-30 12:00:00", "NF", "<doc>8</doc>");
    d8.cancel = "<canc>8</canc>";
    d8.distrib = "<dist>8</dist>";
    v.push_back(d8);
    Doc d9 = doc(9, "2020-12-31 09:09:09", "NE", "<doc>9</doc>");
    d9.cancel = " \r\n \t\r\n";
    d9.distrib = "<dist>9</dist>";
    v.push_back(d9);
    Doc d10 = doc(10, "2021-01-01 10:00:00", "XX", "<doc>10</doc>\r\n");
    d10.distrib = "   ";
    v.push_back(d10);
    v.push_back(doc(11, "2021-01-01 11:00:00", std::nullopt, ""));  // empty text, no header
    Doc d12 = doc(12, "2020-01-01 00:00:01", "NF", "<doc>12</doc>");
    d12.key = "x/../../../escape";
    v.push_back(d12);
    Doc d13 = doc(13, "2021-01-01 12:00:00", "NF", "<doc>13 sem chave</doc>");
    d13.noKey = true;
    v.push_back(d13);
    Doc d14 = doc(14, "2021-01-01 13:00:00", "NF", "");
    d14.xml.reset();  // no text at all
    v.push_back(d14);
    // Inside the second of the stamp 10:05:37: cut to it, never rounded up to :38.
    v.push_back(doc(15, "2020-12-25 10:05:37.600", "NF", "<doc>15</doc>"));
    return v;
}

// What each document's file holds when it is exported: prefix and text.
const std::map<int, std::pair<std::string, std::string>> kExpected = {
    {1, {"NFe", "<doc>1</doc>"}},
    {2, {"NFe", kX2}},
    {3, {"NFe", "<doc>3</doc>"}},
    {4, {"NFe", "<doc>4</doc>"}},
    {5, {"NFe", "<doc>5 meia-noite</doc>"}},
    {7,
     {"NFe",
      "<doc>7 ve\xED"
      "culo</doc>"}},
    {8, {"CanNFe", "<canc>8</canc>"}},
    {9, {"NFe", "<dist>9</dist>"}},
    {10, {"NFe", "<doc>10</doc>\r\n"}},
    {11, {"NFe", ""}},
    {15, {"NFe", "<doc>15</doc>"}},
};

std::map<std::string, std::string> filesOf(const std::vector<int>& seqs) {
    std::map<std::string, std::string> m;
    for (int s : seqs) {
        const auto& [prefix, text] = kExpected.at(s);
        m[prefix + fixture::accessKey(s) + ".XML"] = text + "\r\n";
    }
    return m;
}

class IncrementalProgram : public testing::TestWithParam<Mode> {
protected:
    void SetUp() override {
        EXPTEST_REQUIRE_MODE(GetParam());
        ws_ = std::make_unique<Workspace>(GetParam());
        ws_->createDatabase(mainDocs());
    }
    std::string folder() const { return ws_->out.string() + "/"; }
    std::unique_ptr<Workspace> ws_;
};

TEST_P(IncrementalProgram, SelectsChangesAfterTheStampAndAdvancesIt) {
    struct Case {
        const char* data;
        const char* hora;
        std::vector<int> seqs;
    };
    const Case cases[] = {
        {"25/12/2020", "10:05:37", {2, 5, 7, 8, 9, 10, 11}},            // equal (also 37.6) is not after; :38 is
        {"25/12/2020", "10:05:03", {1, 2, 3, 5, 7, 8, 9, 10, 11, 15}},  // a reduced stamp of an older version
        {"24/12/2020", "23:59:58", {1, 2, 3, 4, 5, 7, 8, 9, 10, 11, 15}},
        {"26/12/2020", "00:00:00", {7, 8, 9, 10, 11}},  // the midnight document equals it
        {"02/01/2021", "08:00:00", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.data) + " " + c.hora);
        fs::remove_all(ws_->out);
        fs::create_directory(ws_->out);
        ws_->writeConfig(c.data, c.hora, folder());
        const RunResult r = ws_->run();
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(Workspace::files(ws_->out), filesOf(c.seqs));
        // The stamp lands on the newest change examined, whatever the number order.
        if (c.seqs.empty()) EXPECT_EQ(ws_->configWithoutMark(), ws_->configText(c.data, c.hora, folder()));
        else EXPECT_EQ(ws_->configWithoutMark(), ws_->configText("02/01/2021", "08:00:00", folder()));
        // Only the changed rows leave the database.
        EXPECT_NE(r.out.find("examinados=" + std::to_string(c.seqs.size()) + " selecionados=" +
                             std::to_string(c.seqs.size()) + " gravados=" + std::to_string(c.seqs.size()) +
                             " marca_antes=\"" + c.data + " " + c.hora + "\" marca_depois=\"" +
                             (c.seqs.empty() ? std::string(c.data) + " " + c.hora
                                             : std::string("02/01/2021 08:00:00")) +
                             "\""),
                  std::string::npos)
            << r.out;
    }
}

TEST_P(IncrementalProgram, KindBoxesChooseTheDocuments) {
    struct Case {
        const char* boxes;  // Emitidas, Emitidas de veículos, Recebidas
        std::vector<int> seqs;
    };
    const Case cases[] = {
        {"SSS", {2, 5, 7, 8, 9, 10, 11}},  // no check: other types and headerless documents too
        {"S--", {2, 7, 8}},                // issued, vehicle or not
        {"-S-", {7}},
        {"--S", {5, 9}},
        {"SS-", {2, 7, 8}},
        {"S-S", {2, 5, 7, 8, 9}},
        {"-SS", {5, 7, 9}},
        {"---", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.boxes);
        fs::remove_all(ws_->out);
        fs::create_directory(ws_->out);
        ws_->writeConfig("25/12/2020", "10:05:37", folder(), c.boxes);
        const RunResult r = ws_->run();
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(Workspace::files(ws_->out), filesOf(c.seqs));
        // Every selected document moves the stamp, exported or not.
        EXPECT_EQ(ws_->configWithoutMark(), ws_->configText("02/01/2021", "08:00:00", folder(), c.boxes));
        // Every changed document is examined; those of a ticked kind are selected.
        EXPECT_NE(r.out.find("examinados=7 selecionados=" + std::to_string(c.seqs.size()) +
                             " gravados=" + std::to_string(c.seqs.size()) + " "),
                  std::string::npos)
            << r.out;
    }
}

TEST_P(IncrementalProgram, UnwritableFileEndsTheRunAndTheNextRunCompletesIt) {
    ws_->writeConfig("25/12/2020", "10:05:37", folder());
    const std::string before = slurp(ws_->ini);
    // A folder where document 8's file belongs: its write fails after 2, 5 and 7.
    const fs::path blocker = ws_->out / ("CanNFe" + fixture::accessKey(8) + ".XML");
    fs::create_directory(blocker);
    RunResult r = ws_->run();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("(documento 8)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(blocker.string()), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("resultado=erro"), std::string::npos) << r.out;
    fs::remove(blocker);
    // Files already written stay; nothing partial or temporary is left.
    EXPECT_EQ(Workspace::files(ws_->out), filesOf({2, 5, 7}));
    EXPECT_EQ(slurp(ws_->ini), before);

    r = ws_->run();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("Erro"), std::string::npos) << r.err;
    EXPECT_EQ(Workspace::files(ws_->out), filesOf({2, 5, 7, 8, 9, 10, 11}));
    EXPECT_EQ(ws_->configWithoutMark(), ws_->configText("02/01/2021", "08:00:00", folder()));
}

TEST_P(IncrementalProgram, MissingFolderAndBadDatabaseFailWithStatusOne) {
    struct Case {
        std::string folder;
        std::string base;  // empty: the workspace's database
        const char* message;
    };
    const Case cases[] = {
        {ws_->dir.string() + "/naoexiste/", "", "naoexiste"},
        {folder(), ws_->dir.string() + "/nada.fdb", "nada.fdb"},
        {folder(), "-", "Erro na exportação"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        ws_->writeConfig("25/12/2020", "10:05:37", c.folder);
        std::string ini = slurp(ws_->ini);
        if (!c.base.empty()) {
            ini.replace(ini.find("Base=") + 5, ws_->dbName.size(), c.base == "-" ? "" : c.base);
            spit(ws_->ini, ini);
        }
        const RunResult r = ws_->run();
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(slurp(ws_->ini), ini);
        EXPECT_TRUE(Workspace::files(ws_->out).empty());
    }
}

TEST_P(IncrementalProgram, UnsafeAccessKeyIsRefusedAndEveryOtherDocumentWritten) {
    ws_->writeConfig("01/01/2020", "00:00:00", folder());
    // With this folder present the key's name would resolve to /tmp/escape.XML.
    fs::create_directory(ws_->out / "NFex");
    const fs::path outside = ws_->dir.parent_path() / "escape.XML";
    const RunResult r = ws_->run();
    EXPECT_EQ(r.status, 65) << r.err;
    EXPECT_NE(r.err.find("Documento recusado: 12 chave \"x/../../../escape\": nome inseguro"), std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("resultado=recusados"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(outside));
    EXPECT_EQ(Workspace::files(ws_->out), filesOf({1, 2, 3, 4, 5, 7, 8, 9, 10, 11, 15}));
    // The stamp moves as for a complete run.
    EXPECT_EQ(ws_->configValue("Data") + " " + ws_->configValue("Hora"), "02/01/2021 08:00:00");
}

TEST_P(IncrementalProgram, SameStampWhateverTheLocale) {
    // Day 2 of January: read month-first it would be 1 February.
    for (const char* locale : {"C", "en_US.UTF-8", "pt_BR.UTF-8"}) {
        SCOPED_TRACE(locale);
        fs::remove_all(ws_->out);
        fs::create_directory(ws_->out);
        ws_->writeConfig("02/01/2021", "07:00:00", folder());
        ws_->locale = locale;
        const RunResult r = ws_->run();
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(Workspace::files(ws_->out), filesOf({7}));
        EXPECT_EQ(ws_->configValue("Data") + " " + ws_->configValue("Hora"), "02/01/2021 08:00:00");
    }
}

TEST_P(IncrementalProgram, UnreadableStampStopsBeforeAnythingIsWritten) {
    // What C-locale and en_US runs of older versions wrote back.
    for (const auto& [data, hora] : {std::pair{"06/01/21", "10:00:00"}, std::pair{"25/12/2020", "03:30:00 PM"}}) {
        SCOPED_TRACE(std::string(data) + " " + hora);
        ws_->writeConfig(data, hora, folder());
        const std::string before = slurp(ws_->ini);
        const RunResult r = ws_->run();
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(std::string("\"") + data + " " + hora + "\""), std::string::npos) << r.err;
        EXPECT_EQ(slurp(ws_->ini), before);
        EXPECT_TRUE(Workspace::files(ws_->out).empty());
    }
}

TEST_P(IncrementalProgram, SignalWhileWaitingForTheLockEndsTheWaitAtOnce) {
    ws_->writeConfig("25/12/2020", "10:05:37", folder());
    const std::string before = slurp(ws_->ini);
    const int fd = ::open((ws_->ini.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    const pid_t pid = ws_->start();
    ASSERT_TRUE(waitUntilOpen(pid, ws_->ini.string() + ".lock")) << "the run never reached the lock";
    const auto t0 = std::chrono::steady_clock::now();
    ::kill(pid, SIGTERM);
    const RunResult r = ws_->wait(pid);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 5s) << "it waited for the lock's whole time";
    ::close(fd);
    EXPECT_EQ(r.status, 128 + SIGTERM) << r.err;
    EXPECT_NE(r.err.find("Exportação interrompida por SIGTERM"), std::string::npos) << r.err;
    EXPECT_EQ(slurp(ws_->ini), before);
    EXPECT_TRUE(Workspace::files(ws_->out).empty());
}

TEST_P(IncrementalProgram, RunsWithoutAnyGraphicalPlatform) {
    ws_->writeConfig("25/12/2020", "10:05:37", folder());
    ws_->qtPlatform = "no-such-platform";
    const RunResult r = ws_->run();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Workspace::files(ws_->out), filesOf({2, 5, 7, 8, 9, 10, 11}));
    EXPECT_NE(r.out.find("resultado=completo"), std::string::npos) << r.out;
}

TEST_P(IncrementalProgram, OutputFolderSetting) {
    struct Case {
        std::string setting;
        int status;
        fs::path where;  // of the files, when written
    };
    const Case cases[] = {
        {"", 1, {}},
        {ws_->out.string(), 0, ws_->out},  // no trailing separator: still the folder itself
        {"xml", 0, ws_->out},              // relative to the settings file's folder
        {"xml/", 0, ws_->out},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("PastaExportar=" + c.setting);
        fs::remove_all(ws_->out);
        fs::create_directory(ws_->out);
        ws_->writeConfig("25/12/2020", "10:05:37", c.setting);
        const RunResult r = ws_->run();
        EXPECT_EQ(r.status, c.status) << r.err;
        if (c.status) {
            EXPECT_NE(r.err.find("PastaExportar"), std::string::npos) << r.err;
            EXPECT_EQ(ws_->configValue("Data"), "25/12/2020");
            EXPECT_TRUE(Workspace::files(ws_->out).empty());
            for (const auto& [name, bytes] : Workspace::files(ws_->dir))
                EXPECT_EQ(name.find(".XML"), std::string::npos) << name;
        } else {
            EXPECT_EQ(Workspace::files(c.where), filesOf({2, 5, 7, 8, 9, 10, 11}));
        }
    }
}

// Through the server only: the file size limit below would hit the embedded
// engine's own database writes too.
class IncrementalProgramServer : public IncrementalProgram {};

TEST_P(IncrementalProgramServer, FailedSettingsWriteLeavesBothStampKeysAsTheyWere) {
    ws_->writeConfig("25/12/2020", "10:05:37", folder());
    // Long enough that the run's history lines fit under the limit below.
    spit(ws_->ini, slurp(ws_->ini) + "Observacao=" + std::string(2000, 'x') + "\r\n");
    const std::string before = slurp(ws_->ini);
    // The new file (stamp plus mark) is longer than the old one: its write fails.
    ws_->fileSizeLimit = long(before.size());
    const RunResult r = ws_->run();
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("Unable to write to"), std::string::npos) << r.err;
    EXPECT_EQ(slurp(ws_->ini), before);
    ws_->fileSizeLimit = 0;
    ASSERT_EQ(ws_->run().status, 0);
    EXPECT_EQ(ws_->configValue("Data") + " " + ws_->configValue("Hora"), "02/01/2021 08:00:00");
}

INSTANTIATE_TEST_SUITE_P(Modes, IncrementalProgram, testing::Values(Mode::Embedded, Mode::Server), modeName);
INSTANTIATE_TEST_SUITE_P(Modes, IncrementalProgramServer, testing::Values(Mode::Server), modeName);

// ---- large runs: a kill in the middle, two runs at once -----------------

class LargeRun : public testing::TestWithParam<Mode> {
protected:
    static constexpr int kDocs = 3000;
    void SetUp() override {
        EXPTEST_REQUIRE_MODE(GetParam());
        ws_ = std::make_unique<Workspace>(GetParam());
        ws_->createDatabase({});
        ws_->generate(kDocs, 8192);
        ws_->writeConfig("01/01/2010", "00:00:00", ws_->out.string() + "/");
        readExpected();
    }

    // Every document's file and the newest change, read back from the database.
    void readExpected() {
        const auto who = fixture::defaultCredentials(ws_->dbName);
        db::Database database(client(), ws_->dbName, {"user_name=" + who.user, "password=" + who.password});
        {
            db::Query q(database, "SELECT NFE_CHAVEACESSO, NFE_XML FROM MVTO_NFE");
            for (q.execute(); !q.eof(); q.next()) expected_["NFe" + q.text(0) + ".XML"] = q.text(1) + "\r\n";
        }
        {
            // "AAAA-MM-DD hh:mm:ss.ffff", written as the stamp is: "DD/MM/AAAA hh:mm:ss"
            db::Query q(database, "SELECT CAST(MAX(DIG_DATAHORA) AS VARCHAR(24)) FROM MVTO_NFE");
            q.execute();
            const std::string t = q.text(0);
            newest_ = t.substr(8, 2) + "/" + t.substr(5, 2) + "/" + t.substr(0, 4) + " " + t.substr(11, 8);
        }
        database.close();
        ASSERT_EQ(expected_.size(), size_t(kDocs));
    }

    // Every file present under a final name is whole.
    void expectNoPartialFile() {
        size_t whole = 0;
        for (const auto& [name, bytes] : Workspace::files(ws_->out)) {
            if (name.size() < 4 || name.substr(name.size() - 4) != ".XML") continue;  // a temporary name
            ASSERT_TRUE(expected_.count(name)) << name;
            EXPECT_EQ(bytes, expected_.at(name)) << name;
            ++whole;
        }
        EXPECT_GT(whole, 0u);
    }

    size_t finalFiles() const {
        size_t n = 0;
        for (const auto& e : fs::directory_iterator(ws_->out))
            if (e.path().extension() == ".XML") ++n;
        return n;
    }

    bool lockHeld() const {
        const int fd = ::open((ws_->ini.string() + ".lock").c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) return false;
        const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
        ::close(fd);
        return held;
    }

    std::map<std::string, std::string> finalOnly() const {
        std::map<std::string, std::string> m;
        for (auto& [k, v] : Workspace::files(ws_->out))
            if (k.size() >= 4 && k.substr(k.size() - 4) == ".XML") m[k] = v;
        return m;
    }

    // Lets the started run go on in short slices and looks while it is stopped,
    // until `enough` files exist: however fast the run is, it is caught in the
    // middle and left stopped. False when the run ended first.
    bool stopInTheMiddle(pid_t pid, size_t enough) {
        auto stopped = [&] {
            int status = 0;
            return ::waitpid(pid, &status, WUNTRACED) == pid && WIFSTOPPED(status);
        };
        if (::kill(pid, SIGSTOP) != 0 || !stopped()) return false;
        const auto until = std::chrono::steady_clock::now() + 5min;
        while (finalFiles() < enough && std::chrono::steady_clock::now() < until) {
            ::kill(pid, SIGCONT);
            std::this_thread::sleep_for(2ms);
            ::kill(pid, SIGSTOP);
            if (!stopped()) return false;
        }
        return finalFiles() >= enough && finalFiles() < size_t(kDocs);
    }

    std::unique_ptr<Workspace> ws_;
    std::map<std::string, std::string> expected_;
    std::string newest_;
};

TEST_P(LargeRun, KilledInTheMiddleThenACompleteRerun) {
    const std::string before = slurp(ws_->ini);
    const pid_t pid = ws_->start();
    ASSERT_TRUE(stopInTheMiddle(pid, kDocs / 4)) << "the run ended before it could be killed";
    ::kill(pid, SIGKILL);
    const RunResult killed = ws_->wait(pid);
    ASSERT_EQ(killed.status, 128 + SIGKILL) << "the run ended before it could be killed";
    const size_t written = finalFiles();
    EXPECT_LT(written, size_t(kDocs));
    expectNoPartialFile();
    EXPECT_EQ(slurp(ws_->ini), before);

    // The lock died with its process: the rerun proceeds at once and completes.
    const RunResult r = ws_->run();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(finalOnly(), expected_);
    EXPECT_EQ(ws_->configValue("Data") + " " + ws_->configValue("Hora"), newest_);
    // Files already whole are left as they are.
    EXPECT_NE(r.out.find("selecionados=" + std::to_string(kDocs) + " gravados=" + std::to_string(kDocs - written)),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("inalterados=" + std::to_string(written) + " "), std::string::npos) << r.out;
}

TEST_P(LargeRun, SecondRunWaitsThenEndsWithTheBusyStatus) {
    const pid_t first = ws_->start();
    const auto until = std::chrono::steady_clock::now() + 2min;
    while (!lockHeld() && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(1ms);
    // Hold the first run inside its export while the second one tries.
    ASSERT_EQ(::kill(first, SIGSTOP), 0);
    ASSERT_TRUE(lockHeld());
    const size_t filesBefore = Workspace::files(ws_->out).size();
    const auto t0 = std::chrono::steady_clock::now();
    const RunResult second = ws_->wait(ws_->start(), 2min);
    const auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_EQ(second.status, 75);
    EXPECT_NE(second.err.find("Outra exportação está em andamento"), std::string::npos) << second.err;
    EXPECT_GE(waited, 9s);
    // The second run wrote nothing and left the settings alone.
    EXPECT_EQ(Workspace::files(ws_->out).size(), filesBefore);
    EXPECT_EQ(ws_->configValue("Data"), "01/01/2010");

    ::kill(first, SIGCONT);
    const RunResult r = ws_->wait(first);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(finalOnly(), expected_);
    EXPECT_EQ(ws_->configValue("Data") + " " + ws_->configValue("Hora"), newest_);
}

TEST_P(LargeRun, SignalStopsAtADocumentBoundary) {
    const std::string before = slurp(ws_->ini);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(sig);
        fs::remove_all(ws_->out);
        fs::create_directory(ws_->out);
        const pid_t pid = ws_->start();
        ASSERT_TRUE(stopInTheMiddle(pid, 20)) << "the run ended before the signal";
        ::kill(pid, sig);
        ::kill(pid, SIGCONT);
        const RunResult r = ws_->wait(pid);
        EXPECT_EQ(r.status, 128 + sig) << r.err;
        EXPECT_NE(r.err.find("Exportação interrompida"), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.out.find("resultado=interrompido"), std::string::npos) << r.out;
        EXPECT_LT(finalFiles(), size_t(kDocs));
        expectNoPartialFile();
        EXPECT_EQ(Workspace::files(ws_->out).size(), finalFiles()) << "a temporary was left";
        EXPECT_EQ(slurp(ws_->ini), before);
    }
}

TEST_P(LargeRun, RunThatWaitedStartsFromTheFirstRunsStamp) {
    const pid_t first = ws_->start();
    const auto until = std::chrono::steady_clock::now() + 2min;
    while (!lockHeld() && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(1ms);
    ::kill(first, SIGSTOP);
    const pid_t second = ws_->start();
    // The first run goes on only once the second one is waiting for the lock.
    EXPECT_TRUE(waitUntilOpen(second, ws_->ini.string() + ".lock")) << "the second run never reached the lock";
    ::kill(first, SIGCONT);
    const RunResult a = ws_->wait(first);
    const RunResult b = ws_->wait(second);
    ASSERT_EQ(a.status, 0) << a.err;
    ASSERT_EQ(b.status, 0) << b.err << "(the first run took longer than the second one waits)";
    EXPECT_NE(b.out.find("examinados=0 selecionados=0 gravados=0"), std::string::npos) << b.out;
    EXPECT_EQ(finalOnly(), expected_);
}

INSTANTIATE_TEST_SUITE_P(Modes, LargeRun, testing::Values(Mode::Embedded, Mode::Server), modeName);

}  // namespace
}  // namespace exptest
