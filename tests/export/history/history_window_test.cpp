// The "Histórico" window over a small history file (off-screen platform).

#include "app/history_window.h"
#include "tests/support/ci.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fstream>

using namespace exports;

class HistoryWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QREQUIRE_PREREQUISITE(std::setlocale(LC_ALL, "pt_BR.UTF-8"),
                              "pt_BR.UTF-8 locale missing (scripts/install-deps.sh generates it)");
        qputenv("TZ", "<-03>3");
        ::tzset();
        QVERIFY(dir.isValid());
        path = (dir.path() + QStringLiteral("/ConfigQuillan.log.jsonl")).toStdString();
    }

    void newestFirstWithFailuresMarked() {
        RunRecord done;
        done.started = Clock::time_point(std::chrono::seconds(1709298000));
        done.ended = done.started + std::chrono::seconds(2);
        done.kind = kRunUnattended;
        done.examined = 20;
        RunRecord failed = done;
        failed.started += std::chrono::hours(1);
        failed.ended += std::chrono::hours(1);
        failed.result = Result::Failed;
        failed.error = "N\xE3o foi poss\xEDvel gravar \"/srv/xml/NFe1.XML\": No space left on device";
        RunRecord refused = done;
        refused.started += std::chrono::hours(2);
        refused.ended += std::chrono::hours(2);
        refused.kind = kRunWindow;
        refused.result = Result::Refused;
        refused.refused = 1;
        refused.refusedDocuments = {{8, "35240/..", "Chave de acesso com \"/\""}};
        for (const RunRecord* r : {&done, &failed, &refused}) QVERIFY(appendRun(path, *r));
        std::ofstream(path, std::ios::app) << "{damaged\n";

        app::HistoryWindow window(path);
        window.show();
        QCOMPARE(window.windowTitle(), QString::fromUtf8("Histórico"));
        QTreeWidget* list = window.runsList();
        QCOMPARE(list->topLevelItemCount(), 3);
        QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("01/03/2024 12:00:02"));
        QCOMPARE(list->topLevelItem(2)->text(0), QStringLiteral("01/03/2024 10:00:02"));

        QCOMPARE(list->topLevelItem(0)->background(0).color(), app::HistoryWindow::refusedColor());
        QCOMPARE(list->topLevelItem(1)->background(4).color(), app::HistoryWindow::failureColor());
        QCOMPARE(list->topLevelItem(2)->background(0).style(), Qt::NoBrush);

        // The newest run is selected and shows its refused documents.
        QVERIFY(window.details()->toPlainText().contains(
            QStringLiteral("Documento 8, chave 35240/..: Chave de acesso com \"/\"")));
        list->setCurrentItem(list->topLevelItem(1));
        QVERIFY(window.details()->toPlainText().contains(
            QString::fromUtf8("Não foi possível gravar \"/srv/xml/NFe1.XML\": No space left on device")));
    }

    void emptyHistorySaysSo() {
        app::HistoryWindow window((dir.path() + QStringLiteral("/none.jsonl")).toStdString());
        QCOMPARE(window.runsList()->topLevelItemCount(), 0);
        bool said = false;
        for (QLabel* l : window.findChildren<QLabel*>())
            said |= l->text().contains(QString::fromUtf8("Nenhuma exportação"));
        QVERIFY(said);
    }

private:
    QTemporaryDir dir;
    std::string path;
};

// The locale is asked for before Qt Test runs: a skip inside it would exit 0
// and show as passed. Without the locale the program exits 77 (ctest's skip),
// or fails in CI.
int main(int argc, char** argv) {
    if (!std::setlocale(LC_ALL, "pt_BR.UTF-8")) {
        const char* what = "pt_BR.UTF-8 locale missing (scripts/install-deps.sh generates it)";
        if (testsupport::ciRun()) {
            std::fprintf(stderr, "FAIL: %s (CI=true: a missing prerequisite fails the test)\n", what);
            return 1;
        }
        std::fprintf(stderr, "SKIP: %s\n", what);
        return 77;
    }
    QApplication app(argc, argv);
    HistoryWindowTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "history_window_test.moc"
