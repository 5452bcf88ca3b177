// bench-package: times "exportar-xml /pacote AAAA-MM" against the way a user
// would make the same archive by hand: "exportar-xml /executa" into an empty
// folder, then "zip -q -r" of that folder. Prints both times, their ratio
// (goal: at most 1.5), the archive sizes and the peak memory of each program.
//
//   bench-package [--docs 20000] [--size 8192] [--repeat 2] [--dir /tmp/bench-package]
//                 [--random 1] [--store 1]
//
// The generated documents all carry the month 2020-12 in their keys.
// --random 1: the texts are bytes that do not compress, so the archive is as
// large as the month (docs x size). --store 1: then "/pacote" with a Nuvem
// line into a one-node Ceph cluster (tests/support/ceph-cluster.sh), twice:
// the archive sent, then found unchanged; prints each run's time and peak
// memory.
#include "export/destinations/object_store/s3_client.h"
#include "tests/support/ceph_cluster.h"
#include "tools/fbfixture/fixture.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
extern char** environ;

namespace {

struct Measure {
    double seconds = 0;
    long peakKb = 0;
    int status = -1;
};

Measure runChild(const std::vector<std::string>& argv, const fs::path& cwd, const fs::path& log) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        if (kv.rfind("LC_ALL=", 0) != 0 && kv.rfind("QT_QPA_PLATFORM=", 0) != 0) env.push_back(kv);
    }
    env.push_back("LC_ALL=pt_BR.UTF-8");
    env.push_back("QT_QPA_PLATFORM=offscreen");
    ::sync();  // each run starts with nothing of the previous one left to write back
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(cwd.c_str()) != 0) ::_exit(126);
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        std::vector<char*> a, e;
        for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
        a.push_back(nullptr);
        for (auto& s : env) e.push_back(s.data());
        e.push_back(nullptr);
        ::execvpe(a[0], a.data(), e.data());
        ::_exit(127);
    }
    int status = 0;
    rusage ru{};
    ::wait4(pid, &status, 0, &ru);
    Measure m;
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    m.peakKb = ru.ru_maxrss;
    m.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return m;
}

void freshFolder(const fs::path& p) {
    fs::remove_all(p);
    fs::create_directories(p);
}

// A text of `size` bytes that does not compress (printable bytes at random).
std::string randomText(int n, size_t size) {
    std::string text = "<nfeProc><NFe><infNFe><obs>";
    std::mt19937_64 random(static_cast<std::uint64_t>(n));
    while (text.size() + 40 < size) {
        const std::uint64_t v = random();
        for (int i = 0; i < 8; ++i) {
            const char c = static_cast<char>(0x20 + (v >> (i * 8)) % 0xE0);
            text += c == '<' || c == '&' ? '.' : c;
        }
    }
    return text + "</obs></infNFe></NFe></nfeProc>";
}

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
    int docs = 20000;
    size_t docSize = 8192;
    int repeat = 2;
    fs::path work = "/tmp/bench-package";
    bool random = false, store = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string o = argv[i], v = argv[i + 1];
        if (o == "--docs") docs = std::stoi(v);
        else if (o == "--size") docSize = std::stoul(v);
        else if (o == "--repeat") repeat = std::stoi(v);
        else if (o == "--dir") work = v;
        else if (o == "--random") random = v == "1";
        else if (o == "--store") store = v == "1";
    }
    const fs::path dir = work / (std::to_string(docs) + "x" + std::to_string(docSize) + (random ? "r" : ""));
    fs::create_directories(dir);
    const fs::path dbFile = dir / "docs.fdb";
    // Kept loaded to the end: the embedded engine's threads outlive the
    // session, and unloading the library under them crashes the bench later.
    std::shared_ptr<db::FbClient> client;
    if (!fs::exists(dbFile)) {
        client = db::FbClient::load(db::clientLibraryName());
        const auto who = fixture::defaultCredentials(dbFile.string());
        fixture::createDatabase(client, dbFile.string(), who);
        fixture::createSchema(client, dbFile.string(), who, {});
        fixture::fillGenerated(client, dbFile.string(), who, 1, docs, docSize);
        if (random)
            for (int n = 1; n <= docs; ++n)
                fixture::setText(client, dbFile.string(), who, n, "NFE_XML", randomText(n, docSize));
    }
    const fs::path exe = dir / "exportar-xml";
    fs::copy_file(EXPORTAR_BINARY, exe, fs::copy_options::overwrite_existing);
    const fs::path runs = dir / "runs";

    Measure best[3];  // export, zip, package
    uintmax_t byHandSize = 0, packageSize = 0;
    for (int r = 0; r < repeat; ++r) {
        // New folders every run: creating files right after deleting
        // thousands costs the file system extra, which would favour one side.
        const fs::path out = runs / ("export-" + std::to_string(r)), pkg = runs / ("package-" + std::to_string(r));
        freshFolder(out);
        freshFolder(pkg);
        std::ofstream(dir / "ConfigQuillan.ini", std::ios::binary | std::ios::trunc)
            << "[Configuracoes]\r\nBase=" << dbFile.string() << "\r\nData=01/01/2010\r\nHora=00:00:00\r\n"
            << "PastaExportar=" << out.string() << "/\r\nExportaEmitidas=S\r\nExportaEmitidasVeiculos=S\r\n"
            << "ExportaRecebidas=S\r\n";
        const fs::path byHand = runs / ("by-hand-" + std::to_string(r) + ".zip");
        const Measure m[3] = {
            runChild({exe.string(), "/executa"}, dir, dir / "export.log"),
            runChild({"zip", "-q", "-r", byHand.string(), "."}, out, dir / "zip.log"),
            runChild({exe.string(), "/pacote", "2020-12", pkg.string()}, dir, dir / "package.log"),
        };
        for (int i = 0; i < 3; ++i) {
            if (m[i].status != 0) {
                std::fprintf(stderr, "run %d failed with status %d; see the logs in %s\n", i, m[i].status, dir.c_str());
                return 1;
            }
            if (r == 0 || m[i].seconds < best[i].seconds) best[i].seconds = m[i].seconds;
            best[i].peakKb = std::max(best[i].peakKb, m[i].peakKb);
        }
        byHandSize = fs::file_size(byHand);
        packageSize = fs::file_size(pkg / "NFe-2020-12.zip");
    }
    const double byHand = best[0].seconds + best[1].seconds;
    std::printf("docs=%d size=%zu repeat=%d (best times)\n", docs, docSize, repeat);
    std::printf("export_s=%.2f zip_s=%.2f by_hand_s=%.2f package_s=%.2f ratio=%.2f (goal <= 1.5)\n", best[0].seconds,
                best[1].seconds, byHand, best[2].seconds, best[2].seconds / byHand);
    std::printf("by_hand_zip_MB=%.1f package_MB=%.1f export_peak_MB=%.1f package_peak_MB=%.1f\n",
                byHandSize / 1048576.0, packageSize / 1048576.0, best[0].peakKb / 1024.0, best[2].peakKb / 1024.0);
    std::printf("package: %s", slurp(dir / "package.log").c_str());
    std::fflush(stdout);
    if (store) {
        auto* cluster = testsupport::CephCluster::shared();
        if (!cluster) {
            std::fprintf(stderr, "no Ceph cluster: %s\n", testsupport::CephCluster::whyNot().c_str());
            return 1;
        }
        const std::string bucket = "bench-package";
        exports::s3::Client client({cluster->accessKey(), cluster->secretKey()}, "us-east-1");
        const auto r = client.send(exports::s3::createBucket({cluster->endpoint(), bucket, "us-east-1"}, true));
        if (!r.ok()) {
            std::fprintf(stderr, "bucket: %s\n", r.describe().c_str());
            return 1;
        }
        ::setenv("AWS_ACCESS_KEY_ID", cluster->accessKey().c_str(), 1);
        ::setenv("AWS_SECRET_ACCESS_KEY", cluster->secretKey().c_str(), 1);
        const fs::path pkg = runs / "package-store";
        freshFolder(pkg);
        std::ofstream(dir / "ConfigQuillan.ini", std::ios::binary | std::ios::trunc)
            << "[Configuracoes]\r\nBase=" << dbFile.string() << "\r\nData=01/01/2010\r\nHora=00:00:00\r\n"
            << "PastaExportar=" << pkg.string() << "/\r\nNuvem=" << cluster->endpoint() << "/" << bucket
            << "/escritorio\r\nNuvemEmpresa=11222333000181\r\nNuvemRetencaoDias=1\r\nNuvemRetencaoModo=GOVERNANCE\r\n";
        for (const char* run : {"sent", "unchanged"}) {
            const Measure m = runChild({exe.string(), "/pacote", "2020-12", pkg.string()}, dir, dir / "store.log");
            if (m.status != 0) {
                std::fprintf(stderr, "/pacote with the store failed with status %d:\n%s", m.status,
                             slurp(dir / "store.log").c_str());
                return 1;
            }
            std::printf("store_%s: package_MB=%.1f seconds=%.2f peak_MB=%.1f\n  %s", run,
                        fs::file_size(pkg / "NFe-2020-12.zip") / 1048576.0, m.seconds, m.peakKb / 1024.0,
                        slurp(dir / "store.log").c_str());
            std::fflush(stdout);
        }
    }
    fs::remove_all(runs);
    return 0;
}
