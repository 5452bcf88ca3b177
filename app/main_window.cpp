#include "app/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "app/application.h"
#include "app/exports.h"
#include "app/gauge.h"
#include "app/history_window.h"
#include "app/run_monitor.h"
#include "app/run_summary.h"
#include "app/x11_hints.h"
#include "controls/calc_form.h"
#include "controls/date_edit.h"
#include "controls/edit_button.h"
#include "controls/num_edit.h"
#include "controls/popup_calendar.h"
#include "db/queries.h"
#include "platform/codepage.h"
#include "platform/message_box.h"

#include "resources/resources.h"

TForm1* Form1 = nullptr;

namespace {

QString fromBytes(const std::string& bytes) { return QString::fromStdString(platform::ansiToUtf8(bytes)); }
std::string toBytes(const QString& text) { return platform::utf8ToAnsi(text.toStdString()); }

bool headlessPlatform() {
    const QString p = QGuiApplication::platformName();
    return p == QLatin1String("offscreen") || p == QLatin1String("minimal");
}

// "dd/mm/yyyy" as the masked date edits hold it; NullDate unless complete and real.
QLabel* makeLabel(QWidget* parent, int left, int top, const char* text) {
    auto* l = new QLabel(QString::fromUtf8(text), parent);
    l->move(left, top);
    l->resize(l->sizeHint().width(), 13);
    return l;
}

QLineEdit* makeEdit(QWidget* parent, int left, int top, int width, int height) {
    auto* e = new QLineEdit(parent);
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

TForm1::TForm1(FormStartOptions options) : QWidget(nullptr), options_(std::move(options)),
    IBQuery1PAI_SEQU(&IBQuery1, "PAI_SEQU"), IBQuery1DIG_DATAHORA(&IBQuery1, "DIG_DATAHORA") {
    Form1 = this;
    // The editors open these popups; registering twice is harmless.
    TsPopupCalendar::Register();
    TsCalcForm::Register();
    buildControls();
    buildDatabaseObjects();
}

TForm1::~TForm1() {
    // FormDestroy: the icon goes first; failures are of no interest here.
    if (TrayIcon) TrayIcon->hide();
    try {
        IBDatabase1.close();  // commits the open transaction
    } catch (...) {
    }
    if (Form1 == this) Form1 = nullptr;
}

void TForm1::buildControls() {
    setWindowTitle(QStringLiteral("Exportar XML"));
    setWindowIcon(mainIcon());
    QFont f;
    f.setFamilies({QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans")});
    f.setPixelSize(11);
    setFont(f);
    resize(348, 323);

    Label1 = makeLabel(this, 8, 16, "Base de Dados");
    Edit1 = makeEdit(this, 16, 32, 321, 21);
    Edit1->setReadOnly(true);
    Label7 = makeLabel(this, 128, 8, "");
    Label7->resize(348 - 128, 13);  // room for "SEQ: " and any number
    Memo2 = new QPlainTextEdit(this);
    Memo2->setGeometry(232, 8, 33, 18);
    Memo2->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo2->setVisible(false);

    GroupBox1 = new QGroupBox(QStringLiteral("Exportação pela Alteração"), this);
    GroupBox1->setGeometry(16, 56, 321, 105);
    Label2 = makeLabel(GroupBox1, 8, 16, "Data Ultima");
    Label3 = makeLabel(GroupBox1, 112, 16, "Hora Ultima");
    EdtData = makeEdit(GroupBox1, 16, 30, 89, 21);
    EdtData->setReadOnly(true);
    EdtData->setText(QStringLiteral("01/01/1900"));
    EdtHora = makeEdit(GroupBox1, 112, 30, 89, 21);
    EdtHora->setReadOnly(true);
    EdtHora->setText(QStringLiteral("00:00:00"));
    Button1 = new QPushButton(QStringLiteral("Gerar"), GroupBox1);
    Button1->setGeometry(230, 24, 75, 25);
    CheckBox1 = new QCheckBox(QStringLiteral("Notas Emitidas"), GroupBox1);
    CheckBox1->setGeometry(8, 56, 97, 17);
    CheckBox2 = new QCheckBox(QStringLiteral("Notas Recebidas"), GroupBox1);
    CheckBox2->setGeometry(8, 80, 105, 17);
    CheckBox3 = new QCheckBox(QStringLiteral("Notas Emitidas de Veículos"), GroupBox1);
    CheckBox3->setGeometry(128, 56, 185, 17);

    GroupBox2 = new QGroupBox(QStringLiteral("Exportar por período - Notas Emitidas"), this);
    GroupBox2->setGeometry(16, 168, 321, 73);
    Label5 = makeLabel(GroupBox2, 16, 16, "Data Inicial");
    Label6 = makeLabel(GroupBox2, 104, 16, "Data Final");
    // On the row of the date captions: one row higher it would sit on the
    // group's caption, which is wider in this font than in the design.
    Label8 = makeLabel(GroupBox2, 192, 16, "Filial");
    // The period's dates: "!99/99/9999;1; ", checked when the focus leaves,
    // no default date assumed, glyph not blended and not greyed.
    for (TsDateEdit** slot : {&XDateEdit1, &XDateEdit2}) {
        auto* e = new TsDateEdit(GroupBox2);
        e->SetEditMask(QStringLiteral("!99/99/9999;1; "));
        e->setMaxLength(10);
        e->SetCheckOnExitProp(true);
        e->SetAssumeDefault(false);
        e->Button()->SetGlyphBlend(0);
        e->Button()->SetGlyphGrayed(false);
        *slot = e;
    }
    XDateEdit1->setGeometry(16, 32, 81, 21);
    XDateEdit2->setGeometry(104, 32, 81, 21);
    XNumEdit1 = new TsCalcEdit(GroupBox2);
    XNumEdit1->Button()->SetGlyphBlend(0);
    XNumEdit1->Button()->SetGlyphGrayed(false);
    XNumEdit1->setGeometry(192, 31, 33, 21);
    Button2 = new QPushButton(QStringLiteral("Exportar"), GroupBox2);
    Button2->setGeometry(248, 32, 57, 25);

    Label4 = makeLabel(this, 8, 248, "Exportar Arquivos para:");
    Edit2 = makeEdit(this, 8, 264, 321, 21);
    Edit2->setReadOnly(true);
    // In the gap between the period group and the output folder.
    historyButton = new QPushButton(QString::fromUtf8("Histórico"), this);
    historyButton->setGeometry(256, 243, 73, 20);
    Gauge1 = new TGauge(this);
    Gauge1->setGeometry(8, 296, 321, 20);

    // Tab order: the window's children, then each group's own order.
    QWidget* chain[] = {Edit1,     Edit2,     Memo2,     Button1,    EdtHora,    EdtData,   CheckBox1,
                        CheckBox2, CheckBox3, XDateEdit1, XDateEdit2, XNumEdit1, Button2, historyButton};
    for (std::size_t i = 1; i < std::size(chain); ++i) setTabOrder(chain[i - 1], chain[i]);

    PopupMenu1 = new QMenu(this);
    Abrir1 = PopupMenu1->addAction(QStringLiteral("Abrir"));
    historyAction = PopupMenu1->addAction(QString::fromUtf8("Histórico"));
    Sair1 = PopupMenu1->addAction(QStringLiteral("Sair"));
    TrayIcon = new QSystemTrayIcon(this);

    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
    connect(Abrir1, &QAction::triggered, this, &TForm1::Abrir1Click);
    connect(Sair1, &QAction::triggered, this, &TForm1::Sair1Click);
    connect(historyAction, &QAction::triggered, this, &TForm1::showHistory);
    connect(historyButton, &QPushButton::clicked, this, &TForm1::showHistory);
    connect(TrayIcon, &QSystemTrayIcon::activated, this, &TForm1::WndProc);
}

void TForm1::buildDatabaseObjects() {
    IBDatabase1.params() = {"user_name=KORVA", "password=##736948"};
    IBDatabase1.setDefaultTransaction(&IBTransaction1);
    IBTransaction1.setDefaultDatabase(&IBDatabase1);
    for (db::TIBQuery* q : {&IBQuery1, &QExportar, &IBQuery2, &IBQuery3}) {
        q->setDatabase(&IBDatabase1);
        q->setTransaction(&IBTransaction1);
    }
    for (auto line : db::queries::IBQuery1) IBQuery1.sql().add(std::string(line));
    for (auto line : db::queries::QExportar) QExportar.sql().add(std::string(line));
    for (auto line : db::queries::IBQuery2) IBQuery2.sql().add(std::string(line));

    if (!options_.loadClientLibrary) return;
    // The connection's client library kind is a layout property: a library
    // that cannot be loaded stops the window from being built at all.
    try {
        IBDatabase1.setClient(db::FbClient::load(db::clientLibraryName()));
    } catch (const std::exception& e) {
        throw FormBuildError(std::string("Error reading IBDatabase1.ServerType: ") + e.what());
    }
}

void TForm1::FormCreate() {
    TrayIcon->setIcon(mainIcon());
    TrayIcon->setToolTip(QString::fromUtf8(kApplicationTitle));
    TrayIcon->setContextMenu(PopupMenu1);
    // No desktop to show it on without a display.
    if (!headlessPlatform()) TrayIcon->show();

    bool unattended = false;
    try {
        const QString folder =
            options_.configFolder.isEmpty() ? QCoreApplication::applicationDirPath() : options_.configFolder;
        config_ = std::make_unique<app::ConfigFile>(app::configFilePath(folder.toStdString()));

        if (!config_->exists()) {
            app::createDefaultSettings(*config_);
            platform::showMessageBox(QString::fromUtf8(kApplicationTitle),
                                     QString::fromUtf8("Necessário configuarar arquivo \"ConfigQuillan.ini\""),
                                     platform::MessageIcon::None);
            Terminate();
            return;
        }
        loadSettings();

        for (const QString& arg : options_.arguments) {
            if (arg == QLatin1String("/executa")) {
                unattended = true;
                Button1Click();
                Terminate();
                return;
            }
        }
        followHistory();
        show();
        showLastRun();
    } catch (const std::exception& e) {
        reportCreateError(e, unattended);
    } catch (...) {
        reportCreateError(std::runtime_error("Unknown error"), unattended);
    }
}

bool TForm1::trayAvailable() const { return !headlessPlatform() && QSystemTrayIcon::isSystemTrayAvailable(); }

void TForm1::followHistory() {
    runMonitor_ = new app::RunMonitor(config_->fileName(), this);
    connect(runMonitor_, &app::RunMonitor::changed, this, [this] {
        const QIcon icon = runMonitor_->needsAttention() ? app::iconWithWarning(mainIcon()) : mainIcon();
        TrayIcon->setIcon(icon);
        TrayIcon->setToolTip(runMonitor_->toolTip());
        // Without a tray the taskbar button carries the mark.
        if (!trayAvailable()) setWindowIcon(icon);
    });
    runMonitor_->refresh();
}

void TForm1::showLastRun() {
    const QString text = runMonitor_ ? runMonitor_->statusText() : QString();
    if (!text.isEmpty())
        app::showStatus(*this, app::StatusPlace::Incremental, text.toStdString(), runMonitor_->needsAttention());
}

void TForm1::showHistory() {
    if (!historyWindow_) {
        const std::string path = runMonitor_ ? runMonitor_->historyPath()
                                             : exports::historyFileFor(config_ ? config_->fileName() : std::string());
        historyWindow_ = new app::HistoryWindow(path, this);
        historyWindow_->setAttribute(Qt::WA_DeleteOnClose);
        connect(historyWindow_, &QObject::destroyed, this, [this] { historyWindow_ = nullptr; });
    } else {
        historyWindow_->reload();
    }
    historyWindow_->show();
    historyWindow_->raise();
    historyWindow_->activateWindow();
}

void TForm1::loadSettings() {
    try {
        IBDatabase1.close();
    } catch (...) {
        // Nothing is open at start; a failed close changes nothing here.
    }
    const app::Settings s = app::loadSettings(*config_);
    Edit1->setText(fromBytes(s.base));
    EdtData->setText(fromBytes(s.data));
    EdtHora->setText(fromBytes(s.hora));
    app::advanceStamp().time = s.stampHora;
    app::advanceStamp().date = s.stampData;
    Edit2->setText(fromBytes(s.pastaExportar));
    CheckBox1->setChecked(s.exportaEmitidas);
    CheckBox3->setChecked(s.exportaEmitidasVeiculos);
    CheckBox2->setChecked(s.exportaRecebidas);
}

void TForm1::reportCreateError(const std::exception& e, bool unattended) {
    TApplication::ShowException(e);
    // The program stays in the tray with the window hidden. A scheduled run,
    // or a desktop without a tray where nothing could reach it again, ends
    // instead of lingering.
    if (unattended || headlessPlatform() || !QSystemTrayIcon::isSystemTrayAvailable()) {
        exitCode_ = 1;
        Terminate();
    }
}

void TForm1::Terminate() {
    terminated_ = true;
    QCoreApplication::exit(exitCode_);
}

void TForm1::ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

std::string TForm1::databaseNameText() const { return toBytes(Edit1->text()); }
std::string TForm1::outputFolderText() const { return toBytes(Edit2->text()); }
std::string TForm1::edtDataText() const { return toBytes(EdtData->text()); }
std::string TForm1::edtHoraText() const { return toBytes(EdtHora->text()); }
platform::DateTime TForm1::startDate() const { return XDateEdit1->DateValue(); }
platform::DateTime TForm1::endDate() const { return XDateEdit2->DateValue(); }
std::string TForm1::branchText() const { return toBytes(XNumEdit1->Text()); }

void TForm1::Button1Click() { RunIncrementalExport(*this); }
void TForm1::Button2Click() { RunPeriodExport(*this); }

void TForm1::Abrir1Click() {
    if (isMinimized()) showNormal();
    else show();
    raise();
    activateWindow();
    app::applyX11WindowHints(this, trayAvailable());
}

void TForm1::Sair1Click() {
    ProcessMessages();
    Terminate();
}

void TForm1::WndProc(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick) Abrir1Click();
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
