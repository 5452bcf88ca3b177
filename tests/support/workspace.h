#pragma once
// A temporary folder holding a copy of the real program, its settings file,
// an output folder and a Firebird database made by the fixture library; runs
// the program as a child process with pt-BR pinned.

#include "tests/support/prerequisites.h"
#include "tools/fbfixture/fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>
#include <sys/types.h>

namespace exptest {

namespace fs = std::filesystem;

enum class Mode { Embedded, Server };
std::string modeName(const testing::TestParamInfo<Mode>& info);
// Skips the current test (fails it in CI) when the mode cannot run here.
#define EXPTEST_REQUIRE_MODE(mode)                                        \
    do {                                                                  \
        if ((mode) == ::exptest::Mode::Server) REQUIRE_FIREBIRD_SERVER(); \
    } while (0)

std::string slurp(const fs::path& p);
void spit(const fs::path& p, const std::string& bytes);
std::shared_ptr<db::FbClient> client();

// One document row and, optionally, its header and vehicle rows.
struct Doc {
    int seq = 0;
    std::optional<std::string> moment;  // "2020-12-25 10:05:37"
    std::optional<std::string> key;     // default: fixture::accessKey(seq)
    bool noKey = false;                 // NULL access key
    std::optional<std::string> cancel, distrib, xml;
    std::optional<std::string> tipo;  // no MVTO_PAI row when empty
    std::optional<std::string> entsai;
    std::string issued = "2021-02-01";
    std::string modelo = "55";
    int cancelada = 1;
    int filial = 1;
    std::optional<std::string> cnpj = std::string("11222333000181");
    bool vehicle = false;
};
std::string insertScript(const std::vector<Doc>& docs);
std::string keyOf(const Doc& d);

struct RunResult {
    int status = -1;  // exit status; 128 + signal when killed; -1 when it hung
    std::string out, err;
};

class Workspace {
public:
    explicit Workspace(Mode mode);
    ~Workspace();
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    Mode mode;
    // The child's environment and limits.
    std::string locale = "pt_BR.UTF-8";
    std::string qtPlatform = "offscreen";
    std::string display;         // DISPLAY for the child; none when empty
    long fileSizeLimit = 0;      // bytes; 0: none
    bool hangupIgnored = false;  // started as nohup starts a program
    fs::path dir, exe, ini, out, dbFile;
    std::string dbName;  // as the settings name it: "localhost:/..." through the server

    // Creates the database with the schema and the documents.
    void createDatabase(const std::vector<Doc>& docs, const fixture::Schema& schema = {});
    void generate(int count, size_t size);

    // The settings file. `boxes` holds three characters for ExportaEmitidas,
    // ExportaEmitidasVeiculos and ExportaRecebidas ('S' ticks).
    void writeConfig(const std::string& data, const std::string& hora, const std::string& folderText,
                     const std::string& boxes = "SSS");
    std::string configText(const std::string& data, const std::string& hora, const std::string& folderText,
                           const std::string& boxes = "SSS") const;
    std::string configValue(const std::string& key) const;
    // The settings file without the transaction mark's two lines.
    std::string configWithoutMark() const;

    pid_t start(const std::vector<std::string>& args = {"/executa"});
    RunResult wait(pid_t pid, std::chrono::milliseconds limit = std::chrono::minutes(5));
    RunResult run(const std::vector<std::string>& args = {"/executa"}) { return wait(start(args)); }

    // Waits until `done()` holds, the program ends (left for wait() to reap),
    // or it used `cpu` of processor time without getting there: a loaded
    // machine slows the program down, not the verdict. `wall` bounds a
    // program stuck without using the processor. `done` is asked every `poll`.
    enum class Progress { Done, Ended, Stuck };
    static Progress waitForProgress(pid_t pid, const std::function<bool()>& done, std::chrono::milliseconds cpu,
                                    std::chrono::milliseconds wall = std::chrono::minutes(5),
                                    std::chrono::milliseconds poll = std::chrono::milliseconds(20));

    // Relative name -> bytes of every regular file below `folder`.
    static std::map<std::string, std::string> files(const fs::path& folder);

private:
    int runs_ = 0;
    std::map<pid_t, int> startIndex_;
};


}  // namespace exptest
