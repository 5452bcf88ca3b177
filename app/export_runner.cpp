#include "app/export_runner.h"

#include "app/stop_signals.h"
#include "export/runs.h"

#include <QMetaObject>
#include <QPointer>

namespace app {

namespace {

class WindowObserver : public exports::Observer {
public:
    WindowObserver(ExportRunner* runner, std::atomic<bool>& stop, std::function<void()> connectedHook)
        : runner_(runner), stop_(stop), connectedHook_(std::move(connectedHook)) {}
    void connected() override {
        if (connectedHook_) connectedHook_();
    }
    bool wantsTotal() const override { return true; }
    void total(long documents) override {
        QMetaObject::invokeMethod(
            runner_,
            [r = runner_, documents] {
                if (r->onTotal) r->onTotal(documents);
            },
            Qt::QueuedConnection);
    }
    void document(long done, long long number) override {
        QMetaObject::invokeMethod(
            runner_,
            [r = runner_, done, number] {
                if (r->onDocument) r->onDocument(done, number);
            },
            Qt::QueuedConnection);
    }
    // A stop signal counts at once: the window's thread may only learn of it
    // after a long queue of progress reports.
    bool stopRequested() override { return stop_ || stopSignal() != 0; }

private:
    ExportRunner* runner_;
    std::atomic<bool>& stop_;
    std::function<void()> connectedHook_;
};

}  // namespace

ExportRunner::ExportRunner(QObject* parent) : QObject(parent) {}

ExportRunner::~ExportRunner() {
    stop_ = true;
    if (worker_.joinable()) worker_.join();
}

bool ExportRunner::start(std::function<exports::RunSummary(exports::Observer&)> run) {
    if (running_) return false;
    if (worker_.joinable()) worker_.join();
    running_ = true;
    stop_ = false;
    worker_ = std::thread([this, run = std::move(run)] {
        WindowObserver observer(this, stop_, onConnected);
        exports::RunSummary summary = run(observer);
        // Queued behind every progress report of the run.
        QMetaObject::invokeMethod(
            this,
            [this, summary = std::move(summary)] {
                if (worker_.joinable()) worker_.join();
                running_ = false;
                if (onFinished) onFinished(summary);
            },
            Qt::QueuedConnection);
    });
    return true;
}

bool ExportRunner::startIncremental(exports::IncrementalJob job) {
    return start([job = std::move(job)](exports::Observer& o) { return exports::runIncremental(job, o); });
}

bool ExportRunner::startPeriod(exports::PeriodJob job) {
    return start([job = std::move(job)](exports::Observer& o) { return exports::runPeriod(job, o); });
}

bool ExportRunner::startPackage(exports::PackageJob job) {
    return start([job = std::move(job)](exports::Observer& o) { return exports::runPackage(job, o); });
}

}  // namespace app
