// The one settings reader and the output folder it names: what each key
// becomes, and a relative folder found beside the settings file whatever
// characters the folders above it hold.
#include "export/adapters.h"
#include "export/core/registry.h"
#include "export/core/run.h"
#include "export/core/stamp.h"
#include "export/settings/settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <stdlib.h>

namespace fs = std::filesystem;

namespace {

class SettingsTest : public testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/settings-test-XXXXXX";
        dir_ = ::mkdtemp(tmpl);
    }
    void TearDown() override { fs::remove_all(dir_); }
    static void put(const fs::path& file, const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }
    fs::path dir_;
};

TEST_F(SettingsTest, EveryKeyReadOnceAsTheFileHoldsIt) {
    struct Case {
        const char* name;
        std::string text;  // the file; empty: no file at all
        std::string database, folder, organize;
        bool issued, vehicles, received;
    };
    const Case cases[] = {
        {"no file", "", "", "", "", false, false, false},
        {"section without keys", "[Configuracoes]\r\n", "", "", "", false, false, false},
        {"every key",
         "[Configuracoes]\r\nBase=srv:/db/x.fdb\r\nData=25/12/2020\r\nHora=10:05:03\r\nPastaExportar=/srv/xml/\r\n"
         "ExportaEmitidas=S\r\nExportaEmitidasVeiculos=S\r\nExportaRecebidas=S\r\nOrganizar=%ANO%/%MES%\r\n",
         "srv:/db/x.fdb", "/srv/xml/", "%ANO%/%MES%", true, true, true},
        {"keys in any case, one box", "[CONFIGURACOES]\nbase=/db/y.fdb\npastaexportar=xml\nEXPORTARECEBIDAS=S\n",
         "/db/y.fdb", "xml", "", false, false, true},
        {"only a capital S ticks",
         "[Configuracoes]\r\nExportaEmitidas=s\r\nExportaEmitidasVeiculos=Sim\r\n"
         "ExportaRecebidas=N\r\n",
         "", "", "", false, false, false},
        // Windows-1252 and UTF-8 bytes alike stay as they are.
        {"accents as bytes",
         "[Configuracoes]\r\nBase=/db/empresa\xC7.fdb\r\nPastaExportar=Exporta\xC3\xA7\xC3\xA3o\r\n"
         "Organizar=%EMITENTE%/Notas\xE7\r\n",
         "/db/empresa\xC7.fdb", "Exporta\xC3\xA7\xC3\xA3o", "%EMITENTE%/Notas\xE7", false, false, false},
        {"another section only", "[Outra]\r\nBase=x\r\nPastaExportar=/o/\r\n", "", "", "", false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = dir_ / "ConfigQuillan.ini";
        fs::remove(file);
        if (!c.text.empty()) put(file, c.text);
        const exports::Settings s = exports::readSettings(file.string());
        EXPECT_EQ(s.file, file.string());
        EXPECT_EQ(s.database, c.database);
        EXPECT_EQ(s.outputFolder, c.folder);
        EXPECT_EQ(s.organize, c.organize);
        EXPECT_EQ(s.kinds.issued, c.issued);
        EXPECT_EQ(s.kinds.vehicles, c.vehicles);
        EXPECT_EQ(s.kinds.received, c.received);

        const exports::IncrementalJob job = exports::incrementalJob(s);
        EXPECT_EQ(job.database, s.database);
        EXPECT_EQ(job.outputFolder, s.outputFolder);
        EXPECT_EQ(job.settingsFile, s.file);
        EXPECT_EQ(job.organize, s.organize);
        EXPECT_EQ(job.kinds.issued, c.issued);
        EXPECT_EQ(job.kinds.vehicles, c.vehicles);
        EXPECT_EQ(job.kinds.received, c.received);
    }
}

// The folder above the program may hold characters Windows-1252 has not
// (a folder named 日本): the relative setting is still found, and an error
// names the real folder instead of question marks.
TEST_F(SettingsTest, OutputFolderIsAFileSystemNameWhateverTheFoldersHold) {
    struct Case {
        const char* home;     // the program's folder under the test folder
        std::string setting;  // PastaExportar
        std::string made;     // the folder made under home (empty: none)
        std::string result;   // under home, or the error's start
        bool refused;
    };
    const std::string accent = "Exporta\xC3\xA7\xC3\xA3o";  // UTF-8, as the file system names it
    const Case cases[] = {
        {"日本", "out", "out", "out/", false},
        {"日本", "out/", "out", "out/", false},
        {"日本", "sub/out", "sub/out", "sub/out/", false},
        {"Exportação", "xml", "xml", "xml/", false},
        {"plain", accent, accent, accent + "/", false},
        {"日本", accent, accent, accent + "/", false},
        {"日本", "missing", "", "Pasta de exportação inexistente: ", true},
        {"", "", "", "Pasta de exportação (PastaExportar) não configurada em ", true},
        {"日本", std::string("out\0/../elsewhere/", 18), "out",
         "Pasta de exportação (PastaExportar) com um byte nulo em ", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.home) + " / " + c.setting);
        const fs::path home = dir_ / c.home;
        fs::create_directories(home);
        if (!c.made.empty()) fs::create_directories(home / c.made);
        const std::string settingsFile = (home / "ConfigQuillan.ini").string();
        if (c.refused) {
            try {
                exports::resolveOutputFolder(c.setting, settingsFile);
                ADD_FAILURE() << "not refused";
            } catch (const std::runtime_error& e) {
                const std::string what = e.what();
                EXPECT_EQ(what.rfind(c.result, 0), 0u) << what;
                EXPECT_EQ(what.find('?'), std::string::npos) << what;
                // The folder named as it is on disk.
                EXPECT_NE(what.find(c.setting.empty() ? settingsFile : (home / "").string()), std::string::npos)
                    << what;
            }
        } else {
            EXPECT_EQ(exports::resolveOutputFolder(c.setting, settingsFile), (home / c.result).string());
        }
    }
    // An absolute setting is taken as it stands.
    const fs::path elsewhere = dir_ / "日本" / "out";
    EXPECT_EQ(exports::resolveOutputFolder(elsewhere.string(), (dir_ / "plain" / "ConfigQuillan.ini").string()),
              elsewhere.string() + "/");
}

// A NUL byte in the file never shortens a path into another folder.
TEST_F(SettingsTest, NulBytesInTheFileNeverNameAnotherFolder) {
    const fs::path home = dir_ / "日本";
    fs::create_directories(home / "out");
    fs::create_directories(home / "elsewhere");
    const fs::path file = home / "ConfigQuillan.ini";
    static const char text[] = "[Configuracoes]\r\nBase=/db/x.fdb\r\nPastaExportar=elsewhere\0/../out\r\n";
    put(file, std::string(text, sizeof text - 1));
    const exports::Settings s = exports::readSettings(file.string());
    EXPECT_EQ(s.database, "/db/x.fdb");
    try {
        const std::string folder = exports::resolveOutputFolder(s.outputFolder, s.file);
        // Read up to the NUL, the value names the folder written in the file before it, nothing else.
        EXPECT_EQ(folder, (home / "elsewhere/").string());
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("byte nulo"), std::string::npos) << e.what();
    }
}

// Each key of the settings file is read by one part of the program, and the
// README's table of every key lists exactly the keys the program reads.
TEST(SettingsKeys, EveryKeyHasOneOwnerAndTheReadmeListsIt) {
    exports::registerBuiltInAdapters();
    auto lowered = [](const std::string& key) {
        std::string lower;
        for (char c : key) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return lower;
    };
    std::map<std::string, std::string> owner;  // lower-cased key -> its part
    auto claim = [&](const std::string& part, const std::vector<std::string>& keys) {
        for (const std::string& key : keys) {
            const auto [it, added] = owner.emplace(lowered(key), part);
            EXPECT_TRUE(added) << key << " claimed by " << part << " and " << it->second;
        }
    };
    claim("settings", exports::generalSettingsKeys());
    claim("stamp", exports::stampSettingsKeys());
    // the unattended run's own (app/unattended.cpp)
    claim("unattended", {"TempoSemProgresso"});
    for (const exports::DestinationType& type : exports::destinationTypes()) claim(type.name, type.keys);

    std::ifstream in(fs::path(EXPORTS_SOURCE_DIR) / "README.md");
    ASSERT_TRUE(in) << "README.md";
    std::stringstream text;
    text << in.rdbuf();
    const std::string readme = text.str();
    const auto table = readme.find("### Every settings key");
    ASSERT_NE(table, std::string::npos);
    std::set<std::string> listed;
    // the table's first column: `Key`, `Other`
    std::istringstream lines(readme.substr(table));
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line) && (line.empty() || line[0] != '#')) {
        if (line.rfind("| `", 0) != 0) continue;
        const std::string first = line.substr(0, line.find('|', 1));
        const std::regex key("`([A-Za-z]+)`");
        for (std::sregex_iterator it(first.begin(), first.end(), key), end; it != end; ++it) {
            listed.insert(lowered((*it)[1].str()));
        }
    }
    for (const auto& [key, part] : owner)
        EXPECT_TRUE(listed.count(key)) << key << " (" << part << ") not in the README";
    for (const std::string& key : listed) EXPECT_TRUE(owner.count(key)) << key << " in the README, read by no part";
}

}  // namespace
