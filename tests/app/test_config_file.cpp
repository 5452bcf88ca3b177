#include "app/config_file.h"
#include "export/stamp.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
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
    const app::Settings s = app::loadSettings(file);
    EXPECT_EQ(s.base, "");
    EXPECT_EQ(s.data, "01/01/2010");
    EXPECT_EQ(s.hora, "00:00:00");
    EXPECT_EQ(s.stampData, "01/01/2010");
    EXPECT_EQ(s.stampHora, "00:00:00");
    EXPECT_FALSE(s.exportaEmitidas || s.exportaEmitidasVeiculos || s.exportaRecebidas);
}

TEST_F(ConfigFileTest, OnlyACapitalSTicksABox) {
    struct Case { const char* value; bool ticked; } cases[] = {
        {"S", true}, {"s", false}, {"Sim", false}, {"", false}, {"N", false}, {" S ", true}, {"\"S\"", true},
    };
    for (const Case& c : cases) {
        put(std::string("[Configuracoes]\r\nExportaEmitidas=") + c.value + "\r\nExportaEmitidasVeiculos=" + c.value +
            "\r\nExportaRecebidas=" + c.value + "\r\n");
        const app::Settings s = app::loadSettings(app::ConfigFile(path_));
        EXPECT_EQ(s.exportaEmitidas, c.ticked) << c.value;
        EXPECT_EQ(s.exportaEmitidasVeiculos, c.ticked) << c.value;
        EXPECT_EQ(s.exportaRecebidas, c.ticked) << c.value;
    }
}

TEST_F(ConfigFileTest, LoadsEveryKeyWhateverItsCase) {
    put("[CONFIGURACOES]\nbase=/srv/db/empresa\xC7.fdb\nDATA=25/12/2020\nhora=10:05:03\n"
        "pastaexportar=/srv/xml/\nexportaemitidas=S\nEXPORTARECEBIDAS=S\n");
    const app::Settings s = app::loadSettings(app::ConfigFile(path_));
    EXPECT_EQ(s.base, "/srv/db/empresa\xC7.fdb");
    EXPECT_EQ(s.data, "25/12/2020");
    EXPECT_EQ(s.hora, "10:05:03");
    EXPECT_EQ(s.stampData, "25/12/2020");
    EXPECT_EQ(s.stampHora, "10:05:03");
    EXPECT_EQ(s.pastaExportar, "/srv/xml/");
    EXPECT_TRUE(s.exportaEmitidas);
    EXPECT_FALSE(s.exportaEmitidasVeiculos);
    EXPECT_TRUE(s.exportaRecebidas);
}

TEST_F(ConfigFileTest, StampAndMarkAreStoredInOneReplace) {
    put("[Configuracoes]\r\nBase=x\r\nData=01/01/2010\r\nHora=00:00:00\r\nPastaExportar=/o/\r\n");
    exports::storeStamp(path_, *exports::parseStamp("25/12/2020", "10:05:37"), 1234, "2021-01-01 00:00:00.0000");
    EXPECT_EQ(contents(), "[Configuracoes]\r\nBase=x\r\nData=25/12/2020\r\nHora=10:05:37\r\nPastaExportar=/o/\r\n"
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

}  // namespace
