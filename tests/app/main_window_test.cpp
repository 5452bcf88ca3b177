// The main window under the off-screen platform: layout, tab order, gauge,
// tray menu and the creation step against settings files in a temp folder.
#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>
#include <vector>

#include "app/config_file.h"
#include "app/gauge.h"
#include "app/main_window.h"
#include "app/unattended.h"
#include "controls/date_edit.h"
#include "controls/num_edit.h"
#include "platform/regional.h"
#include "tests/support/window_controls.h"

using testsupport::control;

namespace {

FormStartOptions optionsFor(const QString& folder, const QStringList& args = {}) {
    FormStartOptions o;
    o.configFolder = folder;
    o.arguments = args;
    o.loadClientLibrary = false;
    return o;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

const QByteArray kSettings =
    "[Configuracoes]\r\nBase=/srv/db/emp\xE9.fdb\r\nData=25/12/2020\r\nHora=10:05:03\r\n"
    "PastaExportar=/srv/xml/\r\nExportaEmitidas=S\r\nExportaEmitidasVeiculos=Sim\r\nExportaRecebidas=S\r\n";

class CountingGauge : public TGauge {
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent* e) override {
        ++paints;
        TGauge::paintEvent(e);
    }
};

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    // The window was designed for pt-BR; the date edits read the locale's format.
    void initTestCase() { QVERIFY(platform::setProcessLocale("pt_BR.UTF-8")); }
    void layoutMatchesTheDesign();
    void captionsFitTheirControls();
    void tabOrder();
    void stateBeforeSettingsAreRead();
    void gaugePercent_data();
    void gaugePercent();
    void gaugeRepaintsOnlyWhenThePercentChanges();
    void gaugeTextReadsOverBarAndBackground();
    void firstRunWritesDefaultsAndEnds();
    void normalStartLoadsSettingsAndShows();
    void executaScan_data();
    void executaScan();
    void unwritableFolderReportsAndEnds();
    void unwritableFolderWithAnAccentIsNamedRight();
    void trayIconAndMenu();
    void trayDoubleClickOpens();
    void sairAndCloseEndTheProgram();
    void windowStaysWhereItWasPlaced();
    void dateAndBranchValues_data();
    void dateAndBranchValues();
};

void MainWindowTest::layoutMatchesTheDesign() {
    TForm1 w(optionsFor(QString()));
    QCOMPARE(w.windowTitle(), QStringLiteral("Exportar XML"));
    QCOMPARE(w.size(), QSize(348, 323));
    QCOMPARE(w.font().pixelSize(), 11);

    struct Item {
        QWidget* widget;
        QWidget* parent;
        QRect geometry;
        QString text;
    };
    auto text = [](QWidget* wd) -> QString {
        if (auto* l = qobject_cast<QLabel*>(wd)) return l->text();
        if (auto* b = qobject_cast<QAbstractButton*>(wd)) return b->text();
        if (auto* g = qobject_cast<QGroupBox*>(wd)) return g->title();
        if (auto* e = qobject_cast<QLineEdit*>(wd)) return e->text();
        return QString();
    };
    auto* incremental = control<QGroupBox>(w, "incrementalGroup");
    auto* period = control<QGroupBox>(w, "periodGroup");
    const Item items[] = {
        {control<QLineEdit>(w, "databaseEdit"), &w, {16, 32, 321, 21}, ""},
        {control<QPlainTextEdit>(w, "textBuffer"), &w, {232, 8, 33, 18}, ""},
        {incremental, &w, {16, 56, 321, 105}, "Exportação pela Alteração"},
        {control<QLineEdit>(w, "stampDateEdit"), incremental, {16, 30, 89, 21}, "01/01/1900"},
        {control<QLineEdit>(w, "stampTimeEdit"), incremental, {112, 30, 89, 21}, "00:00:00"},
        {control<QPushButton>(w, "generateButton"), incremental, {230, 24, 75, 25}, "Gerar"},
        {control<QCheckBox>(w, "issuedBox"), incremental, {8, 56, 97, 17}, "Notas Emitidas"},
        {control<QCheckBox>(w, "receivedBox"), incremental, {8, 80, 105, 17}, "Notas Recebidas"},
        {control<QCheckBox>(w, "vehiclesBox"), incremental, {128, 56, 185, 17}, "Notas Emitidas de Veículos"},
        {period, &w, {16, 168, 321, 73}, "Exportar por período - Notas Emitidas"},
        {control<TsDateEdit>(w, "startDateEdit"), period, {16, 32, 81, 21}, "  /  /    "},
        {control<TsDateEdit>(w, "endDateEdit"), period, {104, 32, 81, 21}, "  /  /    "},
        {control<TsCalcEdit>(w, "branchEdit"), period, {192, 31, 33, 21}, "0"},
        {control<QPushButton>(w, "exportButton"), period, {248, 32, 57, 25}, "Exportar"},
        {control<QLineEdit>(w, "folderEdit"), &w, {8, 264, 321, 21}, ""},
        {control<TGauge>(w, "progressGauge"), &w, {8, 296, 321, 20}, ""},
    };
    for (const Item& it : items) {
        QCOMPARE(it.widget->parentWidget(), it.parent);
        QCOMPARE(it.widget->geometry(), it.geometry);
        QCOMPARE(text(it.widget), it.text);
    }
    // Labels size themselves to their text; their place is fixed.
    struct LabelItem {
        const char* name;
        QWidget* parent;
        QPoint pos;
        QString text;
    };
    const LabelItem labels[] = {
        {"databaseLabel", &w, {8, 16}, "Base de Dados"},
        {"sequenceLabel", &w, {128, 8}, ""},
        {"stampDateLabel", incremental, {8, 16}, "Data Ultima"},
        {"stampTimeLabel", incremental, {112, 16}, "Hora Ultima"},
        {"startDateLabel", period, {16, 16}, "Data Inicial"},
        {"endDateLabel", period, {104, 16}, "Data Final"},
        {"branchLabel", period, {192, 16}, "Filial"},
        {"folderLabel", &w, {8, 248}, "Exportar Arquivos para:"},
    };
    for (const LabelItem& l : labels) {
        QLabel* label = control<QLabel>(w, l.name);
        QCOMPARE(label->parentWidget(), l.parent);
        QCOMPARE(label->pos(), l.pos);
        QCOMPARE(label->height(), 13);
        QCOMPARE(label->text(), l.text);
    }
    for (const char* name : {"databaseEdit", "folderEdit", "stampDateEdit", "stampTimeEdit"})
        QVERIFY2(control<QLineEdit>(w, name)->isReadOnly(), name);
    auto* buffer = control<QPlainTextEdit>(w, "textBuffer");
    QVERIFY(buffer->isHidden());
    QCOMPARE(buffer->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    QCOMPARE(control<TsDateEdit>(w, "startDateEdit")->displayText(), QStringLiteral("  /  /    "));
}

void MainWindowTest::captionsFitTheirControls() {
    TForm1 w(optionsFor(QString()));
    const QFontMetrics fm(w.font());
    const int indicator = w.style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                          w.style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
    for (const char* name : {"issuedBox", "receivedBox", "vehiclesBox"}) {
        const QCheckBox* c = control<QCheckBox>(w, name);
        QVERIFY2(fm.horizontalAdvance(c->text()) + indicator <= c->width(), qPrintable(c->text()));
    }
    for (const char* name : {"generateButton", "exportButton"}) {
        const QPushButton* b = control<QPushButton>(w, name);
        QVERIFY2(fm.horizontalAdvance(b->text()) + 8 <= b->width(), qPrintable(b->text()));
    }
    for (const char* name : {"incrementalGroup", "periodGroup"}) {
        const QGroupBox* g = control<QGroupBox>(w, name);
        QVERIFY2(fm.horizontalAdvance(g->title()) + 16 <= g->width(), qPrintable(g->title()));
    }
    // Labels must end before the control to their right.
    auto label = [&](const char* name) { return control<QLabel>(w, name)->geometry(); };
    QVERIFY(label("databaseLabel").right() < label("sequenceLabel").x());
    QVERIFY(label("stampDateLabel").right() < label("stampTimeLabel").x());
    QVERIFY(label("startDateLabel").right() < label("endDateLabel").x());
    QVERIFY(label("endDateLabel").right() < label("branchLabel").x());
    QVERIFY(label("folderLabel").right() < w.width());
}

void MainWindowTest::tabOrder() {
    TForm1 w(optionsFor(QString()));
    QList<QWidget*> expected;
    for (const char* name :
         {"databaseEdit", "folderEdit", "generateButton", "stampTimeEdit", "stampDateEdit", "issuedBox", "receivedBox",
          "vehiclesBox", "startDateEdit", "endDateEdit", "branchEdit", "exportButton"})
        expected << control<QWidget>(w, name);
    QList<QWidget*> seen;
    QWidget* const first = expected.front();
    QWidget* cur = first;
    do {
        if (expected.contains(cur) && !seen.contains(cur)) seen << cur;
        cur = cur->nextInFocusChain();
    } while (cur != first && seen.size() < expected.size());
    QCOMPARE(seen, expected);
}

void MainWindowTest::stateBeforeSettingsAreRead() {
    TForm1 w(optionsFor(QString()));
    for (const char* name : {"issuedBox", "receivedBox", "vehiclesBox"})
        QVERIFY2(!control<QCheckBox>(w, name)->isChecked(), name);
    const TGauge* gauge = control<TGauge>(w, "progressGauge");
    QCOMPARE(gauge->minValue(), 0);
    QCOMPARE(gauge->maxValue(), 100);
    QCOMPARE(gauge->progress(), 0);
    QCOMPARE(control<QMenu>(w, "trayMenu")->actions().size(), 4);
    QCOMPARE(control<QAction>(w, "openAction")->text(), QStringLiteral("Abrir"));
    QCOMPARE(control<QAction>(w, "quitAction")->text(), QStringLiteral("Sair"));
    QVERIFY(!w.isVisible());
}

void MainWindowTest::gaugePercent_data() {
    QTest::addColumn<int>("max");
    QTest::addColumn<int>("progress");
    QTest::addColumn<int>("shownProgress");
    QTest::addColumn<int>("percent");
    QTest::newRow("start") << 100 << 0 << 0 << 0;
    QTest::newRow("truncated") << 3 << 2 << 2 << 66;
    QTest::newRow("full") << 7 << 7 << 7 << 100;
    QTest::newRow("clamped above") << 10 << 15 << 10 << 100;
    QTest::newRow("clamped below") << 10 << -4 << 0 << 0;
    QTest::newRow("empty range") << 0 << 5 << 0 << 0;
    QTest::newRow("large counts") << 30000000 << 29999999 << 29999999 << 99;
}

void MainWindowTest::gaugePercent() {
    QFETCH(int, max);
    QFETCH(int, progress);
    QFETCH(int, shownProgress);
    QFETCH(int, percent);
    TGauge g;
    g.setProgress(0);
    g.setMaxValue(max);
    g.setMinValue(0);
    g.setProgress(progress);
    QCOMPARE(g.progress(), shownProgress);
    QCOMPARE(g.percentDone(), percent);
}

void MainWindowTest::gaugeRepaintsOnlyWhenThePercentChanges() {
    CountingGauge g;
    g.resize(321, 20);
    g.show();
    QVERIFY(QTest::qWaitForWindowExposed(&g));
    g.setMaxValue(1000);
    QCoreApplication::processEvents();
    const int before = g.paints;
    for (int i = 1; i <= 9; ++i) {
        g.addProgress(1);  // still 0 %
        QCoreApplication::processEvents();
    }
    QCOMPARE(g.paints, before);
    g.addProgress(1);  // 1 %
    QTRY_COMPARE(g.paints, before + 1);
}

void MainWindowTest::gaugeTextReadsOverBarAndBackground() {
    TForm1 w(optionsFor(QString()));
    TGauge* g = control<TGauge>(w, "progressGauge");
    g->setMaxValue(100);
    g->setProgress(50);
    const QImage img = g->grab().toImage();
    const QRect inner = g->rect().adjusted(1, 1, -1, -1);
    const int mid = inner.left() + inner.width() / 2;
    // Away from the text: black bar on the left, white on the right.
    QCOMPARE(img.pixelColor(inner.left() + 2, inner.center().y()), QColor(Qt::black));
    QCOMPARE(img.pixelColor(inner.right() - 2, inner.center().y()), QColor(Qt::white));
    // Around the centred "50%": light pixels over the bar, dark ones over the white part.
    int lightOnBar = 0, darkOnWhite = 0;
    for (int y = inner.top(); y <= inner.bottom(); ++y) {
        for (int x = mid - 30; x < mid; ++x)
            if (qGray(img.pixel(x, y)) > 128) ++lightOnBar;
        for (int x = mid + 1; x < mid + 30; ++x)
            if (qGray(img.pixel(x, y)) < 128) ++darkOnWhite;
    }
    QVERIFY2(lightOnBar > 5, "no text visible over the bar");
    QVERIFY2(darkOnWhite > 5, "no text visible over the background");
}

void MainWindowTest::firstRunWritesDefaultsAndEnds() {
    // "/executa" makes its first-run file without a window (app.program).
    {
        QTemporaryDir dir;
        TForm1 w(optionsFor(dir.path()));
        w.FormCreate();
        QVERIFY(w.terminated());
        QCOMPARE(w.exitCode(), 0);
        QVERIFY(!w.isVisible());
        QCOMPARE(readFile(dir.filePath("ConfigQuillan.ini")),
                 QByteArray("[Configuracoes]\r\nBase=\r\nData=01/01/2010\r\nHora=00:00:00\r\nPastaExportar=\r\n"
                            "ExportaEmitidas=\r\nExportaEmitidasVeiculos=\r\nExportaRecebidas=\r\n"));
        // The window keeps its initial texts: nothing was loaded.
        QCOMPARE(control<QLineEdit>(w, "stampDateEdit")->text(), QStringLiteral("01/01/1900"));

        // The next start finds the file and starts normally.
        TForm1 again(optionsFor(dir.path()));
        again.FormCreate();
        QVERIFY(!again.terminated());
        QVERIFY(again.isVisible());
        QCOMPARE(control<QLineEdit>(again, "databaseEdit")->text(), QString());
        QCOMPARE(control<QLineEdit>(again, "stampDateEdit")->text(), QStringLiteral("01/01/2010"));
        QCOMPARE(control<QLineEdit>(again, "stampTimeEdit")->text(), QStringLiteral("00:00:00"));
        for (const char* name : {"issuedBox", "receivedBox", "vehiclesBox"})
            QVERIFY2(!control<QCheckBox>(again, name)->isChecked(), name);
    }
}

void MainWindowTest::normalStartLoadsSettingsAndShows() {
    QTemporaryDir dir;
    const QString ini = dir.filePath("ConfigQuillan.ini");
    writeFile(ini, kSettings);
    TForm1 w(optionsFor(dir.path()));
    w.FormCreate();
    QVERIFY(!w.terminated());
    QVERIFY(w.isVisible());
    QCOMPARE(control<QLineEdit>(w, "databaseEdit")->text(), QStringLiteral("/srv/db/empé.fdb"));
    QCOMPARE(control<QLineEdit>(w, "stampDateEdit")->text(), QStringLiteral("25/12/2020"));
    QCOMPARE(control<QLineEdit>(w, "stampTimeEdit")->text(), QStringLiteral("10:05:03"));
    QCOMPARE(control<QLineEdit>(w, "folderEdit")->text(), QStringLiteral("/srv/xml/"));
    QVERIFY(control<QCheckBox>(w, "issuedBox")->isChecked());
    QVERIFY(!control<QCheckBox>(w, "vehiclesBox")->isChecked());
    QVERIFY(control<QCheckBox>(w, "receivedBox")->isChecked());

    // Ticking a box is never saved.
    control<QCheckBox>(w, "vehiclesBox")->setChecked(true);
    w.close();
    QCOMPARE(readFile(ini), kSettings);
}

void MainWindowTest::executaScan_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("unattended");
    QTest::newRow("none") << QStringList() << false;
    QTest::newRow("alone") << QStringList{"/executa"} << true;
    QTest::newRow("second") << QStringList{"/acver", "/executa"} << true;
    QTest::newRow("after others") << QStringList{"a", "b", "/executa", "c"} << true;
    QTest::newRow("capitals") << QStringList{"/EXECUTA"} << false;
    QTest::newRow("other lead") << QStringList{"-executa"} << false;
    QTest::newRow("trailing blank") << QStringList{"/executa "} << false;
    QTest::newRow("leading blank") << QStringList{" /executa"} << false;
    QTest::newRow("no slash") << QStringList{"executa"} << false;
}

// main() sends exactly "/executa", anywhere on the line, to the run
// without a window; anything else starts the window.
void MainWindowTest::executaScan() {
    QFETCH(QStringList, args);
    QFETCH(bool, unattended);
    std::vector<QByteArray> bytes{"exportar-xml"};
    for (const QString& a : args) bytes.push_back(a.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& b : bytes) argv.push_back(b.data());
    argv.push_back(nullptr);
    QCOMPARE(app::wantsUnattendedRun(int(bytes.size()), argv.data()), unattended);
    if (unattended) return;
    QTemporaryDir dir;
    writeFile(dir.filePath("ConfigQuillan.ini"), kSettings);
    TForm1 w(optionsFor(dir.path(), args));
    w.FormCreate();
    QVERIFY(!w.terminated());
    QVERIFY(w.isVisible());
}

void MainWindowTest::unwritableFolderReportsAndEnds() {
    QTemporaryDir dir;
    // A folder that does not exist cannot receive the first-run file.
    TForm1 w(optionsFor(dir.filePath("missing")));
    w.FormCreate();
    QVERIFY(!w.isVisible());
    // Off screen nothing could reach a program left in the tray: it ends.
    QVERIFY(w.terminated());
    QCOMPARE(w.exitCode(), 1);
    QVERIFY(!QFile::exists(dir.filePath("missing/ConfigQuillan.ini")));
}

// The error names the folder as the file system does: an accent is not read
// as two Windows-1252 characters.
void MainWindowTest::unwritableFolderWithAnAccentIsNamedRight() {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("Exportação"));
    TForm1 w(optionsFor(folder));
    int saved = ::dup(2);
    QTemporaryFile err;
    QVERIFY(err.open());
    ::dup2(err.handle(), 2);
    w.FormCreate();
    ::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    const QString text = QString::fromUtf8(readFile(err.fileName()));
    QVERIFY2(text.contains(QStringLiteral("Unable to write to ") + folder + QStringLiteral("/ConfigQuillan.ini")),
             qPrintable(text));
    QVERIFY2(!text.contains(QStringLiteral("Ã")), qPrintable(text));
    QVERIFY(w.terminated());
}

void MainWindowTest::trayIconAndMenu() {
    QTemporaryDir dir;
    writeFile(dir.filePath("ConfigQuillan.ini"), kSettings);
    TForm1 w(optionsFor(dir.path()));
    w.FormCreate();
    const QSystemTrayIcon* tray = control<QSystemTrayIcon>(w, "trayIcon");
    QMenu* menu = control<QMenu>(w, "trayMenu");
    QCOMPARE(tray->toolTip(), QStringLiteral("Exportação de XML"));
    QCOMPARE(tray->contextMenu(), menu);
    // The program icon in the tray and on the window.
    QVERIFY(!tray->icon().isNull());
    QVERIFY(!w.windowIcon().isNull());
    QVERIFY(!tray->icon().availableSizes().isEmpty());
    QStringList items;
    for (QAction* a : menu->actions()) items << a->text();
    QCOMPARE(items, (QStringList{"Abrir", QString::fromUtf8("Histórico"),
                                 QString::fromUtf8("Gerar pacote do mês anterior"), "Sair"}));
}

void MainWindowTest::trayDoubleClickOpens() {
    QTemporaryDir dir;
    writeFile(dir.filePath("ConfigQuillan.ini"), kSettings);
    TForm1 w(optionsFor(dir.path()));
    w.FormCreate();
    w.hide();
    w.trayActivated(QSystemTrayIcon::Trigger);  // a single click does nothing
    QVERIFY(!w.isVisible());
    w.trayActivated(QSystemTrayIcon::DoubleClick);
    QVERIFY(w.isVisible());
    const QPoint pos = w.pos();
    w.trayActivated(QSystemTrayIcon::DoubleClick);  // already shown: stays as it is
    QVERIFY(w.isVisible());
    QCOMPARE(w.pos(), pos);
    w.hide();
    control<QAction>(w, "openAction")->trigger();
    QVERIFY(w.isVisible());
    QVERIFY(!w.terminated());
}

void MainWindowTest::sairAndCloseEndTheProgram() {
    QTemporaryDir dir;
    writeFile(dir.filePath("ConfigQuillan.ini"), kSettings);
    {
        TForm1 w(optionsFor(dir.path()));
        w.FormCreate();
        control<QAction>(w, "quitAction")->trigger();
        QVERIFY(w.terminated());
        QCOMPARE(w.exitCode(), 0);
    }
    {
        TForm1 w(optionsFor(dir.path()));
        w.FormCreate();
        QVERIFY(w.close());
        QVERIFY(w.terminated());
    }
}

void MainWindowTest::windowStaysWhereItWasPlaced() {
    QTemporaryDir dir;
    writeFile(dir.filePath("ConfigQuillan.ini"), kSettings);
    TForm1 w(optionsFor(dir.path()));
    w.FormCreate();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QPoint placed = w.pos();
    w.move(placed + QPoint(40, 30));
    QCOMPARE(w.pos(), placed + QPoint(40, 30));  // the move happened...
    QTRY_COMPARE(w.pos(), placed);               // ...and was undone
    w.hide();
    w.showFromTray();
    QTRY_COMPARE(w.pos(), placed);
}

void MainWindowTest::dateAndBranchValues_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<double>("serial");
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("complete") << "25122020" << 44190.0;
    QTest::newRow("incomplete year") << "2512202" << 0.0;
    QTest::newRow("impossible") << "31022021" << 0.0;
    QTest::newRow("leap day") << "29022024" << 45351.0;
}

void MainWindowTest::dateAndBranchValues() {
    QFETCH(QString, typed);
    QFETCH(double, serial);
    TForm1 w(optionsFor(QString()));
    TsDateEdit* start = control<TsDateEdit>(w, "startDateEdit");
    start->setFocus();
    start->home(false);
    QTest::keyClicks(start, typed);
    QCOMPARE(w.startDate(), serial);
    QCOMPARE(w.endDate(), 0.0);
    QCOMPARE(w.branchText(), std::string("0"));
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
