// The window and the tray follow the run history beside the settings file:
// the status line on start, the tray's tip and warning mark, "Histórico".
#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QCheckBox>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

#include "app/history_window.h"
#include "app/main_window.h"
#include "export/history/history.h"
#include "platform/regional.h"
#include "tests/support/window_controls.h"

using testsupport::control;

namespace {

const QByteArray kSettings =
    "[Configuracoes]\r\nBase=/srv/db/emp.fdb\r\nData=25/12/2020\r\nHora=10:05:03\r\n"
    "PastaExportar=/srv/xml/\r\nExportaEmitidas=S\r\nExportaEmitidasVeiculos=S\r\nExportaRecebidas=S\r\n";

exports::RunRecord scheduledRun(exports::Result result, std::chrono::minutes ago) {
    exports::RunRecord r;
    r.ended = exports::Clock::now() - ago;
    r.started = r.ended - std::chrono::seconds(4);
    r.kind = exports::kRunUnattended;
    r.result = result;
    if (result == exports::Result::Failed) r.error = "Banco de dados inacess\xEDvel";
    return r;
}

// A settings folder of the test's own; the settings file holds `settings`.
std::unique_ptr<QTemporaryDir> settingsFolder(const QByteArray& settings) {
    auto dir = std::make_unique<QTemporaryDir>();
    QFile ini(dir->filePath("ConfigQuillan.ini"));
    if (ini.open(QIODevice::WriteOnly)) ini.write(settings);
    return dir;
}

QImage look(const QIcon& icon) { return icon.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32); }

}  // namespace

class WindowHistoryTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(platform::setProcessLocale("pt_BR.UTF-8")); }

    void startShowsTheLastRunAndFollowsNewOnes() {
        const auto folder = settingsFolder(kSettings);
        QTemporaryDir& dir = *folder;
        const std::string history = exports::historyFileFor(dir.filePath("ConfigQuillan.ini").toStdString());
        QVERIFY(exports::appendRun(history, scheduledRun(exports::Result::Complete, std::chrono::minutes(180))));
        QVERIFY(exports::appendRun(history, scheduledRun(exports::Result::Failed, std::chrono::minutes(120))));

        FormStartOptions o;
        o.configFolder = dir.path();
        o.loadClientLibrary = false;
        TForm1 w(o);
        w.FormCreate();
        QVERIFY(w.isVisible());
        QVERIFY(!w.trayAvailable());  // off-screen: no tray, the window stays in the taskbar
        const QSystemTrayIcon* tray = control<QSystemTrayIcon>(w, "trayIcon");

        auto* status = w.findChild<QLabel*>(QStringLiteral("LabelResumo"));
        QVERIFY(status);
        QVERIFY2(status->toolTip().startsWith(QString::fromUtf8("Exportação agendada falhou em ")),
                 qPrintable(status->toolTip()));
        QVERIFY(status->toolTip().endsWith(QString::fromUtf8(": Banco de dados inacessível")));
        QVERIFY(status->styleSheet().contains(QStringLiteral("#c00000")));
        QVERIFY(tray->toolTip().startsWith(QString::fromUtf8("Exportação de XML\nÚltima: Exportação agendada")));
        QVERIFY(look(tray->icon()) != look(mainIcon()));

        // A scheduled run completes while the window is open: the mark goes.
        QVERIFY(exports::appendRun(history, scheduledRun(exports::Result::Complete, std::chrono::minutes(1))));
        QTRY_VERIFY(tray->toolTip().contains(QString::fromUtf8("concluída")));
        QVERIFY(look(tray->icon()) == look(mainIcon()));
        // A run that found the lock held changes nothing about the mark.
        QVERIFY(exports::appendRun(history, scheduledRun(exports::Result::Busy, std::chrono::minutes(0))));
        QTRY_VERIFY(tray->toolTip().contains(QString::fromUtf8("não feita")));
        QVERIFY(look(tray->icon()) == look(mainIcon()));

        QAction* historyAction = control<QAction>(w, "historyAction");
        QPushButton* historyButton = control<QPushButton>(w, "historyButton");
        for (QObject* opener : {static_cast<QObject*>(historyAction), static_cast<QObject*>(historyButton)}) {
            if (auto* a = qobject_cast<QAction*>(opener)) a->trigger();
            else qobject_cast<QPushButton*>(opener)->click();
            auto* historyWindow = w.findChild<app::HistoryWindow*>();
            QVERIFY(historyWindow && historyWindow->isVisible());
            QCOMPARE(historyWindow->runsList()->topLevelItemCount(), 4);
            QCOMPARE(w.findChildren<app::HistoryWindow*>().size(), 1);
        }
        // A run ending while the list is open shows up in it.
        QVERIFY(exports::appendRun(history, scheduledRun(exports::Result::Complete, std::chrono::minutes(0))));
        QTRY_COMPARE(w.findChild<app::HistoryWindow*>()->runsList()->topLevelItemCount(), 5);
    }

    // The window's own runs go into the history: "Gerar" as janela,
    // "Exportar" as periodo; a failure marks the tray at once.
    void windowRunsAreRecorded() {
        // A database that is not there: both exports fail at once.
        const auto folder = settingsFolder(kSettings);
        QTemporaryDir& dir = *folder;
        const QByteArray settings = QByteArray(kSettings)
                                        .replace("/srv/db/emp.fdb", dir.filePath("missing.fdb").toUtf8())
                                        .replace("/srv/xml/", dir.path().toUtf8() + "/");
        QFile ini(dir.filePath("ConfigQuillan.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write(settings);
        ini.close();
        FormStartOptions o;
        o.configFolder = dir.path();
        TForm1 w(o);
        w.FormCreate();
        const QSystemTrayIcon* tray = control<QSystemTrayIcon>(w, "trayIcon");
        QVERIFY(look(tray->icon()) == look(mainIcon()));

        control<QPushButton>(w, "generateButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!w.exportRunning(), 30000);
        control<QPushButton>(w, "exportButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!w.exportRunning(), 30000);

        const auto runs = exports::readRuns(exports::historyFileFor(dir.filePath("ConfigQuillan.ini").toStdString()));
        QCOMPARE(runs.size(), std::size_t(2));
        QCOMPARE(runs[0].kind, std::string("periodo"));
        QCOMPARE(runs[1].kind, std::string("janela"));
        QVERIFY(runs[1].result == exports::Result::Failed);
        QVERIFY2(runs[1].error.find("missing.fdb") != std::string::npos, runs[1].error.c_str());
        QVERIFY(runs[1].ended >= runs[1].started);
        QTRY_VERIFY(tray->toolTip().contains(QString::fromUtf8("Última: Exportação por período falhou em ")));
        QVERIFY(look(tray->icon()) != look(mainIcon()));
    }

    void noHistoryLeavesTheWindowAsItWas() {
        const auto folder = settingsFolder(kSettings);
        QTemporaryDir& dir = *folder;
        FormStartOptions o;
        o.configFolder = dir.path();
        o.loadClientLibrary = false;
        TForm1 w(o);
        w.FormCreate();
        QCOMPARE(control<QSystemTrayIcon>(w, "trayIcon")->toolTip(), QString::fromUtf8("Exportação de XML"));
        QVERIFY(!w.findChild<QLabel*>(QStringLiteral("LabelResumo")));
    }
};

QTEST_MAIN(WindowHistoryTest)
#include "window_history_test.moc"
