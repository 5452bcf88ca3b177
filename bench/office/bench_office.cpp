// Fills a local radosgw with the run records of C companies (default 200)
// over M months (default 12), one run a day each counting 1,000 documents sent
// (the documents themselves are not stored), plus last month's package of
// each; then builds the office's report (and its page) three times and prints
// its seconds, requests and the peak resident memory the report added. Run
// with 3 and with 12 months: only the months the report needs are read, so
// neither figure grows with the history.
//   bench-office [companies] [months] [transfers in flight]
//   bench-office --page FILE   four companies in the states the page shows (ok,
//                              falhou, silenciosa, incompleta), written as FILE:
//                              the README's picture
//
// Figures on a loaded two-core machine (radosgw on the same cores), 200
// companies: 3 months (18,200 records) filled in 25-32 s, the report reads
// 13,001 objects in 11.3-12.7 s with 96 in flight (the default), 22-23 s with
// 32; 12 months (72,200) filled in 257 s, the report (before old records were
// skipped by key) read 15,201; peak RSS added 0.4-9.4 MB in every case.
#include "export/office/office.h"
#include "export/office/office_page.h"
#include "export/core/package_run.h"
#include "export/office/run_record.h"
#include "tests/support/ceph_cluster.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

using namespace exports;

namespace {

long statusKb(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string name = std::string(field) + ":";
    while (std::getline(in, line))
        if (line.rfind(name, 0) == 0) return std::stol(line.substr(name.size()));
    return 0;
}

// The peak resident size starts again from the current one.
void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

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
        client.send(s3::putObject(target, runRecordKey(store, run, extras), runRecordText(run, extras),
                                  std::nullopt));
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
        client.send(s3::putObject(target, runRecordKey(store, run, extras), runRecordText(run, extras),
                                  std::nullopt));
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
    const int companies = argc > 1 ? std::atoi(argv[1]) : 200;
    const int months = argc > 2 ? std::atoi(argv[2]) : 12;
    OfficeOptions options;
    if (argc > 3) options.inFlight = std::max(1, std::atoi(argv[3]));
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
    long long records = 0, failures = 0;
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
            while (client.pending() >= 256) client.poll(std::chrono::milliseconds(100));
            client.start(s3::putObject(target, runRecordKey(store, run, extras), runRecordText(run, extras),
                                       std::nullopt),
                         [&](s3::Request&&, s3::Response&& r) { failures += !r.ok(); });
            ++records;
        }
        client.start(s3::putObject(target, store.companyPrefix() + "pacotes/NFe-" + previous + ".zip", "PK", std::nullopt),
                     [&](s3::Request&&, s3::Response&& r) { failures += !r.ok(); });
    }
    client.wait();
    std::printf("filled: %d companies, %lld records (%d months), %lld failed, %.1f s\n", companies, records, months,
                failures, std::chrono::duration<double>(std::chrono::steady_clock::now() - fillStart).count());
    if (failures) return 1;

    store.company.clear();
    for (int round = 0; round < 3; ++round) {
        resetPeak();
        const long before = statusKb("VmRSS");
        const auto start = std::chrono::steady_clock::now();
        const OfficeReport report = buildOfficeReport(store, keys, Clock::now(), options);
        const std::string page = officePage(report);
        const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        long long documents = 0;
        for (const auto& c : report.companies) documents += c.thisMonth + c.lastMonth;
        std::printf("report %d: %zu companies, status %d, %lld requests, %.2f s, peak RSS +%ld KB (RSS before %ld KB), "
                    "page %zu KB, documents counted %lld\n",
                    round + 1, report.companies.size(), officeStatus(report), report.requests, secs,
                    statusKb("VmHWM") - before, before, page.size() / 1024, documents);
    }
    return 0;
}
