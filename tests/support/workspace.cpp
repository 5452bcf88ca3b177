#include "tests/support/workspace.h"

#include "db/fbclient.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>

extern char** environ;

namespace exptest {

std::string modeName(const testing::TestParamInfo<Mode>& info) {
    return info.param == Mode::Embedded ? "Embedded" : "Server";
}

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void spit(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

std::shared_ptr<db::FbClient> client() {
    static std::shared_ptr<db::FbClient> c = db::FbClient::load(db::clientLibraryName());
    return c;
}

namespace {

std::string literal(const std::optional<std::string>& v) {
    if (!v) return "NULL";
    std::string out = "'";
    for (char c : *v) {
        if (c == '\'') out += "''";
        else out += c;
    }
    return out + "'";
}

}  // namespace

std::string keyOf(const Doc& d) { return d.key ? *d.key : fixture::accessKey(d.seq); }

std::string insertScript(const std::vector<Doc>& docs) {
    std::string sql;
    for (const Doc& d : docs) {
        sql +=
            "INSERT INTO MVTO_NFE (PAI_SEQU, DIG_DATAHORA, NFE_CHAVEACESSO, NFE_CANCELAMENTO, "
            "NFE_DISTRIBUICAO, NFE_XML) VALUES (" +
            std::to_string(d.seq) + ", " + literal(d.moment) + ", " +
            (d.noKey ? std::string("NULL") : literal(keyOf(d))) + ", " + literal(d.cancel) + ", " + literal(d.distrib) +
            ", " + literal(d.xml) + ");\n";
        if (d.tipo)
            sql +=
                "INSERT INTO MVTO_PAI (PAI_SEQU, PAI_TIPODOC, PAI_ENTSAI, PAI_DTEMISSAO, PAI_MODELO, "
                "PAI_CANCELADA, PAI_FILIAL, PAI_CNPJCFP) VALUES (" +
                std::to_string(d.seq) + ", " + literal(d.tipo) + ", " + literal(d.entsai) + ", '" + d.issued + "', '" +
                d.modelo + "', " + std::to_string(d.cancelada) + ", " + std::to_string(d.filial) + ", " +
                literal(d.cnpj) + ");\n";
        if (d.vehicle)
            sql += "INSERT INTO mvto_veiculos (pai_sequ, vei_chassi) VALUES (" + std::to_string(d.seq) +
                   ", '9BWZZZ377VT004251');\n";
    }
    return sql;
}

Workspace::Workspace(Mode m) : mode(m) {
    char tmpl[] = "/tmp/exports_test.XXXXXX";
    dir = ::mkdtemp(tmpl);
    // The server runs as its own user and must reach the database file.
    fs::permissions(dir, fs::perms::all);
    exe = dir / "exportar-xml";
    fs::copy_file(EXPORTAR_BINARY, exe);
    ini = dir / "ConfigQuillan.ini";
    out = dir / "xml";
    fs::create_directory(out);
    dbFile = dir / "docs.fdb";
    dbName = (mode == Mode::Server ? "localhost:" : "") + dbFile.string();
}

Workspace::~Workspace() {
    std::error_code ec;
    fs::remove_all(dir, ec);
}

void Workspace::createDatabase(const std::vector<Doc>& docs, const fixture::Schema& schema) {
    const auto who = fixture::defaultCredentials(dbName);
    fixture::createDatabase(client(), dbName, who);
    fixture::createSchema(client(), dbName, who, schema);
    if (!docs.empty()) fixture::runScript(client(), dbName, who, insertScript(docs));
}

void Workspace::generate(int count, size_t size) {
    fixture::fillGenerated(client(), dbName, fixture::defaultCredentials(dbName), 1, count, size);
}

void Workspace::writeConfig(const std::string& data, const std::string& hora, const std::string& folderText,
                            const std::string& boxes) {
    spit(ini, configText(data, hora, folderText, boxes));
}

std::string Workspace::configText(const std::string& data, const std::string& hora, const std::string& folderText,
                                  const std::string& boxes) const {
    auto tick = [&](size_t i) { return std::string(boxes.size() > i && boxes[i] == 'S' ? "S" : ""); };
    return ("[Configuracoes]\r\nBase=" + dbName + "\r\nData=" + data + "\r\nHora=" + hora +
            "\r\nPastaExportar=" + folderText + "\r\nExportaEmitidas=" + tick(0) +
            "\r\nExportaEmitidasVeiculos=" + tick(1) + "\r\nExportaRecebidas=" + tick(2) + "\r\n");
}

std::string Workspace::configValue(const std::string& key) const {
    const std::string text = slurp(ini);
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
        at = end + 1;
    }
    return "<missing>";
}

std::string Workspace::configWithoutMark() const {
    std::string text = slurp(ini), out;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        const std::string line = text.substr(at, end - at);
        if (line.rfind("MarcaTransacao=", 0) != 0 && line.rfind("MarcaBase=", 0) != 0) out += line;
        at = end;
    }
    return out;
}

pid_t Workspace::start(const std::vector<std::string>& args) {
    ++runs_;
    const fs::path o = dir / ("stdout" + std::to_string(runs_) + ".txt");
    const fs::path e = dir / ("stderr" + std::to_string(runs_) + ".txt");
    std::vector<std::string> env;
    for (char** v = environ; *v; ++v) {
        const std::string kv = *v;
        const std::string k = kv.substr(0, kv.find('='));
        if (k == "LC_ALL" || k == "LANG" || k == "QT_QPA_PLATFORM" || k == "DISPLAY" || k == "WAYLAND_DISPLAY")
            continue;
        env.push_back(kv);
    }
    env.push_back("LC_ALL=" + locale);
    env.push_back("QT_QPA_PLATFORM=" + qtPlatform);
    if (!display.empty()) env.push_back("DISPLAY=" + display);
    // Everything the child needs is made before the fork: it only calls what
    // is safe between fork and exec.
    std::vector<char*> argv{const_cast<char*>(exe.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);
    const std::string execFailed = "the test could not start " + exe.string() + ": errno ";
    const pid_t pid = ::fork();
    // A pid of -1 handed to kill() would signal every process we may signal.
    if (pid < 0) throw std::system_error(errno, std::generic_category(), "fork");
    if (pid > 0) startIndex_[pid] = runs_;
    if (pid == 0) {
        const int fo = ::open(o.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int fe = ::open(e.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int fi = ::open("/dev/null", O_RDONLY);
        ::dup2(fi, 0);
        ::dup2(fo, 1);
        ::dup2(fe, 2);
        if (fileSizeLimit > 0) {
            // A write past the limit fails with EFBIG instead of killing the program.
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{rlim_t(fileSizeLimit), rlim_t(fileSizeLimit)};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        // Whatever the test runner was started with.
        ::signal(SIGHUP, hangupIgnored ? SIG_IGN : SIG_DFL);
        // From elsewhere: the settings are found beside the program.
        if (::chdir("/") == 0) ::execve(exe.c_str(), argv.data(), envp.data());
        // Said on the child's stderr, which the test shows.
        const int error = errno;
        char digits[8];
        int n = 0;
        for (int v = error; n == 0 || v > 0; v /= 10) digits[n++] = char('0' + v % 10);
        if (::write(2, execFailed.data(), execFailed.size()) < 0) ::_exit(127);
        while (n > 0)
            if (::write(2, &digits[--n], 1) < 0) break;
        if (::write(2, "\n", 1) < 0) ::_exit(127);
        ::_exit(127);
    }
    return pid;
}

RunResult Workspace::wait(pid_t pid, std::chrono::milliseconds limit) {
    RunResult r;
    const auto until = std::chrono::steady_clock::now() + limit;
    int status = 0;
    bool ended = false;
    while (std::chrono::steady_clock::now() < until) {
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            ended = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    } else {
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    const int n = startIndex_[pid];
    r.out = slurp(dir / ("stdout" + std::to_string(n) + ".txt"));
    r.err = slurp(dir / ("stderr" + std::to_string(n) + ".txt"));
    return r;
}

namespace {

// User and system time of a process, from /proc; -1 when it cannot be read.
double cpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    // The name in parentheses may hold blanks; the fields after it do not.
    const auto close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long user = 0, system = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) user = std::stoull(field);
        if (i == 15) system = std::stoull(field);
    }
    return double(user + system) / double(::sysconf(_SC_CLK_TCK));
}

bool ended(pid_t pid) {
    siginfo_t info{};
    return ::waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

}  // namespace

Workspace::Progress Workspace::waitForProgress(pid_t pid, const std::function<bool()>& done,
                                               std::chrono::milliseconds cpu, std::chrono::milliseconds wall,
                                               std::chrono::milliseconds poll) {
    const auto until = std::chrono::steady_clock::now() + wall;
    const double startCpu = cpuSeconds(pid);
    const double budget = std::chrono::duration<double>(cpu).count();
    for (;;) {
        if (done()) return Progress::Done;
        if (ended(pid)) return done() ? Progress::Done : Progress::Ended;
        if (cpuSeconds(pid) - startCpu > budget || std::chrono::steady_clock::now() > until) return Progress::Stuck;
        std::this_thread::sleep_for(poll);
    }
}

std::map<std::string, std::string> Workspace::files(const fs::path& folder) {
    std::map<std::string, std::string> m;
    if (!fs::exists(folder)) return m;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file()) m[fs::relative(e.path(), folder).string()] = slurp(e.path());
    return m;
}

}  // namespace exptest
