#pragma once
// The main window: the two export groups, the settings it shows, the progress
// gauge, the tray icon with its menu, and the database objects the exports
// read through.

#include <QLabel>
#include <QSystemTrayIcon>
#include <QWidget>
#include <memory>
#include <stdexcept>
#include <string>

#include "app/config_file.h"
#include "db/ibdatabase.h"
#include "db/ibquery.h"
#include "platform/datetime.h"

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
namespace app {
class HistoryWindow;
class RunMonitor;
}  // namespace app

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

    // Lets the window and the tray menu react during a long run.
    void ProcessMessages();

    // The settings file, once FormCreate has composed its name.
    app::ConfigFile* config() { return config_.get(); }

    // Values as the exports read them. Texts are the settings' bytes.
    std::string databaseNameText() const;  // Edit1
    std::string outputFolderText() const;  // Edit2
    std::string edtDataText() const;       // EdtData
    std::string edtHoraText() const;       // EdtHora
    platform::DateTime startDate() const;  // XDateEdit1: NullDate when empty or impossible
    platform::DateTime endDate() const;    // XDateEdit2
    std::string branchText() const;        // XNumEdit1

    // Controls, by their designer names.
    QLabel* Label1;
    QLineEdit* Edit1;
    QLabel* Label7;
    QPlainTextEdit* Memo2;
    QGroupBox* GroupBox1;
    QLabel* Label2;
    QLabel* Label3;
    QLineEdit* EdtData;
    QLineEdit* EdtHora;
    QPushButton* Button1;
    QCheckBox* CheckBox1;
    QCheckBox* CheckBox2;
    QCheckBox* CheckBox3;
    QGroupBox* GroupBox2;
    QLabel* Label5;
    QLabel* Label6;
    QLabel* Label8;
    TsDateEdit* XDateEdit1;
    TsDateEdit* XDateEdit2;
    TsCalcEdit* XNumEdit1;
    QPushButton* Button2;
    QLabel* Label4;
    QLineEdit* Edit2;
    TGauge* Gauge1;
    QMenu* PopupMenu1;
    QAction* Abrir1;
    QAction* historyAction;  // "Histórico", between "Abrir" and "Sair"
    QAction* Sair1;
    QPushButton* historyButton;
    QSystemTrayIcon* TrayIcon;

    // The run history as the tray and the status line show it; from the
    // window's creation step on (not in the unattended run).
    app::RunMonitor* runMonitor() const { return runMonitor_; }
    // A tray that can bring the window back; without one the window keeps
    // its taskbar button.
    bool trayAvailable() const;

    db::TIBDatabase IBDatabase1;
    db::TIBTransaction IBTransaction1;
    db::TIBQuery IBQuery1;
    db::TField IBQuery1PAI_SEQU;
    db::TField IBQuery1DIG_DATAHORA;
    db::TIBQuery QExportar;
    db::TIBQuery IBQuery2;
    db::TIBQuery IBQuery3;

public slots:
    void Button1Click();  // "Gerar"
    void Button2Click();  // "Exportar"
    void Abrir1Click();
    void Sair1Click();
    // Mouse events on the tray icon: a double click opens the window; the
    // right button's menu is the icon's own context menu.
    void WndProc(QSystemTrayIcon::ActivationReason reason);
    // Opens (or brings forward) the "Histórico" window.
    void showHistory();

protected:
    void showEvent(QShowEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    void buildControls();
    void buildDatabaseObjects();
    void loadSettings();
    void reportCreateError(const std::exception& e, bool unattended);
    void followHistory();
    void showLastRun();

    FormStartOptions options_;
    std::unique_ptr<app::ConfigFile> config_;
    bool terminated_ = false;
    int exitCode_ = 0;
    bool placed_ = false;       // centred once, on the first show
    QPoint pinnedPos_;          // where the window stays
    bool restoringPos_ = false;
    app::RunMonitor* runMonitor_ = nullptr;
    app::HistoryWindow* historyWindow_ = nullptr;
};

// The application's main window.
extern TForm1* Form1;

// The program icon ("MAINICON"); a null icon when the resource is missing.
QIcon mainIcon();
