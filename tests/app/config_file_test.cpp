#include "app/config_file.h"
#include "export/core/settings_check.h"
#include "export/core/stamp.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <tuple>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class ConfigFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/config_test.XXXXXX";
        dir_ = ::mkdtemp(tmpl);
        path_ = app::configFilePath(dir_.string());
    }
    void TearDown() override { fs::remove_all(dir_); }
    void put(const std::string& bytes) { std::ofstream(path_, std::ios::binary) << bytes; }
    std::string contents() const {
        std::ifstream in(path_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    fs::path dir_;
    std::string path_;
};

TEST_F(ConfigFileTest, PathIsBesideTheExecutable) {
    EXPECT_EQ(app::configFilePath("/opt/exp"), "/opt/exp/ConfigQuillan.ini");
    EXPECT_EQ(app::configFilePath("/opt/exp/"), "/opt/exp/ConfigQuillan.ini");
}

TEST_F(ConfigFileTest, DefaultsAreTheSectionAndSevenKeysInOrder) {
    app::ConfigFile file(path_);
    ASSERT_FALSE(file.exists());
    app::createDefaultSettings(file);
    EXPECT_EQ(contents(),
              "[Configuracoes]\r\nBase=\r\nData=01/01/2010\r\nHora=00:00:00\r\nPastaExportar=\r\n"
              "ExportaEmitidas=\r\nExportaEmitidasVeiculos=\r\nExportaRecebidas=\r\n");
    const exports::Settings s = exports::readSettings(file.fileName());
    EXPECT_EQ(s.database, "");
    EXPECT_EQ(s.outputFolder, "");
    const exports::Moment stamp = exports::readStamp(file.fileName()).moment;
    EXPECT_EQ(std::tie(stamp.year, stamp.month, stamp.day, stamp.hour, stamp.minute, stamp.second),
              std::make_tuple(2010, 1, 1, 0, 0, 0));
    EXPECT_TRUE(s.kinds.none());
}

TEST_F(ConfigFileTest, OnlyACapitalSTicksABox) {
    struct Case {
        const char* value;
        bool ticked;
    } cases[] = {
        {"S", true}, {"s", false}, {"Sim", false}, {"", false}, {"N", false}, {" S ", true}, {"\"S\"", true},
    };
    for (const Case& c : cases) {
        put(std::string("[Configuracoes]\r\nExportaEmitidas=") + c.value + "\r\nExportaEmitidasVeiculos=" + c.value +
            "\r\nExportaRecebidas=" + c.value + "\r\n");
        const exports::Settings s = exports::readSettings(path_);
        EXPECT_EQ(s.kinds.issued, c.ticked) << c.value;
        EXPECT_EQ(s.kinds.vehicles, c.ticked) << c.value;
        EXPECT_EQ(s.kinds.received, c.ticked) << c.value;
    }
}

TEST_F(ConfigFileTest, LoadsEveryKeyWhateverItsCase) {
    put("[CONFIGURACOES]\nbase=/srv/db/empresa\xC7.fdb\nDATA=25/12/2020\nhora=10:05:03\n"
        "pastaexportar=/srv/xml/\nexportaemitidas=S\nEXPORTARECEBIDAS=S\n");
    const exports::Settings s = exports::readSettings(path_);
    EXPECT_EQ(s.database, "/srv/db/empresa\xC7.fdb");
    const exports::Moment stamp = exports::readStamp(path_).moment;
    EXPECT_EQ(std::tie(stamp.year, stamp.month, stamp.day, stamp.hour, stamp.minute, stamp.second),
              std::make_tuple(2020, 12, 25, 10, 5, 3));
    EXPECT_EQ(s.outputFolder, "/srv/xml/");
    EXPECT_TRUE(s.kinds.issued);
    EXPECT_FALSE(s.kinds.vehicles);
    EXPECT_TRUE(s.kinds.received);
}

TEST_F(ConfigFileTest, StampAndMarkAreStoredInOneReplace) {
    put("[Configuracoes]\r\nBase=x\r\nData=01/01/2010\r\nHora=00:00:00\r\nPastaExportar=/o/\r\n");
    exports::storeStamp(path_, *exports::parseStamp("25/12/2020", "10:05:37"), 1234, "2021-01-01 00:00:00.0000");
    EXPECT_EQ(contents(),
              "[Configuracoes]\r\nBase=x\r\nData=25/12/2020\r\nHora=10:05:37\r\nPastaExportar=/o/\r\n"
              "MarcaTransacao=1234\r\nMarcaBase=2021-01-01 00:00:00.0000\r\n");
}

TEST_F(ConfigFileTest, UnwritableFileRaisesUnableToWrite) {
    app::ConfigFile file((dir_ / "missing" / "ConfigQuillan.ini").string());
    try {
        exports::storeStamp(file.fileName(), *exports::parseStamp("02/01/2010", "00:00:00"), 1, "x");
        FAIL() << "no error";
    } catch (const exports::StampError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Unable to write to " + file.fileName(), 0), 0u) << e.what();
    }
    EXPECT_THROW(app::createDefaultSettings(file), app::ConfigWriteError);
}

// Each of these used to read as a file without values, and the export then
// failed on an empty stamp with a message that named neither.
TEST_F(ConfigFileTest, UnusableFileIsNamedWithItsProblem) {
    std::string binary;
    for (int i = 0; i < 512; ++i) binary += char((i * 37 + 11) & 0xFF);
    struct Case {
        const char* name;
        std::function<void()> make;
        const char* problem;  // empty: usable
    };
    const Case cases[] = {
        {"folder", [&] { fs::create_directory(path_); }, "é uma pasta"},
        {"fifo", [&] { ::mkfifo(path_.c_str(), 0644); }, "não é um arquivo comum"},
        {"empty", [&] { put(""); }, "está vazio"},
        {"only blank lines and a mark", [&] { put("\xEF\xBB\xBF\r\n  \r\n"); }, "está vazio"},
        {"binary garbage", [&] { put(binary); }, "não é um arquivo de texto"},
        {"no section", [&] { put("Base=/db/x.fdb\r\nData=01/01/2010\r\n"); }, "não tem a seção [Configuracoes]"},
        {"another section", [&] { put("[Outra]\r\nBase=x\r\n"); }, "não tem a seção [Configuracoes]"},
        {"byte-order mark", [&] { put("\xEF\xBB\xBF[Configuracoes]\r\nBase=x\r\n"); }, ""},
        {"section in other letters", [&] { put("[configuracoes]\nBase=x\n"); }, ""},
        {"nul in a value", [&] { put(std::string("[Configuracoes]\r\nData=\0\r\n", 24)); }, ""},
    };
    for (const Case& c : cases) {
        fs::remove_all(path_);
        c.make();
        if (!*c.problem) {
            EXPECT_NO_THROW(exports::checkSettingsFile(path_)) << c.name;
            continue;
        }
        try {
            exports::checkSettingsFile(path_);
            ADD_FAILURE() << "no error for " << c.name;
        } catch (const exports::SettingsFileError& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find("\"" + path_ + "\""), std::string::npos) << c.name << ": " << what;
            EXPECT_NE(what.find(c.problem), std::string::npos) << c.name << ": " << what;
        }
    }
}

TEST_F(ConfigFileTest, ByteOrderMarkIsNotPartOfTheFirstLine) {
    put("\xEF\xBB\xBF[Configuracoes]\r\nBase=/db/x.fdb\r\nData=01/01/2010\r\nHora=00:00:00\r\n");
    app::ConfigFile file(path_);
    EXPECT_EQ(exports::readSettings(file.fileName()).database, "/db/x.fdb");
    file.writeString(app::kConfigSection, "Hora", "10:05:37");
    EXPECT_EQ(contents(), "\xEF\xBB\xBF[Configuracoes]\r\nBase=/db/x.fdb\r\nData=01/01/2010\r\nHora=10:05:37\r\n");
}

TEST_F(ConfigFileTest, ReadOnlyFileIsReportedBeforeAnyWrite) {
    const std::string before = "[Configuracoes]\r\nData=01/01/2010\r\nHora=00:00:00\r\n";
    put(before);
    app::ConfigFile file(path_);
    EXPECT_NO_THROW(exports::checkSettingsWritable(path_));
    ::chmod(path_.c_str(), 0444);
    try {
        exports::checkSettingsWritable(path_);
        FAIL() << "no error";
    } catch (const exports::SettingsFileError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + path_ + ": the file is read-only");
    }
    EXPECT_THROW(file.writeString(app::kConfigSection, "Data", "02/01/2010"), app::ConfigWriteError);
    EXPECT_EQ(contents(), before);
}

}  // namespace
