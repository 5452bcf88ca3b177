// The exports started from the window ("Gerar", "Exportar") in this process,
// against real databases, embedded and through the server.
#include "tests/support/workspace.h"

#include "export/core/lock.h"
#include "app/gauge.h"
#include "app/main_window.h"
#include "controls/date_edit.h"
#include "controls/num_edit.h"
#include "tests/support/window_controls.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QAction>
#include <QCoreApplication>
#include <QTimer>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace exptest {
namespace {

using testsupport::control;

std::string statusText(TForm1& form) {
    auto* l = form.findChild<QLabel*>(QStringLiteral("LabelResumo"));
    return l ? l->toolTip().toStdString() : std::string();
}

// Clicks the named button and waits for the run on the worker thread to end,
// as a user would.
void clickAndWait(TForm1& form, const char* button) {
    control<QPushButton>(form, button)->click();
    const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (form.exportRunning() && std::chrono::steady_clock::now() < until)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    ASSERT_FALSE(form.exportRunning());
}

std::unique_ptr<TForm1> openWindow(const Workspace& ws) {
    FormStartOptions o;
    o.configFolder = QString::fromStdString(ws.dir.string());
    auto form = std::make_unique<TForm1>(o);
    form->FormCreate();
    EXPECT_TRUE(form->isVisible());
    return form;
}

Doc doc(int seq, const char* moment, const char* tipo, const char* entsai, const char* issued, int filial,
        const char* cnpj, std::string xml) {
    Doc d;
    d.seq = seq;
    d.moment = moment;
    d.tipo = tipo;
    if (entsai) d.entsai = entsai;
    d.issued = issued;
    d.filial = filial;
    d.cnpj = cnpj;
    d.xml = std::move(xml);
    return d;
}

std::string nfe(int seq, const std::string& cnpj) { return "NFe" + fixture::accessKey(seq) + "_" + cnpj + ".XML"; }

class WindowExports : public testing::TestWithParam<Mode> {
protected:
    void SetUp() override { EXPTEST_REQUIRE_MODE(GetParam()); }
};

TEST_P(WindowExports, RunShowsProgressAndTheNextRunStartsFromTheStoredStamp) {
    Workspace ws(GetParam());
    ws.createDatabase({doc(1, "2021-01-01 08:00:00", "NF", "S", "2021-01-01", 1, "1", "<a>\xE9</a>"),
                       doc(2, "2021-01-03 09:30:15", "NE", "E", "2021-01-03", 1, "2", "<b/>"),
                       doc(3, "2020-06-01 00:00:00", "NF", "S", "2020-06-01", 1, "3", "<c/>")});
    const std::string folder = ws.out.string() + "/";
    ws.writeConfig("31/12/2020", "23:59:59", folder);
    auto form = openWindow(ws);
    const std::map<std::string, std::string> files = {{"NFe" + fixture::accessKey(1) + ".XML", "<a>\xE9</a>\r\n"},
                                                      {"NFe" + fixture::accessKey(2) + ".XML", "<b/>\r\n"}};

    clickAndWait(*form, "generateButton");
    EXPECT_EQ(Workspace::files(ws.out), files);
    EXPECT_EQ(ws.configWithoutMark(), ws.configText("03/01/2021", "09:30:15", folder));
    EXPECT_EQ(statusText(*form).rfind("Examinados 2, selecionados 2, gravados 2; marca 03/01/2021 09:30:15 (", 0), 0u)
        << statusText(*form);
    EXPECT_EQ(control<QLabel>(*form, "sequenceLabel")->text(), QStringLiteral("SEQ: 2"));
    const TGauge* gauge = control<TGauge>(*form, "progressGauge");
    EXPECT_EQ(gauge->progress(), 2);
    EXPECT_EQ(gauge->maxValue(), 2);
    // The window shows the stored stamp.
    EXPECT_EQ(control<QLineEdit>(*form, "stampDateEdit")->text(), QStringLiteral("03/01/2021"));
    EXPECT_EQ(control<QLineEdit>(*form, "stampTimeEdit")->text(), QStringLiteral("09:30:15"));

    // One stamp: the second run starts where the first one ended.
    fs::remove_all(ws.out);
    fs::create_directory(ws.out);
    clickAndWait(*form, "generateButton");
    EXPECT_TRUE(Workspace::files(ws.out).empty());
    EXPECT_EQ(ws.configWithoutMark(), ws.configText("03/01/2021", "09:30:15", folder));
    EXPECT_EQ(form->exitCode(), 0);
}

TEST_P(WindowExports, NoExportStartsInsideARunningOne) {
    Workspace ws(GetParam());
    std::vector<Doc> docs;
    for (int i = 1; i <= 30; ++i)
        docs.push_back(doc(i, "2021-01-01 08:00:00", "NF", "S", "2021-02-01", 1, "9", "<x/>"));
    ws.createDatabase(docs);
    ws.writeConfig("01/01/2010", "00:00:00", ws.out.string() + "/");
    auto form = openWindow(ws);
    QPushButton* generate = control<QPushButton>(*form, "generateButton");
    generate->click();
    ASSERT_TRUE(form->exportRunning());
    // The window answers while the run goes on.
    QCoreApplication::processEvents();
    generate->click();
    EXPECT_EQ(statusText(*form), "Uma exportação já está em andamento");
    control<QPushButton>(*form, "exportButton")->click();
    EXPECT_EQ(statusText(*form), "Uma exportação já está em andamento");
    clickAndWait(*form, "generateButton");  // refused again, then waits for the first run
    // The period export never ran: no folders were made.
    EXPECT_FALSE(fs::exists(ws.out / "Entrada"));
    EXPECT_EQ(Workspace::files(ws.out).size(), 30u);
    EXPECT_EQ(statusText(*form).rfind("Examinados 30, selecionados 30, gravados 30", 0), 0u) << statusText(*form);
}

TEST_P(WindowExports, SairDuringARunStopsAtTheNextDocumentThenEnds) {
    Workspace ws(GetParam());
    ws.createDatabase({});
    ws.generate(2000, 8192);
    ws.writeConfig("01/01/2010", "00:00:00", ws.out.string() + "/");
    auto form = openWindow(ws);
    const TGauge* gauge = control<TGauge>(*form, "progressGauge");
    control<QPushButton>(*form, "generateButton")->click();
    const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (gauge->progress() < 5 && std::chrono::steady_clock::now() < until)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    control<QAction>(*form, "quitAction")->trigger();
    EXPECT_FALSE(form->terminated());  // not before the run has stopped
    while (form->exportRunning() && std::chrono::steady_clock::now() < until)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    EXPECT_TRUE(form->terminated());
    EXPECT_LT(Workspace::files(ws.out).size(), 2000u);
    EXPECT_EQ(statusText(*form).rfind("Exportação interrompida", 0), 0u) << statusText(*form);
    EXPECT_EQ(ws.configValue("Data"), "01/01/2010");
}

TEST_P(WindowExports, AnotherProcessHoldingTheLockStopsTheWindowsExports) {
    Workspace ws(GetParam());
    ws.createDatabase({doc(1, "2021-01-01 08:00:00", "NF", "S", "2021-02-01", 1, "9", "<x/>")});
    ws.writeConfig("01/01/2010", "00:00:00", ws.out.string() + "/");
    auto form = openWindow(ws);
    const int fd = ::open((ws.ini.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    for (const char* b : {"generateButton", "exportButton"}) {
        clickAndWait(*form, b);
        EXPECT_EQ(statusText(*form).rfind("Outra exportação está em andamento", 0), 0u) << statusText(*form);
    }
    EXPECT_TRUE(Workspace::files(ws.out).empty());
    EXPECT_FALSE(fs::exists(ws.out / "Entrada"));
    EXPECT_EQ(ws.configValue("Data"), "01/01/2010");
    ::close(fd);
    clickAndWait(*form, "generateButton");
    EXPECT_EQ(Workspace::files(ws.out).size(), 1u);
}

TEST_P(WindowExports, FailureIsShownInTheWindow) {
    Workspace ws(GetParam());
    ws.createDatabase({doc(1, "2021-01-01 08:00:00", "NF", "S", "2021-02-01", 1, "9", "<x/>")});
    ws.writeConfig("01/01/2010", "00:00:00", ws.dir.string() + "/naoexiste/");
    auto form = openWindow(ws);
    clickAndWait(*form, "generateButton");
    const std::string text = statusText(*form);
    // The folder is checked before anything is read or written.
    EXPECT_EQ(text.rfind("Erro na exportação: Pasta de exportação inexistente", 0), 0u) << text;
    EXPECT_NE(text.find("naoexiste"), std::string::npos) << text;
    EXPECT_EQ(ws.configValue("Data"), "01/01/2010");
    EXPECT_FALSE(form->terminated());
    EXPECT_EQ(form->exitCode(), 0);
}

// ---- period export -------------------------------------------------------

std::vector<Doc> periodDocs() {
    std::vector<Doc> v;
    Doc p1 = doc(1, "2021-02-01 10:00:00", "NF", "E", "2021-02-01", 1, "11222333000181", "<xml>1</xml>");
    p1.cancel = "";  // present but empty: the first text that is not NULL
    v.push_back(p1);
    v.push_back(doc(2, "2021-02-02 10:00:00", "NF", "S", "2021-02-02", 1, "44555666000199",
                    "<xml>2 a\xE7\xFA"
                    "car\r\nlinha\nLF</xml>"));
    v.push_back(doc(3, "2021-02-03 10:00:00", "NF", nullptr, "2021-02-03", 1, "11222333000181", "<xml>3</xml>"));
    v.push_back(doc(4, "2021-02-04 10:00:00", "NF", "E", "2021-02-04", 2, "11222333000181", "<xml>4</xml>"));
    Doc p5 = doc(5, "2021-02-05 10:00:00", "NF", "S", "2021-02-05", 1, "11222333000181", "<xml>5</xml>");
    p5.cancelada = 0;
    v.push_back(p5);
    Doc p6 = doc(6, "2021-02-06 10:00:00", "NF", "S", "2021-02-06", 1, "11222333000181", "<xml>6</xml>");
    p6.modelo = "65";
    v.push_back(p6);
    v.push_back(doc(7, "2021-02-07 10:00:00", "NE", "E", "2021-02-07", 1, "11222333000181", "<xml>7</xml>"));
    v.push_back(doc(8, "2021-03-01 10:00:00", "NF", "S", "2021-03-01", 1, "11222333000181", "<xml>8</xml>"));
    v.push_back(doc(9, "2021-01-01 10:00:00", "NF", "E", "1899-12-30", 0, "11222333000181", "<xml>9</xml>"));
    v.push_back(doc(10, "2021-02-10 10:00:00", "NF", "S", "2021-02-10", 1, "12345678901", "<xml>10</xml>"));
    Doc p11 = doc(11, "2021-02-28 10:00:00", "NF", "S", "2021-02-28", 1, "11222333000181", "<xml>11</xml>");
    p11.cancel = "<canc>11</canc>";  // written, but under "NFe"
    v.push_back(p11);
    return v;
}

TEST_P(WindowExports, PeriodExportSortsIntoEntradaAndSaida) {
    struct Case {
        int entSaiWidth;
        const char* start;
        const char* end;
        const char* branch;
        std::map<std::string, std::string> files;
    };
    const std::string padded = "12345678901   ";  // CHAR(14) keeps its filling blanks
    const Case cases[] = {
        {1,
         "01/02/2021",
         "28/02/2021",
         "1",
         {{"Entrada/" + nfe(1, "11222333000181"), "\r\n"},
          {"Saida/" + nfe(2, "44555666000199"),
           "<xml>2 a\xE7\xFA"
           "car\r\nlinha\nLF</xml>\r\n"},
          {"Saida/" + nfe(3, "11222333000181"), "<xml>3</xml>\r\n"},
          {"Saida/" + nfe(10, padded), "<xml>10</xml>\r\n"},
          {"Saida/" + nfe(11, "11222333000181"), "<canc>11</canc>\r\n"}}},
        // A wider flag column reads "E " and goes to Saida.
        {2, "01/02/2021", "01/02/2021", "1", {{"Saida/" + nfe(1, "11222333000181"), "\r\n"}}},
        {1, "  /  /    ", "  /  /    ", "0", {{"Entrada/" + nfe(9, "11222333000181"), "<xml>9</xml>\r\n"}}},
        {1,
         "  /  /    ",
         "02/02/2021",
         "1",
         {{"Entrada/" + nfe(1, "11222333000181"), "\r\n"},
          {"Saida/" + nfe(2, "44555666000199"),
           "<xml>2 a\xE7\xFA"
           "car\r\nlinha\nLF</xml>\r\n"}}},
        {1, "01/02/2021", "  /  /    ", "1", {}},
        {1, "01/02/2021", "28/02/2021", "2", {{"Entrada/" + nfe(4, "11222333000181"), "<xml>4</xml>\r\n"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.start) + " - " + c.end + " filial " + c.branch + " width " +
                     std::to_string(c.entSaiWidth));
        Workspace ws(GetParam());
        fixture::Schema schema;
        schema.entSaiWidth = c.entSaiWidth;
        ws.createDatabase(periodDocs(), schema);
        // A trailing separator doubles before Entrada / Saida and names the same folders.
        ws.writeConfig("01/01/2010", "00:00:00", ws.out.string() + "/", "---");
        const std::string iniBefore = slurp(ws.ini);
        auto form = openWindow(ws);
        TsDateEdit* start = control<TsDateEdit>(*form, "startDateEdit");
        start->SetText(QString::fromLatin1(c.start));
        control<TsDateEdit>(*form, "endDateEdit")->SetText(QString::fromLatin1(c.end));
        control<TsCalcEdit>(*form, "branchEdit")->SetText(QString::fromLatin1(c.branch));
        clickAndWait(*form, "exportButton");
        EXPECT_TRUE(fs::is_directory(ws.out / "Entrada"));
        EXPECT_TRUE(fs::is_directory(ws.out / "Saida"));
        EXPECT_EQ(Workspace::files(ws.out), c.files);
        EXPECT_EQ(control<TGauge>(*form, "progressGauge")->progress(), int(c.files.size()));
        EXPECT_EQ(slurp(ws.ini), iniBefore);
        EXPECT_EQ(statusText(*form).rfind("Examinados " + std::to_string(c.files.size()), 0), 0u) << statusText(*form);
        // Shown inside the period group, clear of its editors and button.
        auto* label = form->findChild<QLabel*>(QStringLiteral("LabelResumo"));
        ASSERT_TRUE(label);
        EXPECT_TRUE(label->isVisibleTo(form.get()));
        const QGroupBox* period = control<QGroupBox>(*form, "periodGroup");
        EXPECT_EQ(label->parentWidget(), static_cast<const QWidget*>(period));
        EXPECT_TRUE(period->rect().contains(label->geometry()));
        EXPECT_FALSE(label->geometry().intersects(control<QPushButton>(*form, "exportButton")->geometry()));
        EXPECT_FALSE(label->geometry().intersects(start->geometry()));
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, WindowExports, testing::Values(Mode::Embedded, Mode::Server), modeName);

}  // namespace
}  // namespace exptest
