// The month's package and the checks against real databases (embedded and
// through the server): the real program's "/pacote", its exit statuses, and
// the runs of the library for what a child process cannot show.
#include "tests/support/workspace.h"

#include "export/checks/checks.h"
#include "export/core/lock.h"
#include "export/core/package_run.h"
#include "export/runs.h"
#include "export/sources/firebird/firebird_options.h"
#include "tests/export/checks/signing.h"
#include "tests/support/prerequisites.h"

#include <zip.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/wait.h>

namespace exptest {
namespace {

const std::string A = "11222333000181", B = "44555666000199";

std::string keyFor(const std::string& issuer, const std::string& series, int number, const char* yymm = "2403") {
    char first[64];
    std::snprintf(first, sizeof first, "35%s%s55%s%09d1%08d", yymm, issuer.c_str(), series.c_str(), number, number * 7);
    const std::string k = first;
    return k + char('0' + exports::accessKeyCheckDigit(k));
}

std::string documentText(const std::string& key, const std::string& extra = "") {
    return "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n<nfeProc><NFe><infNFe Id=\"NFe" + key +
           "\"><xNome>Jos\xE9 Concei\xE7\xE3o</xNome>" + extra + "</infNFe></NFe><protNFe><infProt><chNFe>" + key +
           "</chNFe></infProt></protNFe></nfeProc>";
}

std::string eventText(const std::string& key) {
    return "<?xml version=\"1.0\" encoding=\"windows-1252\"?><procEventoNFe><evento><infEvento><chNFe>" + key +
           "</chNFe><xJust>Erro na emiss\xE3o</xJust>"
           "</infEvento></evento></procEventoNFe>";
}

Doc doc(int seq, const std::string& key, std::optional<std::string> tipo, const std::string& issued) {
    Doc d;
    d.seq = seq;
    d.moment = issued + " 10:00:00";
    d.key = key;
    d.xml = documentText(key);
    d.tipo = std::move(tipo);
    d.entsai = "S";
    d.issued = issued;
    return d;
}

// March 2024 by the keys: issuer A series 1 holds 1, 2, 5, 6, 9 and 10
// (3 is February's, 4 has no text: holes 3-4 and 7-8); a received document,
// one without a header and one of another type stay out of the gaps.
std::vector<Doc> month() {
    std::vector<Doc> docs;
    docs.push_back(doc(1, keyFor(A, "001", 1), "NF", "2024-03-01"));
    docs.push_back(doc(2, keyFor(A, "001", 2), "NF", "2024-03-02"));
    Doc cancelled = doc(3, keyFor(A, "001", 5), "NF", "2024-03-05");
    cancelled.cancel = eventText(keyFor(A, "001", 5));
    docs.push_back(cancelled);
    Doc blankCancel = doc(4, keyFor(A, "001", 6), "NF", "2024-03-06");
    blankCancel.cancel = " \r\n\t";
    blankCancel.distrib = documentText(keyFor(A, "001", 6), "<obs>distribui\xE7\xE3o</obs>");
    docs.push_back(blankCancel);
    docs.push_back(doc(5, keyFor(A, "001", 9), "NF", "2024-03-09"));
    docs.push_back(doc(6, keyFor(B, "001", 100), "NE", "2024-03-10"));
    docs.push_back(doc(7, keyFor(B, "001", 101), std::nullopt, "2024-03-11"));
    docs.push_back(doc(8, keyFor(A, "001", 3, "2402"), "NF", "2024-02-28"));  // February
    Doc noKey = doc(9, keyFor(A, "001", 11), "NF", "2024-03-12");
    noKey.noKey = true;
    docs.push_back(noKey);
    Doc noText = doc(10, keyFor(A, "001", 4), "NF", "2024-03-04");
    noText.xml.reset();
    docs.push_back(noText);
    docs.push_back(doc(11, keyFor(A, "002", 7), "XX", "2024-03-07"));
    Doc noProtocol = doc(12, keyFor(A, "001", 10), "NF", "2024-03-10");
    noProtocol.xml = "<nfeProc><NFe><infNFe Id=\"NFe" + keyFor(A, "001", 10) + "\"/></NFe></nfeProc>";
    docs.push_back(noProtocol);
    return docs;
}

// Member name -> bytes the archive must hold for March.
std::map<std::string, std::string> expectedMembers(const std::vector<Doc>& docs) {
    std::map<std::string, std::string> m;
    for (const Doc& d : docs) {
        if (d.noKey || !d.xml || d.key->substr(2, 4) != "2403") continue;
        const std::string kind = !d.tipo           ? "Outras"
                                 : *d.tipo == "NF" ? "Emitidas"
                                 : *d.tipo == "NE" ? "Recebidas"
                                                   : "Outras";
        const bool cancel = d.cancel && d.cancel->find('<') != std::string::npos;
        const std::string text = cancel ? *d.cancel : d.distrib ? *d.distrib : *d.xml;
        m[kind + "/" + (cancel ? "CanNFe" : "NFe") + *d.key + ".XML"] = text + "\r\n";
    }
    return m;
}

std::map<std::string, std::string> members(const fs::path& archive) {
    std::map<std::string, std::string> out;
    int error = 0;
    zip_t* za = zip_open(archive.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    EXPECT_NE(za, nullptr) << archive << ": libzip error " << error;
    if (!za) return out;
    for (zip_int64_t i = 0; i < zip_get_num_entries(za, 0); ++i) {
        zip_stat_t st;
        zip_stat_index(za, zip_uint64_t(i), 0, &st);
        std::string bytes(st.size, '\0');
        zip_file_t* f = zip_fopen_index(za, zip_uint64_t(i), 0);
        EXPECT_EQ(zip_fread(f, bytes.data(), st.size), zip_int64_t(st.size));
        zip_fclose(f);
        out[st.name] = bytes;
    }
    zip_close(za);
    return out;
}

int shell(const std::string& command) {
    const int rc = std::system(command.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

class PackageProgram : public testing::TestWithParam<Mode> {
protected:
    void SetUp() override {
        if (GetParam() == Mode::Server) REQUIRE_FIREBIRD_SERVER();
    }
};

}  // namespace

TEST_P(PackageProgram, MonthOfTheKeysWithStoredBytesDigestsAndGaps) {
    Workspace ws(GetParam());
    const auto docs = month();
    ws.createDatabase(docs);
    ws.writeConfig("01/01/2010", "00:00:00", ws.out.string() + "/");
    const std::string configBefore = slurp(ws.ini);

    const RunResult r = ws.run({"/pacote", "2024-03"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("Resumo: examinados=9 selecionados=9 gravados=9 "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("resultado=completo"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" falhas_chave=0 falhas_xml=1"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" lacunas=2 ausentes=4"), std::string::npos) << r.out;
    EXPECT_EQ(slurp(ws.ini), configBefore) << "the package never moves the stamp";

    const fs::path archive = ws.out / "NFe-2024-03.zip";
    EXPECT_EQ(Workspace::files(ws.out).size(), 1u) << "nothing but the archive";
    EXPECT_EQ(shell("unzip -tqq '" + archive.string() + "'"), 0);

    auto got = members(archive);
    const std::string manifest = got["manifesto.csv"], gaps = got["lacunas.csv"];
    got.erase("manifesto.csv");
    got.erase("lacunas.csv");
    EXPECT_EQ(got, expectedMembers(docs));
    EXPECT_EQ(gaps,
              "emitente;modelo;serie;primeiro_ausente;ultimo_ausente;quantidade\r\n"
              "11222333000181;55;1;3;4;2\r\n"
              "11222333000181;55;1;7;8;2\r\n");

    const fs::path unpacked = ws.dir / "unpacked";
    ASSERT_EQ(shell("unzip -qq '" + archive.string() + "' -d '" + unpacked.string() + "'"), 0);
    EXPECT_EQ(shell("cd '" + unpacked.string() +
                    "' && tail -n +2 manifesto.csv | tr -d '\\r' | awk -F';' '{print $10 \"  \" $1}' | "
                    "sha256sum -c --quiet --strict"),
              0);
    const std::string k5 = keyFor(A, "001", 5);
    EXPECT_NE(manifest.find("Emitidas/CanNFe" + k5 + ".XML;" + k5 + ";" + A + ";55;1;5;2024-03-05;Emitidas;sim;"),
              std::string::npos)
        << manifest;
    EXPECT_NE(manifest.find(";Outras;nao;"), std::string::npos) << manifest;
    EXPECT_NE(manifest.find(";xml-sem-protocolo,assinatura-ausente\r\n"), std::string::npos) << manifest;
}

// A document that cannot be named is left out as the exports leave it out:
// counted, named, status 65, and never in the archive.
TEST_P(PackageProgram, RefusedDocumentIsCountedNamedAndLeftOut) {
    Workspace ws(GetParam());
    auto docs = month();
    Doc escape = doc(20, "352403/../../fora", "NF", "2024-03-20");
    docs.push_back(escape);
    ws.createDatabase(docs);
    ws.writeConfig("01/01/2010", "00:00:00", ws.out.string() + "/");
    const RunResult r = ws.run({"/pacote", "2024-03"});
    EXPECT_EQ(r.status, 65) << r.out << r.err;
    EXPECT_NE(r.out.find("resultado=recusados"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" recusados=1"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("352403/../../fora"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("nome inseguro"), std::string::npos) << r.err;
    const auto got = members(ws.out / "NFe-2024-03.zip");
    for (const auto& [name, bytes] : got) EXPECT_EQ(name.find("fora"), std::string::npos) << name;
    EXPECT_EQ(got.size(), 9u + 2u);
    EXPECT_EQ(got.at("manifesto.csv").find("fora"), std::string::npos);
    // The history keeps it for the monitoring check.
    const RunResult status = ws.run({"/status"});
    EXPECT_EQ(status.status, 1) << status.out << status.err;
    EXPECT_NE(status.out.find("Exportação do pacote concluída com documentos recusados"), std::string::npos)
        << status.out;
    EXPECT_NE(status.out.find(", recusados 1"), std::string::npos) << status.out;
}

TEST_P(PackageProgram, IntoAnotherFolder) {
    Workspace ws(GetParam());
    ws.createDatabase(month());
    ws.writeConfig("01/01/2010", "00:00:00", ws.out.string() + "/");
    const fs::path elsewhere = ws.dir / "contabilidade";
    fs::create_directory(elsewhere);
    const RunResult r = ws.run({"/pacote", "2024-02", elsewhere.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Workspace::files(ws.out).empty());
    const auto got = members(elsewhere / "NFe-2024-02.zip");
    EXPECT_EQ(got.size(), 3u);
    EXPECT_TRUE(got.count("Emitidas/NFe" + keyFor(A, "001", 3, "2402") + ".XML"));
}

// The unattended export checks what it writes and follows Organizar.
TEST_P(PackageProgram, IncrementalExportCountsChecksAndFollowsOrganizar) {
    Workspace ws(GetParam());
    const auto docs = month();
    ws.createDatabase(docs);
    spit(ws.ini, ws.configText("01/01/2010", "00:00:00", ws.out.string() + "/") + "Organizar={aaaa}-{mm}/{tipo}\r\n");
    // What a run killed while writing there left behind goes when the next one writes there.
    fs::create_directories(ws.out / "2024-03" / "Emitidas");
    spit(ws.out / "2024-03" / "Emitidas" / ".exportar-Ab12Zz.tmp", "half a document");
    const RunResult r = ws.run();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(" falhas_chave=0 falhas_xml=1"), std::string::npos) << r.out;

    std::map<std::string, std::string> expected;
    for (const auto& [member, bytes] : expectedMembers(docs)) expected["2024-03/" + member] = bytes;
    const Doc& february = docs[7];
    expected["2024-02/Emitidas/NFe" + *february.key + ".XML"] = *february.xml + "\r\n";
    EXPECT_EQ(Workspace::files(ws.out), expected);
}

INSTANTIATE_TEST_SUITE_P(Modes, PackageProgram, testing::Values(Mode::Embedded, Mode::Server), modeName);

TEST(PackageProgramErrors, StatusesAndMessages) {
    Workspace ws(Mode::Embedded);
    ws.createDatabase(month());
    ws.writeConfig("01/01/2010", "00:00:00", ws.out.string() + "/");
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"/pacote"}, "AAAA-MM"},
        {{"/pacote", "2024-13"}, "AAAA-MM"},
        {{"/pacote", "03/2024"}, "AAAA-MM"},
        {{"/pacote", "2024-03", (ws.dir / "missing").string()}, "missing"},
    };
    for (const Case& c : cases) {
        const RunResult r = ws.run(c.args);
        EXPECT_EQ(r.status, 1) << c.args.back();
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(Workspace::files(ws.out).empty());
    }

    // last year's delivery made read-only: kept, the run fails naming it
    const fs::path earlier = ws.out / "NFe-2024-03.zip";
    spit(earlier, "delivered");
    fs::permissions(earlier, fs::perms::owner_read | fs::perms::group_read);
    const RunResult readOnly = ws.run({"/pacote", "2024-03"});
    EXPECT_EQ(readOnly.status, 1) << readOnly.err;
    EXPECT_NE(readOnly.err.find("somente leitura"), std::string::npos) << readOnly.err;
    EXPECT_NE(readOnly.err.find(earlier.string()), std::string::npos) << readOnly.err;
    EXPECT_EQ(slurp(earlier), "delivered");
    EXPECT_EQ(Workspace::files(ws.out).size(), 1u);
    fs::remove(earlier);

    // another export holds the lock: 75 after the wait, nothing written
    exports::ExportLock held = exports::ExportLock::acquire(exports::lockFileFor(ws.ini.string()),
                                                            std::chrono::milliseconds(0));
    ASSERT_EQ(held.state(), exports::ExportLock::State::Held);
    const RunResult busy = ws.run({"/pacote", "2024-03"});
    EXPECT_EQ(busy.status, 75) << busy.err;
    EXPECT_TRUE(Workspace::files(ws.out).empty());
}

namespace {

class StopAfter : public exports::Observer {
public:
    explicit StopAfter(long n) : left_(n) {}
    bool stopRequested() override { return left_-- <= 0; }

private:
    long left_;
};

}  // namespace

TEST(PackageRun, StoppedRunLeavesNoArchive) {
    Workspace ws(Mode::Embedded);
    ws.createDatabase(month());
    ws.writeConfig("01/01/2010", "00:00:00", ws.out.string() + "/");
    exports::PackageJob job;
    job.database = ws.dbName;
    const auto who = fixture::defaultCredentials(ws.dbName);
    job.sourceOptions = exports::firebirdOptions(client(), {who.user, who.password});
    job.outputFolder = ws.out.string() + "/";
    job.settingsFile = ws.ini.string();
    job.yearMonth = "2024-03";
    StopAfter observer(3);
    const exports::RunSummary s = exports::runPackage(job, observer);
    EXPECT_EQ(s.result, exports::Result::Interrupted);
    EXPECT_TRUE(Workspace::files(ws.out).empty());
}

TEST(PeriodExport, FollowsOrganizarAndCountsChecks) {
    Workspace ws(Mode::Embedded);
    auto docs = month();
    docs[1].entsai = "E";
    ws.createDatabase(docs);
    ws.writeConfig("01/01/2010", "00:00:00", ws.out.string() + "/");
    exports::PeriodJob job;
    job.database = ws.dbName;
    const auto who = fixture::defaultCredentials(ws.dbName);
    job.sourceOptions = exports::firebirdOptions(client(), {who.user, who.password});
    job.outputFolder = ws.out.string() + "/";
    job.settingsFile = ws.ini.string();
    job.organize = "{cnpj}/{mm}";
    job.startDate = 45352;  // 01/03/2024
    job.endDate = 45354;    // 03/03/2024
    job.branch = "1";
    exports::Observer observer;
    const exports::RunSummary s = exports::runPeriod(job, observer);
    ASSERT_EQ(s.result, exports::Result::Complete) << s.error;
    const std::string cnpj = "11222333000181";  // the documents' counterpart
    const std::string k1 = *docs[0].key, k2 = *docs[1].key;
    EXPECT_EQ(Workspace::files(ws.out),
              (std::map<std::string, std::string>{
                  {A + "/03/Saida/NFe" + k1 + "_" + cnpj + ".XML", *docs[0].xml + "\r\n"},
                  {A + "/03/Entrada/NFe" + k2 + "_" + cnpj + ".XML", *docs[1].xml + "\r\n"}}));
    EXPECT_EQ(s.checks.checked, 2);
    EXPECT_EQ(s.checks.badKeys, 0);
    EXPECT_EQ(s.checks.badXml, 0);
    EXPECT_EQ(s.checks.badSignatures, 2);  // the fixture's documents are not signed
    EXPECT_EQ(s.checks.failed, 2);
}

// Signed documents through the real program: the manifest names what the
// signature check found in each, and the summary line counts them last. The
// test hierarchy's root and intermediate are trusted through
// CertificadosConfiaveis, as an office would add a certificate.
TEST(PackageSignatures, ManifestAndSummaryShowWhatTheSignatureCheckFound) {
    Workspace ws(Mode::Embedded);
    const signing::Signer signer;
    const std::string k1 = keyFor(A, "001", 1), k2 = keyFor(A, "001", 2), k3 = keyFor(A, "001", 3),
                      k4 = keyFor(A, "001", 4), k5 = keyFor(A, "001", 5);
    auto signedFor = [&](const std::string& key, const char* who = "issuer") {
        return signer.sign(signing::documentTemplate(key, "windows-1252", "Jos\xE9 Concei\xE7\xE3o",
                                                     "Pe\xE7"
                                                     "a"),
                           who);
    };
    const std::string third = signedFor(k3);
    const std::string digest = signing::between(third, "<DigestValue>", "</DigestValue>");
    std::vector<Doc> docs = {doc(1, k1, "NF", "2024-03-01"), doc(2, k2, "NF", "2024-03-02"),
                             doc(3, k3, "NF", "2024-03-03"), doc(4, k4, "NF", "2024-03-04"),
                             doc(5, k5, "NF", "2024-03-05")};
    docs[0].xml = signedFor(k1);
    docs[1].xml = signing::replaced(signedFor(k2), "<vNF>21.00", "<vNF>12.00");  // edited after signing
    docs[2].xml = signing::replaced(third, "<digVal>" + digest, "<digVal>" + std::string(digest.size() - 1, 'A') + "=");
    docs[3].xml = signedFor(k4, "selfmade");  // re-signed by a self-made certificate with the issuer's CNPJ
    docs[4].xml = signedFor(k5, "stranger");  // by another company's
    ws.createDatabase(docs);
    spit(ws.ini, ws.configText("01/01/2010", "00:00:00", ws.out.string() + "/") +
                     "CertificadosConfiaveis=" + signer.trustFolder() + "\r\n");

    const RunResult r = ws.run({"/pacote", "2024-03"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(" falhas_chave=0 falhas_xml=0 lacunas=0"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" falhas_assinatura=4\n"), std::string::npos) << r.out;
    const std::string manifest = members(ws.out / "NFe-2024-03.zip")["manifesto.csv"];
    for (const auto& [key, verdict] :
         {std::pair{k1, ";ok\r\n"}, std::pair{k2, ";assinatura-digest,protocolo-digest\r\n"},
          std::pair{k3, ";protocolo-digest\r\n"}, std::pair{k4, ";certificado-cadeia\r\n"},
          std::pair{k5, ";certificado-titular\r\n"}}) {
        const size_t row = manifest.find("Emitidas/NFe" + key + ".XML;");
        ASSERT_NE(row, std::string::npos) << manifest;
        EXPECT_EQ(manifest.substr(manifest.rfind(';', manifest.find('\n', row)), std::strlen(verdict)), verdict)
            << manifest;
    }
}

// contrib/: the package's service and timer parse, and the service's command
// line, run as systemd would run it, builds last month's package.
TEST(PackageScheduler, UnitsVerifyAndTheCommandBuildsLastMonth) {
    const fs::path contrib = fs::path(EXPORTS_SOURCE_DIR) / "contrib";
    Workspace ws(Mode::Embedded);
    const std::string month = exports::previousMonth(std::time(nullptr));
    Doc d = doc(1, keyFor(A, "001", 1, (month.substr(2, 2) + month.substr(5, 2)).c_str()), "NF", "2024-03-01");
    ws.createDatabase({d});
    ws.writeConfig("01/01/2010", "00:00:00", ws.out.string() + "/");

    auto replaced = [](std::string text, const std::string& from, const std::string& to) {
        for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
            text.replace(at, from.size(), to);
        return text;
    };
    for (const char* unit : {"exportar-xml-pacote.service", "exportar-xml-pacote.timer"})
        spit(ws.dir / unit, replaced(slurp(contrib / unit), "/opt/exportar-xml/exportar-xml", ws.exe.string()));
    const fs::path log = ws.dir / "verify.txt";
    EXPECT_EQ(shell("systemd-analyze verify '" + (ws.dir / "exportar-xml-pacote.service").string() + "' '" +
                    (ws.dir / "exportar-xml-pacote.timer").string() + "' >'" + log.string() + "' 2>&1"),
              0)
        << slurp(log);

    // ExecStart with systemd's escapes undone: %% is %, $$ is $
    const std::string service = slurp(ws.dir / "exportar-xml-pacote.service");
    const size_t at = service.find("\nExecStart=") + 11;
    std::string command = service.substr(at, service.find('\n', at) - at);
    command = replaced(replaced(command, "%%", "%"), "$$", "$");
    EXPECT_EQ(shell("cd / && env -i PATH=/usr/bin:/bin LANG=pt_BR.UTF-8 QT_QPA_PLATFORM=offscreen " + command + " >'" +
                    log.string() + "' 2>&1"),
              0)
        << slurp(log);
    EXPECT_TRUE(fs::exists(ws.out / ("NFe-" + month + ".zip"))) << slurp(log);
}

}  // namespace exptest
