// The rules by tables: names, refusals, kinds, folders, the stamp's advance
// and when a file already holds a document. No database, no file.
#include "export/core/rules.h"

#include <gtest/gtest.h>

using namespace exports;

namespace {

const std::string kKey = "35240311222333000181550010000001231000012345";

TEST(Rules, FileNamesOfEveryKind) {
    EXPECT_EQ(documentFileName(kKey, false), "NFe" + kKey + ".XML");
    EXPECT_EQ(documentFileName(kKey, true), "CanNFe" + kKey + ".XML");
    EXPECT_EQ(periodDocumentFileName("K", "C "), "NFeK_C .XML");  // a padded CHAR stays as stored
    struct Case {
        const char* flag;
        const char* folder;
    };
    const Case cases[] = {{"E", "Entrada"}, {"S", "Saida"}, {"E ", "Saida"},
                          {"", "Saida"},    {"e", "Saida"}, {" E", "Saida"}};
    for (const Case& c : cases) EXPECT_EQ(entryExitFolder(c.flag), c.folder) << '"' << c.flag << '"';
}

TEST(Rules, NamesMadeOfSeveralPartsAreRefusedForTheFirstBadOne) {
    struct Case {
        std::string key, tax;
        const char* reason;
    };
    const Case cases[] = {
        {kKey, "11222333000181", ""},
        {kKey, "              ", "nome vazio"},  // an empty CHAR(14)
        {"", "11222333000181", "nome vazio"},
        {kKey, "11/222", "nome inseguro"},
        {"..", "1", "nome inseguro"},
        {kKey, "..", "nome inseguro"},
        {kKey, "1\x1B[2J", "nome inseguro"},
        {std::string(240, 'k'), "1234567", ""},  // 3 + 240 + 1 + 7 + 4 = 255 bytes
        {std::string(240, 'k'), "12345678", "nome longo demais"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(unusableName({c.key, c.tax}, periodDocumentFileName(c.key, c.tax)), c.reason)
            << c.key.size() << " " << c.tax;
    }
    // The name is measured as the file system stores it: a Windows-1252
    // byte becomes two bytes of UTF-8.
    const std::string accented(124, '\xE7');
    EXPECT_EQ(unusableName(accented, documentFileName(accented, true)), "nome longo demais");
    EXPECT_EQ(unusableName(accented, documentFileName(accented, false)), "");
}

TEST(Rules, KindsTickedChooseTheDocuments) {
    // The documents of the real program's table: 2 issued, 5 received, 7 an
    // issued vehicle, 8 issued, 9 received, 10 another type, 11 no header.
    struct Doc {
        int seq;
        const char* type;
        bool vehicle;
    };
    const Doc docs[] = {{2, "NF", false}, {5, "NE", false},  {7, "NF", true}, {8, "NF ", false},
                        {9, "NE", false}, {10, "XX", false}, {11, "", false}};
    struct Case {
        Kinds kinds;
        std::vector<int> seqs;
    };
    const Case cases[] = {
        {{true, true, true}, {2, 5, 7, 8, 9, 10, 11}},  // all ticked: no check at all
        {{true, false, false}, {2, 7, 8}},              // issued, vehicle or not
        {{false, false, true}, {7}},
        {{false, true, false}, {5, 9}},
        {{true, false, true}, {2, 7, 8}},
        {{true, true, false}, {2, 5, 7, 8, 9}},
        {{false, true, true}, {5, 7, 9}},
        {{false, false, false}, {}},
    };
    for (const Case& c : cases) {
        std::vector<int> kept;
        for (const Doc& d : docs)
            if (ofTickedKind(c.kinds, d.type, d.vehicle)) kept.push_back(d.seq);
        EXPECT_EQ(kept, c.seqs) << c.kinds.issued << c.kinds.received << c.kinds.vehicles;
    }
    // Only trailing blanks are the column's padding.
    EXPECT_FALSE(ofTickedKind({true, false, false}, " NF", false));
    EXPECT_FALSE(ofTickedKind({true, false, false}, "nf", false));
}

TEST(Rules, OrganisedFolderIsARelativeFolderText) {
    struct Case {
        const char* pattern;
        std::string key;
        const char* type;
        const char* folder;
    };
    const Case cases[] = {
        {"", kKey, "NF", ""},
        {"  ", kKey, "NF", ""},
        {"{aaaa}-{mm}/{tipo}", kKey, "NE", "2024-03/Recebidas/"},
        {"{cnpj}/{modelo}/", kKey, "", "11222333000181/55/"},
        {"{aaaa}/{tipo}", "x/../y", "XX", "chave-invalida/Outras/"},
        {"Notas \xC9", kKey, "NF", "Notas \xC3\x89/"},  // the setting's Windows-1252, the file system's UTF-8
    };
    for (const Case& c : cases)
        EXPECT_EQ(organisedFolder(FolderPattern(c.pattern), {c.key, c.type}), c.folder) << c.pattern;
}

TEST(Rules, StampAdvancesToTheNewestMomentAndNeverPastTheServersClock) {
    const Moment stored{2020, 12, 25, 10, 5, 37};
    struct Case {
        std::vector<Moment> seen;  // in document-number order, not moment order
        Moment advanced;
    };
    const Case cases[] = {
        {{}, stored},
        {{{2021, 1, 2, 8, 0, 0}, {2020, 12, 26, 0, 0, 0}}, {2021, 1, 2, 8, 0, 0}},
        {{{2020, 12, 25, 10, 5, 36}}, stored},  // a late commit with an older moment never moves it back
        {{{2020, 12, 25, 10, 5, 38}, {2020, 12, 25, 10, 5, 37}}, {2020, 12, 25, 10, 5, 38}},
    };
    for (const Case& c : cases) {
        Moment m = stored;
        for (const Moment& seen : c.seen) m = advanceStamp(m, seen);
        EXPECT_EQ(m, c.advanced) << c.seen.size();
    }
    const Moment server{2024, 3, 1, 12, 0, 0};
    EXPECT_EQ(storedStamp({2099, 1, 1, 0, 0, 0}, server), server);
    EXPECT_EQ(storedStamp({2024, 3, 1, 11, 59, 59}, server), (Moment{2024, 3, 1, 11, 59, 59}));
}

TEST(Rules, AFileIsLeftAloneOnlyWhenItHoldsExactlyTheTextAndCrLf) {
    const std::string text = "<doc>1</doc>";
    struct Case {
        std::string file;
        bool holds;
    };
    const Case cases[] = {
        {text + "\r\n", true},       {text, false},  // an older version wrote no line end
        {text + "\n", false},        {text + "\r\n\r\n", false},
        {"<doc>2</doc>\r\n", false},  // same size, other bytes
        {text + "\n\r", false},      {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(fileHoldsDocument(c.file, text), c.holds) << c.file;
    EXPECT_TRUE(fileHoldsDocument("\r\n", ""));
    // Read in pieces: every split of the file agrees with the whole.
    const std::string file = text + "\r\n";
    for (size_t at = 0; at <= file.size(); ++at) {
        EXPECT_TRUE(documentBytesMatch(text, 0, file.substr(0, at)) && documentBytesMatch(text, at, file.substr(at)))
            << at;
        std::string wrong = file;
        if (at < wrong.size()) {
            wrong[at] ^= 1;
            EXPECT_FALSE(documentBytesMatch(text, 0, wrong.substr(0, at + 1))) << at;
        }
    }
    EXPECT_FALSE(documentBytesMatch(text, file.size(), "x"));  // past the end
}

TEST(Rules, FolderOfAPath) {
    const std::pair<const char*, const char*> cases[] = {
        {"/srv/xml/NFe1.XML", "/srv/xml/"}, {"NFe1.XML", ""}, {"/NFe1.XML", "/"}, {"a/b/", "a/b/"}, {"", ""}};
    for (const auto& [path, folder] : cases) EXPECT_EQ(folderOf(path), folder) << path;
}

}  // namespace
