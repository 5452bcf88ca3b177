// The tray's "Gerar pacote do mês anterior": last month's package from the
// window's process, on its worker thread.
#include "tests/support/workspace.h"

#include "app/main_window.h"
#include "export/checks/checks.h"
#include "export/core/package_run.h"
#include "tests/support/window_controls.h"

#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>

#include <ctime>

namespace exptest {
namespace {

std::string keyInMonth(const std::string& yearMonth, int number) {
    char first[64];
    std::snprintf(first, sizeof first, "35%s%s11222333000181550010%08d1%08d", yearMonth.substr(2, 2).c_str(),
                  yearMonth.substr(5, 2).c_str(), number, number);
    const std::string k = first;
    return k + char('0' + exports::accessKeyCheckDigit(k));
}

}  // namespace

TEST(TrayPackage, BuildsLastMonthsPackageIntoTheOutputFolder) {
    Workspace ws(Mode::Embedded);
    const std::string month = exports::previousMonth(std::time(nullptr));
    std::vector<Doc> docs;
    for (int n : {1, 2, 4}) {
        Doc d;
        d.seq = n;
        d.moment = "2020-01-01 10:00:00";
        d.key = keyInMonth(month, n);
        d.xml = "<nfeProc/>";
        d.tipo = "NF";
        docs.push_back(d);
    }
    ws.createDatabase(docs);
    ws.writeConfig("01/01/2010", "00:00:00", ws.out.string() + "/");

    FormStartOptions o;
    o.configFolder = QString::fromStdString(ws.dir.string());
    TForm1 form(o);
    form.FormCreate();

    QStringList captions;
    for (QAction* a : testsupport::control<QMenu>(form, "trayMenu")->actions()) captions << a->text();
    EXPECT_EQ(captions, (QStringList{"Abrir", "Histórico", "Gerar pacote do mês anterior", "Sair"}));

    testsupport::control<QAction>(form, "previousMonthPackageAction")->trigger();
    const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (form.exportRunning() && std::chrono::steady_clock::now() < until)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    ASSERT_FALSE(form.exportRunning());

    const auto files = Workspace::files(ws.out);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files.begin()->first, "NFe-" + month + ".zip");
    auto* status = form.findChild<QLabel*>(QStringLiteral("LabelResumo"));
    ASSERT_NE(status, nullptr);
    EXPECT_TRUE(status->toolTip().startsWith(QString::fromStdString("Pacote " +
                                                                    (ws.out / ("NFe-" + month + ".zip")).string())))
        << status->toolTip().toStdString();
}

}  // namespace exptest
