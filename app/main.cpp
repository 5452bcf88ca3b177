// Program entry: library start-up, the application object, the main window,
// the message loop, then the end steps in reverse order.

#include <QApplication>
#include <QSocketNotifier>
#include <QStyleFactory>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

#include "app/application.h"
#include "app/config_file.h"
#include "app/main_window.h"
#include "app/stop_signals.h"
#include "app/unattended.h"
#include "export/office/office.h"
#include "export/history/run_status.h"
#include "export/core/summary.h"
#include "platform/codepage.h"
#include "platform/message_box.h"
#include "platform/regional.h"

#include "graphics/startup.h"

namespace {

// The window needs a display. Off-screen only when asked for by name
// (QT_QPA_PLATFORM=offscreen: tests, screenshots): a window nobody can see
// would wait for ever in a cron line with a typo. False when there is none.
bool choosePlatform() {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) return true;
    const bool x11 = !qEnvironmentVariableIsEmpty("DISPLAY");
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (x11) qputenv("QT_QPA_PLATFORM", "xcb;offscreen");
    else if (wayland) qputenv("QT_QPA_PLATFORM", "wayland;xcb;offscreen");
    else return false;
    return true;
}

constexpr int kNoDisplayStatus = 69;
constexpr int kUnknownWordStatus = 64;

const char* const kCommands =
    "Uso: exportar-xml [COMANDO]\n"
    "  (nenhum)                     abre a janela (precisa de uma tela: DISPLAY ou WAYLAND_DISPLAY)\n"
    "  /executa                     exportação incremental sem janela\n"
    "  /pacote [AAAA-MM [PASTA]]    pacote do mês (sem mês: o mês anterior)\n"
    "  /status [MINUTOS]            a última execução desta máquina, para monitoramento\n"
    "  /escritorio [HORAS] [--json] [--html ARQUIVO]\n"
    "                               as empresas do bucket (Nuvem): última execução, documentos, pacotes\n"
    "  /acver                       com /executa ou /pacote: a mensagem de versão da biblioteca de controles\n"
    "  --help                       esta lista\n"
    "Status de saída:\n"
    "  /executa, /pacote: 0 completo, 1 falhou, 65 documentos recusados, 75 outra exportação em andamento,\n"
    "                     128+sinal interrompido\n"
    "  /status: 0 última execução completa dentro do prazo, 1 falhou ou antiga, 2 MINUTOS inválido, 3 nenhuma\n"
    "  /escritorio: 0 todas as empresas em dia, 1 alguma falhou, silenciosa, ilegível ou sem o pacote do mês\n"
    "               anterior (ou bucket inacessível), 2 argumentos ou configuração inválidos, 3 nenhuma empresa\n"
    "  janela: 0 ao sair, 69 sem tela\n"
    "  comando desconhecido: 64\n";

// A word starting with '/' that names no command ("/exectua" in a cron
// line): the words after /pacote are its month and folder.
const char* unknownWord(int argc, char** argv) {
    static const char* const known[] = {"/executa", "/pacote", "/acver", "/status", "/escritorio"};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "/pacote") == 0) {
            i += 2;
            continue;
        }
        if (argv[i][0] != '/') continue;
        bool found = false;
        for (const char* k : known) found = found || std::strcmp(argv[i], k) == 0;
        if (!found) return argv[i];
    }
    return nullptr;
}

// SIGTERM / SIGINT / SIGHUP end the program like "Sair": a running export
// stops at its next document, then the loop ends and the end steps run.
int signalPipe[2] = {-1, -1};

// `window` points at main()'s window pointer: null until the window exists,
// and a signal before then just leaves the loop.
void installSignalHandlers(QObject* owner, TForm1* const* window) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [window] {
        char c;
        [[maybe_unused]] ssize_t n = ::read(signalPipe[0], &c, 1);
        if (*window) (*window)->Terminate();
        else QCoreApplication::exit(0);
    });
    app::installStopSignals(signalPipe[1]);
}

void showApplicationError(const QString& text) {
    platform::showMessageBox(QStringLiteral("Application Error"), text, platform::MessageIcon::Error);
}

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// Sanitizer builds only: the Firebird engine's threads make the leak checker
// abort at exit, and a scheduler starts the program with an empty environment,
// so the setting cannot come from ASAN_OPTIONS there.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }
#endif

namespace {
// A scheduler's environment has no XDG_RUNTIME_DIR; Qt's note about it would
// otherwise stand in every unattended run's error output beside real errors.
QtMessageHandler previousHandler = nullptr;
void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg && message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"))) return;
    if (previousHandler) previousHandler(type, context, message);
}

// "/status [MINUTES]": reads the run history beside the settings and answers
// a monitoring check; needs neither a display nor the database client.
std::string programFolder() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : exe.parent_path().string();
}

int statusCommand(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    const std::vector<std::string> arguments(argv + 2, argv + argc);
    return exports::statusCommand(exports::historyFileFor(app::configFilePath(programFolder())), arguments, std::cout,
                                  std::cerr, exports::Clock::now(), platform::currentFormatSettings());
}

// "/escritorio [HORAS] [--json] [--html ARQUIVO]": every company's runs read
// back from the bucket; needs neither a display nor the database client.
int officeCommand(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    const std::vector<std::string> arguments(argv + 2, argv + argc);
    return exports::officeCommand(app::configFilePath(programFolder()), arguments, std::cout, std::cerr,
                                  exports::Clock::now());
}

bool hasStyleArgument(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "-style", 6) == 0 || std::strncmp(argv[i], "--style", 7) == 0) return true;
    return false;
}
}  // namespace

int main(int argc, char** argv) {
    // A connection that closes under a write (the display, the database
    // server, a reader of our output that went away) is an error to handle,
    // never a reason to die without a word: the run records what happened.
    ::signal(SIGPIPE, SIG_IGN);
    if (argc >= 2 && std::strcmp(argv[1], "/status") == 0) return statusCommand(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "/escritorio") == 0) return officeCommand(argc, argv);
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::cout << kCommands;
            return 0;
        }
    if (const char* word = unknownWord(argc, argv)) {
        std::cerr << "Comando desconhecido: " << exports::messageText(word) << "\n" << kCommands;
        return kUnknownWordStatus;
    }
    // Before any thread exists: every thread inherits the blocked stop signals.
    app::installStopSignals();
    // Dates, times and numbers follow the user's regional settings.
    std::setlocale(LC_ALL, "");
    // The scheduler's run needs no window, no tray and no graphical platform.
    if (app::wantsUnattendedRun(argc, argv)) return app::runUnattended(argc, argv);

    previousHandler = qInstallMessageHandler(messageHandler);
    const bool offscreenAsked = qgetenv("QT_QPA_PLATFORM").contains("offscreen");
    if (!choosePlatform()) {
        std::cerr << "Sem tela (DISPLAY e WAYLAND_DISPLAY vazios): a janela não abre. Sem janela: /executa, "
                     "/pacote, /status, /escritorio (--help lista os comandos)\n";
        return kNoDisplayStatus;
    }

    TApplication application(argc, argv);
    // A display named but not answering: Qt fell back to the off-screen one.
    if (!offscreenAsked && QGuiApplication::platformName() == QLatin1String("offscreen")) {
        std::cerr << "A tela \"" << qgetenv("DISPLAY").toStdString() << qgetenv("WAYLAND_DISPLAY").toStdString()
                  << "\" não responde: a janela não abre (--help lista os comandos sem janela)\n";
        return kNoDisplayStatus;
    }
    QApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
    // The layout was designed for the classic look (group captions on the
    // frame line); a style chosen by the user (-style, QT_STYLE_OVERRIDE) wins.
    if (qEnvironmentVariableIsEmpty("QT_STYLE_OVERRIDE") && !hasStyleArgument(argc, argv))
        if (QStyle* classic = QStyleFactory::create(QStringLiteral("Windows"))) QApplication::setStyle(classic);
    QApplication::setWindowIcon(mainIcon());
    // The tray keeps the program alive; only "Sair" or the close box end it.
    QApplication::setQuitOnLastWindowClosed(false);
    TForm1* window = nullptr;
    installSignalHandlers(&application, &window);

    // ---- control library start-up (its end steps run after the loop) ----
    vesperine::ControlLibrary controlLibrary;  // outlives the window; its end steps run when main returns
    controlLibrary.SetMessageCallback([](const std::string& text) {
        platform::showMessageBox(QString::fromUtf8(kApplicationTitle),
                                 QString::fromStdString(platform::textToUtf8(text)));
    });
    try {
        controlLibrary.Start(argc, argv);
    } catch (const std::exception& e) {
        showApplicationError(QString::fromStdString(platform::textToUtf8(e.what())));
        return 1;
    }

    int exitCode = 0;
    {
        std::unique_ptr<TForm1> form;
        try {
            form = std::make_unique<TForm1>();
        } catch (const std::exception& e) {
            showApplicationError(QString::fromStdString(platform::textToUtf8(e.what())));
            return 1;
        }
        window = form.get();
        form->FormCreate();
        if (!form->terminated()) QApplication::exec();
        exitCode = form->exitCode();
        window = nullptr;
    }  // FormDestroy: tray icon removed, transaction committed, connection closed

    return exitCode;
}
