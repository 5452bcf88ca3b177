// Fills a local radosgw with the run records of C companies (default 200)
// over M months (default 12), one run a day each counting 1,000 documents sent,
// and D documents of each company (default 1,000, a few bytes each: the report
// never lists them, but they share the bucket's listing), plus last month's
// package of each; then runs the built program, `exportar-xml /escritorio
// --html FILE`, three times as the office would, and prints each run's
// seconds, status and peak resident memory (the child's, from wait4), and the
// requests one report makes (counted in-process once, after the timed runs).
//   bench-office [companies] [months] [documents] [--plain] [--program PATH]
//       --plain: the records under the plain names earlier versions gave them,
//                which the report reads one GET each
//       --program: another build of exportar-xml than the one beside this
//   bench-office --page FILE   four companies in the states the page shows (ok,
//                              falhou, silenciosa, incompleta), written as FILE:
//                              the README's picture
//
// Figures on a loaded two-core machine (radosgw on the same cores), 200
// companies, 12 months: filled (72,200 records, 200,000 documents) in 423-563 s;
// `exportar-xml /escritorio --html` took 2.5-3.0 s with 601 requests and a peak
// RSS of 31.4-31.7 MB (3 months, no documents: 1.7-2.3 s, 31.4-31.6 MB). Before the records'
// names told the run, the report read each record of its window: 11.3-12.7 s
// for 3 months (13,001 requests); once listed per month folder and before the
// start-after listing, 5.7-6.8 s with 1,001 requests (a build running beside it).
// --plain, 3 months: 12,601 requests, 23-26 s, 44 MB (a build running beside it).
#include "export/office/office.h"
#include "export/office/office_page.h"
#include "export/core/package_run.h"
#include "export/office/run_record.h"
#include "export/settings/settings.h"
#include "tests/support/ceph_cluster.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace exports;

namespace {

struct ChildRun {
    int status = -1;
    double seconds = 0;
    long peakKb = 0;
};

// The program as the office runs it, from its own folder (its settings file
// is beside it), with the keys in its environment.
ChildRun runProgram(const std::string& exe, const std::vector<std::string>& args, const AwsKeys& keys,
                    const std::string& outFile) {
    std::vector<std::string> env = {"AWS_ACCESS_KEY_ID=" + keys.accessKey, "AWS_SECRET_ACCESS_KEY=" + keys.secretKey,
                                    "HOME=" + std::filesystem::path(exe).parent_path().string(), "LANG=C.UTF-8",
                                    "TZ=" + std::string(std::getenv("TZ") ? std::getenv("TZ") : "")};
    std::vector<char*> argv{const_cast<char*>(exe.c_str())}, envp;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out >= 0) ::dup2(out, 1);
        ::execve(exe.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ChildRun r;
    int status = 0;
    struct rusage usage {};
    if (pid > 0 && ::wait4(pid, &status, 0, &usage) == pid) {
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        r.peakKb = usage.ru_maxrss;
    }
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return r;
}

// A valid CNPJ for company n: base digits and two check digits.
std::string cnpj(int n) {
    char base[16];
    std::snprintf(base, sizeof base, "%08d0001", 10000000 + n);
    std::string d = base;
    for (int round = 0; round < 2; ++round) {
        int sum = 0, weight = 2;
        for (auto it = d.rbegin(); it != d.rend(); ++it) {
            sum += (*it - '0') * weight;
            weight = weight == 9 ? 2 : weight + 1;
        }
        const int r = sum % 11;
        d += char('0' + (r < 2 ? 0 : 11 - r));
    }
    return d;
}

}  // namespace

// A company's records as its runs would leave them, one a day except the `holes`.
void demoCompany(s3::Client& client, const s3::Target& target, StoreSettings store, const std::string& company,
                 int days, int silentDays, bool failedLast, bool package, const std::vector<int>& holes) {
    store.company = company;
    const auto now = Clock::now();
    for (int d = silentDays; d < days; ++d) {
        if (std::find(holes.begin(), holes.end(), d) != holes.end()) continue;
        RunRecord run;
        run.kind = kRunUnattended;
        run.result = failedLast && d == silentDays ? Result::Failed : Result::Complete;
        if (run.result == Result::Failed) run.error = "Pasta de exportação não é uma pasta: /srv/xml/";
        run.ended = now - std::chrono::hours(24 * d) - std::chrono::minutes(20);
        run.started = run.ended - std::chrono::seconds(30);
        RunRecordExtras extras;
        extras.host = "caixa-" + company.substr(0, 4);
        extras.version = programVersion();
        extras.sent = run.result == Result::Failed ? 0 : 20 + (d * 37 + company[3]) % 60;
        run.selected = run.written = extras.sent;
        client.send(s3::putObject(target, runRecordKey(store, run, extras), runRecordText(run, extras), std::nullopt));
    }
    if (package) {
        RunRecord run;
        run.kind = kRunPackage;
        run.result = Result::Complete;
        run.ended = now - std::chrono::hours(24 * 10);
        run.started = run.ended - std::chrono::seconds(50);
        RunRecordExtras extras;
        extras.host = "caixa-" + company.substr(0, 4);
        extras.package = "NFe-" + previousMonth(std::time(nullptr)) + ".zip";
        client.send(s3::putObject(target, runRecordKey(store, run, extras), runRecordText(run, extras), std::nullopt));
    }
}

int demoPage(const std::string& file) {
    auto* cluster = testsupport::CephCluster::shared();
    if (!cluster) return 77;
    const AwsKeys keys{cluster->accessKey(), cluster->secretKey()};
    StoreSettings store;
    store.endpoint = cluster->endpoint();
    store.host = "127.0.0.1";
    store.bucket = "arquivo-nfe";
    store.prefix = "escritorio/";
    s3::Client client(keys, store.region, {}, 8);
    const s3::Target target{store.endpoint, store.bucket, store.region};
    client.send(s3::createBucket(target, false));
    demoCompany(client, target, store, "11222333000181", 60, 0, false, true, {});
    demoCompany(client, target, store, "22333444000181", 60, 0, true, true, {3, 4, 5});
    demoCompany(client, target, store, "33444555000181", 60, 4, false, true, {20, 21});
    demoCompany(client, target, store, "44555666000181", 25, 0, false, false, {12, 13, 14, 15, 16, 17});
    const OfficeReport report = buildOfficeReport(store, keys, Clock::now());
    std::ofstream(file, std::ios::binary) << officePage(report);
    std::printf("%zu companies, status %d: %s\n", report.companies.size(), officeStatus(report), file.c_str());
    return 0;
}

int main(int argc, char** argv) {
    if (argc > 2 && std::string(argv[1]) == "--page") return demoPage(argv[2]);
    std::vector<std::string> numbers;
    bool plain = false;
    std::string program = EXPORTAR_BINARY;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--plain") == 0) plain = true;
        else if (std::strcmp(argv[i], "--program") == 0 && i + 1 < argc) program = argv[++i];
        else numbers.push_back(argv[i]);
    }
    const int companies = numbers.size() > 0 ? std::atoi(numbers[0].c_str()) : 200;
    const int months = numbers.size() > 1 ? std::atoi(numbers[1].c_str()) : 12;
    const int documents = numbers.size() > 2 ? std::atoi(numbers[2].c_str()) : 1000;
    auto* cluster = testsupport::CephCluster::shared();
    if (!cluster) {
        std::fprintf(stderr, "no Ceph cluster: %s\n", testsupport::CephCluster::whyNot().c_str());
        return 77;
    }
    const AwsKeys keys{cluster->accessKey(), cluster->secretKey()};
    StoreSettings store;
    store.endpoint = cluster->endpoint();
    store.host = "127.0.0.1";
    store.bucket = "bench-office";
    store.prefix = "escritorio/";
    s3::Client client(keys, store.region, {}, 64);
    const s3::Target target{store.endpoint, store.bucket, store.region};
    client.send(s3::createBucket(target, false));

    const auto now = Clock::now();
    const std::string previous = previousMonth(std::time(nullptr));
    const auto fillStart = std::chrono::steady_clock::now();
    long long records = 0, stored = 0, failures = 0;
    auto put = [&](const std::string& key, std::string body) {
        while (client.pending() >= 256) client.poll(std::chrono::milliseconds(100));
        client.start(s3::putObject(target, key, std::move(body), std::nullopt),
                     [&](s3::Request&&, s3::Response&& r) { failures += !r.ok(); });
    };
    const int days = months * 30;
    for (int c = 0; c < companies; ++c) {
        store.company = cnpj(c);
        for (int d = 0; d <= days; ++d) {
            RunRecord run;
            run.kind = kRunUnattended;
            run.result = Result::Complete;
            run.ended = now - std::chrono::hours(24 * d) - std::chrono::minutes(c % 60);
            run.started = run.ended - std::chrono::seconds(40);
            run.selected = run.written = 1000;
            RunRecordExtras extras;
            extras.host = "maquina-" + std::to_string(c);
            extras.version = programVersion();
            extras.sent = 1000;
            put(plain ? plainRunRecordKey(store, run.ended, extras.host) : runRecordKey(store, run, extras),
                runRecordText(run, extras));
            ++records;
        }
        for (int n = 0; n < documents; ++n) {
            char name[64];
            std::snprintf(name, sizeof name, "%s/35%s55001%09d1123456780.XML", previous.c_str(), store.company.c_str(),
                          n);
            put(store.companyPrefix() + name, "<nfeProc/>");
            ++stored;
        }
        put(store.companyPrefix() + "pacotes/NFe-" + previous + ".zip", "PK");
    }
    client.wait();
    std::printf("filled: %d companies, %lld records (%d months, %s names), %lld documents, %lld failed, %.1f s\n",
                companies, records, months, plain ? "plain" : "telling", stored, failures,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - fillStart).count());
    if (failures) return 1;

    // The office's machine: the program and a settings file naming the bucket, nothing else.
    char folderTemplate[] = "/tmp/bench-office-XXXXXX";
    if (!::mkdtemp(folderTemplate)) return 1;
    const std::filesystem::path folder = folderTemplate;
    const std::filesystem::path exe = folder / "exportar-xml";
    std::filesystem::copy_file(program, exe);
    std::ofstream(folder / "ConfigQuillan.ini", std::ios::binary)
        << "[" << kSettingsSection << "]\r\nNuvem=" << store.endpoint << "/" << store.bucket << "/escritorio\r\n";
    const std::string page = (folder / "escritorio.html").string(), out = (folder / "saida.txt").string();
    for (int round = 0; round < 3; ++round) {
        const ChildRun r = runProgram(exe.string(), {"/escritorio", "--html", page}, keys, out);
        std::printf("exportar-xml /escritorio %d: status %d, %.2f s, peak RSS %ld KB, text %ju KB, page %ju KB\n",
                    round + 1, r.status, r.seconds, r.peakKb, std::uintmax_t(std::filesystem::file_size(out) / 1024),
                    std::uintmax_t(std::filesystem::exists(page) ? std::filesystem::file_size(page) / 1024 : 0));
    }
    store.company.clear();
    const OfficeReport report = buildOfficeReport(store, keys, Clock::now());
    long long counted = 0;
    for (const auto& c : report.companies) counted += c.thisMonth + c.lastMonth;
    std::printf("one report: %zu companies, status %d, %lld requests, documents counted %lld\n",
                report.companies.size(), officeStatus(report), report.requests, counted);
    std::filesystem::remove_all(folder);
    return 0;
}
