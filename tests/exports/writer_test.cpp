// The document writer, the row moment and stamp texts, and the summary line.
#include "export/writer.h"
#include "export/lock.h"
#include "app/incremental_export.h"
#include "app/period_export.h"
#include "app/run_summary.h"
#include "tests/exports/workspace.h"

#include <sys/stat.h>

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
    };
    for (const Case& c : cases) {
        EXPECT_EQ(exports::isUnsafeNamePart(c.part), c.unsafe) << c.part;
        if (c.unsafe) EXPECT_THROW(exports::requireSafeNamePart("Chave de acesso", c.part), exports::DocumentWriteError);
    }
}

TEST(PeriodNames, FlagChoosesTheFolder) {
    EXPECT_EQ(app::periodFileName("/o/", "E", "K", "C"), "/o//Entrada/NFeK_C.XML");
    EXPECT_EQ(app::periodFileName("/o", "S", "K", "C"), "/o/Saida/NFeK_C.XML");
    EXPECT_EQ(app::periodFileName("/o", "E ", "K", "C "), "/o/Saida/NFeK_C .XML");
    EXPECT_EQ(app::periodFileName("/o", "", "K", "C"), "/o/Saida/NFeK_C.XML");
    EXPECT_EQ(app::periodFileName("/o", "e", "K", "C"), "/o/Saida/NFeK_C.XML");
}

platform::DateTime at(int y, int mo, int d, int h, int mi, int s, int tenthMs) {
    platform::DateTime day = 0;
    EXPECT_TRUE(platform::tryEncodeDate(y, mo, d, day));
    // As the database layer builds it: days plus units of 1/10000 s over the day.
    return day + (((h * 60 + mi) * 60 + s) * 10000.0 + tenthMs) / 864000000.0;
}

TEST(RowMoment, TruncatesToTheWholeSecond) {
    struct Case {
        platform::DateTime value;
        int second;
    };
    const Case cases[] = {
        {at(2020, 12, 25, 10, 5, 37, 0), 36337},
        {at(2020, 12, 25, 10, 5, 37, 9999), 36337},
        {at(2020, 12, 25, 0, 0, 0, 0), 0},
        {at(2020, 12, 25, 23, 59, 59, 9999), 86399},
        {at(9999, 12, 31, 23, 59, 59, 0), 86399},
    };
    for (const Case& c : cases) EXPECT_EQ(app::momentOf(c.value).second, c.second) << c.value;
    EXPECT_EQ(app::momentOf(at(2020, 12, 25, 23, 59, 59, 9999)).day, app::momentOf(at(2020, 12, 25, 0, 0, 0, 0)).day);
}

TEST(Stamp, ReadsAndWritesItsTexts) {
    const auto br = platform::formatSettingsFor("pt_BR.UTF-8");
    const auto us = platform::formatSettingsFor("en_US.UTF-8");
    struct Case {
        const platform::FormatSettings* fs;
        std::string date, time;
        bool ok;
    };
    const Case cases[] = {
        {&br, "25/12/2020", "10:05:37", true},
        {&br, "25/12/2020", "10:05:03", true},   // reduced seconds of an older version
        {&br, "01/01/2010", "00:00:00", true},
        {&br, "31/12/9999", "23:59:59", true},
        {&br, "25/12/2020", "", false},
        {&br, "", "10:05:37", false},
        {&br, "31/02/2020", "10:00:00", false},
        {&br, "25/12/2020", "25:00:00", false},
        {&us, "12/25/2020", "10:05:37 AM", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.date + " " + c.time);
        const auto m = app::parseStamp(c.date, c.time, *c.fs);
        ASSERT_EQ(m.has_value(), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(app::stampDateText(*m, *c.fs), c.date);
        EXPECT_EQ(app::stampTimeText(*m, *c.fs), c.time);
    }
    const auto a = app::parseStamp("25/12/2020", "10:05:37", br), b = app::parseStamp("26/12/2020", "00:00:00", br);
    EXPECT_LT(*a, *b);
    EXPECT_EQ(*app::parseStamp("26/12/2020", "00:00:00", br), app::momentOf(at(2020, 12, 26, 0, 0, 0, 0)));
}

TEST(TextChoice, BlanksAreCodesUpTo32) {
    EXPECT_FALSE(app::hasNonBlank(""));
    EXPECT_FALSE(app::hasNonBlank(" \r\n\t\x01\x1F "));
    EXPECT_TRUE(app::hasNonBlank(" x "));
    EXPECT_TRUE(app::hasNonBlank("\xA0"));  // a no-break space is a character of its own
}

TEST(Summary, OneLineWithEveryFigure) {
    app::RunSummary s;
    s.examined = 12;
    s.selected = 7;
    s.written = 5;
    s.stampBefore = "25/12/2020 10:05:37";
    s.stampAfter = "02/01/2021 08:00:00";
    s.seconds = 1.2345;
    s.complete = true;
    EXPECT_EQ(app::summaryLine(s),
              "Resumo: examinados=12 selecionados=7 gravados=5 marca_antes=\"25/12/2020 10:05:37\" "
              "marca_depois=\"02/01/2021 08:00:00\" tempo=1.235s resultado=completo");
    s.complete = false;
    s.error = "falhou";
    s.errorSeq = 42;
    EXPECT_EQ(app::errorLine(s), "Erro na exportação (documento 42): falhou");
    s.errorSeq.reset();
    EXPECT_EQ(app::errorLine(s), "Erro na exportação: falhou");
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
