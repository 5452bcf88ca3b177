// The document writer, the row moment and stamp texts, and the summary line.
#include "export/destinations/folder/writer.h"
#include "export/core/lock.h"
#include "export/core/run.h"
#include "export/sources/firebird/statements.h"
#include "export/core/stamp.h"
#include "export/core/summary.h"
#include "tests/support/workspace.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <set>

namespace exptest {
namespace {

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/writer_test.XXXXXX";
        path = ::mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(path); }
    fs::path path;
};

TEST(DocumentWriter, WritesTheStoredBytesFollowedByCrLf) {
    struct Case {
        std::string text, file;
    };
    const Case cases[] = {
        {"", "\r\n"},
        {"<a/>\r\n", "<a/>\r\n\r\n"},
        {"x\ny\r\nz", "x\ny\r\nz\r\n"},                          // a lone LF stays
        {"  \t blanks kept \t ", "  \t blanks kept \t \r\n"},
        {std::string("a\0b", 3), std::string("a\0b\r\n", 5)},
        {"Jos\xE9 \x80\x81\x96\xFF", "Jos\xE9 \x80\x81\x96\xFF\r\n"},  // 8-bit bytes, no BOM
    };
    for (const auto method : {exports::WriteMethod::Auto, exports::WriteMethod::NamedTemporary}) {
        TempDir dir;
        for (const Case& c : cases) {
            const fs::path f = dir.path / "NFe1.XML";
            exports::writeDocument(f.string(), c.text, method);
            EXPECT_EQ(slurp(f), c.file);
        }
        // Each write replaced the one before: one file, nothing else beside it.
        EXPECT_EQ(Workspace::files(dir.path).size(), 1u);
        struct stat st {};
        ASSERT_EQ(::stat((dir.path / "NFe1.XML").c_str(), &st), 0);
        const mode_t mask = ::umask(0);
        ::umask(mask);
        EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
    }
}

TEST(DocumentWriter, FailureNamesTheFileAndLeavesNoTemporary) {
    for (const auto method : {exports::WriteMethod::Auto, exports::WriteMethod::NamedTemporary}) {
        TempDir dir;
        fs::create_directory(dir.path / "NFe2.XML");  // a folder in the way
        const std::string cases[] = {(dir.path / "missing" / "NFe1.XML").string(), (dir.path / "NFe2.XML").string()};
        for (const std::string& name : cases) {
            try {
                exports::writeDocument(name, "<a/>", method);
                ADD_FAILURE() << "no error for " << name;
            } catch (const exports::DocumentWriteError& e) {
                EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
            }
        }
        EXPECT_TRUE(Workspace::files(dir.path).empty());
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);
    }
}

TEST(DocumentWriter, RefusesNamePartsThatLeaveTheFolder) {
    struct Case {
        std::string part;
        bool unsafe;
    };
    const Case cases[] = {
        {"35201212345678000199550010000000011000079191", false},
        {"", false},
        {"a..b", false},
        {"12345678901   ", false},
        {"..", true},
        {".", true},
        {"../x", true},
        {"a/b", true},
        {"a\\b", true},
        {std::string("a\0b", 3), true},
        {"35AAA\nlinha2", true},
        {"35\x1B[2J", true},
        {"a\tb", true},
        {"a\x7F", true},
        {"\xC7\xE3o \xFF", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(exports::isUnsafeNamePart(c.part), c.unsafe) << c.part;
        if (c.unsafe) {
            EXPECT_THROW(exports::requireSafeNamePart("Chave de acesso", c.part), exports::DocumentWriteError);
        }
    }
}

// A key of 242-248 bytes used to fit once and then never be replaced, because
// the temporary name was the final name plus seven characters.
TEST(DocumentWriter, NamesUpToTheLimitAreWrittenAndReplaced) {
    struct Case {
        size_t length;
        bool fits;
    };
    const Case cases[] = {{248, true}, {255, true}, {256, false}, {400, false}};
    for (const auto method : {exports::WriteMethod::Auto, exports::WriteMethod::NamedTemporary}) {
        TempDir dir;
        for (const Case& c : cases) {
            const std::string name = "NFe" + std::string(c.length - 7, '1') + ".XML";
            const std::string file = (dir.path / name).string();
            EXPECT_EQ(exports::fileNameFits(file), c.fits) << c.length;
            if (c.fits) {
                exports::writeDocument(file, "<a/>", method);
                exports::writeDocument(file, "<b/>", method);
                EXPECT_EQ(slurp(file), "<b/>\r\n") << c.length;
                fs::remove(file);
                continue;
            }
            try {
                exports::writeDocument(file, "<a/>", method);
                ADD_FAILURE() << "no error for " << c.length;
            } catch (const exports::DocumentWriteError& e) {
                const std::string what = e.what();
                EXPECT_NE(what.find(std::to_string(c.length) + " bytes"), std::string::npos) << what;
                EXPECT_NE(what.find("255"), std::string::npos) << what;
            }
        }
        EXPECT_TRUE(fs::is_empty(dir.path));
    }
}

// What a folder's writer does with a file that is there already, both ways of writing.
TEST(FolderWriter, LeavesTheSameBytesAloneAndReplacesOthers) {
    for (const auto method : {exports::WriteMethod::Auto, exports::WriteMethod::NamedTemporary}) {
        TempDir dir;
        exports::FolderWriter writer(dir.path.string() + "/");
        EXPECT_TRUE(writer.put("NFe1.XML", "<a/>", method));
        const fs::path file = dir.path / "NFe1.XML";
        const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
        fs::last_write_time(file, old);
        EXPECT_FALSE(writer.put("NFe1.XML", "<a/>", method));
        EXPECT_EQ(fs::last_write_time(file), old);
        // A prefix of the text, or the text without its CR LF, is not the same file.
        for (const std::string& before : {std::string("<a/>"), std::string("<a/>\r\n\r\n"), std::string("<a")}) {
            spit(file, before);
            EXPECT_TRUE(writer.put("NFe1.XML", "<a/>", method)) << before;
            EXPECT_EQ(slurp(file), "<a/>\r\n");
        }
        // A FIFO planted under the name is replaced, not waited on.
        fs::remove(file);
        ASSERT_EQ(::mkfifo(file.c_str(), 0666), 0);
        EXPECT_TRUE(writer.put("NFe1.XML", "<a/>", method));
        EXPECT_EQ(slurp(file), "<a/>\r\n");
        EXPECT_EQ(Workspace::files(dir.path).size(), 1u) << "a temporary was left";
    }
}

// The folder is pinned when the writer opens it: a link planted in its place
// afterwards leads no file out, and a link is refused where none may be.
TEST(FolderWriter, ALinkPutInTheFoldersPlaceLeadsNothingElsewhere) {
    TempDir dir;
    const fs::path inside = dir.path / "Entrada", elsewhere = dir.path / "elsewhere";
    fs::create_directory(inside);
    fs::create_directory(elsewhere);
    exports::FolderWriter writer(inside.string() + "/", false);
    fs::rename(inside, dir.path / "moved");
    fs::create_directory_symlink(elsewhere, inside);
    EXPECT_TRUE(writer.put("NFe1.XML", "<a/>"));
    EXPECT_TRUE(fs::is_empty(elsewhere));
    EXPECT_EQ(slurp(dir.path / "moved" / "NFe1.XML"), "<a/>\r\n");
    try {
        exports::FolderWriter refused(inside.string() + "/", false);
        ADD_FAILURE() << "a link was taken for the folder";
    } catch (const exports::DocumentWriteError& e) {
        EXPECT_NE(std::string(e.what()).find("é um link, não uma pasta"), std::string::npos) << e.what();
    }
    exports::FolderWriter followed(inside.string(), true);  // the output folder itself may be a link
    EXPECT_TRUE(followed.put("NFe2.XML", "<b/>"));
    EXPECT_EQ(slurp(elsewhere / "NFe2.XML"), "<b/>\r\n");
    for (const std::string bad : {"../NFe3.XML", "..", "a/b.XML"})
        EXPECT_THROW(followed.put(bad, "<c/>"), exports::DocumentWriteError) << bad;
}

TEST(DocumentWriter, TemporaryNamesAreTheWritersOwnPattern) {
    struct Case {
        std::string name;
        bool ours;
    };
    const Case cases[] = {
        {".exportar-Ab12Zz.tmp", true},
        {".exportar-000000.tmp", true},
        {".exportar-Ab12Z.tmp", false},       // five characters
        {".exportar-Ab12Zzz.tmp", false},     // seven
        {".exportar-Ab1-Zz.tmp", false},
        {".exportar-Ab12Zz.tmp.XML", false},
        {"exportar-Ab12Zz.tmp", false},
        {".Exportar-Ab12Zz.tmp", false},
        {".exportar-Ab12Zz.TMP", false},
        {"NFe1.XML.rRKXWU", false},           // an older version's temporary: left alone
        {"NFe1.XML", false},
    };
    for (const Case& c : cases) EXPECT_EQ(exports::isWriterTemporaryName(c.name), c.ours) << c.name;
}

TEST(DocumentWriter, LeftoverTemporariesOfOursAndNothingElseAreRemoved) {
    TempDir dir, outside;
    const fs::path target = outside.path / "precious.txt";
    spit(target, "keep");
    spit(dir.path / ".exportar-Ab12Zz.tmp", "half a document");
    spit(dir.path / ".exportar-Q1w2E3.tmp", "");
    const std::string lookAlikes[] = {".exportar-Ab12Z.tmp", ".exportar-Ab12Zz.tmp.XML", "exportar-Ab12Zz.tmp",
                                      "NFe1.XML.rRKXWU", "NFe1.XML"};
    for (const std::string& name : lookAlikes) spit(dir.path / name, "not ours");
    fs::create_symlink(target, dir.path / ".exportar-Link01.tmp");
    fs::create_directory(dir.path / ".exportar-Fold01.tmp");
    spit(dir.path / ".exportar-Fold01.tmp" / ".exportar-Deep01.tmp", "one level only");

    EXPECT_EQ(exports::removeLeftoverTemporaries(dir.path.string()), 2);
    std::set<std::string> left;
    for (const auto& e : fs::directory_iterator(dir.path)) left.insert(e.path().filename().string());
    std::set<std::string> expected(std::begin(lookAlikes), std::end(lookAlikes));
    expected.insert({".exportar-Link01.tmp", ".exportar-Fold01.tmp"});
    EXPECT_EQ(left, expected);
    EXPECT_EQ(slurp(target), "keep");
    EXPECT_TRUE(fs::exists(dir.path / ".exportar-Fold01.tmp" / ".exportar-Deep01.tmp"));
    EXPECT_EQ(exports::removeLeftoverTemporaries((dir.path / "missing").string()), 0);
}

// A process killed in the middle of a write (here by the file size limit's
// signal, which ends it as SIGKILL would) leaves at most one temporary of the
// writer's pattern, which the next run's clean-up removes; never a .XML file.
TEST(DocumentWriter, AKillMidWriteLeavesOnlyWhatTheNextRunRemoves) {
    for (const auto method : {exports::WriteMethod::Auto, exports::WriteMethod::NamedTemporary}) {
        TempDir dir;
        const std::string file = (dir.path / "NFe1.XML").string();
        spit(file, "old\r\n");
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::signal(SIGXFSZ, SIG_DFL);
            struct rlimit small {4096, 4096};
            ::setrlimit(RLIMIT_FSIZE, &small);
            try {
                exports::writeDocument(file, std::string(1 << 20, 'x'), method);
            } catch (...) {
            }
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << "the write was not interrupted";
        EXPECT_EQ(slurp(file), "old\r\n");
        for (const auto& e : fs::directory_iterator(dir.path)) {
            const std::string name = e.path().filename().string();
            EXPECT_TRUE(name == "NFe1.XML" || exports::isWriterTemporaryName(name)) << name;
        }
        exports::removeLeftoverTemporaries(dir.path.string());
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);
    }
}

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
        {"25/12/2020", "10:05:03", "25/12/2020 10:05:03"},   // reduced seconds of an older version
        {"31/12/9999", "23:59:59", "31/12/9999 23:59:59"},
        {"29/02/2020", " 00:00:00", "29/02/2020 00:00:00"},
        {"29/02/2021", "00:00:00", nullptr},
        {"06/01/21", "10:00:00", nullptr},                   // two-digit year of a C-locale run
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

TEST(DatabaseName, ServerOrEmbeddedEngine) {
    const std::pair<const char*, bool> cases[] = {
        {"/srv/erp/DADOS.FDB", false},    {"DADOS.FDB", false},           {"dados", false},
        {"/srv/a:b/DADOS.FDB", false},    {"C:\\ERP\\DADOS.FDB", false}, {"localhost:/srv/DADOS.FDB", true},
        {"server/3051:/srv/DADOS.FDB", true}, {"10.0.0.5:dados", true},  {"inet://server/dados", true},
    };
    for (const auto& [name, server] : cases) EXPECT_EQ(exports::goesThroughServer(name), server) << name;
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
    EXPECT_EQ(exports::refusedLine(s.refusedDocuments[0]), "Documento recusado: 9 chave \"a/\\x01\\xE9\": nome inseguro");
    EXPECT_EQ(exports::exitStatus(s), 65);
    s.result = exports::Result::Failed;
    s.error = "falhou";
    s.errorDocument = 42;
    EXPECT_EQ(exports::errorLine(s), "Erro na exportação (documento 42): falhou");
    s.errorDocument.reset();
    EXPECT_EQ(exports::errorLine(s), "Erro na exportação: falhou");
    const std::pair<exports::Result, int> statuses[] = {{exports::Result::Complete, 0},
                                                       {exports::Result::Failed, 1},
                                                       {exports::Result::Busy, 75}};
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
    EXPECT_EQ(exports::ExportLock::acquire(file, std::chrono::milliseconds(0)).state(), exports::ExportLock::State::Held);
    EXPECT_EQ(exports::ExportLock::acquire((dir.path / "no" / "x.lock").string(), std::chrono::milliseconds(0)).state(),
              exports::ExportLock::State::Failed);
}

}  // namespace
}  // namespace exptest
