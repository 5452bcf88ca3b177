// bench-export: times the real unattended export ("exportar-xml /executa")
// against export-baseline, which reads the same chosen texts with one
// statement and writes the same files, and prints both times, their ratio and
// the export's peak memory, for each database size.
//
//   bench-export [--docs 2000,20000] [--size 8192] [--repeat 2] [--dir /tmp/bench-export]
//   bench-export --history 500000 [--size 1024]   (a long history with ~100 changes)
//   bench-export ... --callgrind 1   (also counts both programs' instructions
//                                     under valgrind, embedded cases only)
//   bench-export ... --signed        (the same cases over signed texts)
//
// Times swing with the other work on the machine and with the file system:
// put --dir on a RAM-backed folder (/dev/shm) to see the programs' own cost,
// on a disk to see the file system's; the instruction counts do not depend
// on the machine's load.
//
// Each case also runs the library's export with the document checks off
// (export-unchecked), to show the export's own cost apart from theirs.
//
// Cases: every kind ticked with the embedded engine, the same through the
// server on localhost (when one answers), and one kind ticked (embedded).
//
// The fixture's texts carry no signature, so their signature check costs
// nothing. With --signed each stored text is replaced by an authorised NF-e of
// about the same size, signed as issuers sign them (bench/support), as an
// ERP's documents are: these cases print as "... signed" rows, with the
// export's own check counts, which must find no signature fault. The signed
// database lives beside the plain one (<docs>-signed/), with the issuer's
// certificate (issuer.pem) and one exported file (sample.xml) to verify by hand.
#include "bench/support/signed_documents.h"
#include "db/database.h"
#include "tools/fbfixture/fixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
extern char** environ;

namespace {

struct Measure {
    double seconds = 0;
    double cpu = 0;  // user + system of the process (the embedded engine included)
    double user = 0, system = 0;
    long peakKb = 0;
    int status = -1;
};

bool serverAnswers() {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(3050);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

Measure runChild(const std::vector<std::string>& argv, const fs::path& log) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        if (kv.rfind("LC_ALL=", 0) != 0 && kv.rfind("QT_QPA_PLATFORM=", 0) != 0) env.push_back(kv);
    }
    env.push_back("LC_ALL=pt_BR.UTF-8");
    env.push_back("QT_QPA_PLATFORM=offscreen");
    // Each run starts with nothing waiting to be written back: otherwise the
    // one that runs second pays for flushing the files of the first.
    ::sync();
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        std::vector<char*> a, e;
        for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
        a.push_back(nullptr);
        for (auto& s : env) e.push_back(s.data());
        e.push_back(nullptr);
        ::execve(a[0], a.data(), e.data());
        ::_exit(127);
    }
    int status = 0;
    rusage ru{};
    ::wait4(pid, &status, 0, &ru);
    Measure m;
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    m.peakKb = ru.ru_maxrss;
    m.user = ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6;
    m.system = ru.ru_stime.tv_sec + ru.ru_stime.tv_usec / 1e6;
    m.cpu = m.user + m.system;
    m.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return m;
}

// Instructions the program executes (the embedded engine included), counted
// by callgrind; -1 when valgrind is missing or the run failed.
long long countInstructions(std::vector<std::string> argv, const fs::path& log) {
    if (!fs::exists("/usr/bin/valgrind")) return -1;
    argv.insert(argv.begin(), {"/usr/bin/valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null"});
    if (runChild(argv, log).status != 0) return -1;
    std::ifstream in(log);
    long long collected = -1;
    for (std::string line; std::getline(in, line);)
        if (const size_t at = line.find("Collected : "); at != std::string::npos)
            collected = std::stoll(line.substr(at + 12));
    return collected;
}

void freshFolder(const fs::path& p) {
    fs::remove_all(p);
    fs::create_directories(p);
}

std::map<std::string, uintmax_t> listing(const fs::path& p) {
    std::map<std::string, uintmax_t> m;
    for (const auto& e : fs::directory_iterator(p)) m[e.path().filename().string()] = e.file_size();
    return m;
}

bool sameFiles(const fs::path& a, const fs::path& b) {
    if (listing(a) != listing(b)) return false;
    for (const auto& e : fs::directory_iterator(a)) {
        std::ifstream x(e.path(), std::ios::binary), y(b / e.path().filename(), std::ios::binary);
        std::stringstream sx, sy;
        sx << x.rdbuf();
        sy << y.rdbuf();
        if (sx.str() != sy.str()) return false;
    }
    return true;
}

void writeSettings(const fs::path& dir, const std::string& dbName, const fs::path& out, const char* data,
                   const char* hora, const std::string& mark) {
    std::ofstream(dir / "ConfigQuillan.ini", std::ios::binary | std::ios::trunc)
        << "[Configuracoes]\r\nBase=" << dbName << "\r\nData=" << data << "\r\nHora=" << hora
        << "\r\nPastaExportar=" << out.string() << "/\r\nExportaEmitidas=S\r\nExportaEmitidasVeiculos=S"
        << "\r\nExportaRecebidas=S\r\n"
        << mark;
}

std::string settingsValue(const fs::path& ini, const std::string& key) {
    std::ifstream in(ini, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    }
    return {};
}

// The fixture's credentials as connection parameters.
std::vector<std::string> login(const fixture::Credentials& who) {
    return {"user_name=" + who.user, "password=" + who.password};
}

// Replaces the text of documents 1..docs (as the fixture numbers them) by a
// signed NF-e of about `size` bytes with the same key, in one transaction;
// then writes the issuer's certificate to `pem`, which marks the database done.
void signTexts(const std::shared_ptr<db::FbClient>& client, const fs::path& dbFile, const fixture::Credentials& who,
               int docs, size_t size, const fs::path& pem) {
    const bench::Issuer issuer;
    db::Database database(client, dbFile.string(), login(who));
    auto q = std::make_unique<db::Query>(database, "UPDATE MVTO_NFE SET NFE_XML = :XML WHERE PAI_SEQU = :SEQ");
    // The signature and the protocol come on top of the requested size: ask for
    // less, plus half an item, as the items stop short of the size.
    const size_t over = issuer.sign(bench::unsignedDocument(fixture::accessKey(1), size)).size() - size;
    const size_t asked = size > 2 * over ? size - over + 300 : size;
    double bytes = 0;
    for (int n = 1; n <= docs; ++n) {
        const std::string text = issuer.sign(bench::unsignedDocument(fixture::accessKey(n), asked));
        bytes += text.size();
        q->setText("XML", text);
        q->setInteger("SEQ", n);
        q->execute();
    }
    q.reset();
    database.close();
    std::printf("%d texts signed, %.1f KB each on average; the issuer's certificate: %s\n", docs, bytes / docs / 1024,
                pem.c_str());
    // The issuer's root trusted as an office's CertificadosConfiaveis would
    // trust it, so every text's chain and holder are checked as a genuine one's.
    fs::create_directories(pem.parent_path() / "confiaveis");
    std::ofstream(pem.parent_path() / "confiaveis" / "raiz.pem", std::ios::binary | std::ios::trunc)
        << issuer.rootPem();
    std::ofstream(pem, std::ios::binary | std::ios::trunc) << issuer.certificatePem();
}

// The "falhas_..." counts of the Resumo line in an export's output.
std::string checkCounts(const fs::path& log) {
    std::ifstream in(log);
    std::string counts;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("Resumo:", 0) != 0) continue;
        counts.clear();
        for (size_t at = line.find(" falhas_"); at != std::string::npos; at = line.find(" falhas_", at + 1))
            counts += line.substr(at, line.find(' ', at + 1) - at);
    }
    return counts;
}

// A long history with few changes: `docs` stored documents, the last few
// changed after the stamp. The run's cost should follow the changes; its
// memory should stay where it is over an empty table.
int history(const fs::path& work, int docs, size_t docSize, int repeat, const fs::path& program,
            const fs::path& baseline, const std::shared_ptr<db::FbClient>& client) {
    const fs::path dir = work / ("history-" + std::to_string(docs));
    fs::create_directories(dir);
    fs::permissions(work, fs::perms::all);
    fs::permissions(dir, fs::perms::all);
    const fs::path dbFile = dir / "docs.fdb", emptyFile = dir / "empty.fdb";
    const auto who = fixture::defaultCredentials(dbFile.string());
    if (!fs::exists(dbFile)) {
        fixture::createDatabase(client, dbFile.string(), who);
        fixture::createSchema(client, dbFile.string(), who, {});
        // In batches: one transaction per batch keeps the fixture's memory small.
        for (int first = 1; first <= docs; first += 20000)
            fixture::fillGenerated(client, dbFile.string(), who, first, std::min(20000, docs - first + 1), docSize);
    }
    if (!fs::exists(emptyFile)) {
        fixture::createDatabase(client, emptyFile.string(), who);
        fixture::createSchema(client, emptyFile.string(), who, {});
    }
    const fs::path exe = dir / "exportar-xml";
    fs::copy_file(program, exe, fs::copy_options::overwrite_existing);
    // The stamp: the moment of the 101st newest document, so about a hundred are later.
    std::string newest;
    {
        db::Database database(client, dbFile.string(), login(who));
        db::Query q(
            database,
            "SELECT CAST(DIG_DATAHORA AS VARCHAR(24)) FROM MVTO_NFE ORDER BY DIG_DATAHORA DESC ROWS 101 TO 101");
        q.execute();
        newest = q.text(0).substr(0, 19);
    }
    char data[16], hora[16];
    std::snprintf(data, sizeof data, "%s/%s/%s", newest.substr(8, 2).c_str(), newest.substr(5, 2).c_str(),
                  newest.substr(0, 4).c_str());
    std::snprintf(hora, sizeof hora, "%s", newest.substr(11, 8).c_str());
    const std::string stampSql = newest;
    const fs::path out = dir / "out";

    Measure base{}, first{}, marked{}, empty{};
    size_t changed = 0;
    for (int r = 0; r < repeat; ++r) {
        freshFolder(out);
        Measure b = runChild({baseline.string(), dbFile.string(), out.string() + "/", stampSql, "SSS"},
                             dir / "baseline.log");
        freshFolder(out);
        writeSettings(dir, dbFile.string(), out, data, hora, "");
        Measure f = runChild({exe.string(), "/executa"}, dir / "export-first.log");
        // A later run: the stored mark adds the record-version test.
        const std::string mark = "MarcaTransacao=" + settingsValue(dir / "ConfigQuillan.ini", "MarcaTransacao") +
                                 "\r\nMarcaBase=" + settingsValue(dir / "ConfigQuillan.ini", "MarcaBase") + "\r\n";
        freshFolder(out);
        writeSettings(dir, dbFile.string(), out, data, hora, mark);
        Measure m = runChild({exe.string(), "/executa"}, dir / "export-marked.log");
        changed = listing(out).size();
        freshFolder(out);
        writeSettings(dir, emptyFile.string(), out, data, hora, "");
        Measure e = runChild({exe.string(), "/executa"}, dir / "export-empty.log");
        if (b.status || f.status || m.status || e.status) {
            std::fprintf(stderr, "history run failed (%d %d %d %d); see %s\n", b.status, f.status, m.status, e.status,
                         dir.c_str());
            return 1;
        }
        if (r == 0 || b.seconds < base.seconds) base = b;
        if (r == 0 || f.seconds < first.seconds) first = f;
        if (r == 0 || m.seconds < marked.seconds) marked = m;
        if (r == 0 || e.seconds < empty.seconds) empty = e;
    }
    std::printf(
        "history %d docs, %zu changed: baseline %.3f s; export %.3f s (%.2fx) without a mark, %.3f s "
        "(%.2fx) with one; peak %.1f MB vs %.1f MB over an empty table (+%.1f MB)\n",
        docs, changed, base.seconds, first.seconds, first.seconds / base.seconds, marked.seconds,
        marked.seconds / base.seconds, marked.peakKb / 1024.0, empty.peakKb / 1024.0,
        (std::max(first.peakKb, marked.peakKb) - empty.peakKb) / 1024.0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> sizes = {2000, 20000};
    size_t docSize = 8192;
    int repeat = 2;
    fs::path work = "/tmp/bench-export";
    int historyDocs = 0;
    bool callgrind = false, signedTexts = false;
    for (int i = 1; i < argc; ++i) {
        const std::string o = argv[i];
        if (o == "--signed") {
            signedTexts = true;
            continue;
        }
        if (i + 1 == argc) break;
        const std::string v = argv[++i];
        if (o == "--docs") {
            sizes.clear();
            std::stringstream ss(v);
            for (std::string n; std::getline(ss, n, ',');) sizes.push_back(std::stoi(n));
        } else if (o == "--size") docSize = std::stoul(v);
        else if (o == "--repeat") repeat = std::stoi(v);
        else if (o == "--dir") work = v;
        else if (o == "--history") historyDocs = std::stoi(v);
        else if (o == "--callgrind") callgrind = v != "0";
    }
    const fs::path program = EXPORTAR_BINARY, baseline = BASELINE_BINARY, unchecked = UNCHECKED_BINARY;
    auto client = db::FbClient::load(db::clientLibraryName());
    const bool server = serverAnswers();
    if (historyDocs > 0) return history(work, historyDocs, docSize, repeat, program, baseline, client);

    std::map<std::string, long> peakByCase;
    // Times are the best of the repeats; cpu is user + system time of the
    // program itself (for the server case the server's work is not in it).
    std::printf("%-7s %-15s %-5s %10s %10s %7s %10s %10s %9s %14s %16s\n", "docs", "mode", "boxes", "baseline_s",
                "export_s", "ratio", "base_cpu", "exp_cpu", "cpu_ratio", "export_peak_MB", "baseline_peak_MB");
    for (int docs : sizes) {
        const fs::path dir = work / (std::to_string(docs) + (signedTexts ? "-signed" : ""));
        const fs::path pem = dir / "issuer.pem";
        fs::remove_all(dir / "runs");
        fs::create_directories(dir);
        fs::permissions(work, fs::perms::all);
        fs::permissions(dir, fs::perms::all);
        const fs::path dbFile = dir / "docs.fdb";
        // its signing did not finish, or it predates the trusted root
        if (signedTexts && !(fs::exists(pem) && fs::exists(dir / "confiaveis" / "raiz.pem"))) fs::remove(dbFile);
        if (!fs::exists(dbFile)) {
            const auto who = fixture::defaultCredentials(dbFile.string());
            fixture::createDatabase(client, dbFile.string(), who);
            fixture::createSchema(client, dbFile.string(), who, {});
            fixture::fillGenerated(client, dbFile.string(), who, 1, docs, docSize);
            if (signedTexts) signTexts(client, dbFile, who, docs, docSize, pem);
        }
        fs::permissions(dbFile, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                    fs::perms::group_write | fs::perms::others_read | fs::perms::others_write);
        const fs::path exe = dir / "exportar-xml";
        fs::copy_file(program, exe, fs::copy_options::overwrite_existing);

        struct Case {
            const char* mode;
            const char* boxes;
        };
        for (const Case c : {Case{"embedded", "SSS"}, Case{"server", "SSS"}, Case{"embedded", "S--"}}) {
            const bool viaServer = std::string(c.mode) == "server";
            const std::string label = std::string(c.mode) + (signedTexts ? " signed" : "");
            if (viaServer && !server) {
                std::printf("%-7d %-15s %-5s   (no Firebird server on localhost:3050)\n", docs, label.c_str(), c.boxes);
                continue;
            }
            const std::string dbName = (viaServer ? "localhost:" : "") + dbFile.string();
            Measure best[3];  // baseline, export, export without its checks
            fs::path outBase, outExport, outUnchecked;
            // The stamp of a first run: every document is selected.
            auto firstRunSettings = [&](const fs::path& out) {
                const std::string boxes = c.boxes;
                std::ofstream(dir / "ConfigQuillan.ini", std::ios::binary | std::ios::trunc)
                    << "[Configuracoes]\r\nBase=" << dbName << "\r\nData=01/01/2010\r\nHora=00:00:00\r\n"
                    << "PastaExportar=" << out.string() << "/\r\nExportaEmitidas=" << (boxes[0] == 'S' ? "S" : "")
                    << "\r\nExportaEmitidasVeiculos=" << (boxes[1] == 'S' ? "S" : "")
                    << "\r\nExportaRecebidas=" << (boxes[2] == 'S' ? "S" : "") << "\r\n";
                if (signedTexts)
                    std::ofstream(dir / "ConfigQuillan.ini", std::ios::binary | std::ios::app)
                        << "CertificadosConfiaveis=" << (dir / "confiaveis").string() << "\r\n";
            };
            for (int r = 0; r < repeat; ++r) {
                // New folders every time: creating files right after deleting
                // thousands costs ext4 extra, which would favour one side.
                const std::string tag = std::string(c.mode) + "-" + (c.boxes[1] == 'S' ? "all" : "one") + "-" +
                                        std::to_string(r);
                outBase = dir / "runs" / (tag + "-baseline");
                outExport = dir / "runs" / (tag + "-export");
                freshFolder(outBase);
                Measure b = runChild({baseline.string(), dbName, outBase.string() + "/", "2010-01-01 00:00:00",
                                      c.boxes},
                                     dir / "baseline.log");
                freshFolder(outExport);
                firstRunSettings(outExport);
                Measure e = runChild({exe.string(), "/executa"}, dir / "export.log");
                outUnchecked = dir / "runs" / (tag + "-unchecked");
                freshFolder(outUnchecked);
                firstRunSettings(outUnchecked);
                Measure u = runChild({unchecked.string(), dbName, outUnchecked.string() + "/",
                                      (dir / "ConfigQuillan.ini").string(), c.boxes},
                                     dir / "unchecked.log");
                if (b.status != 0 || e.status != 0 || u.status != 0) {
                    std::fprintf(stderr, "run failed (baseline %d, export %d, without checks %d); see %s\n", b.status,
                                 e.status, u.status, dir.c_str());
                    return 1;
                }
                const Measure now[3] = {b, e, u};
                for (int i = 0; i < 3; ++i) {
                    const Measure& m = now[i];
                    const long peak = std::max(best[i].peakKb, m.peakKb);
                    const double cpu = r == 0 ? m.cpu : std::min(best[i].cpu, m.cpu);
                    // The split of the least cpu: the file system's work shows as system time.
                    const Measure least = r == 0 || m.cpu < best[i].cpu ? m : best[i];
                    if (r == 0 || m.seconds < best[i].seconds) best[i] = m;
                    best[i].peakKb = peak;
                    best[i].cpu = cpu;
                    best[i].user = least.user;
                    best[i].system = least.system;
                }
            }
            if (!sameFiles(outBase, outExport) || !sameFiles(outBase, outUnchecked)) {
                std::fprintf(stderr, "the export's files differ from the baseline's (%s)\n", dir.c_str());
                return 1;
            }
            if (callgrind && !viaServer) {
                freshFolder(outBase);
                freshFolder(outExport);
                const long long bi = countInstructions({baseline.string(), dbName, outBase.string() + "/",
                                                        "2010-01-01 00:00:00", c.boxes},
                                                       dir / "baseline-callgrind.log");
                firstRunSettings(outExport);
                const long long ei = countInstructions({exe.string(), "/executa"}, dir / "export-callgrind.log");
                std::printf("%-7d %-15s %-5s instructions: baseline %lld, export %lld, ratio %.2f\n", docs,
                            label.c_str(), c.boxes, bi, ei, bi > 0 ? double(ei) / double(bi) : 0.0);
            }
            const size_t files = listing(outExport).size();
            const std::string counts = checkCounts(dir / "export.log");
            std::printf(
                "%-7d %-15s %-5s %10.2f %10.2f %7.2f %10.2f %10.2f %9.2f %14.1f %16.1f   (%zu files; "
                "user/sys baseline %.2f/%.2f, export %.2f/%.2f;%s)\n",
                docs, label.c_str(), c.boxes, best[0].seconds, best[1].seconds, best[1].seconds / best[0].seconds,
                best[0].cpu, best[1].cpu, best[1].cpu / best[0].cpu, best[1].peakKb / 1024.0, best[0].peakKb / 1024.0,
                files, best[0].user, best[0].system, best[1].user, best[1].system, counts.c_str());
            if (signedTexts && counts.find(" falhas_assinatura=0") == std::string::npos) {
                std::fprintf(stderr, "the export found signature faults in the signed texts (see %s)\n",
                             (dir / "export.log").c_str());
                return 1;
            }
            if (signedTexts && !viaServer && files > 0)
                fs::copy_file(fs::directory_iterator(outExport)->path(), dir / "sample.xml",
                              fs::copy_options::overwrite_existing);
            std::printf(
                "%-7d %-15s %-5s %10s %10.2f %7.2f %10s %10.2f %9.2f %14.1f %16s   (the export without "
                "its checks; user/sys %.2f/%.2f)\n",
                docs, label.c_str(), c.boxes, "", best[2].seconds, best[2].seconds / best[0].seconds, "", best[2].cpu,
                best[2].cpu / best[0].cpu, best[2].peakKb / 1024.0, "", best[2].user, best[2].system);
            std::fflush(stdout);
            peakByCase[std::string(c.mode) + c.boxes + std::to_string(docs)] = best[1].peakKb;
        }
    }
    for (int docs : sizes) fs::remove_all(work / (std::to_string(docs) + (signedTexts ? "-signed" : "")) / "runs");
    if (sizes.size() >= 2) {
        const std::string lo = std::to_string(sizes.front()), hi = std::to_string(sizes.back());
        for (const char* k : {"embeddedSSS", "serverSSS", "embeddedS--"}) {
            auto a = peakByCase.find(k + lo), b = peakByCase.find(k + hi);
            if (a != peakByCase.end() && b != peakByCase.end())
                std::printf("peak memory growth %s%s %s -> %s docs: %.1f MB\n", k, signedTexts ? " signed" : "",
                            lo.c_str(), hi.c_str(), (b->second - a->second) / 1024.0);
        }
    }
    return 0;
}
