// The Organizar pattern: folders from the key and the header, and the refusal
// of anything that could lead outside the output folder.
#include "export/core/organize.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>
#include <unistd.h>

using namespace exports;
namespace fs = std::filesystem;

namespace {

constexpr const char* kKey = "35240312345678000199550010000012341100000089";

std::string joined(const std::vector<std::string>& folders) {
    std::string out;
    for (const auto& f : folders) out += (out.empty() ? "" : "|") + f;
    return out;
}

struct TempDir {
    fs::path path;
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "organize-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(path); }
};

}  // namespace

TEST(FolderPattern, Placeholders) {
    struct Case {
        std::string pattern, key, type, expected;
    };
    const Case cases[] = {
        {"{aaaa}-{mm}/{tipo}", kKey, "NF", "2024-03|Emitidas"},
        {"{cnpj}/{modelo}", kKey, "NF", "12345678000199|55"},
        {"{tipo}", kKey, "NE", "Recebidas"},
        {"{tipo}", kKey, "NF        ", "Emitidas"},  // CHAR column padding
        {"{tipo}", kKey, "", "Outras"},              // no header row
        {"{tipo}", kKey, "XX", "Outras"},
        {"NFe {aaaa}/m\xEAs {mm}/", kKey, "NF", "NFe 2024|mês 03"},
        {"Emiss\xF5"
         "es/{mm}",
         kKey, "NF", "Emissões|03"},  // setting bytes are Windows-1252
        {"{aaaa}{mm}{cnpj}", kKey, "NF", "20240312345678000199"},
        {"{aaaa}/{mm}", "3524031234567800019955001000001234110000008", "NF", "chave-invalida|chave-invalida"},
        {"{cnpj}", "352403123456780001995500100000123411000000/9", "NF", "chave-invalida"},
        {"", kKey, "NF", ""},
        {"  ", kKey, "NF", ""},
    };
    for (const Case& c : cases) {
        const FolderPattern pattern(c.pattern);
        EXPECT_EQ(joined(pattern.folders({c.key, c.type})), c.expected) << c.pattern;
        EXPECT_EQ(pattern.flat(), c.expected.empty()) << c.pattern;
    }
}

TEST(FolderPattern, RefusesWhatCouldLeaveTheOutputFolder) {
    struct Case {
        std::string pattern, reason;
    };
    const Case cases[] = {
        {"/srv/xml/{aaaa}", "absoluto"}, {"..", "\"..\""},
        {"{aaaa}/../../etc", "\"..\""},  {"./{aaaa}", "\".\""},
        {"{aaaa}//{mm}", "vazio"},       {"//", "absoluto"},
        {"{aaaa}\\{mm}", "\"/\""},       {"{ano}/{mm}", "{ano}"},
        {"{aaaa", "\"{\" sem \"}\""},    {"aaaa}", "\"}\" sem \"{\""},
        {"{aaaa}/x\ty", "controle"},     {std::string("a\0b", 3), "controle"},
    };
    for (const Case& c : cases) {
        try {
            FolderPattern pattern(c.pattern);
            ADD_FAILURE() << "accepted: " << c.pattern;
        } catch (const OrganizeError& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find("Organizar"), std::string::npos) << message;
            EXPECT_NE(message.find(c.reason), std::string::npos) << message;
        }
    }
}

TEST(MakeFoldersInside, CreatesEachLevelAndReturnsTheInnermost) {
    TempDir tmp;
    const std::string base = tmp.path.string();
    EXPECT_EQ(makeFoldersInside(base, {"2024-03", "Emitidas"}), base + "/2024-03/Emitidas/");
    EXPECT_TRUE(fs::is_directory(tmp.path / "2024-03" / "Emitidas"));
    // again, and with the setting's trailing separator: nothing changes
    EXPECT_EQ(makeFoldersInside(base + "/", {"2024-03", "Emitidas"}), base + "/2024-03/Emitidas/");
    EXPECT_EQ(makeFoldersInside(base + "/", {}), base + "/");
}

TEST(MakeFoldersInside, RefusesLinksAndFilesOnTheWay) {
    TempDir tmp;
    TempDir outside;
    const fs::path out = tmp.path / "out";
    fs::create_directory(out);
    fs::create_directory_symlink(outside.path, out / "2024-03");
    std::ofstream(out / "2024-04") << "a file";

    EXPECT_THROW(makeFoldersInside(out.string(), {"2024-03", "Emitidas"}), OrganizeError);
    EXPECT_TRUE(fs::is_empty(outside.path)) << "created through the link";
    try {
        makeFoldersInside(out.string(), {"2024-03"});
        ADD_FAILURE() << "a link was accepted as the folder itself";
    } catch (const OrganizeError& e) {
        EXPECT_NE(std::string(e.what()).find("link"), std::string::npos) << e.what();
    }
    EXPECT_THROW(makeFoldersInside(out.string(), {"2024-04", "Emitidas"}), OrganizeError);
    EXPECT_THROW(makeFoldersInside(out.string(), {".."}), OrganizeError);
    EXPECT_THROW(makeFoldersInside((tmp.path / "missing").string(), {"x"}), OrganizeError);
}

TEST(OrganizedFolders, FlatKeepsTheFolderTextVerbatim) {
    TempDir tmp;
    // the incremental export appends "NFe…" to the folder text as it stands
    const std::string noSlash = (tmp.path / "pre").string();
    EXPECT_EQ(OrganizedFolders(noSlash, FolderPattern("")).folderFor({kKey, "NF"}), noSlash);
    EXPECT_FALSE(fs::exists(tmp.path / "pre"));

    OrganizedFolders organized(tmp.path.string(), FolderPattern("{aaaa}/{tipo}"));
    EXPECT_EQ(organized.folderFor({kKey, "NE"}), tmp.path.string() + "/2024/Recebidas/");
    EXPECT_TRUE(fs::is_directory(tmp.path / "2024" / "Recebidas"));
}
