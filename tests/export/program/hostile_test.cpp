// The exports under attack: stop signals at any moment of a run, settings
// values holding NUL and control bytes, links planted where the run writes,
// access keys holding control bytes. The real program where the fault was
// seen through it; the library call for the period export.
#include "tests/support/workspace.h"

#include "export/history/history.h"
#include "export/runs.h"
#include "export/sources/firebird/firebird_options.h"
#include "export/core/summary.h"
#include "tests/support/silent_proxy.h"

#include <QString>
#include <cstdlib>
#include <fstream>
#include <signal.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace exptest {
namespace {

using namespace std::chrono_literals;

// Every byte of an error output is text: no control byte but the line ends,
// and valid UTF-8 (the accents of the messages kept).
void expectCleanLines(const std::string& err) {
    for (unsigned char c : err) EXPECT_TRUE(c >= 0x20 || c == '\n') << "control byte " << int(c) << " in: " << err;
    const QString decoded = QString::fromUtf8(err.data(), qsizetype(err.size()));
    EXPECT_EQ(decoded.toUtf8().toStdString(), err) << "not UTF-8: " << err;
    EXPECT_TRUE(err.empty() || err.back() == '\n') << err;
}

// The program (not the test's own image before exec) has loaded the client.
bool clientLibraryLoaded(pid_t pid, const fs::path& exe) {
    std::error_code ec;
    if (fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec) != exe) return false;
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find("libfbclient") != std::string::npos) return true;
    return false;
}

// ---- stop signals at any moment -----------------------------------------

class StopSignal : public testing::TestWithParam<Mode> {
protected:
    void SetUp() override {
        EXPTEST_REQUIRE_MODE(GetParam());
        ws_ = std::make_unique<Workspace>(GetParam());
        ws_->createDatabase({});
        ws_->generate(kDocs, 2048);
        ws_->writeConfig("01/01/2010", "00:00:00", ws_->out.string() + "/");
    }
    // A run from `settings` into an empty folder, returned once the client
    // library is loaded.
    pid_t startWhenLoaded(const std::string& settings) {
        spit(ws_->ini, settings);
        fs::remove_all(ws_->out);
        fs::create_directory(ws_->out);
        const pid_t pid = ws_->start();
        const auto until = std::chrono::steady_clock::now() + 20s;
        while (!clientLibraryLoaded(pid, ws_->exe) && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(200us);
        return pid;
    }
    static constexpr int kDocs = 300;
    std::unique_ptr<Workspace> ws_;
};

// Early signals land while the client library attaches (it puts its own
// handlers in place then); late ones inside the document loop or after it.
// The last moment of each signal waits for the first file, so that however
// fast the machine, some run is stopped between two documents.
TEST_P(StopSignal, AtAnyMomentTheRunStopsCleanlyOrCompletes) {
    const std::string settings = slurp(ws_->ini);
    constexpr int kAfterTheFirstFile = -1;
    // A program that ignored every request would complete every run; one
    // that stopped only before its first document would never be caught
    // between two.
    int interrupted = 0, betweenDocuments = 0;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        for (int delayMs : {0, 2, 5, 10, 20, 40, 80, 160, kAfterTheFirstFile}) {
            SCOPED_TRACE(std::string(strsignal(sig)) + " " +
                         (delayMs == kAfterTheFirstFile
                              ? std::string("once the first file was written")
                              : std::to_string(delayMs) + " ms after the client library loaded"));
            const pid_t pid = startWhenLoaded(settings);
            if (delayMs == kAfterTheFirstFile)
                Workspace::waitForProgress(
                    pid, [&] { return fs::directory_iterator(ws_->out) != fs::directory_iterator(); }, 20s, 2min, 1ms);
            else std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            ::kill(pid, sig);
            const RunResult r = ws_->wait(pid, 2min);
            const auto files = Workspace::files(ws_->out);
            for (const auto& [name, bytes] : files) {
                ASSERT_EQ(name.substr(name.size() - 4), ".XML") << "a temporary was left: " << name;
                ASSERT_GE(bytes.size(), 2u);
                EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n") << "partial file " << name;
            }
            if (r.status == 0) {
                // The signal came after the last document: a complete run.
                EXPECT_NE(r.out.find("resultado=completo"), std::string::npos) << r.out;
                EXPECT_EQ(files.size(), size_t(kDocs));
                continue;
            }
            ASSERT_EQ(r.status, 128 + sig) << r.out << r.err;
            EXPECT_EQ(r.err, std::string("Exportação interrompida por SIG") + sigabbrev_np(sig) +
                                 ": nenhum arquivo parcial, marca não movida\n");
            EXPECT_NE(r.out.find("resultado=interrompido"), std::string::npos) << r.out;
            EXPECT_EQ(slurp(ws_->ini), settings);
            ++interrupted;
            if (!files.empty() && files.size() < size_t(kDocs)) ++betweenDocuments;
        }
    }
    EXPECT_GT(interrupted, 0) << "no run was stopped by its signal";
    EXPECT_GT(betweenDocuments, 0) << "no run was stopped between two documents";
}

// Started under nohup, the run goes on when its terminal hangs up; a
// termination request still stops it.
TEST_P(StopSignal, UnderNohupAHangUpLeavesTheRunGoing) {
    ws_->hangupIgnored = true;
    const std::string settings = slurp(ws_->ini);
    for (int sig : {SIGHUP, SIGTERM}) {
        SCOPED_TRACE(strsignal(sig));
        const pid_t pid = startWhenLoaded(settings);
        ::kill(pid, sig);
        const RunResult r = ws_->wait(pid, 2min);
        if (sig == SIGHUP) {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_NE(r.out.find("resultado=completo"), std::string::npos) << r.out;
            EXPECT_EQ(Workspace::files(ws_->out).size(), size_t(kDocs));
        } else {
            EXPECT_EQ(r.status, 128 + sig) << r.out << r.err;
        }
    }
}

// The window's run on a signal: as "Sair", it stops at its next document
// and the program ends (status 0), the stamp unmoved.
TEST_P(StopSignal, WindowRunStopsAtTheNextDocumentAndTheProgramEnds) {
    REQUIRE_X_SERVER();
    // Long enough a run to be caught in the middle.
    constexpr int kMore = 12000;
    fixture::fillGenerated(client(), ws_->dbName, fixture::defaultCredentials(ws_->dbName), kDocs + 1, kMore, 2048);
    // Counted, not read: reading every file while the run writes would let it finish first.
    const auto written = [&] {
        size_t n = 0;
        for (auto it = fs::directory_iterator(ws_->out); it != fs::directory_iterator(); ++it) ++n;
        return n;
    };
    ws_->qtPlatform = "xcb";
    ws_->display = std::getenv("DISPLAY");
    const std::string settings = slurp(ws_->ini);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(sig));
        fs::remove_all(ws_->out);
        fs::create_directory(ws_->out);
        pid_t pid = 0;
        std::string id;
        // The shared virtual display now and then turns a connection away
        // under load (the program then aborts at once, saying so): that
        // start is repeated, whatever else ends the program is the test's.
        for (int attempt = 1;; ++attempt) {
            pid = ws_->start({});
            const fs::path idFile = ws_->dir / "window-id.txt";
            const std::string find = "xdotool search --all --pid " + std::to_string(pid) +
                                     " --name '^Exportar XML$' > " + idFile.string() + " 2>/dev/null";
            const auto shown = [&] {
                if (std::system(find.c_str()) == 0) id = slurp(idFile).substr(0, slurp(idFile).find('\n'));
                return !id.empty();
            };
            // Measured in the program's processor time: beside a heavy test on a
            // loaded machine the window takes longer to come, not forever.
            const auto shownAfter = Workspace::waitForProgress(pid, shown, 20s, 5min, 100ms);
            if (shownAfter == Workspace::Progress::Done) break;
            const RunResult gone = ws_->wait(pid, 2min);
            if (shownAfter == Workspace::Progress::Ended && attempt < 3 &&
                gone.err.find("could not connect to display") != std::string::npos)
                continue;
            FAIL() << (shownAfter == Workspace::Progress::Ended ? "the program ended before its window appeared"
                                                                : "window never appeared")
                   << ", status " << gone.status << ": " << gone.err;
        }
        // "Gerar": the form's controls stand at fixed places. A click that came
        // before the window took input is repeated; one during the run starts nothing.
        const std::string click = "xdotool mousemove --window " + id + " 283 92 click 1";
        auto clicked = std::chrono::steady_clock::time_point{};
        const auto started = [&] {
            if (written() >= 20) return true;
            if (std::chrono::steady_clock::now() - clicked > 10s) {
                EXPECT_EQ(std::system(click.c_str()), 0);
                clicked = std::chrono::steady_clock::now();
            }
            return false;
        };
        ASSERT_EQ(Workspace::waitForProgress(pid, started, 30s), Workspace::Progress::Done)
            << "the run did not start or ended early: " << written() << " files";
        ::kill(pid, sig);
        const RunResult r = ws_->wait(pid, 2min);
        EXPECT_EQ(r.status, 0) << r.err;
        const auto files = Workspace::files(ws_->out);
        EXPECT_GE(files.size(), 20u);
        EXPECT_LT(files.size(), size_t(kDocs + kMore)) << "the run went on to the end";
        for (const auto& [name, bytes] : files) {
            ASSERT_EQ(name.substr(name.size() - 4), ".XML") << "a temporary was left: " << name;
            EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n") << "partial file " << name;
        }
        EXPECT_EQ(slurp(ws_->ini), settings);
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, StopSignal, testing::Values(Mode::Embedded, Mode::Server), modeName);

// ---- a server that stops answering -------------------------------------

// The database server goes silent behind a relay (both connections stay open,
// nothing more arrives): the run must not hold its lock forever.
TEST(SilentServer, NeitherASignalNorTheProgressLimitIsWaitedOutForever) {
    REQUIRE_FIREBIRD_SERVER();
    struct Case {
        const char* name;
        std::size_t bytesBeforeSilence;  // from the server
        int signal;                      // 0: none, the progress limit ends it
        int status;
        const char* says;
        const char* recorded;
    };
    const Case cases[] = {
        {"silent while attaching, SIGTERM", 0, SIGTERM, 128 + SIGTERM, "o servidor não respondeu", "interrompido"},
        {"silent amid the documents, SIGINT", 300000, SIGINT, 128 + SIGINT, "o servidor não respondeu", "interrompido"},
        {"silent amid the documents, no signal", 300000, 0, 1, "nenhum progresso em 3 s", "falhou"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Workspace ws(Mode::Server);
        ws.createDatabase({});
        ws.generate(3000, 2048);
        testsupport::SilentProxy proxy(3050, c.bytesBeforeSilence);
        ws.dbName = "127.0.0.1/" + std::to_string(proxy.port()) + ":" + ws.dbFile.string();
        spit(ws.ini, ws.configText("01/01/2000", "00:00:00", ws.out.string() + "/") + "TempoSemProgresso=3\r\n");
        const std::string settings = slurp(ws.ini);
        const auto begun = std::chrono::steady_clock::now();
        const pid_t pid = ws.start();
        for (auto until = begun + 60s; !proxy.silent() && std::chrono::steady_clock::now() < until;)
            std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(proxy.silent()) << "the run never reached the silence";
        std::this_thread::sleep_for(500ms);
        if (c.signal) ::kill(pid, c.signal);
        const RunResult r = ws.wait(pid, 60s);
        const auto took = std::chrono::steady_clock::now() - begun;
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_LT(took, 40s);
        for (const auto& [name, bytes] : Workspace::files(ws.out)) {
            ASSERT_EQ(name.substr(name.size() - 4), ".XML") << "a temporary was left: " << name;
            EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n") << "partial file " << name;
        }
        EXPECT_EQ(slurp(ws.ini), settings) << "the stamp moved";
        // its end is in the history, so /status does not report the run before it
        const std::string history = slurp(ws.dir / "ConfigQuillan.log.jsonl");
        EXPECT_NE(history.find(std::string("\"resultado\":\"") + c.recorded + "\""), std::string::npos) << history;
        if (!c.signal) {
            // abandoned: what it had done and where it stood, not a run of nothing
            const auto last = exports::lastRun((ws.dir / "ConfigQuillan.log.jsonl").string());
            ASSERT_TRUE(last);
            const long long files = static_cast<long long>(Workspace::files(ws.out).size());
            EXPECT_GT(files, 0);
            EXPECT_EQ(last->written, files) << history;
            EXPECT_GE(last->examined, files) << history;
            EXPECT_NE(last->error.find("lendo do banco o documento seguinte ao "), std::string::npos) << last->error;
            EXPECT_NE(last->error.find(" e " + std::to_string(files) + " gravados; "), std::string::npos)
                << last->error;
            EXPECT_NE(r.out.find("gravados=" + std::to_string(files) + " "), std::string::npos) << r.out;
        }
        EXPECT_EQ(ws.run({"/status"}).status, 1);
    }
}

// ---- hostile settings values and planted links --------------------------

class Hostile : public testing::Test {
protected:
    void SetUp() override {
        ws_ = std::make_unique<Workspace>(Mode::Embedded);
        std::vector<Doc> docs;
        for (int seq : {1, 2, 3}) {
            Doc d;
            d.seq = seq;
            d.moment = "2021-01-0" + std::to_string(seq) + " 10:00:00";
            d.tipo = "NF";
            d.xml = "<doc>" + std::to_string(seq) + "</doc>";
            docs.push_back(d);
        }
        ws_->createDatabase(docs);
        outside_ = ws_->dir / "outside";
        fs::create_directory(outside_);
    }
    static std::string file(int seq) { return "NFe" + fixture::accessKey(seq) + ".XML"; }
    std::map<std::string, std::string> allThree() const {
        return {{file(1), "<doc>1</doc>\r\n"}, {file(2), "<doc>2</doc>\r\n"}, {file(3), "<doc>3</doc>\r\n"}};
    }
    std::unique_ptr<Workspace> ws_;
    fs::path outside_;
};

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

TEST_F(Hostile, SettingsValuesWithNulOrControlBytesStopTheRunWithOneWholeLine) {
    const std::string good = ws_->configText("01/01/2010", "00:00:00", ws_->out.string() + "/");
    struct Case {
        const char* name;
        std::string settings;
        std::string message;  // on the error output, escaped
    };
    const Case cases[] = {
        // Read up to the NUL, the folder would be another one.
        {"nul in PastaExportar", replaced(good, "xml/", std::string("xml\0/../outside/", 16)),
         "Pasta de exportação (PastaExportar) com um byte nulo em " + ws_->ini.string() + ": \"" + ws_->out.string() +
             "\\x00/../outside/\""},
        // Read up to the NUL, the database would be another one.
        {"nul in Base", replaced(good, ".fdb", std::string(".fdb\0.other", 11)), "Database name holds a NUL byte"},
        {"nul and escape in Data", replaced(good, "01/01/2010", std::string("01/01\0/2010\x1B[2J", 15)),
         "\"01/01\\x00/2010\\x1B[2J 00:00:00\" (esperado dd/mm/aaaa hh:mm:ss)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        spit(ws_->ini, c.settings);
        const RunResult r = ws_->run();
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        expectCleanLines(r.err);
        EXPECT_TRUE(Workspace::files(ws_->out).empty());
        EXPECT_TRUE(Workspace::files(outside_).empty());
        EXPECT_EQ(slurp(ws_->ini), c.settings);
    }
}

TEST_F(Hostile, LinesEndingInALoneCrAreRead) {
    std::string settings = ws_->configText("01/01/2010", "00:00:00", ws_->out.string() + "/");
    for (size_t at; (at = settings.find("\r\n")) != std::string::npos;) settings.erase(at + 1, 1);
    spit(ws_->ini, settings);
    const RunResult r = ws_->run();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Workspace::files(ws_->out), allThree());
    const std::string stored = slurp(ws_->ini);
    EXPECT_NE(stored.find("\rData=03/01/2021\rHora=10:00:00\r"), std::string::npos) << stored;
    EXPECT_EQ(stored.find('\n'), std::string::npos) << stored;
}

TEST_F(Hostile, OutputFolderSettingThatIsAFileOrALink) {
    spit(ws_->dir / "afile", "x");
    ws_->writeConfig("01/01/2010", "00:00:00", (ws_->dir / "afile").string());
    const std::string settings = slurp(ws_->ini);
    RunResult r = ws_->run();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Pasta de exportação não é uma pasta: " + (ws_->dir / "afile").string() + "/"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(slurp(ws_->ini), settings);

    // A link the user chose as the folder is followed: the files land where it points.
    fs::create_directory_symlink(outside_, ws_->dir / "link");
    ws_->writeConfig("01/01/2010", "00:00:00", (ws_->dir / "link").string());
    r = ws_->run();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Workspace::files(outside_), allThree());
}

// The program sits in a folder whose name has an accent (a UTF-8 file name);
// a relative PastaExportar is found inside it.
TEST_F(Hostile, RelativeFolderBesideSettingsInAFolderWithAnAccent) {
    const fs::path home = ws_->dir / "Exportação";
    fs::create_directories(home / "xml");
    fs::copy_file(ws_->exe, home / "exportar-xml");
    ws_->exe = home / "exportar-xml";
    ws_->ini = home / "ConfigQuillan.ini";
    ws_->writeConfig("01/01/2010", "00:00:00", "xml");
    const RunResult r = ws_->run();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Workspace::files(home / "xml"), allThree());
}

// Keys with a line break or a terminal escape are refused like unsafe ones;
// every other document is written and the stamp moves.
TEST_F(Hostile, AccessKeysWithControlBytesAreRefused) {
    Doc d;
    d.seq = 4;
    d.moment = "2021-01-04 10:00:00";
    d.tipo = "NF";
    d.xml = "<doc>4</doc>";
    d.key = "35AAA\nlinha2";
    Doc e = d;
    e.seq = 5;
    e.key = "35\x1B[2J\x07";
    fixture::runScript(client(), ws_->dbName, fixture::defaultCredentials(ws_->dbName), insertScript({d, e}));
    ws_->writeConfig("01/01/2010", "00:00:00", ws_->out.string() + "/");
    const RunResult r = ws_->run();
    EXPECT_EQ(r.status, 65) << r.err;
    EXPECT_EQ(r.err,
              "Documento recusado: 4 chave \"35AAA\\x0Alinha2\": nome inseguro\n"
              "Documento recusado: 5 chave \"35\\x1B[2J\\x07\": nome inseguro\n");
    EXPECT_EQ(Workspace::files(ws_->out), allThree());
    EXPECT_EQ(ws_->configValue("Data") + " " + ws_->configValue("Hora"), "04/01/2021 10:00:00");
}

// Documents made to keep the checks busy for hours or to fill the memory: the
// run ends at its usual pace with their findings, every document exported as
// stored, and the program never holds much memory.
TEST_F(Hostile, DocumentsBuiltToStallTheChecksAreJudgedAndExported) {
    // No signature to verify: the digest the protocol holds is worked out over infNFe.
    const auto document = [](int seq, const std::string& prolog, const std::string& rootExtra, const std::string& body,
                             const std::string& digVal) {
        const std::string key = fixture::accessKey(seq);
        return prolog + "<nfeProc xmlns=\"http://www.portalfiscal.inf.br/nfe\"" + rootExtra +
               " versao=\"4.00\"><NFe><infNFe Id=\"NFe" + key + "\" versao=\"4.00\">" + body +
               "</infNFe></NFe><protNFe versao=\"4.00\"><infProt><chNFe>" + key + "</chNFe><digVal>" + digVal +
               "</digVal><cStat>100</cStat></infProt></protNFe></nfeProc>";
    };
    std::string declarations, elements, references;
    for (int i = 0; i < 10000; ++i) declarations += " xmlns:n" + std::to_string(i) + "=\"urn:n\"";
    for (int i = 0; i < 4000; ++i) elements += "<e/>";
    for (int i = 0; i < 2000; ++i) references += "&big;";
    const std::string sha1 = "AAAAAAAAAAAAAAAAAAAAAAAAAAA=";
    const std::string flood = document(4, "", declarations, elements, sha1);
    const std::string entity = document(5, "<!DOCTYPE nfeProc [<!ENTITY big \"" + std::string(1 << 20, 'A') + "\">]>",
                                        "", "", references);
    ASSERT_GT(flood.size(), 200000u);
    const auto who = fixture::defaultCredentials(ws_->dbName);
    std::map<std::string, std::string> expected = allThree();
    for (const auto& [seq, text] : {std::pair<int, const std::string&>{4, flood}, {5, entity}}) {
        Doc d;
        d.seq = seq;
        d.moment = "2021-01-0" + std::to_string(seq) + " 10:00:00";
        d.tipo = "NF";
        d.xml = "x";
        fixture::runScript(client(), ws_->dbName, who, insertScript({d}));
        fixture::setText(client(), ws_->dbName, who, seq, "NFE_XML", text);
        expected[file(seq)] = text + "\r\n";
    }
    spit(ws_->ini, ws_->configText("01/01/2010", "00:00:00", ws_->out.string() + "/") + "TempoSemProgresso=20\r\n");
    const RunResult r = ws_->run();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    // the three <doc> texts and the DOCTYPE are XML faults; the flood is past the canonical form's limits
    EXPECT_NE(r.out.find("falhas_xml=4 falhas_assinatura=1"), std::string::npos) << r.out;
    EXPECT_EQ(Workspace::files(ws_->out), expected);
    EXPECT_EQ(ws_->configValue("Data") + " " + ws_->configValue("Hora"), "05/01/2021 10:00:00");
    // the month's package of the same documents, checked by its own threads
    const fs::path packages = ws_->dir / "pacotes";
    fs::create_directory(packages);
    const RunResult p = ws_->run({"/pacote", "2020-12", packages.string()});
    ASSERT_EQ(p.status, 0) << p.out << p.err;
    EXPECT_NE(p.out.find("gravados=5 "), std::string::npos) << p.out;
    EXPECT_NE(p.out.find(" falhas_xml=4 "), std::string::npos) << p.out;
    EXPECT_NE(p.out.find(" falhas_assinatura=1"), std::string::npos) << p.out;
    EXPECT_TRUE(fs::exists(packages / "NFe-2020-12.zip"));
    rusage children{};
    ASSERT_EQ(::getrusage(RUSAGE_CHILDREN, &children), 0);
    EXPECT_LT(children.ru_maxrss, 200 * 1024) << "KB at most in a child of the test";
}

}  // namespace
}  // namespace exptest
