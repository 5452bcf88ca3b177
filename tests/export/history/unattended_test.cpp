// The real program's unattended run and the history: a failed run is
// recorded, and on a session bus its notification is seen going to the
// notification service (dbus-monitor on a bus of the test's own).

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class UnattendedHistory : public testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/unattended-history-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
        fs::copy_file(EXPORTAR_BINARY, dir / "exportar-xml");
        // A database that is not there: the run fails at once.
        std::ofstream(dir / "ConfigQuillan.ini", std::ios::binary)
            << "[Configuracoes]\r\nBase=" << (dir / "missing.fdb").string()
            << "\r\nData=01/01/2010\r\nHora=00:00:00\r\nPastaExportar=" << dir.string()
            << "/\r\nExportaEmitidas=S\r\nExportaEmitidasVeiculos=S\r\nExportaRecebidas=S\r\n";
    }
    void TearDown() override { fs::remove_all(dir); }

    int run(const std::string& script) {
        const std::string command = "cd '" + dir.string() +
                                    "' && env -u DISPLAY -u WAYLAND_DISPLAY LC_ALL=pt_BR.UTF-8 " + script;
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path dir;
};

TEST_F(UnattendedHistory, FailureIsRecordedWithoutABus) {
    EXPECT_EQ(run("env -u DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR=/nonexistent ./exportar-xml /executa "
                  ">out.txt 2>err.txt"),
              1)
        << slurp(dir / "err.txt");
    const std::string history = slurp(dir / "ConfigQuillan.log.jsonl");
    EXPECT_NE(history.find("\"tipo\":\"executa\",\"resultado\":\"falhou\""), std::string::npos) << history;
    // its first line, written before it started, then its end
    EXPECT_EQ(std::count(history.begin(), history.end(), '\n'), 2) << history;
    EXPECT_EQ(history.find("\"tipo\":\"executa\",\"resultado\":\"em_andamento\""), history.find("\"tipo\"")) << history;
    EXPECT_FALSE(fs::exists(dir / "ConfigQuillan.log.avisado"));
    // /status now points at it.
    EXPECT_EQ(run("./exportar-xml /status >status.txt"), 1);
    EXPECT_NE(slurp(dir / "status.txt").find("Exportação agendada (/executa) falhou em "), std::string::npos)
        << slurp(dir / "status.txt");
}

// A run that could not record its end would leave /status green: it does not
// start when its history cannot be written.
TEST_F(UnattendedHistory, ARunThatCannotRecordItselfDoesNotStart) {
    fs::create_directory(dir / "ConfigQuillan.log.jsonl");
    EXPECT_EQ(run("./exportar-xml /executa >out.txt 2>err.txt"), 1);
    const std::string err = slurp(dir / "err.txt");
    EXPECT_NE(err.find("Exportação não iniciada"), std::string::npos) << err;
    EXPECT_NE(err.find((dir / "ConfigQuillan.log.jsonl").string()), std::string::npos) << err;
    // it never reached the database
    EXPECT_EQ(err.find("missing.fdb"), std::string::npos) << err;
    EXPECT_EQ(run("./exportar-xml /status >status.txt"), 1);
}

TEST_F(UnattendedHistory, FailureIsAnnouncedOnTheSessionBus) {
    // dbus-monitor is ready once it has its name; it has seen the call once
    // the program has waited for the answer and ended.
    const std::string script =
        "dbus-run-session -- sh -c '"
        "dbus-monitor --session \"interface=org.freedesktop.Notifications\" >monitor.txt 2>&1 & m=$!; "
        "i=0; while ! grep -q NameAcquired monitor.txt && [ $i -lt 100 ]; do sleep 0.05; i=$((i+1)); done; "
        "./exportar-xml /executa >out.txt 2>err.txt; echo $? >status.txt; "
        "i=0; while ! grep -q \"member=Notify\" monitor.txt && [ $i -lt 100 ]; do sleep 0.05; i=$((i+1)); done; "
        "kill $m'";
    run(script);
    EXPECT_EQ(slurp(dir / "status.txt"), "1\n") << slurp(dir / "err.txt");
    const std::string monitor = slurp(dir / "monitor.txt");
    EXPECT_NE(monitor.find("member=Notify"), std::string::npos) << monitor;
    EXPECT_NE(monitor.find("string \"Exportação agendada (/executa) falhou\""), std::string::npos) << monitor;
    // No notification service answered: not marked as told, so the window
    // says it when it starts.
    EXPECT_FALSE(fs::exists(dir / "ConfigQuillan.log.avisado"));
    EXPECT_NE(slurp(dir / "ConfigQuillan.log.jsonl").find("\"resultado\":\"falhou\""), std::string::npos);
}

}  // namespace
