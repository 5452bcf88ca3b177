#include "app/unattended.h"

#include "app/config_file.h"
#include "app/stop_signals.h"
#include "db/fbclient.h"
#include "app/run_monitor.h"
#include "export/history/history.h"
#include "export/core/package_run.h"
#include "export/runs.h"
#include "export/sources/firebird/firebird_options.h"
#include "export/office/run_record.h"
#include "graphics/startup.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <unistd.h>

namespace app {

namespace {

constexpr const char* kTitle = "Exportação de XML";

// One whole line: a NUL or a line break that came from the settings file or
// the database is shown escaped instead of cutting or splitting it.
void line(std::FILE* to, const std::string& text) {
    const std::string shown = exports::messageText(text) + '\n';
    std::fwrite(shown.data(), 1, shown.size(), to);
    std::fflush(to);
}

// The error texts end in a full stop, as the window's boxes show them.
std::string sentence(std::string text) {
    if (text.empty() || text.back() != '.') text += '.';
    return text;
}

std::string executableFolder() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    std::string p(path, static_cast<size_t>(n));
    return p.substr(0, p.rfind('/'));
}

bool hasArgument(int argc, char** argv, const char* word) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], word) == 0) return true;
    return false;
}

// A run can hang inside the database client (a server or a network that
// stops answering), an upload or a check: nothing then returns to the loop
// that would see a stop request. This thread ends such a run: a stop signal
// not obeyed within a few seconds, or no progress for the set time. It
// records the end in the history itself, with the counts the run had reached
// and the step it was stuck in (and the office's record, within a bounded
// time), and leaves; whatever was half written is a temporary the next run
// removes, and the stamp did not move.
class RunWatchdog {
public:
    RunWatchdog(std::string historyPath, const char* kind, std::chrono::system_clock::time_point started,
                std::chrono::seconds noProgressLimit, std::optional<exports::StoreSettings> store)
        : history_(std::move(historyPath)), kind_(kind), started_(started), limit_(noProgressLimit),
          store_(std::move(store)), lastProgress_(Steady::now().time_since_epoch().count()),
          thread_([this] { watch(); }) {}
    ~RunWatchdog() { finish(); }

    void progress() { lastProgress_ = Steady::now().time_since_epoch().count(); }
    // The run moved to `step`: its counts so far, kept for the record.
    void step(const exports::RunSummary& s, exports::RunStep step, long long document) {
        examined_ = s.examined;
        selected_ = s.selected;
        written_ = s.written;
        unchanged_ = s.unchanged;
        refused_ = s.refused;
        duplicates_ = s.duplicates;
        step_ = static_cast<int>(step);
        document_ = document;
        if (step == exports::RunStep::Connecting) {
            std::lock_guard<std::mutex> lock(stampMutex_);
            stampBefore_ = s.stampBefore;
        }
        progress();
    }
    // The run returned: the caller records its end from now on.
    void finish() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

    static constexpr std::chrono::seconds kSignalGrace{5};
    static constexpr std::chrono::seconds kRecordLimit{10};

private:
    using Steady = std::chrono::steady_clock;

    void watch() {
        std::unique_lock<std::mutex> lock(mutex_);
        std::optional<Steady::time_point> signalled;
        unsigned long long checked = exports::documentsChecked();
        while (!done_) {
            wake_.wait_for(lock, std::chrono::milliseconds(200));
            if (done_) return;
            // a check that ends is progress, on whichever thread it ran
            if (const unsigned long long now = exports::documentsChecked(); now != checked) {
                checked = now;
                progress();
            }
            const auto now = Steady::now();
            if (const int signal = stopSignal()) {
                if (!signalled) signalled = now;
                if (now - *signalled >= kSignalGrace)
                    giveUp(exports::Result::Interrupted, 128 + signal,
                           std::string("Exportação interrompida por ") + signalName(signal) +
                               ": o servidor não respondeu em " + std::to_string(kSignalGrace.count()) +
                               " s; nenhum arquivo parcial, marca não movida");
                continue;
            }
            const auto idle = now - Steady::time_point(Steady::duration(lastProgress_.load()));
            if (limit_.count() > 0 && idle >= limit_)
                giveUp(exports::Result::Failed, 1,
                       exports::abandonedRunError(limit_.count(), static_cast<exports::RunStep>(step_.load()),
                                                  document_, examined_, written_));
        }
    }

    [[noreturn]] void giveUp(exports::Result result, int status, const std::string& message) {
        exports::RunSummary s;
        s.result = result;
        s.error = message;
        s.examined = examined_;
        s.selected = selected_;
        s.written = written_;
        s.unchanged = unchanged_;
        s.refused = refused_;
        s.duplicates = duplicates_;
        {
            std::lock_guard<std::mutex> lock(stampMutex_);
            s.stampBefore = s.stampAfter = stampBefore_;
        }
        const auto ended = std::chrono::system_clock::now();
        s.seconds = std::chrono::duration<double>(ended - started_).count();
        exports::RunRecord run = exports::recordOf(s, kind_, started_, ended);
        // The office must see the run that hung too; the run's own thread may
        // hold the store's connections, so this one sends on its own, briefly.
        const std::string sent = exports::storeRunRecord(store_, run, s, kRecordLimit);
        std::string error;
        exports::appendRun(history_, run, &error);
        line(stdout, exports::summaryLine(s));
        // Why the run ended comes first; the record's fate after it.
        line(stderr, message);
        if (!sent.empty()) line(stderr, sent);
        if (!error.empty()) line(stderr, "Histórico não gravado: " + error);
        std::_Exit(status);
    }

    std::string history_;
    const char* kind_;
    std::chrono::system_clock::time_point started_;
    std::chrono::seconds limit_;
    std::optional<exports::StoreSettings> store_;
    std::atomic<Steady::rep> lastProgress_;
    // What the run had reached, written by its thread, read here.
    std::atomic<long> examined_{0}, selected_{0}, written_{0}, unchanged_{0}, refused_{0}, duplicates_{0};
    std::atomic<int> step_{static_cast<int>(exports::RunStep::Starting)};
    std::atomic<long long> document_{0};
    std::mutex stampMutex_;
    std::string stampBefore_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread thread_;
};

// Without progress for this long a run is taken for hung (TempoSemProgresso,
// seconds; 0 turns the limit off). Long enough for the first row of a large
// selection on a slow server.
constexpr std::chrono::seconds kDefaultNoProgressLimit{600};

std::chrono::seconds noProgressLimit(const ConfigFile& config) {
    const std::string text = config.readString(kConfigSection, "TempoSemProgresso");
    if (text.empty()) return kDefaultNoProgressLimit;
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9' || value > 10'000'000) return kDefaultNoProgressLimit;
        value = value * 10 + (c - '0');
    }
    return std::chrono::seconds(value);
}

class SignalObserver : public exports::Observer {
public:
    RunWatchdog* watchdog = nullptr;
    // The client library installs its own handlers when it attaches.
    void connected() override {
        reinstallStopSignals();
        if (watchdog) watchdog->progress();
    }
    void total(long) override {
        if (watchdog) watchdog->progress();
    }
    void document(long, long long) override {
        if (watchdog) watchdog->progress();
    }
    bool stopRequested() override { return stopSignal() != 0; }
    void step(const exports::RunSummary& s, exports::RunStep step, long long document) override {
        if (watchdog) watchdog->step(s, step, document);
    }
};

// Every run goes into the history, a busy one too; a failure is told to the
// desktop first when there is a session bus (a user's timer), so that the
// window does not say it again.
void record(const exports::RunSummary& s, const char* kind, const std::string& settingsFile,
            std::chrono::system_clock::time_point started, const std::optional<exports::StoreSettings>& store) {
    exports::RunRecord run = exports::recordOf(s, kind, started, std::chrono::system_clock::now());
    // The office's copy; only the local history says when it could not go.
    if (const std::string error = exports::storeRunRecord(store, run, s); !error.empty()) line(stderr, error);
    announceBeforeRecording(run, settingsFile);
    std::string error;
    if (!exports::appendRun(exports::historyFileFor(settingsFile), run, &error))
        line(stderr, "Histórico não gravado: " + error);
}

// "/pacote AAAA-MM [FOLDER]": the words after the switch, the month first.
struct PackageArguments {
    bool wanted = false;
    std::string month, folder;
};

PackageArguments packageArguments(int argc, char** argv) {
    PackageArguments p;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "/pacote") != 0) continue;
        p.wanted = true;
        auto word = [&](int at) {
            return at < argc && std::strcmp(argv[at], "/executa") != 0 && std::strcmp(argv[at], "/acver") != 0
                       ? std::string(argv[at])
                       : std::string();
        };
        p.month = word(i + 1);
        if (!p.month.empty()) p.folder = word(i + 2);
        break;
    }
    return p;
}

}  // namespace

bool wantsUnattendedRun(int argc, char** argv) {
    return hasArgument(argc, argv, "/executa") || hasArgument(argc, argv, "/pacote");
}

int runUnattended(int argc, char** argv) {
    installStopSignals();
    // The control library's start-up only when its version message is asked for.
    const bool versionMessage = hasArgument(argc, argv, "/acver");
    // Its end steps run when this function returns.
    std::optional<vesperine::ControlLibrary> library;
    if (versionMessage) {
        try {
            library.emplace();
            // No window here: the message box's text goes to the error output.
            library->SetMessageCallback([](const std::string& text) { line(stderr, text); });
            library->Start(argc, argv);
        } catch (const std::exception& e) {
            line(stderr, std::string("Application Error: ") + e.what());
            return 1;
        }
    }

    std::shared_ptr<db::FbClient> client;
    try {
        client = db::FbClient::load(db::clientLibraryName());
    } catch (const std::exception& e) {
        line(stderr, std::string("Application Error: Error reading IBDatabase1.ServerType: ") + e.what());
        return 1;
    }
    // Loading the client may already have put its own handlers in place.
    reinstallStopSignals();

    ConfigFile config(configFilePath(executableFolder()));
    exports::Settings settings;
    try {
        if (!config.exists()) {
            createDefaultSettings(config);
            line(stderr, std::string(kTitle) + ": Necessário configuarar arquivo \"ConfigQuillan.ini\"");
            return 0;
        }
        settings = exports::readSettings(config.fileName());
    } catch (const std::exception& e) {
        line(stderr, std::string(kTitle) + ": " + sentence(e.what()));
        return 1;
    }

    SignalObserver observer;
    const auto started = std::chrono::system_clock::now();
    exports::RunSummary s;
    const PackageArguments package = packageArguments(argc, argv);
    const char* kind = package.wanted ? exports::kRunPackage : exports::kRunUnattended;
    // A run that could not say how it ended must not look fine to /status:
    // its first line goes in before anything is touched, or it does not run.
    {
        std::string error;
        if (!exports::appendRun(exports::historyFileFor(config.fileName()), exports::startRecord(kind, started),
                                &error)) {
            line(stderr, std::string(kTitle) + ": Exportação não iniciada: " + error);
            return 1;
        }
    }
    // A scheduler's run waits a while for another export to end.
    auto fillConnection = [&](exports::ConnectionJob& job) {
        job.sourceOptions = exports::firebirdOptions(client);
        job.lockWait = std::chrono::seconds(10);
    };
    const std::optional<exports::StoreSettings> store = exports::storeSettingsIn(settings.section);
    RunWatchdog watchdog(exports::historyFileFor(config.fileName()), kind, started, noProgressLimit(config), store);
    observer.watchdog = &watchdog;
    if (package.wanted) {
        exports::PackageJob job;
        static_cast<exports::ConnectionJob&>(job) = exports::connectionJob(settings);
        fillConnection(job);
        job.yearMonth = package.month;
        job.folder = package.folder;
        s = exports::runPackage(job, observer);
    } else {
        exports::IncrementalJob job = exports::incrementalJob(settings);
        fillConnection(job);
        s = exports::runIncremental(job, observer);
    }
    watchdog.finish();
    record(s, kind, config.fileName(), started, store);
    if (s.result == exports::Result::Busy) {
        line(stderr, s.error);
        return exports::exitStatus(s);
    }
    line(stdout, exports::summaryLine(s));
    for (const auto& d : s.refusedDocuments) line(stderr, exports::refusedLine(d));
    for (const auto& d : s.duplicateDocuments) line(stderr, exports::duplicateLine(d));
    if (s.result == exports::Result::Failed) line(stderr, exports::errorLine(s));
    const int signal = stopSignal();
    if (s.result == exports::Result::Interrupted)
        line(stderr, std::string("Exportação interrompida por ") + signalName(signal) +
                         ": nenhum arquivo parcial, marca não movida");
    return exports::exitStatus(s, signal);
}

}  // namespace app
