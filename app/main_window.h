#pragma once
// The main window: the two export groups, the settings it shows, the progress
// gauge, the tray icon with its menu, and the database objects the exports
// read through.

#include <QLabel>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

#include "app/config_file.h"
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

inline constexpr const char* kApplicationTitle = "Exportação de XML";

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

    // The window's creation step: tray icon, settings (or the first-run file),
    // then "/executa" or showing the window.
    void FormCreate();

    // Ending the program: the message loop stops once the running handler
    // returns; main() also checks terminated() before entering the loop.
    void Terminate();
    bool terminated() const { return terminated_; }
    int exitCode() const { return exitCode_; }
    void setExitCode(int code) { exitCode_ = code; }

    // Lets the window and the tray menu react.
    void ProcessMessages();

    // An export runs on the worker thread.
    bool exportRunning() const;

    // The settings file, once FormCreate has composed its name.
    app::ConfigFile* config() { return config_.get(); }

    // Values as the exports read them. Texts are the settings' bytes.
    std::string databaseNameText() const;  // databaseEdit
    std::string outputFolderText() const;  // folderEdit
    platform::DateTime startDate() const;  // startDateEdit: NullDate when empty or impossible
    platform::DateTime endDate() const;    // endDateEdit
    std::string branchText() const;        // branchEdit

    // Controls (captions as the window shows them).
    QLabel* databaseLabel;
    QLineEdit* databaseEdit;
    QLabel* sequenceLabel;
    QPlainTextEdit* textBuffer;
    QGroupBox* incrementalGroup;
    QLabel* stampDateLabel;
    QLabel* stampTimeLabel;
    QLineEdit* stampDateEdit;
    QLineEdit* stampTimeEdit;
    QPushButton* generateButton;
    QCheckBox* issuedBox;
    QCheckBox* receivedBox;
    QCheckBox* vehiclesBox;
    QGroupBox* periodGroup;
    QLabel* startDateLabel;
    QLabel* endDateLabel;
    QLabel* branchLabel;
    TsDateEdit* startDateEdit;
    TsDateEdit* endDateEdit;
    TsCalcEdit* branchEdit;
    QPushButton* exportButton;
    QLabel* folderLabel;
    QLineEdit* folderEdit;
    TGauge* progressGauge;
    QMenu* trayMenu;
    QAction* openAction;
    QAction* historyAction;  // "Histórico", between "Abrir" and "Sair"
    QAction* quitAction;
    QAction* previousMonthPackageAction;  // "Gerar pacote do mês anterior"
    QPushButton* historyButton;
    QSystemTrayIcon* trayIcon;

    // The run history as the tray and the status line show it; from the
    // window's creation step on (not in the unattended run).
    app::RunMonitor* runMonitor() const { return runMonitor_; }
    // A tray that can bring the window back; without one the window keeps
    // its taskbar button.
    bool trayAvailable() const;

public slots:
    void startIncrementalExport();  // "Gerar"
    void startPeriodExport();       // "Exportar"
    void showFromTray();            // "Abrir"
    void quitProgram();             // "Sair"
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
    void buildControls();
    void loadClientLibrary();
    void showStamp();
    void loadSettings();
    void reportCreateError(const std::exception& e, bool unattended);
    void followHistory();
    void showLastRun();
    void recordRun(const exports::RunSummary& s, const char* kind, std::chrono::system_clock::time_point started);
    // False, with the reason in the status line, when no run of the settings may start now.
    bool readyForSettingsRun();
    // The gauge and "SEQ:" for the document a run is at.
    void showDocument(long done, long long number);

    FormStartOptions options_;
    std::unique_ptr<app::ConfigFile> config_;
    std::shared_ptr<db::FbClient> client_;
    app::ExportRunner* runner_ = nullptr;
    bool quitAfterRun_ = false;
    app::RunMonitor* runMonitor_ = nullptr;
    QPointer<app::HistoryWindow> historyWindow_;  // null once closed
    bool terminated_ = false;
    int exitCode_ = 0;
    bool placed_ = false;       // centred once, on the first show
    QPoint pinnedPos_;          // where the window stays
    bool restoringPos_ = false;
};

// The application's main window.
extern TForm1* Form1;

// The program icon ("MAINICON"); a null icon when the resource is missing.
QIcon mainIcon();
