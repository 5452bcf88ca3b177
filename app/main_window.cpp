#include "app/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <cstdio>
#include <ctime>
#include <utility>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "app/application.h"
#include "app/export_runner.h"
#include "app/gauge.h"
#include "app/history_window.h"
#include "app/run_monitor.h"
#include "app/status_line.h"
#include "app/stop_signals.h"
#include "app/x11_hints.h"
#include "controls/calc_form.h"
#include "controls/date_edit.h"
#include "controls/edit_button.h"
#include "controls/num_edit.h"
#include "controls/popup_calendar.h"
#include "db/fbclient.h"
#include "export/history/history.h"
#include "export/office/run_record.h"
#include "export/settings/settings.h"
#include "export/sources/firebird/firebird_options.h"
#include "export/core/stamp.h"
#include "platform/codepage.h"
#include "platform/message_box.h"
#include "platform/regional.h"

#include "resources/resources.h"

namespace {

QString fromBytes(const std::string& bytes) { return QString::fromStdString(platform::ansiToUtf8(bytes)); }
std::string toBytes(const QString& text) { return platform::utf8ToAnsi(text.toStdString()); }

bool headlessPlatform() {
    const QString p = QGuiApplication::platformName();
    return p == QLatin1String("offscreen") || p == QLatin1String("minimal");
}

// Every control is named after its member: tests find it with findChild.
template <class T>
T* named(T* object, const char* name) {
    object->setObjectName(QLatin1String(name));
    return object;
}

QLabel* makeLabel(const char* name, QWidget* parent, int left, int top, const char* text) {
    auto* l = named(new QLabel(QString::fromUtf8(text), parent), name);
    l->move(left, top);
    l->resize(l->sizeHint().width(), 13);
    return l;
}

QLineEdit* makeEdit(const char* name, QWidget* parent, int left, int top, int width, int height) {
    auto* e = named(new QLineEdit(parent), name);
    e->setGeometry(left, top, width, height);
    return e;
}

}  // namespace

FormStartOptions defaultStartOptions() {
    FormStartOptions o;
    o.arguments = QCoreApplication::arguments().mid(1);
    return o;
}

QIcon mainIcon() {
    QIcon icon;
    for (const char* name : {"MAINICON", "MAINICON32", "MAINICON16"}) {
        if (auto bytes = resources::FindResource(name)) {
            QPixmap pm;
            if (pm.loadFromData(bytes->data(), uint(bytes->size()), "PNG")) icon.addPixmap(pm);
        }
    }
    return icon;
}

TForm1::TForm1(FormStartOptions options) : QWidget(nullptr), options_(std::move(options)) {
    // The editors open these popups; registering twice is harmless.
    TsPopupCalendar::Register();
    TsCalcForm::Register();
    buildControls();
    runner_ = new app::ExportRunner(this);
    runner_->onConnected = [] { app::reinstallStopSignals(); };
    runner_->onTotal = [this](long total) {
        progressGauge_->setMaxValue(int(total));
        progressGauge_->setMinValue(0);
    };
    loadClientLibrary();
}

TForm1::~TForm1() {
    // FormDestroy: the icon goes first; failures are of no interest here.
    if (trayIcon_) trayIcon_->hide();
    delete runner_;  // a running export stops at its next document
    runner_ = nullptr;
}

void TForm1::buildControls() {
    setWindowTitle(QStringLiteral("Exportar XML"));
    setWindowIcon(mainIcon());
    QFont f;
    f.setFamilies({QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans")});
    f.setPixelSize(11);
    setFont(f);
    resize(348, 323);

    databaseLabel_ = makeLabel("databaseLabel", this, 8, 16, "Base de Dados");
    databaseEdit_ = makeEdit("databaseEdit", this, 16, 32, 321, 21);
    databaseEdit_->setReadOnly(true);
    sequenceLabel_ = makeLabel("sequenceLabel", this, 128, 8, "");
    sequenceLabel_->resize(348 - 128, 13);  // room for "SEQ: " and any number
    textBuffer_ = named(new QPlainTextEdit(this), "textBuffer");
    textBuffer_->setGeometry(232, 8, 33, 18);
    textBuffer_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    textBuffer_->setVisible(false);

    incrementalGroup_ = named(new QGroupBox(QStringLiteral("Exportação pela Alteração"), this), "incrementalGroup");
    incrementalGroup_->setGeometry(16, 56, 321, 105);
    stampDateLabel_ = makeLabel("stampDateLabel", incrementalGroup_, 8, 16, "Data Ultima");
    stampTimeLabel_ = makeLabel("stampTimeLabel", incrementalGroup_, 112, 16, "Hora Ultima");
    stampDateEdit_ = makeEdit("stampDateEdit", incrementalGroup_, 16, 30, 89, 21);
    stampDateEdit_->setReadOnly(true);
    stampDateEdit_->setText(QStringLiteral("01/01/1900"));
    stampTimeEdit_ = makeEdit("stampTimeEdit", incrementalGroup_, 112, 30, 89, 21);
    stampTimeEdit_->setReadOnly(true);
    stampTimeEdit_->setText(QStringLiteral("00:00:00"));
    generateButton_ = named(new QPushButton(QStringLiteral("Gerar"), incrementalGroup_), "generateButton");
    generateButton_->setGeometry(230, 24, 75, 25);
    issuedBox_ = named(new QCheckBox(QStringLiteral("Notas Emitidas"), incrementalGroup_), "issuedBox");
    issuedBox_->setGeometry(8, 56, 97, 17);
    receivedBox_ = named(new QCheckBox(QStringLiteral("Notas Recebidas"), incrementalGroup_), "receivedBox");
    receivedBox_->setGeometry(8, 80, 105, 17);
    vehiclesBox_ = named(new QCheckBox(QStringLiteral("Notas Emitidas de Veículos"), incrementalGroup_), "vehiclesBox");
    vehiclesBox_->setGeometry(128, 56, 185, 17);

    periodGroup_ = named(new QGroupBox(QStringLiteral("Exportar por período - Notas Emitidas"), this), "periodGroup");
    periodGroup_->setGeometry(16, 168, 321, 73);
    startDateLabel_ = makeLabel("startDateLabel", periodGroup_, 16, 16, "Data Inicial");
    endDateLabel_ = makeLabel("endDateLabel", periodGroup_, 104, 16, "Data Final");
    // On the row of the date captions: one row higher it would sit on the
    // group's caption, which is wider in this font than in the design.
    branchLabel_ = makeLabel("branchLabel", periodGroup_, 192, 16, "Filial");
    // The period's dates: "!99/99/9999;1; ", checked when the focus leaves,
    // no default date assumed, glyph not blended and not greyed.
    for (auto [slot, name] : {std::pair{&startDateEdit_, "startDateEdit"}, std::pair{&endDateEdit_, "endDateEdit"}}) {
        auto* e = named(new TsDateEdit(periodGroup_), name);
        e->SetEditMask(QStringLiteral("!99/99/9999;1; "));
        e->setMaxLength(10);
        e->SetCheckOnExitProp(true);
        e->SetAssumeDefault(false);
        e->Button()->SetGlyphBlend(0);
        e->Button()->SetGlyphGrayed(false);
        *slot = e;
    }
    startDateEdit_->setGeometry(16, 32, 81, 21);
    endDateEdit_->setGeometry(104, 32, 81, 21);
    branchEdit_ = named(new TsCalcEdit(periodGroup_), "branchEdit");
    branchEdit_->Button()->SetGlyphBlend(0);
    branchEdit_->Button()->SetGlyphGrayed(false);
    branchEdit_->setGeometry(192, 31, 33, 21);
    exportButton_ = named(new QPushButton(QStringLiteral("Exportar"), periodGroup_), "exportButton");
    exportButton_->setGeometry(248, 32, 57, 25);

    folderLabel_ = makeLabel("folderLabel", this, 8, 248, "Exportar Arquivos para:");
    folderEdit_ = makeEdit("folderEdit", this, 8, 264, 321, 21);
    folderEdit_->setReadOnly(true);
    // In the gap between the period group and the output folder.
    historyButton_ = named(new QPushButton(QString::fromUtf8("Histórico"), this), "historyButton");
    historyButton_->setGeometry(256, 243, 73, 20);
    progressGauge_ = named(new TGauge(this), "progressGauge");
    progressGauge_->setGeometry(8, 296, 321, 20);

    // Tab order: the window's children, then each group's own order.
    QWidget* chain[] = {databaseEdit_,  folderEdit_, textBuffer_,   generateButton_, stampTimeEdit_,
                        stampDateEdit_, issuedBox_,  receivedBox_,  vehiclesBox_,    startDateEdit_,
                        endDateEdit_,   branchEdit_, exportButton_, historyButton_};
    for (std::size_t i = 1; i < std::size(chain); ++i) setTabOrder(chain[i - 1], chain[i]);

    trayMenu_ = named(new QMenu(this), "trayMenu");
    openAction_ = named(trayMenu_->addAction(QStringLiteral("Abrir")), "openAction");
    historyAction_ = named(trayMenu_->addAction(QString::fromUtf8("Histórico")), "historyAction");
    previousMonthPackageAction_ = named(trayMenu_->addAction(QStringLiteral("Gerar pacote do mês anterior")),
                                        "previousMonthPackageAction");
    quitAction_ = named(trayMenu_->addAction(QStringLiteral("Sair")), "quitAction");
    trayIcon_ = named(new QSystemTrayIcon(this), "trayIcon");

    connect(generateButton_, &QPushButton::clicked, this, &TForm1::startIncrementalExport);
    connect(exportButton_, &QPushButton::clicked, this, &TForm1::startPeriodExport);
    connect(openAction_, &QAction::triggered, this, &TForm1::showFromTray);
    connect(quitAction_, &QAction::triggered, this, &TForm1::quitProgram);
    connect(historyAction_, &QAction::triggered, this, &TForm1::showHistory);
    connect(historyButton_, &QPushButton::clicked, this, &TForm1::showHistory);
    connect(previousMonthPackageAction_, &QAction::triggered, this, &TForm1::buildPreviousMonthPackage);
    connect(trayIcon_, &QSystemTrayIcon::activated, this, &TForm1::trayActivated);
}

void TForm1::loadClientLibrary() {
    if (!options_.loadClientLibrary) return;
    // The connection's client library kind is a layout property: a library
    // that cannot be loaded stops the window from being built at all.
    try {
        client_ = db::FbClient::load(db::clientLibraryName());
    } catch (const std::exception& e) {
        throw FormBuildError(std::string("Error reading IBDatabase1.ServerType: ") + e.what());
    }
}

void TForm1::FormCreate() {
    trayIcon_->setIcon(mainIcon());
    trayIcon_->setToolTip(QString::fromUtf8(kApplicationTitle));
    trayIcon_->setContextMenu(trayMenu_);
    // No desktop to show it on without a display.
    if (!headlessPlatform()) trayIcon_->show();

    try {
        const QString folder = options_.configFolder.isEmpty() ? QCoreApplication::applicationDirPath()
                                                               : options_.configFolder;
        config_ = std::make_unique<app::ConfigFile>(app::configFilePath(folder.toStdString()));

        if (!config_->exists()) {
            app::createDefaultSettings(*config_);
            platform::showMessageBox(QString::fromUtf8(kApplicationTitle),
                                     QString::fromUtf8("Necessário configuarar arquivo \"ConfigQuillan.ini\""),
                                     platform::MessageIcon::None);
            Terminate();
            return;
        }
        showSettings();
        followHistory();
        show();
        showLastRun();
    } catch (const std::exception& e) {
        reportCreateError(e);
    } catch (...) {
        reportCreateError(std::runtime_error("Unknown error"));
    }
}

bool TForm1::trayAvailable() const { return !headlessPlatform() && QSystemTrayIcon::isSystemTrayAvailable(); }

void TForm1::followHistory() {
    runMonitor_ = named(new app::RunMonitor(config_->fileName(), this), "runMonitor");
    connect(runMonitor_, &app::RunMonitor::changed, this, [this] {
        const QIcon icon = runMonitor_->needsAttention() ? app::iconWithWarning(mainIcon()) : mainIcon();
        trayIcon_->setIcon(icon);
        trayIcon_->setToolTip(runMonitor_->toolTip());
        // Without a tray the taskbar button carries the mark.
        if (!trayAvailable()) setWindowIcon(icon);
    });
    runMonitor_->refresh();
}

void TForm1::showLastRun() {
    const QString text = runMonitor_ ? runMonitor_->statusText() : QString();
    if (!text.isEmpty()) showStatus(app::StatusPlace::Incremental, text.toStdString(), runMonitor_->needsAttention());
}

void TForm1::recordRun(const exports::RunSummary& s, const char* kind, std::chrono::system_clock::time_point started) {
    if (!config_) return;
    const std::string history = exports::historyFileFor(config_->fileName());
    exports::RunRecord run = exports::recordOf(s, kind, started, std::chrono::system_clock::now());
    std::optional<exports::StoreSettings> store;
    try {
        store = exports::storeSettingsIn(exports::readSettings(config_->fileName()).section);
    } catch (const std::exception&) {
    }
    if (!store) {
        // A history that cannot be written must not turn a good run into a bad one.
        exports::appendRun(history, run);
        // The tray and the notification need not wait for the file watcher.
        if (runMonitor_) runMonitor_->refresh();
        return;
    }
    // The office's copy in the store, on a thread of its own: a store that does
    // not answer must not freeze the window. The history's line follows the
    // send (noting a failure) and reaches the tray through the file watcher.
    recordSender_.send(std::move(store), history, std::move(run), s, [](const std::string& error) {
        if (!error.empty()) std::fprintf(stderr, "%s\n", exports::messageText(error).c_str());
    });
}

void TForm1::showHistory() {
    if (!historyWindow_) {
        const std::string path = runMonitor_ ? runMonitor_->historyPath()
                                             : exports::historyFileFor(config_ ? config_->fileName() : std::string());
        historyWindow_ = new app::HistoryWindow(path, this);
        historyWindow_->setAttribute(Qt::WA_DeleteOnClose);
        // A run ending while the list is open shows up in it.
        if (runMonitor_)
            connect(runMonitor_, &app::RunMonitor::changed, historyWindow_.data(), &app::HistoryWindow::reload);
    } else {
        historyWindow_->reload();
    }
    historyWindow_->show();
    historyWindow_->raise();
    historyWindow_->activateWindow();
}

void TForm1::showSettings() {
    const exports::Settings s = exports::readSettings(config_->fileName());
    databaseEdit_->setText(fromBytes(s.database));
    showStamp();
    folderEdit_->setText(fromBytes(s.outputFolder));
    issuedBox_->setChecked(s.kinds.issued);
    vehiclesBox_->setChecked(s.kinds.vehicles);
    receivedBox_->setChecked(s.kinds.received);
}

void TForm1::reportCreateError(const std::exception& e) {
    TApplication::ShowException(e);
    // The program stays in the tray with the window hidden. On a desktop
    // without a tray nothing could reach it again: it ends instead of lingering.
    if (headlessPlatform() || !QSystemTrayIcon::isSystemTrayAvailable()) {
        exitCode_ = 1;
        Terminate();
    }
}

void TForm1::Terminate() {
    // "Sair" during a run: it stops at its next document, then the program ends.
    if (exportRunning()) {
        quitAfterRun_ = true;
        runner_->requestStop();
        return;
    }
    terminated_ = true;
    QCoreApplication::exit(exitCode_);
}

void TForm1::ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

platform::DateTime TForm1::startDate() const { return startDateEdit_->DateValue(); }
platform::DateTime TForm1::endDate() const { return endDateEdit_->DateValue(); }
std::string TForm1::branchText() const { return toBytes(branchEdit_->Text()); }

bool TForm1::exportRunning() const { return runner_ && runner_->running(); }

// The stored stamp in the user's regional formats (the file keeps dd/mm/yyyy
// hh:mm:ss); a stamp that cannot be read is shown as it stands.
void TForm1::showStamp() {
    if (!config_) return;
    try {
        const exports::StampRecord r = exports::readStamp(config_->fileName());
        platform::DateTime date = 0;
        if (!platform::tryEncodeDate(r.moment.year, r.moment.month, r.moment.day, date)) return;
        const platform::FormatSettings fs = platform::currentFormatSettings();
        stampDateEdit_->setText(fromBytes(platform::formatShortDate(date, fs)));
        stampTimeEdit_->setText(fromBytes(
            platform::formatLongTime(((r.moment.hour * 60 + r.moment.minute) * 60 + r.moment.second) / 86400.0, fs)));
    } catch (const std::exception&) {
    }
}

std::optional<exports::Settings> TForm1::settingsForRun(app::StatusPlace place) {
    if (exportRunning()) {
        showStatus(place, "Uma exportação já está em andamento", true);
        return std::nullopt;
    }
    if (!config_) {
        showStatus(place, "Configuração não carregada", true);
        return std::nullopt;
    }
    // Read at each start, so a setting fixed in the file counts without a restart.
    exports::Settings settings = exports::readSettings(config_->fileName());
    return settings;
}

void TForm1::showStatus(app::StatusPlace place, const std::string& text, bool isError) {
    app::showStatus(*this, place == app::StatusPlace::Incremental ? incrementalGroup_ : periodGroup_, place, text,
                    isError);
}

void TForm1::showDocument(long done, long long number) {
    progressGauge_->setProgress(int(done + 1));
    sequenceLabel_->setText(QStringLiteral("SEQ: ") + QString::number(number));
}

void TForm1::startIncrementalExport() {
    using app::StatusPlace;
    const auto settings = settingsForRun(StatusPlace::Incremental);
    if (!settings) return;
    exports::IncrementalJob job = exports::incrementalJob(*settings);
    job.sourceOptions = exports::firebirdOptions(client_);
    // The boxes may be ticked for this run only; ticking is never saved.
    job.kinds.issued = issuedBox_->isChecked();
    job.kinds.received = receivedBox_->isChecked();
    job.kinds.vehicles = vehiclesBox_->isChecked();
    progressGauge_->setProgress(0);
    runner_->onDocument = [this](long done, long long number) { showDocument(done, number); };
    runner_->onFinished = [this, started = std::chrono::system_clock::now()](const exports::RunSummary& s) {
        const bool failed = s.result != exports::Result::Complete;
        showStatus(StatusPlace::Incremental, exports::windowText(s, true), failed);
        showStamp();
        recordRun(s, exports::kRunWindow, started);
        if (quitAfterRun_) Terminate();
    };
    showStatus(StatusPlace::Incremental, "Exportando...", false);
    runner_->startIncremental(std::move(job));
}

void TForm1::startPeriodExport() {
    using app::StatusPlace;
    const auto settings = settingsForRun(StatusPlace::Period);
    if (!settings) return;
    exports::PeriodJob job;
    static_cast<exports::ConnectionJob&>(job) = exports::connectionJob(*settings);
    job.sourceOptions = exports::firebirdOptions(client_);
    // Read once, at the start.
    job.startDate = startDate();
    job.endDate = endDate();
    job.branch = branchText();
    progressGauge_->setProgress(0);
    runner_->onDocument = [this](long done, long long) { progressGauge_->setProgress(int(done + 1)); };
    runner_->onFinished = [this, started = std::chrono::system_clock::now()](const exports::RunSummary& s) {
        const bool failed = s.result != exports::Result::Complete;
        showStatus(StatusPlace::Period, exports::windowText(s, false), failed);
        recordRun(s, exports::kRunPeriod, started);
        if (quitAfterRun_) Terminate();
    };
    showStatus(StatusPlace::Period, "Exportando...", false);
    runner_->startPeriod(std::move(job));
}

// The tray's way to the accountant's package: last month's, into the output folder.
void TForm1::buildPreviousMonthPackage() {
    using app::StatusPlace;
    const auto settings = settingsForRun(StatusPlace::Incremental);
    if (!settings) return;
    exports::PackageJob job;
    static_cast<exports::ConnectionJob&>(job) = exports::connectionJob(*settings);
    job.sourceOptions = exports::firebirdOptions(client_);
    job.yearMonth = exports::previousMonth(std::time(nullptr));
    progressGauge_->setProgress(0);
    runner_->onDocument = [this](long done, long long number) { showDocument(done, number); };
    runner_->onFinished = [this, month = job.yearMonth,
                           started = std::chrono::system_clock::now()](const exports::RunSummary& s) {
        const bool failed = s.result != exports::Result::Complete;
        const std::string text = "Pacote " + (failed ? month : s.package) + ": " + exports::windowText(s, false);
        showStatus(StatusPlace::Incremental, text, failed);
        recordRun(s, exports::kRunPackage, started);
        // The window is often hidden when the tray starts it.
        if (trayIcon_ && trayIcon_->isVisible())
            trayIcon_->showMessage(QString::fromUtf8(kApplicationTitle), QString::fromUtf8(text),
                                   failed ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information);
        if (quitAfterRun_) Terminate();
    };
    showStatus(StatusPlace::Incremental, "Gerando o pacote de " + job.yearMonth + "...", false);
    runner_->startPackage(std::move(job));
}

void TForm1::showFromTray() {
    if (isMinimized()) showNormal();
    else show();
    raise();
    activateWindow();
    app::applyX11WindowHints(this, trayAvailable());
}

void TForm1::quitProgram() {
    ProcessMessages();
    Terminate();
}

void TForm1::trayActivated(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick) showFromTray();
}

void TForm1::showEvent(QShowEvent* e) {
    if (!placed_) {
        // Centred on the desktop the first time, then kept there.
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
        pinnedPos_ = pos();
        placed_ = true;
    }
    app::applyX11WindowHints(this, trayAvailable());
    QWidget::showEvent(e);
}

void TForm1::moveEvent(QMoveEvent* e) {
    QWidget::moveEvent(e);
    // The window cannot be moved: put it back where it was placed. A
    // maximised or minimised window is the window manager's business.
    if (!placed_ || restoringPos_ || windowState() != Qt::WindowNoState || pos() == pinnedPos_) return;
    restoringPos_ = true;
    QTimer::singleShot(0, this, [this] {
        if (windowState() == Qt::WindowNoState) move(pinnedPos_);
        restoringPos_ = false;
    });
}

void TForm1::closeEvent(QCloseEvent* e) {
    // The main window: closing it ends the program.
    e->accept();
    Terminate();
}
