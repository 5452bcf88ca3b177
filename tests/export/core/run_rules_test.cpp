// The small rules the loop leans on, by tables: the period export's names,
// refused names, row moments cut to the second, the stamp's one format, blank
// texts, the summary line, the lock.
#include "export/core/lock.h"
#include "export/core/rules.h"
#include "export/core/run.h"
#include "export/core/stamp.h"
#include "export/core/summary.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <unistd.h>

namespace exptest {
namespace {

namespace fs = std::filesystem;

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/run_rules_test.XXXXXX";
        path = ::mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(path); }
    fs::path path;
};

TEST(PeriodNames, FlagChoosesTheFolder) {
    EXPECT_EQ(exports::periodFileName("/o/", "E", "K", "C"), "/o/Entrada/NFeK_C.XML");
    EXPECT_EQ(exports::periodFileName("/o/", "S", "K", "C"), "/o/Saida/NFeK_C.XML");
    EXPECT_EQ(exports::periodFileName("/o/", "E ", "K", "C "), "/o/Saida/NFeK_C .XML");
    EXPECT_EQ(exports::periodFileName("/o/", "", "K", "C"), "/o/Saida/NFeK_C.XML");
    EXPECT_EQ(exports::periodFileName("/o/", "e", "K", "C"), "/o/Saida/NFeK_C.XML");
}

TEST(FileNames, EmptyUnsafeOrTooLongNamesAreRefused) {
    const std::string key(44, '1');
    struct Case {
        std::string part;
        size_t nameLength;  // of the whole last component
        const char* reason;
    };
    const Case cases[] = {
        {key, 44 + 7, ""},
        {"", 7, "nome vazio"},
        {"              ", 21, "nome vazio"},  // an empty CHAR(14)
        {"a/b", 10, "nome inseguro"},
        {std::string(248, 'k'), 255, ""},
        {std::string(249, 'k'), 256, "nome longo demais"},
    };
    for (const Case& c : cases) {
        const std::string name = "/o/NFe" + c.part + ".XML";
        EXPECT_EQ(exports::unusableName(c.part, name), c.reason) << c.part.size();
    }
}

TEST(RowMoment, CutsTheFractionOfTheSecond) {
    struct Case {
        const char* text;
        const char* time;
    };
    const Case cases[] = {
        {"2020-12-25 10:05:37.0000", "10:05:37"},
        {"2020-12-25 10:05:37.6000", "10:05:37"},  // never rounded up to :38
        {"2020-12-25 23:59:59.9999", "23:59:59"},
        {"2020-12-26 00:00:00.0000", "00:00:00"},
    };
    for (const Case& c : cases) {
        const auto m = exports::parseDatabaseMoment(c.text);
        ASSERT_TRUE(m) << c.text;
        EXPECT_EQ(exports::timeText(*m), c.time) << c.text;
    }
    EXPECT_EQ(exports::dateText(*exports::parseDatabaseMoment("2020-12-25 23:59:59.9999")), "25/12/2020");
    EXPECT_FALSE(exports::parseDatabaseMoment(""));
}

TEST(Stamp, OneFormatWhateverTheLocale) {
    struct Case {
        std::string date, time;
        const char* stored;  // nullptr: unreadable
    };
    const Case cases[] = {
        {"25/12/2020", "10:05:37", "25/12/2020 10:05:37"},
        {"05/03/2021", "10:05:37", "05/03/2021 10:05:37"},  // 5 March, never 3 May
        {"5/3/2021", "7:05", "05/03/2021 07:05:00"},
        {"25/12/2020", "10:05:03", "25/12/2020 10:05:03"},  // reduced seconds of an older version
        {"31/12/9999", "23:59:59", "31/12/9999 23:59:59"},
        {"29/02/2020", " 00:00:00", "29/02/2020 00:00:00"},
        {"29/02/2021", "00:00:00", nullptr},
        {"06/01/21", "10:00:00", nullptr},  // two-digit year of a C-locale run
        {"12/25/2020", "10:05:37", nullptr},
        {"25/12/2020", "03:30:00 PM", nullptr},
        {"25/12/2020", "25:00:00", nullptr},
        {"2020-12-25", "10:05:37", nullptr},
        {"", "", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.date + " " + c.time);
        const auto m = exports::parseStamp(c.date, c.time);
        ASSERT_EQ(m.has_value(), c.stored != nullptr);
        if (m) {
            EXPECT_EQ(exports::dateText(*m) + " " + exports::timeText(*m), c.stored);
        }
    }
    EXPECT_LT(*exports::parseStamp("25/12/2020", "10:05:37"), *exports::parseStamp("26/12/2020", "00:00:00"));
    EXPECT_EQ(exports::sqlText(exports::nextSecond(*exports::parseStamp("31/12/2020", "23:59:59"))),
              "2021-01-01 00:00:00");
}

TEST(TextChoice, BlanksAreCodesUpTo32) {
    EXPECT_FALSE(exports::hasNonBlank(""));
    EXPECT_FALSE(exports::hasNonBlank(" \r\n\t\x01\x1F "));
    EXPECT_TRUE(exports::hasNonBlank(" x "));
    EXPECT_TRUE(exports::hasNonBlank("\xA0"));  // a no-break space is a character of its own
}

TEST(Summary, WindowCountsSignatureFindingsAmongTheFailed) {
    exports::RunSummary s;
    s.result = exports::Result::Complete;
    s.checks.add({});
    s.checks.add({exports::Finding::XmlNoProtocol});
    s.checks.add({exports::Finding::SignatureDigest, exports::Finding::ProtocolDigest});
    s.checks.add({exports::Finding::KeyCheckDigit, exports::Finding::SignatureMissing});
    const std::string text = exports::windowText(s, false);
    EXPECT_NE(text.find("; verificação: 3 com falhas (2 na assinatura)"), std::string::npos) << text;
    exports::RunSummary clean;
    clean.result = exports::Result::Complete;
    clean.checks.add({});
    EXPECT_EQ(exports::windowText(clean, false).find("verificação"), std::string::npos);
    EXPECT_NE(exports::summaryLine(clean).find(" falhas_assinatura=0"), std::string::npos);
}

TEST(Summary, OneLineWithEveryFigure) {
    exports::RunSummary s;
    s.examined = 12;
    s.selected = 7;
    s.written = 5;
    s.unchanged = 1;
    s.refused = 1;
    s.refusedDocuments.push_back({9, std::string("a/\x01\xE9", 4), "nome inseguro"});
    s.stampBefore = "25/12/2020 10:05:37";
    s.stampAfter = "02/01/2021 08:00:00";
    s.seconds = 1.2345;
    s.result = exports::Result::Refused;
    s.checks.add({exports::Finding::KeyCheckDigit, exports::Finding::XmlNoProtocol});
    s.checks.add({exports::Finding::XmlMalformed});
    s.checks.add({exports::Finding::SignatureDigest, exports::Finding::ProtocolDigest});
    EXPECT_EQ(exports::summaryLine(s),
              "Resumo: examinados=12 selecionados=7 gravados=5 marca_antes=\"25/12/2020 10:05:37\" "
              "marca_depois=\"02/01/2021 08:00:00\" tempo=1.235s resultado=recusados inalterados=1 recusados=1 "
              "falhas_chave=1 falhas_xml=2 falhas_assinatura=1");
    s.package = "/srv/xml/NFe-2024-03.zip";
    s.gapRanges = 2;
    s.missingNumbers = 5;
    s.note = "marca de transação descartada";
    // the signature count closes the line, after the fields older readers know
    EXPECT_NE(exports::summaryLine(s).find(" falhas_xml=2 lacunas=2 ausentes=5 pacote=\"/srv/xml/NFe-2024-03.zip\" "
                                           "nota=\"marca de transação descartada\" falhas_assinatura=1"),
              std::string::npos);
    s.note.clear();
    s.package.clear();
    EXPECT_EQ(exports::refusedLine(s.refusedDocuments[0]),
              "Documento recusado: 9 chave \"a/\\x01\\xE9\": nome inseguro");
    EXPECT_EQ(exports::exitStatus(s), 65);
    s.result = exports::Result::Failed;
    s.error = "falhou";
    s.errorDocument = 42;
    EXPECT_EQ(exports::errorLine(s), "Erro na exportação (documento 42): falhou");
    s.errorDocument.reset();
    EXPECT_EQ(exports::errorLine(s), "Erro na exportação: falhou");
    const std::pair<exports::Result, int> statuses[] = {
        {exports::Result::Complete, 0}, {exports::Result::Failed, 1}, {exports::Result::Busy, 75}};
    for (const auto& [result, status] : statuses) {
        s.result = result;
        EXPECT_EQ(exports::exitStatus(s), status);
    }
    s.result = exports::Result::Interrupted;
    EXPECT_EQ(exports::exitStatus(s, SIGTERM), 143);
    EXPECT_EQ(exports::exitStatus(s, SIGHUP), 129);
}

TEST(Summary, MessageTextKeepsUtf8AndEscapesEverythingElse) {
    const std::pair<std::string, std::string> cases[] = {
        {"Exportação interrompida: não", "Exportação interrompida: não"},
        {std::string("a\0b", 3), "a\\x00b"},
        {"I/O error\nNo such file\r\nend", "I/O error; No such file; end"},
        {"\x1B[2J\x07\x7F\r", "\\x1B[2J\\x07\\x7F\\x0D"},
        // Windows-1252 bytes are not UTF-8; neither are overlong or cut sequences.
        {"Produ\xE7\xE3o", "Produ\\xE7\\xE3o"},
        {"\xC0\xAF \xE2\x82", "\\xC0\\xAF \\xE2\\x82"},
        {"\xC2\x85 \xF0\x9F\x98\x80", "\\xC2\\x85 \xF0\x9F\x98\x80"},
    };
    for (const auto& [text, shown] : cases) EXPECT_EQ(exports::messageText(text), shown) << text;
    exports::RunSummary s;
    s.error = std::string("Pasta \0x", 8);
    EXPECT_EQ(exports::errorLine(s), "Erro na exportação: Pasta \\x00x");
}

TEST(ExportLock, SecondHolderIsBusyUntilTheFirstLetsGo) {
    TempDir dir;
    const std::string file = exports::lockFileFor((dir.path / "ConfigQuillan.ini").string());
    EXPECT_EQ(file, (dir.path / "ConfigQuillan.ini.lock").string());
    {
        exports::ExportLock first = exports::ExportLock::acquire(file, std::chrono::milliseconds(0));
        ASSERT_EQ(first.state(), exports::ExportLock::State::Held);
        const auto t0 = std::chrono::steady_clock::now();
        exports::ExportLock second = exports::ExportLock::acquire(file, std::chrono::milliseconds(300));
        EXPECT_EQ(second.state(), exports::ExportLock::State::Busy);
        EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(300));
    }
    EXPECT_EQ(exports::ExportLock::acquire(file, std::chrono::milliseconds(0)).state(),
              exports::ExportLock::State::Held);
    EXPECT_EQ(exports::ExportLock::acquire((dir.path / "no" / "x.lock").string(), std::chrono::milliseconds(0)).state(),
              exports::ExportLock::State::Failed);
}

}  // namespace
}  // namespace exptest
