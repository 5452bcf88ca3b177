// The real program, copied into a temporary folder so that its settings file
// (which lives beside the executable) is the test's own.
#include "db/fbclient.h"
#include "tests/support/prerequisites.h"
#include "tools/fbfixture/fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kDefaults =
    "[Configuracoes]\r\nBase=\r\nData=01/01/2010\r\nHora=00:00:00\r\nPastaExportar=\r\n"
    "ExportaEmitidas=\r\nExportaEmitidasVeiculos=\r\nExportaRecebidas=\r\n";
const std::string kSettings =
    "[Configuracoes]\r\nBase=\r\nData=25/12/2020\r\nHora=10:05:03\r\nPastaExportar=\r\n"
    "ExportaEmitidas=S\r\nExportaEmitidasVeiculos=S\r\nExportaRecebidas=S\r\n";

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct Child {
    pid_t pid = -1;
    fs::path out, err;
};

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/program_test.XXXXXX";
        dir_ = ::mkdtemp(tmpl);
        exe_ = dir_ / "exportar-xml";
        fs::copy_file(EXPORTAR_BINARY, exe_);
        ini_ = dir_ / "ConfigQuillan.ini";
    }
    void TearDown() override { fs::remove_all(dir_); }

    // env: overrides; a value of nullptr removes the variable.
    Child start(const std::vector<std::string>& args, const std::map<std::string, const char*>& env = {}) {
        Child r;
        r.out = dir_ / "stdout.txt";
        r.err = dir_ / "stderr.txt";
        std::vector<std::string> envStrings;
        for (char** e = environ; *e; ++e) {
            std::string kv = *e;
            if (!env.count(kv.substr(0, kv.find('=')))) envStrings.push_back(kv);
        }
        for (const auto& [k, v] : env)
            if (v) envStrings.push_back(k + "=" + v);
        if (!env.count("QT_QPA_PLATFORM")) envStrings.push_back("QT_QPA_PLATFORM=offscreen");
        r.pid = ::fork();
        if (r.pid == 0) {
            int o = ::open(r.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int e = ::open(r.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int in = ::open("/dev/null", O_RDONLY);
            ::dup2(in, 0);
            ::dup2(o, 1);
            ::dup2(e, 2);
            // Started from elsewhere: the settings must still be found beside the program.
            if (::chdir("/") != 0) ::_exit(126);
            std::vector<char*> argv{const_cast<char*>(exe_.c_str())};
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            std::vector<char*> envp;
            for (auto& s : envStrings) envp.push_back(s.data());
            envp.push_back(nullptr);
            ::execve(exe_.c_str(), argv.data(), envp.data());
            ::_exit(127);
        }
        return r;
    }

    // Exit status, or -1 when it has not ended within the limit (then killed).
    int wait(const Child& r, std::chrono::milliseconds limit = 30s) {
        const auto until = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (std::chrono::steady_clock::now() < until) {
            if (::waitpid(r.pid, &status, WNOHANG) == r.pid)
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            std::this_thread::sleep_for(20ms);
        }
        ::kill(r.pid, SIGKILL);
        ::waitpid(r.pid, &status, 0);
        return -1;
    }

    bool stillRunningAfter(const Child& r, std::chrono::milliseconds d) {
        std::this_thread::sleep_for(d);
        int status = 0;
        return ::waitpid(r.pid, &status, WNOHANG) == 0;
    }

    fs::path dir_, exe_, ini_;
};

TEST_F(ProgramTest, FirstRunInAnEmptyFolderWritesDefaultsAndEnds) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"/executa"}}) {
        fs::remove(ini_);
        Child r = start(args);
        ASSERT_EQ(wait(r), 0) << slurp(r.err);
        EXPECT_EQ(slurp(ini_), kDefaults);
        EXPECT_NE(slurp(r.err).find("Exportação de XML: Necessário configuarar arquivo \"ConfigQuillan.ini\""),
                  std::string::npos)
            << slurp(r.err);
    }
}

TEST_F(ProgramTest, NormalStartRunsUntilTerminatedAndLeavesSettingsAlone) {
    std::ofstream(ini_, std::ios::binary) << kSettings;
    Child r = start({});
    ASSERT_TRUE(stillRunningAfter(r, 1500ms)) << slurp(r.err);
    ::kill(r.pid, SIGTERM);
    EXPECT_EQ(wait(r), 0);
    EXPECT_EQ(slurp(ini_), kSettings);
}

TEST_F(ProgramTest, MissingClientLibraryStopsBeforeTheSettingsAreTouched) {
    const std::string expected =
        "Application Error: Error reading IBDatabase1.ServerType: InterBase library /nonexistent/libfbclient.so.9 "
        "not found in the path. Please install InterBase to use this functionality";
    // Neither an existing file nor a missing one is touched.
    for (bool withSettings : {true, false}) {
        fs::remove(ini_);
        if (withSettings) std::ofstream(ini_, std::ios::binary) << kSettings;
        Child r = start({"/executa"}, {{"EXPORTAR_FBCLIENT", "/nonexistent/libfbclient.so.9"}});
        EXPECT_EQ(wait(r), 1);
        EXPECT_NE(slurp(r.err).find(expected), std::string::npos) << slurp(r.err);
        if (withSettings) EXPECT_EQ(slurp(ini_), kSettings);
        else EXPECT_FALSE(fs::exists(ini_));
    }
}

// Every word gets an answer: a typo in a cron line, a window with no display
// to show it, a question for the commands. None of them waits.
TEST_F(ProgramTest, EveryCommandLineEndsWithAnAnswer) {
    std::ofstream(ini_, std::ios::binary) << kSettings;
    struct Case {
        std::vector<std::string> args;
        std::map<std::string, const char*> env;
        int status;
        bool listOnStdout, listOnStderr;
        std::string says;
    } cases[] = {
        {{"/foo"}, {}, 64, false, true, "Comando desconhecido: /foo"},
        {{"/exectua"}, {{"DISPLAY", nullptr}, {"QT_QPA_PLATFORM", nullptr}}, 64, false, true, "/exectua"},
        {{"/executa", "/acver", "/xyz"}, {}, 64, false, true, "/xyz"},
        {{"--help"}, {}, 0, true, false, "/escritorio [HORAS]"},
        {{},
         {{"DISPLAY", nullptr}, {"WAYLAND_DISPLAY", nullptr}, {"QT_QPA_PLATFORM", nullptr}},
         69,
         false,
         false,
         "Sem tela"},
        // A display named but gone: the same, never an invisible window.
        {{},
         {{"DISPLAY", ":97"}, {"WAYLAND_DISPLAY", nullptr}, {"QT_QPA_PLATFORM", nullptr}},
         69,
         false,
         false,
         "não responde"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.empty() ? std::string("(janela)") : c.args.front());
        Child r = start(c.args, c.env);
        EXPECT_EQ(wait(r, 20s), c.status) << slurp(r.err);
        const std::string out = slurp(r.out), err = slurp(r.err);
        EXPECT_NE((out + err).find(c.says), std::string::npos) << out << err;
        EXPECT_EQ(out.find("Uso: exportar-xml") != std::string::npos, c.listOnStdout) << out;
        EXPECT_EQ(err.find("Uso: exportar-xml") != std::string::npos, c.listOnStderr) << err;
        EXPECT_EQ(slurp(ini_), kSettings);
    }
}

// A scheduler on a server starts the unattended run with no display, or with
// one that cannot be reached: the run must export as usual, not merely end.
TEST_F(ProgramTest, UnattendedRunWorksWithoutAnyDisplay) {
    const std::string db = (dir_ / "docs.fdb").string();
    const fixture::Credentials who;
    const auto client = db::FbClient::load(db::clientLibraryName());
    fixture::createDatabase(client, db, who);
    fixture::createSchema(client, db, who, fixture::Schema{});
    fixture::runScript(
        client, db, who,
        "INSERT INTO MVTO_NFE (PAI_SEQU, DIG_DATAHORA, NFE_CHAVEACESSO, NFE_XML) VALUES "
        "(1, '2020-12-25 10:05:37', '" +
            fixture::accessKey(1) +
            "', '<NFe>um</NFe>');\n"
            "INSERT INTO MVTO_NFE (PAI_SEQU, DIG_DATAHORA, NFE_CHAVEACESSO, NFE_CANCELAMENTO, NFE_XML) VALUES "
            "(2, '2021-01-02 08:00:00', '" +
            fixture::accessKey(2) + "', '<canc>dois</canc>', '<NFe>dois</NFe>');\n");
    const fs::path out = dir_ / "xml";
    auto settings = [&](const std::string& data, const std::string& hora) {
        return "[Configuracoes]\r\nBase=" + db + "\r\nData=" + data + "\r\nHora=" + hora +
               "\r\nPastaExportar=" + out.string() +
               "/\r\nExportaEmitidas=S\r\nExportaEmitidasVeiculos=S\r\nExportaRecebidas=S\r\n";
    };
    const std::map<std::string, std::string> expectedFiles = {
        {"NFe" + fixture::accessKey(1) + ".XML", "<NFe>um</NFe>\r\n"},
        {"CanNFe" + fixture::accessKey(2) + ".XML", "<canc>dois</canc>\r\n"},
    };
    const std::string expectedSummary =
        "Resumo: examinados=2 selecionados=2 gravados=2 marca_antes=\"01/01/2010 00:00:00\" "
        "marca_depois=\"02/01/2021 08:00:00\" tempo=";

    for (const char* display : {static_cast<const char*>(nullptr), ":9999"}) {
        SCOPED_TRACE(display ? display : "no DISPLAY");
        fs::remove_all(out);
        fs::create_directory(out);
        std::ofstream(ini_, std::ios::binary | std::ios::trunc) << settings("01/01/2010", "00:00:00");
        Child r = start({"/executa"}, {{"QT_QPA_PLATFORM", nullptr},
                                       {"DISPLAY", display},
                                       {"WAYLAND_DISPLAY", nullptr},
                                       {"LC_ALL", "pt_BR.UTF-8"}});
        ASSERT_EQ(wait(r, 60s), 0) << slurp(r.err);
        std::map<std::string, std::string> files;
        for (const auto& e : fs::directory_iterator(out)) files[e.path().filename().string()] = slurp(e.path());
        EXPECT_EQ(files, expectedFiles);
        const std::string stdoutText = slurp(r.out);
        EXPECT_EQ(stdoutText.rfind(expectedSummary, 0), 0u) << stdoutText;
        EXPECT_NE(stdoutText.find("s resultado=completo inalterados=0 recusados=0"), std::string::npos) << stdoutText;
        EXPECT_TRUE(stdoutText.ends_with("\n") && std::count(stdoutText.begin(), stdoutText.end(), '\n') == 1)
            << stdoutText;
        // The stamp moved; the transaction mark and the database's identity are stored beside it.
        const std::string ini = slurp(ini_);
        EXPECT_EQ(ini.rfind(settings("02/01/2021", "08:00:00"), 0), 0u) << ini;
        EXPECT_NE(ini.find("\r\nMarcaTransacao="), std::string::npos) << ini;
        EXPECT_NE(ini.find("\r\nMarcaBase="), std::string::npos) << ini;
    }
}

// "/status" answers from the history beside the program: no display, no
// database client, no settings file needed, and none created.
TEST_F(ProgramTest, StatusAnswersFromTheHistoryAlone) {
    const std::map<std::string, const char*> bare = {{"QT_QPA_PLATFORM", nullptr},
                                                     {"DISPLAY", nullptr},
                                                     {"WAYLAND_DISPLAY", nullptr},
                                                     {"EXPORTAR_FBCLIENT", "/nonexistent/libfbclient.so"},
                                                     {"LANG", "pt_BR.UTF-8"},
                                                     {"LC_ALL", nullptr},
                                                     {"TZ", "<-03>3"}};
    Child none = start({"/status"}, bare);
    EXPECT_EQ(wait(none), 3) << slurp(none.err);
    EXPECT_NE(slurp(none.out).find("Nenhuma exportação registrada"), std::string::npos) << slurp(none.out);
    EXPECT_FALSE(fs::exists(ini_));

    const auto line = [](const std::string& end, const char* result, const char* error) {
        return "{\"inicio\":\"" + end + "\",\"fim\":\"" + end + "\",\"tipo\":\"executa\",\"resultado\":\"" + result +
               "\",\"examinados\":3,\"selecionados\":2,\"gravados\":2,\"erro\":\"" + error + "\"}\n";
    };
    const auto iso = [](std::chrono::minutes ago) {
        const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now() - ago);
        char buf[32];
        std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&t));
        return std::string(buf);
    };
    const fs::path history = dir_ / "ConfigQuillan.log.jsonl";
    std::ofstream(history, std::ios::binary)
        << line(iso(200min), "completo", "") << line(iso(100min), "falhou", "Disco cheio");
    Child failed = start({"/status"}, bare);
    EXPECT_EQ(wait(failed), 1);
    EXPECT_NE(slurp(failed.out).find("Exportação agendada (/executa) falhou em "), std::string::npos)
        << slurp(failed.out);
    EXPECT_NE(slurp(failed.out).find(": Disco cheio; examinados 3"), std::string::npos) << slurp(failed.out);

    std::ofstream(history, std::ios::binary | std::ios::app) << line(iso(50min), "completo", "");
    for (const auto& [args, exit] : std::vector<std::pair<std::vector<std::string>, int>>{
             {{"/status"}, 0}, {{"/status", "60"}, 0}, {{"/status", "30"}, 1}, {{"/status", "meia-hora"}, 2}}) {
        Child r = start(args, bare);
        EXPECT_EQ(wait(r), exit) << args.back() << ": " << slurp(r.out) << slurp(r.err);
    }
    EXPECT_FALSE(fs::exists(ini_));
}

TEST_F(ProgramTest, DamagedSettingsNeitherCrashNorChange) {
    std::string binary;
    for (int i = 0; i < 4096; ++i) binary += char((i * 37 + 11) & 0xFF);
    const std::string cases[] = {
        binary,
        "[Configuracoes",
        "[Configuracoes]\r\nBase=" + std::string(1 << 20, 'x') + "\r\n",
        "[Configuracoes]\nData=99/99/9999\nHora=xx\nData=01/01/2010\nBase=\"\nPastaExportar=/nonexistent/\n",
        std::string("[Configuracoes]\r\nBase=\0\0\0\r\nData=\0\r\n", 35),
    };
    for (const std::string& c : cases) {
        std::ofstream(ini_, std::ios::binary | std::ios::trunc) << c;
        Child r = start({"/executa"});
        const int status = wait(r);
        EXPECT_TRUE(status == 0 || status == 1) << "status " << status << ": " << slurp(r.err);
        EXPECT_EQ(slurp(ini_), c);
    }
}

// Owns the system tray selection of the X screen, as a panel with a tray
// does, so that the program finds a tray to live in.
class FakeTray {
public:
    FakeTray() {
        int screenNumber = 0;
        c_ = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(c_)) return;
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c_));
        for (int i = 0; i < screenNumber; ++i) xcb_screen_next(&it);
        const xcb_window_t win = xcb_generate_id(c_);
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, win, it.data->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(screenNumber);
        xcb_intern_atom_reply_t* atom =
            xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, uint16_t(name.size()), name.c_str()), nullptr);
        if (!atom) return;
        xcb_set_selection_owner(c_, win, atom->atom, XCB_CURRENT_TIME);
        free(atom);
        xcb_flush(c_);
        ok_ = true;
    }
    ~FakeTray() { xcb_disconnect(c_); }
    bool ok() const { return ok_; }

private:
    xcb_connection_t* c_ = nullptr;
    bool ok_ = false;
};

// Under a real X server (the test command runs the suite inside xvfb-run):
// the window cannot be moved; it has no taskbar button while a tray icon
// can bring it back, and keeps it where there is no tray.
TEST_F(ProgramTest, RealXServerWindowCannotBeMovedAndLeavesTheTaskbarOnlyForATray) {
    REQUIRE_X_SERVER();
    std::ofstream(ini_, std::ios::binary) << kSettings;
    for (bool withTray : {false, true}) {
        std::optional<FakeTray> tray;
        if (withTray) {
            tray.emplace();
            ASSERT_TRUE(tray->ok());
        }
        Child r = start({}, {{"QT_QPA_PLATFORM", "xcb"}});
        std::string id;
        for (int i = 0; i < 100 && id.empty(); ++i) {
            std::this_thread::sleep_for(100ms);
            const fs::path idFile = dir_ / "wid.txt";
            const std::string cmd = "xdotool search --all --pid " + std::to_string(r.pid) +
                                    " --name '^Exportar XML$' > " + idFile.string() + " 2>/dev/null";
            if (std::system(cmd.c_str()) == 0) {
                id = slurp(idFile);
                id = id.substr(0, id.find('\n'));
            }
        }
        ASSERT_FALSE(id.empty()) << "window never appeared: " << slurp(r.err);
        const fs::path props = dir_ / "props.txt";
        ASSERT_EQ(std::system(("xprop -id " + id + " > " + props.string()).c_str()), 0);
        const std::string p = slurp(props);
        EXPECT_EQ(p.find("_NET_WM_STATE_SKIP_TASKBAR") != std::string::npos, withTray) << "tray " << withTray << p;
        // _MOTIF_WM_HINTS: flags, functions, ...; the Move function (4) is off.
        const auto at = p.find("_MOTIF_WM_HINTS(_MOTIF_WM_HINTS) = ");
        ASSERT_NE(at, std::string::npos) << p;
        unsigned flags = 0, functions = 0;
        ASSERT_EQ(std::sscanf(p.c_str() + at, "_MOTIF_WM_HINTS(_MOTIF_WM_HINTS) = %x, %x", &flags, &functions), 2);
        EXPECT_TRUE(flags & 1u);
        EXPECT_FALSE(functions & 4u) << std::hex << functions;
        EXPECT_TRUE(functions & 8u) << "minimise box lost";
        ::kill(r.pid, SIGTERM);
        EXPECT_EQ(wait(r), 0);
        EXPECT_EQ(slurp(ini_), kSettings);
    }
}

}  // namespace
