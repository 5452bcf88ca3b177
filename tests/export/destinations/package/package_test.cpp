// The month's package built from documents in memory: a sound archive whose
// members are the stored bytes, a manifest whose digests sha256sum accepts,
// and the numbering gaps found exactly.
#include "export/destinations/package/package.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace exports;
namespace fs = std::filesystem;

namespace {

struct TempDir {
    fs::path path;
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "package-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(path); }
};

// A process id no process has: a child's, once it has ended.
pid_t deadPid() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

fs::perms currentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return fs::perms(mask);
}

std::string keyFor(const std::string& issuer, const std::string& series, int number) {
    char first[64];
    std::snprintf(first, sizeof first, "3524%s%s55%s%09d1%08d", "03", issuer.c_str(), series.c_str(), number,
                  number * 7);
    const std::string k = first;
    return k + char('0' + accessKeyCheckDigit(k));
}

std::string documentText(const std::string& key, const std::string& extra = "") {
    return "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n<nfeProc><NFe><infNFe Id=\"NFe" + key +
           "\"><obs>Concei\xE7\xE3o" + extra + "</obs></infNFe></NFe><protNFe><infProt><chNFe>" + key +
           "</chNFe></infProt></protNFe></nfeProc>";
}

std::string eventText(const std::string& key) {
    return "<procEventoNFe><evento><infEvento><chNFe>" + key + "</chNFe></infEvento></evento></procEventoNFe>";
}

int shell(const std::string& command) {
    const int rc = std::system(command.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::string shellQuoted(const fs::path& p) { return "'" + p.string() + "'"; }

std::map<std::string, std::string> members(const fs::path& archive) {
    std::map<std::string, std::string> out;
    int error = 0;
    zip_t* za = zip_open(archive.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    EXPECT_NE(za, nullptr) << "libzip error " << error;
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

// The month of the fixture: issuer A series 1 has 1,2,5,6,9 (holes 3-4 and 7-8),
// series 2 has 10,11 (none); issuer B has 100 and 103 (hole 101-102) issued,
// and a received 50 that must not count; plus a document without a header,
// a cancellation, a document with a broken key and a repeated key.
const std::string A = "11222333000181", B = "44555666000199";

struct Fixture {
    std::vector<PackageDocument> docs;
    Fixture() {
        // the first text of number 2 is cut short; a later one replaces it
        for (int n : {1, 2, 5, 9})
            docs.push_back({keyFor(A, "001", n), "NF", "2024-03-0" + std::to_string(n), false,
                            n == 2 ? std::string("<nfeProc><NFe>") : documentText(keyFor(A, "001", n))});
        docs.push_back({keyFor(A, "001", 6), "NF", "2024-03-06", true, eventText(keyFor(A, "001", 6))});
        for (int n : {10, 11})
            docs.push_back({keyFor(A, "002", n), "NF  ", "2024-03-10", false, documentText(keyFor(A, "002", n))});
        for (int n : {103, 100})
            docs.push_back({keyFor(B, "001", n), "NF", "2024-03-11", false, documentText(keyFor(B, "001", n))});
        docs.push_back({keyFor(B, "001", 50), "NE", "2024-03-12", false, documentText(keyFor(B, "001", 50))});
        docs.push_back({keyFor(B, "001", 77), "", "", false, documentText(keyFor(B, "001", 77))});
        // checks report, never stop: a broken key, a document without its protocol
        docs.push_back({"3524031122233300018155001000000012", "NF", "2024-03-13", false, "<nfeProc/>"});
        docs.push_back({keyFor(B, "001", 104), "NF", "2024-03-14", false,
                        "<nfeProc><NFe><infNFe Id=\"NFe" + keyFor(B, "001", 104) + "\"/></NFe></nfeProc>"});
        // stored again later: the package keeps the later text, as the folder would
        docs.push_back({keyFor(A, "001", 2), "NF", "2024-03-02", false, documentText(keyFor(A, "001", 2), " 2")});
    }
};

PackageResult build(const fs::path& folder, const Fixture& f, size_t flushEvery = 0) {
    PackageWriter writer(folder.string(), "2024-03");
    if (flushEvery) writer.setFlushThreshold(flushEvery);
    for (const auto& d : f.docs) writer.add(d);
    return writer.commit();
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

}  // namespace

TEST(Package, ArchiveHoldsTheStoredBytesAndTheLists) {
    for (size_t flushEvery : {size_t(0), size_t(1)}) {  // one batch; every document its own batch
        SCOPED_TRACE(flushEvery);
        TempDir tmp;
        const Fixture f;
        const PackageResult result = build(tmp.path, f, flushEvery);
        const fs::path archive = tmp.path / "NFe-2024-03.zip";
        ASSERT_EQ(result.path, archive.string());
        EXPECT_EQ(shell("unzip -tqq " + shellQuoted(archive)), 0);

        // exactly the documents (the repeated one once, with its later text) and the two lists
        std::map<std::string, std::string> expected;
        for (const auto& d : f.docs) expected[memberName(d)] = d.text + "\r\n";
        const auto got = members(archive);
        ASSERT_EQ(got.size(), expected.size() + 2);
        for (const auto& [name, bytes] : expected) {
            ASSERT_TRUE(got.count(name)) << name;
            EXPECT_EQ(got.at(name), bytes) << name;
        }
        EXPECT_TRUE(got.count("Emitidas/NFe" + keyFor(A, "001", 1) + ".XML"));
        EXPECT_TRUE(got.count("Emitidas/CanNFe" + keyFor(A, "001", 6) + ".XML"));
        EXPECT_TRUE(got.count("Recebidas/NFe" + keyFor(B, "001", 50) + ".XML"));
        EXPECT_TRUE(got.count("Outras/NFe" + keyFor(B, "001", 77) + ".XML"));
        EXPECT_EQ(result.documents, long(expected.size()));

        EXPECT_EQ(got.at("lacunas.csv"),
                  "emitente;modelo;serie;primeiro_ausente;ultimo_ausente;quantidade\r\n"
                  "11222333000181;55;1;3;4;2\r\n"
                  "11222333000181;55;1;7;8;2\r\n"
                  "44555666000199;55;1;101;102;2\r\n");
        EXPECT_EQ(result.gapRanges, 3);
        EXPECT_EQ(result.missingNumbers, 6u);

        // only the archive is left in the folder, readable as any file the exports write
        EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path), fs::directory_iterator()), 1);
        EXPECT_EQ(fs::status(archive).permissions() & fs::perms::all,
                  fs::perms::all & ~(fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec) &
                      ~currentUmask());
    }
}

// A key holding a Windows-1252 byte: the member's name and the manifest's
// line are the same UTF-8 bytes, so the accountant's check still holds.
TEST(Package, MemberNamesAreTheManifestsUtf8Bytes) {
    TempDir tmp;
    Fixture f;
    f.docs.resize(1);
    f.docs[0].accessKey =
        "3524031122233300018155001000000001\xE7"
        "12345678";
    const PackageResult result = build(tmp.path, f);
    const fs::path unpacked = tmp.path / "unpacked";
    ASSERT_EQ(shell("unzip -qq " + shellQuoted(result.path) + " -d " + shellQuoted(unpacked)), 0);
    EXPECT_TRUE(fs::exists(unpacked / "Emitidas" /
                           "NFe3524031122233300018155001000000001\xC3\xA7"
                           "12345678.XML"));
    EXPECT_EQ(shell("cd " + shellQuoted(unpacked) +
                    " && tail -n +2 manifesto.csv | tr -d '\\r' | awk -F';' '{print $10 \"  \" $1}' | "
                    "sha256sum -c --quiet --strict"),
              0);
}

TEST(Package, ManifestDescribesEachMemberAndItsDigestHolds) {
    TempDir tmp;
    const Fixture f;
    const PackageResult result = build(tmp.path, f);
    const fs::path unpacked = tmp.path / "unpacked";
    ASSERT_EQ(shell("unzip -qq " + shellQuoted(result.path) + " -d " + shellQuoted(unpacked)), 0);

    // the check an accountant runs: every digest of the manifest against the unpacked files
    EXPECT_EQ(shell("cd " + shellQuoted(unpacked) +
                    " && tail -n +2 manifesto.csv | tr -d '\\r' | awk -F';' '{print $10 \"  \" $1}' | "
                    "sha256sum -c --quiet --strict"),
              0);

    std::ifstream in(unpacked / "manifesto.csv", std::ios::binary);
    const std::string manifest((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto rows = lines(manifest);
    ASSERT_EQ(rows.size(), f.docs.size());  // header + every document once (one repeated)
    EXPECT_EQ(rows[0], "arquivo;chave;emitente;modelo;serie;numero;emissao;tipo;cancelada;sha256;verificacao\r");
    std::map<std::string, std::string> byName;
    for (size_t i = 1; i < rows.size(); ++i) byName[rows[i].substr(0, rows[i].find(';'))] = rows[i];

    const std::string k6 = keyFor(A, "001", 6);
    EXPECT_EQ(byName.at("Emitidas/CanNFe" + k6 + ".XML"),
              "Emitidas/CanNFe" + k6 + ".XML;" + k6 + ";11222333000181;55;1;6;2024-03-06;Emitidas;sim;" +
                  sha256Hex(eventText(k6) + "\r\n") + ";assinatura-ausente\r");
    const std::string k2 = keyFor(A, "001", 2);
    EXPECT_NE(byName.at("Emitidas/NFe" + k2 + ".XML").find(sha256Hex(documentText(k2, " 2") + "\r\n")),
              std::string::npos);
    // the findings are the later text's, not those of the text it replaced
    EXPECT_EQ(byName.at("Emitidas/NFe" + k2 + ".XML").substr(byName.at("Emitidas/NFe" + k2 + ".XML").rfind(';')),
              ";assinatura-ausente\r");
    const std::string k77 = keyFor(B, "001", 77);
    EXPECT_NE(byName.at("Outras/NFe" + k77 + ".XML").find(";;Outras;nao;"), std::string::npos);
    // the checks' results, and their counts
    EXPECT_NE(byName.at("Emitidas/NFe3524031122233300018155001000000012.XML").find(";;;;;2024-03-13;"),
              std::string::npos);
    EXPECT_EQ(byName.at("Emitidas/NFe3524031122233300018155001000000012.XML")
                  .substr(byName.at("Emitidas/NFe3524031122233300018155001000000012.XML").rfind(';') + 1),
              "chave-tamanho,xml-estrutura,xml-sem-protocolo,xml-sem-chave,assinatura-ausente\r");
    EXPECT_NE(
        byName.at("Emitidas/NFe" + keyFor(B, "001", 104) + ".XML").find(";xml-sem-protocolo,assinatura-ausente\r"),
        std::string::npos);
    EXPECT_EQ(result.checks.checked, long(f.docs.size() - 1));
    // the fixture's documents are unsigned: every one lacks its signature
    EXPECT_EQ(result.checks.failed, result.checks.checked);
    EXPECT_EQ(result.checks.badKeys, 1);
    EXPECT_EQ(result.checks.badXml, 2);
    EXPECT_EQ(result.checks.badSignatures, result.checks.checked);
}

TEST(Package, AppearsWholeOrNotAtAll) {
    TempDir tmp;
    const Fixture f;
    const fs::path archive = tmp.path / "NFe-2024-03.zip";
    std::ofstream(archive) << "last month's run";
    {
        PackageWriter writer(tmp.path.string(), "2024-03");
        writer.setFlushThreshold(1);
        for (const auto& d : f.docs) writer.add(d);
        // the run stops here (an error reading the database, say)
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path), fs::directory_iterator()), 1);
    std::ifstream in(archive);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), "last month's run");

    build(tmp.path, f);  // a complete run replaces it
    EXPECT_EQ(shell("unzip -tqq " + shellQuoted(archive)), 0);

    // what a killed run leaves: hidden temporaries of this month, which the next run removes
    const std::string dead = std::to_string(deadPid());
    std::ofstream(tmp.path / (".NFe-2024-03.zip.parcial-" + dead + "-a1B2c3")) << "partial";
    std::ofstream(tmp.path / (".NFe-2024-03.zip.parcial-" + std::to_string(::getpid()) + "-x9Y8z7")) << "partial";
    std::ofstream(tmp.path / (".NFe-2024-02.zip.parcial-" + dead + "-a1B2c3"))
        << "another month's: left to that month's next run";
    removeLeftoverPackages(tmp.path.string(), "2024-03");
    EXPECT_FALSE(fs::exists(tmp.path / (".NFe-2024-03.zip.parcial-" + dead + "-a1B2c3")));
    EXPECT_FALSE(fs::exists(tmp.path / (".NFe-2024-03.zip.parcial-" + std::to_string(::getpid()) + "-x9Y8z7")));
    EXPECT_TRUE(fs::exists(tmp.path / (".NFe-2024-02.zip.parcial-" + dead + "-a1B2c3")));
    EXPECT_TRUE(fs::exists(archive));
}

// The clean-up removes its own temporaries and nothing else of a similar
// name: a user's copy, a link (nor what it leads to), a pipe, a folder, the
// temporary of a run still going.
TEST(Package, CleanUpRemovesOnlyItsOwnTemporaries) {
    TempDir tmp, elsewhere;
    const std::string dead = std::to_string(deadPid());
    const std::string ours = ".NFe-2020-12.zip.parcial-" + dead + "-a1B2c3";
    std::ofstream(tmp.path / ours) << "partial";
    std::ofstream(elsewhere.path / "precious") << "the user's";
    struct Kept {
        std::string name;
        std::function<void(const fs::path&)> make;
    };
    const std::vector<Kept> kept = {
        {".NFe-2020-12.zip.bak", [](const fs::path& p) { std::ofstream(p) << "the user's copy"; }},
        {".NFe-2020-12.zip.parcial-" + dead + "-link01",
         [&](const fs::path& p) { fs::create_symlink(elsewhere.path / "precious", p); }},
        {".NFe-2020-12.zip.link", [&](const fs::path& p) { fs::create_symlink(elsewhere.path / "precious", p); }},
        {".NFe-2020-12.zip.parcial-" + dead + "-fifo01",
         [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
        {".NFe-2020-12.zip.fifo", [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
        {".NFe-2020-12.zip.parcial-" + dead + "-dir001", [](const fs::path& p) { fs::create_directory(p); }},
        // a run still writing (the parent of this test is alive)
        {".NFe-2020-12.zip.parcial-" + std::to_string(::getppid()) + "-b2C3d4",
         [](const fs::path& p) { std::ofstream(p) << "partial"; }},
        {".NFe-2020-12.zip.parcial-" + dead + "-a1B2c3.old", [](const fs::path& p) { std::ofstream(p) << "x"; }},
        {".NFe-2020-12.zip.parcial-x-a1B2c3", [](const fs::path& p) { std::ofstream(p) << "x"; }},
    };
    for (const auto& k : kept) k.make(tmp.path / k.name);
    removeLeftoverPackages(tmp.path.string(), "2020-12");
    EXPECT_FALSE(fs::exists(fs::symlink_status(tmp.path / ours)));
    for (const auto& k : kept) EXPECT_TRUE(fs::exists(fs::symlink_status(tmp.path / k.name))) << k.name;
    std::ifstream in(elsewhere.path / "precious");
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), "the user's");
}

// An earlier archive the user made read-only is kept and the run fails
// saying so, before the month is written and when it turns read-only while
// the month is being written.
TEST(Package, UnwritableEarlierArchiveIsKeptAndTheRunFails) {
    for (bool duringTheRun : {false, true}) {
        SCOPED_TRACE(duringTheRun);
        TempDir tmp;
        const Fixture f;
        const fs::path archive = tmp.path / "NFe-2024-03.zip";
        std::ofstream(archive) << "last year's delivery";
        if (!duringTheRun)
            fs::permissions(archive, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        try {
            PackageWriter writer(tmp.path.string(), "2024-03");
            for (const auto& d : f.docs) writer.add(d);
            if (duringTheRun) fs::permissions(archive, fs::perms::owner_read);
            writer.commit();
            ADD_FAILURE() << "replaced";
        } catch (const PackageError& e) {
            EXPECT_NE(std::string(e.what()).find("somente leitura"), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(archive.string()), std::string::npos) << e.what();
        }
        std::ifstream in(archive);
        EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()),
                  "last year's delivery");
        EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path), fs::directory_iterator()), 1);
    }
}

// The same documents give the same archive byte for byte, whenever and in
// whatever time zone it is made: the members' times are the documents' own.
TEST(Package, SameDocumentsGiveTheSameBytes) {
    Fixture f;
    f.docs[0].text = documentText(keyFor(A, "001", 1), "<dhEmi>2024-03-01T08:00:00-03:00</dhEmi>");
    f.docs[0].text.insert(f.docs[0].text.find("</infProt>"), "<dhRecbto>2024-03-01T14:31:07-03:00</dhRecbto>");
    f.docs[2].text = documentText(keyFor(A, "001", 5), "<dhEmi>2024-03-05T09:15:42-03:00</dhEmi>");
    f.docs[4].text.insert(f.docs[4].text.find("</infEvento>"), "<dhEvento>2024-03-20T16:00:00-03:00</dhEvento>");
    const char* const oldZone = std::getenv("TZ");
    const std::string restore = oldZone ? oldZone : "";
    std::vector<std::string> archives;
    for (const char* zone : {"America/Sao_Paulo", "Asia/Tokyo", "UTC"}) {
        ::setenv("TZ", zone, 1);
        ::tzset();
        TempDir tmp;
        archives.push_back(slurp(build(tmp.path, f, 4096).path));
        if (archives.size() == 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(2100));  // a zip keeps even seconds
    }
    if (oldZone) ::setenv("TZ", restore.c_str(), 1);
    else ::unsetenv("TZ");
    ::tzset();
    EXPECT_EQ(archives[0], archives[1]);
    EXPECT_EQ(archives[0], archives[2]);

    // each member's time: authorisation, else issue, else the issue date, else the month
    TempDir tmp;
    const std::string path = build(tmp.path, f).path;
    const std::map<std::string, std::string> expected = {
        {"Emitidas/NFe" + keyFor(A, "001", 1) + ".XML", "2024-03-01 14:31:06"},
        {"Emitidas/NFe" + keyFor(A, "001", 5) + ".XML", "2024-03-05 09:15:42"},
        {"Emitidas/CanNFe" + keyFor(A, "001", 6) + ".XML", "2024-03-20 16:00:00"},
        {"Emitidas/NFe" + keyFor(A, "001", 9) + ".XML", "2024-03-09 00:00:00"},
        {"Outras/NFe" + keyFor(B, "001", 77) + ".XML", "2024-03-01 00:00:00"},
        {"manifesto.csv", "2024-03-01 00:00:00"},
        {"lacunas.csv", "2024-03-01 00:00:00"},
    };
    int error = 0;
    zip_t* za = zip_open(path.c_str(), ZIP_RDONLY, &error);
    ASSERT_NE(za, nullptr);
    for (const auto& [name, when] : expected) {
        zip_stat_t st;
        ASSERT_EQ(zip_stat(za, name.c_str(), 0, &st), 0) << name;
        std::tm local{};
        ::localtime_r(&st.mtime, &local);
        char text[32];
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
        EXPECT_EQ(text, when) << name;
    }
    zip_close(za);
}

TEST(Package, CellsASpreadsheetWouldEvaluateAreShownAsText) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"=HYPERLINK(\"http://x\")", "\"'=HYPERLINK(\"\"http://x\"\")\""},
        {"=1+1", "'=1+1"},
        {"+5511999", "'+5511999"},
        {"-2+3", "'-2+3"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"\t=1", "'\t=1"},
        {"\r=1", "\"'\r=1\""},
        {"\n=1", "\"'\n=1\""},
        {"=cmd;x", "\"'=cmd;x\""},
        {"a=1", "a=1"},
        {"2024-03-05", "2024-03-05"},
        {"NFe-1", "NFe-1"},
        {"", ""},
        {"'quoted", "'quoted"},
        {"x;y", "\"x;y\""},
    };
    for (const auto& [cell, written] : cases) EXPECT_EQ(csvCell(cell), written) << cell;

    // in the manifest: a hostile issue date and key reach the file as text
    TempDir tmp;
    Fixture f;
    f.docs.resize(1);
    f.docs[0].issueDate = "=HYPERLINK(\"http://x\";\"y\")";
    f.docs.push_back({"-1+1", "NF", "@SUM(1)", false, "<nfeProc/>"});
    const auto manifest = members(build(tmp.path, f).path).at("manifesto.csv");
    EXPECT_NE(manifest.find(";\"'=HYPERLINK(\"\"http://x\"\";\"\"y\"\")\";"), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("Emitidas/NFe-1+1.XML;'-1+1;;;;;'@SUM(1);"), std::string::npos) << manifest;
    for (const auto& line : lines(manifest))
        for (size_t at = 0; at != std::string::npos; at = line.find(';', at + 1)) {
            const size_t cell = line[at] == ';' ? at + 1 : at;
            if (cell < line.size())
                EXPECT_EQ(std::string_view("=+-@\t").find(line[cell]), std::string_view::npos) << line;
        }
}

TEST(Package, KeyThatWouldLeadOutOfTheFolderStopsIt) {
    TempDir tmp;
    const Fixture f;
    for (const char* key : {"../../etc/x", "a/b", "..\\x"}) {
        PackageWriter writer(tmp.path.string(), "2024-03");
        writer.add(f.docs[0]);
        try {
            writer.add({key, "NF", "", false, "<nfeProc/>"});
            ADD_FAILURE() << "accepted " << key;
        } catch (const PackageError& e) {
            EXPECT_NE(std::string(e.what()).find(key), std::string::npos) << e.what();
        }
        EXPECT_TRUE(fs::is_empty(tmp.path)) << key;  // the run ends; nothing is left
    }
}

TEST(Package, EmptyMonthStillGivesTheLists) {
    TempDir tmp;
    const PackageResult result = PackageWriter(tmp.path.string(), "2024-02").commit();
    const auto got = members(result.path);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got.at("manifesto.csv"),
              "arquivo;chave;emitente;modelo;serie;numero;emissao;tipo;cancelada;sha256;verificacao\r\n");
    EXPECT_EQ(got.at("lacunas.csv"), "emitente;modelo;serie;primeiro_ausente;ultimo_ausente;quantidade\r\n");
}

TEST(Package, FolderThatCannotBeWrittenIsAnError) {
    TempDir tmp;
    EXPECT_THROW(PackageWriter((tmp.path / "missing").string(), "2024-03"), PackageError);
}
