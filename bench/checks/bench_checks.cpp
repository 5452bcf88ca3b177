// Throughput of the document checks alone (access key + XML), single thread
// and through BackgroundChecks, over generated authorised NF-e of 4-16 KB.
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

std::string document(const std::string& key, size_t size)
{
    std::string body = "<ide><cUF>35</cUF><natOp>VENDA</natOp><mod>55</mod><serie>1</serie></ide>"
                       "<emit><CNPJ>12345678000199</CNPJ><xNome>Com\xE9rcio de Pe\xE7" "as Ltda</xNome></emit>";
    for (int n = 1; body.size() + 1200 < size; ++n)
        body += item(n);
    return "<?xml version=\"1.0\" encoding=\"windows-1252\"?><nfeProc versao=\"4.00\" "
           "xmlns=\"http://www.portalfiscal.inf.br/nfe\"><NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\">"
           "<infNFe Id=\"NFe" + key + "\" versao=\"4.00\">" + body +
           "</infNFe><Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><SignatureValue>"
           "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVo=</SignatureValue></Signature></NFe>"
           "<protNFe versao=\"4.00\"><infProt><tpAmb>1</tpAmb><chNFe>" + key +
           "</chNFe><dhRecbto>2024-03-05T10:00:00-03:00</dhRecbto><nProt>135240000000001</nProt>"
           "<cStat>100</cStat><xMotivo>Autorizado o uso da NF-e</xMotivo></infProt></protNFe></nfeProc>";
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
    std::vector<std::string> keys, texts;
    double bytes = 0;
    for (long n = 0; n < docs; ++n) {
        keys.push_back(keyFor(n + 1));
        texts.push_back(document(keys.back(), sizes(random)));
        bytes += texts.back().size();
    }
    std::printf("%ld documents, %.1f MB, %.1f KB each on average\n", docs, bytes / 1e6, bytes / docs / 1024);
    std::printf("%-22s %9s %9s %9s %11s %8s\n", "mode", "wall_s", "cpu_s", "MB/s", "MB/cpu_s", "failed");

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
    std::printf("%-22s %9.3f %9.3f %9.1f %11.1f %8ld\n", "checkDocument", best, bestCpu, bytes / 1e6 / best,
                bytes / 1e6 / bestCpu, failed);

    // Through the check thread; the texts are copied here, as they serve
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
    std::printf("%-22s %9.3f %9.3f %9.1f %11.1f %8ld\n", "BackgroundChecks", best, bestCpu, bytes / 1e6 / best,
                bytes / 1e6 / bestCpu, failed);
    return failed == 0 ? 0 : 1;
}
