// Throughput of the document checks alone (access key, XML and signature),
// single thread and through BackgroundChecks, over generated authorised NF-e
// of 4-16 KB, signed at start as issuers sign them (bench/support: RSA-SHA1, 2048-bit key,
// inclusive C14N, enveloped): once as the ERP stores them (windows-1252) and
// once as the same documents declared and encoded as UTF-8. The "key+xml"
// row is the same texts with the signature check left out. The issuer's
// certificate chains to a root trusted for the run, as ICP-Brasil's would.
// Usage: bench-checks [--docs N] [--repeat R]
#include "bench/support/signed_documents.h"
#include "export/checks/certificate_trust.h"
#include "export/checks/checks.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

using namespace exports;

namespace {

std::string keyFor(long n) {
    char first[44];
    std::snprintf(first, sizeof first, "3524031234567800019955001%09ld1%08ld", n % 1000000000, n % 100000000);
    std::string key(first, 43);
    key += char('0' + accessKeyCheckDigit(key));
    return key;
}

// The same text in UTF-8; the generated documents hold only Latin-1 letters.
std::string utf8(const std::string& latin1) {
    std::string out;
    out.reserve(latin1.size() + latin1.size() / 32);
    for (char c : latin1) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out += c;
        } else {
            out += char(0xC0 | b >> 6);
            out += char(0x80 | (b & 0x3F));
        }
    }
    return out;
}

double cpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Best of `repeat` runs, single thread and through BackgroundChecks; false
// when a document did not pass.
bool measure(const char* encoding, const std::vector<std::string>& keys, const std::vector<std::string>& texts,
             int repeat) {
    double bytes = 0;
    for (const std::string& t : texts) bytes += t.size();
    const long docs = static_cast<long>(texts.size());
    double best = 1e9, bestCpu = 0;
    long failed = 0;
    for (int r = 0; r < repeat; ++r) {
        const double w = wallSeconds(), c = cpuSeconds();
        CheckCounts counts;
        for (long n = 0; n < docs; ++n) counts.add(checkDocument(keys[n], texts[n], XmlKind::Document));
        const double wall = wallSeconds() - w;
        if (wall < best) best = wall, bestCpu = cpuSeconds() - c;
        failed = counts.failed;
    }
    std::printf("%-14s %-18s %9.3f %9.3f %9.1f %11.1f %8ld\n", encoding, "checkDocument", best, bestCpu,
                bytes / 1e6 / best, bytes / 1e6 / bestCpu, failed);
    long failedAll = failed;

    // the same without the signature: the access key and the XML alone
    best = 1e9;
    for (int r = 0; r < repeat; ++r) {
        const double w = wallSeconds(), c = cpuSeconds();
        CheckCounts counts;
        for (long n = 0; n < docs; ++n) {
            Findings findings = checkAccessKey(keys[n]);
            for (Finding f : checkXml(texts[n], keys[n], XmlKind::Document)) findings.push_back(f);
            counts.add(findings);
        }
        const double wall = wallSeconds() - w;
        if (wall < best) best = wall, bestCpu = cpuSeconds() - c;
        failed = counts.failed;
    }
    std::printf("%-14s %-18s %9.3f %9.3f %9.1f %11.1f %8ld\n", encoding, "key+xml only", best, bestCpu,
                bytes / 1e6 / best, bytes / 1e6 / bestCpu, failed);
    failedAll += failed;

    // Through the check threads; the texts are copied here, as they serve
    // the next repeat (an export moves its own over).
    best = 1e9;
    for (int r = 0; r < repeat; ++r) {
        const double w = wallSeconds(), c = cpuSeconds();
        BackgroundChecks background;
        for (long n = 0; n < docs; ++n) background.add(keys[n], texts[n], XmlKind::Document);
        failed = background.finish().failed;
        const double wall = wallSeconds() - w;
        if (wall < best) best = wall, bestCpu = cpuSeconds() - c;
    }
    std::printf("%-14s %-18s %9.3f %9.3f %9.1f %11.1f %8ld\n", encoding, "BackgroundChecks", best, bestCpu,
                bytes / 1e6 / best, bytes / 1e6 / bestCpu, failed);
    return failedAll == 0 && failed == 0;
}

}  // namespace

int main(int argc, char** argv) {
    long docs = 4000;  // each one signed with RSA first: a few seconds
    int repeat = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string o = argv[i];
        if (o == "--docs") docs = std::atol(argv[i + 1]);
        else if (o == "--repeat") repeat = std::atoi(argv[i + 1]);
    }
    std::mt19937 random(14);
    std::uniform_int_distribution<size_t> sizes(4096, 16384);
    std::vector<std::string> keys, texts, utf8Texts;
    double bytes = 0;
    const bench::Issuer issuer;
    for (long n = 0; n < docs; ++n) {
        keys.push_back(keyFor(n + 1));
        const size_t size = sizes(random);
        texts.push_back(issuer.sign(bench::unsignedDocument(keys.back(), size)));
        utf8Texts.push_back(issuer.sign(utf8(bench::unsignedDocument(keys.back(), size, "UTF-8"))));
        bytes += texts.back().size();
    }
    // the issuer's root trusted as CertificadosConfiaveis trusts a folder, so
    // every document's certificate chains (and is verified once)
    const std::filesystem::path trusted = std::filesystem::temp_directory_path() /
                                          ("bench-checks-" + std::to_string(::getpid()));
    std::filesystem::create_directories(trusted);
    std::ofstream(trusted / "raiz.pem") << issuer.rootPem();
    const TrustForChecks trust(trustForRun(trusted.string(), ""));
    std::filesystem::remove_all(trusted);
    std::printf("%ld documents, %.1f MB, %.1f KB each on average; %u check threads beside the caller\n", docs,
                bytes / 1e6, bytes / docs / 1024, BackgroundChecks::threadCount());
    std::printf("%-14s %-18s %9s %9s %9s %11s %8s\n", "encoding", "mode", "wall_s", "cpu_s", "MB/s", "MB/cpu_s",
                "failed");
    const bool passed = measure("windows-1252", keys, texts, repeat);
    return measure("UTF-8", keys, utf8Texts, repeat) && passed ? 0 : 1;
}
