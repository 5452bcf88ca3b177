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
#include "export/run_status.h"
#include "platform/codepage.h"
#include "platform/message_box.h"
#include "platform/regional.h"

#include "graphics/startup.h"

namespace {

// Without a reachable display the unattended run must still work (a
// scheduler on a server): fall back to the off-screen platform.
void choosePlatform() {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) return;
    const bool x11 = !qEnvironmentVariableIsEmpty("DISPLAY");
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (x11) qputenv("QT_QPA_PLATFORM", "xcb;offscreen");
    else if (wayland) qputenv("QT_QPA_PLATFORM", "wayland;xcb;offscreen");
    else qputenv("QT_QPA_PLATFORM", "offscreen");
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
    if (type == QtWarningMsg && message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")))
        return;
    if (previousHandler) previousHandler(type, context, message);
}

// "/status [MINUTES]": reads the run history beside the settings and answers
// a monitoring check; needs neither a display nor the database client.
int statusCommand(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    const std::string folder = ec ? std::string(".") : exe.parent_path().string();
    const std::vector<std::string> arguments(argv + 2, argv + argc);
    return exports::statusCommand(exports::historyFileFor(app::configFilePath(folder)), arguments, std::cout,
                                  std::cerr, exports::Clock::now(), platform::currentFormatSettings());
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
    // Before any thread exists: every thread inherits the blocked stop signals.
    app::installStopSignals();
    // Dates, times and numbers follow the user's regional settings.
    std::setlocale(LC_ALL, "");
    // The scheduler's run needs no window, no tray and no graphical platform.
    if (app::wantsUnattendedRun(argc, argv)) return app::runUnattended(argc, argv);

    previousHandler = qInstallMessageHandler(messageHandler);
    choosePlatform();

    TApplication application(argc, argv);
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
        platform::showMessageBox(QString::fromUtf8(kApplicationTitle), QString::fromStdString(platform::textToUtf8(text)));
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
