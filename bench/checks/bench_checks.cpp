// Throughput of the document checks alone (access key + XML), single thread
// and through BackgroundChecks, over generated authorised NF-e of 4-16 KB:
// once as the ERP stores them (windows-1252) and once as the same documents
// declared and encoded as UTF-8.
// Usage: bench-checks [--docs N] [--repeat R]
#include "export/checks.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

using namespace exports;

namespace {

std::string keyFor(long n)
{
    char first[44];
    std::snprintf(first, sizeof first, "3524031234567800019955001%09ld1%08ld", n % 1000000000, n % 100000000);
    std::string key(first, 43);
    key += char('0' + accessKeyCheckDigit(key));
    return key;
}

// One item of a realistic size (~600 bytes), with accented Latin-1 text.
std::string item(int n)
{
    const std::string i = std::to_string(n);
    return "<det nItem=\"" + i + "\"><prod><cProd>" + i + "00</cProd><cEAN>SEM GTIN</cEAN><xProd>Pe\xE7" "a de reposi\xE7\xE3o "
           + i + "</xProd><NCM>84099190</NCM><CFOP>5102</CFOP><uCom>UN</uCom><qCom>2.0000</qCom><vUnCom>10.50</vUnCom>"
             "<vProd>21.00</vProd><cEANTrib>SEM GTIN</cEANTrib><uTrib>UN</uTrib><qTrib>2.0000</qTrib>"
             "<vUnTrib>10.50</vUnTrib><indTot>1</indTot></prod><imposto><ICMS><ICMS00><orig>0</orig><CST>00</CST>"
             "<modBC>3</modBC><vBC>21.00</vBC><pICMS>18.00</pICMS><vICMS>3.78</vICMS></ICMS00></ICMS><PIS><PISAliq>"
             "<CST>01</CST><vBC>21.00</vBC><pPIS>1.65</pPIS><vPIS>0.35</vPIS></PISAliq></PIS></imposto></det>";
}

std::string document(const std::string& key, size_t size, const char* encoding = "windows-1252")
{
    std::string body = "<ide><cUF>35</cUF><natOp>VENDA</natOp><mod>55</mod><serie>1</serie></ide>"
                       "<emit><CNPJ>12345678000199</CNPJ><xNome>Com\xE9rcio de Pe\xE7" "as Ltda</xNome></emit>";
    for (int n = 1; body.size() + 1200 < size; ++n)
        body += item(n);
    return std::string("<?xml version=\"1.0\" encoding=\"") + encoding + "\"?><nfeProc versao=\"4.00\" "
           "xmlns=\"http://www.portalfiscal.inf.br/nfe\"><NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\">"
           "<infNFe Id=\"NFe" + key + "\" versao=\"4.00\">" + body +
           "</infNFe><Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><SignatureValue>"
           "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVo=</SignatureValue></Signature></NFe>"
           "<protNFe versao=\"4.00\"><infProt><tpAmb>1</tpAmb><chNFe>" + key +
           "</chNFe><dhRecbto>2024-03-05T10:00:00-03:00</dhRecbto><nProt>135240000000001</nProt>"
           "<cStat>100</cStat><xMotivo>Autorizado o uso da NF-e</xMotivo></infProt></protNFe></nfeProc>";
}

// The same text in UTF-8; the generated documents hold only Latin-1 letters.
std::string utf8(const std::string& latin1)
{
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

double cpuSeconds()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

double wallSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Best of `repeat` runs, single thread and through BackgroundChecks; false
// when a document did not pass.
bool measure(const char* encoding, const std::vector<std::string>& keys, const std::vector<std::string>& texts,
             int repeat)
{
    double bytes = 0;
    for (const std::string& t : texts)
        bytes += t.size();
    const long docs = static_cast<long>(texts.size());
    double best = 1e9, bestCpu = 0;
    long failed = 0;
    for (int r = 0; r < repeat; ++r) {
        const double w = wallSeconds(), c = cpuSeconds();
        CheckCounts counts;
        for (long n = 0; n < docs; ++n)
            counts.add(checkDocument(keys[n], texts[n], XmlKind::Document));
        const double wall = wallSeconds() - w;
        if (wall < best) best = wall, bestCpu = cpuSeconds() - c;
        failed = counts.failed;
    }
    std::printf("%-14s %-18s %9.3f %9.3f %9.1f %11.1f %8ld\n", encoding, "checkDocument", best, bestCpu,
                bytes / 1e6 / best, bytes / 1e6 / bestCpu, failed);
    long failedAll = failed;

    // Through the check threads; the texts are copied here, as they serve
    // the next repeat (an export moves its own over).
    best = 1e9;
    for (int r = 0; r < repeat; ++r) {
        const double w = wallSeconds(), c = cpuSeconds();
        BackgroundChecks background;
        for (long n = 0; n < docs; ++n)
            background.add(keys[n], texts[n], XmlKind::Document);
        failed = background.finish().failed;
        const double wall = wallSeconds() - w;
        if (wall < best) best = wall, bestCpu = cpuSeconds() - c;
    }
    std::printf("%-14s %-18s %9.3f %9.3f %9.1f %11.1f %8ld\n", encoding, "BackgroundChecks", best, bestCpu,
                bytes / 1e6 / best, bytes / 1e6 / bestCpu, failed);
    return failedAll == 0 && failed == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    long docs = 20000;
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
    for (long n = 0; n < docs; ++n) {
        keys.push_back(keyFor(n + 1));
        const size_t size = sizes(random);
        texts.push_back(document(keys.back(), size));
        utf8Texts.push_back(utf8(document(keys.back(), size, "UTF-8")));
        bytes += texts.back().size();
    }
    std::printf("%ld documents, %.1f MB, %.1f KB each on average; %u check threads\n", docs, bytes / 1e6,
                bytes / docs / 1024, BackgroundChecks::threadCount());
    std::printf("%-14s %-18s %9s %9s %9s %11s %8s\n", "encoding", "mode", "wall_s", "cpu_s", "MB/s", "MB/cpu_s",
                "failed");
    const bool passed = measure("windows-1252", keys, texts, repeat);
    return measure("UTF-8", keys, utf8Texts, repeat) && passed ? 0 : 1;
}
