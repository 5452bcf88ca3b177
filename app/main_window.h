#pragma once
// The main window: the two export groups, the settings it shows, the progress
// gauge, the tray icon with its menu. Runs go to app::ExportRunner with jobs
// built by exports::readSettings; the window holds no database object.

#include <QLabel>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>
#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "app/application.h"
#include "app/config_file.h"
#include "app/status_line.h"
#include "export/office/run_record.h"
#include "export/settings/settings.h"
#include "platform/datetime.h"

namespace db {
class FbClient;
}
namespace exports {
struct RunSummary;
}
namespace app {
class ExportRunner;
class HistoryWindow;
class RunMonitor;
}  // namespace app

class QAction;
class QCheckBox;
class QGroupBox;
class QLineEdit;
class TsDateEdit;
class TsCalcEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class TGauge;

// Raised while the window is being built; what() is the whole text of the
// "Application Error" box, naming the property that failed.
class FormBuildError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct FormStartOptions {
    // Folder holding ConfigQuillan.ini; empty means the executable's folder.
    QString configFolder;
    // The command-line arguments without the program's own path.
    QStringList arguments;
    // Build the window without loading the database client (layout tests).
    bool loadClientLibrary = true;
};

// The command line as the window scans it.
FormStartOptions defaultStartOptions();

class TForm1 : public QWidget {
    Q_OBJECT
public:
    // Builds every control and the database objects; loading the client
    // library happens here and throws FormBuildError when it fails.
    explicit TForm1(FormStartOptions options = defaultStartOptions());
    ~TForm1() override;  // FormDestroy

    // The window's creation step: the settings (or the first-run file), then
    // the history and showing the window. "/executa" never gets here: main()
    // sends it to app::runUnattended.
    void FormCreate();

    // Ending the program: the message loop stops once the running handler
    // returns; main() also checks terminated() before entering the loop.
    void Terminate();
    bool terminated() const { return terminated_; }
    int exitCode() const { return exitCode_; }

    // An export runs on the worker thread.
    bool exportRunning() const;

    // The period editors as the period export reads them.
    platform::DateTime startDate() const;  // "Data Inicial": NullDate when empty or impossible
    platform::DateTime endDate() const;    // "Data Final"
    std::string branchText() const;        // "Filial"

    // A tray that can bring the window back; without one the window keeps
    // its taskbar button.
    bool trayAvailable() const;

public slots:
    void startIncrementalExport();     // "Gerar"
    void startPeriodExport();          // "Exportar"
    void showFromTray();               // "Abrir"
    void quitProgram();                // "Sair"
    void buildPreviousMonthPackage();  // "Gerar pacote do mês anterior"
    // Mouse events on the tray icon: a double click opens the window; the
    // right button's menu is the icon's own context menu.
    void trayActivated(QSystemTrayIcon::ActivationReason reason);
    // Opens (or brings forward) the "Histórico" window.
    void showHistory();

protected:
    void showEvent(QShowEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    // Lets the window and the tray menu react.
    void ProcessMessages();
    void buildControls();
    void loadClientLibrary();
    void showStamp();
    // Shows Base, PastaExportar and the boxes; the stamp through showStamp().
    void showSettings();
    void reportCreateError(const std::exception& e);
    void followHistory();
    void showLastRun();
    void recordRun(const exports::RunSummary& s, const char* kind, std::chrono::system_clock::time_point started);
    // The one guard of the three starts: the settings for the run, or none
    // (the reason in the status line at `place`) when no run may start now.
    std::optional<exports::Settings> settingsForRun(app::StatusPlace place);
    void showStatus(app::StatusPlace place, const std::string& text, bool isError);
    // The gauge and "SEQ:" for the document a run is at.
    void showDocument(long done, long long number);

    FormStartOptions options_;
    std::unique_ptr<app::ConfigFile> config_;
    std::shared_ptr<db::FbClient> client_;
    app::ExportRunner* runner_ = nullptr;
    bool quitAfterRun_ = false;
    // The run history as the tray and the status line show it; from the
    // window's creation step on.
    app::RunMonitor* runMonitor_ = nullptr;
    QPointer<app::HistoryWindow> historyWindow_;  // null once closed
    // Run records on their way to the store; quitting waits for them (a bounded time).
    exports::RunRecordSender recordSender_;
    bool terminated_ = false;
    int exitCode_ = 0;
    bool placed_ = false;  // centred once, on the first show
    QPoint pinnedPos_;     // where the window stays
    bool restoringPos_ = false;

    // The controls, each named after its member (objectName without the
    // underscore) so that tests reach them with findChild.
    QLabel* databaseLabel_ = nullptr;
    QLineEdit* databaseEdit_ = nullptr;
    QLabel* sequenceLabel_ = nullptr;
    QPlainTextEdit* textBuffer_ = nullptr;
    QGroupBox* incrementalGroup_ = nullptr;
    QLabel* stampDateLabel_ = nullptr;
    QLabel* stampTimeLabel_ = nullptr;
    QLineEdit* stampDateEdit_ = nullptr;
    QLineEdit* stampTimeEdit_ = nullptr;
    QPushButton* generateButton_ = nullptr;
    QCheckBox* issuedBox_ = nullptr;
    QCheckBox* receivedBox_ = nullptr;
    QCheckBox* vehiclesBox_ = nullptr;
    QGroupBox* periodGroup_ = nullptr;
    QLabel* startDateLabel_ = nullptr;
    QLabel* endDateLabel_ = nullptr;
    QLabel* branchLabel_ = nullptr;
    TsDateEdit* startDateEdit_ = nullptr;
    TsDateEdit* endDateEdit_ = nullptr;
    TsCalcEdit* branchEdit_ = nullptr;
    QPushButton* exportButton_ = nullptr;
    QLabel* folderLabel_ = nullptr;
    QLineEdit* folderEdit_ = nullptr;
    TGauge* progressGauge_ = nullptr;
    QMenu* trayMenu_ = nullptr;
    QAction* openAction_ = nullptr;
    QAction* historyAction_ = nullptr;  // "Histórico", between "Abrir" and "Sair"
    QAction* quitAction_ = nullptr;
    QAction* previousMonthPackageAction_ = nullptr;  // "Gerar pacote do mês anterior"
    QPushButton* historyButton_ = nullptr;
    QSystemTrayIcon* trayIcon_ = nullptr;
};

// The program icon ("MAINICON"); a null icon when the resource is missing.
QIcon mainIcon();
