#pragma once
// The window's side of an export: runs one job at a time on a worker thread
// and hands its progress and its summary back to the window's thread.

#include "export/core/job.h"
#include "export/core/package_run.h"
#include "export/core/summary.h"

#include <QObject>
#include <atomic>
#include <functional>
#include <thread>

namespace app {

class ExportRunner : public QObject {
    Q_OBJECT
public:
    explicit ExportRunner(QObject* parent = nullptr);
    ~ExportRunner() override;  // asks a running export to stop and waits for it

    bool running() const { return running_; }
    // Refused (false) while another export runs.
    bool startIncremental(exports::IncrementalJob job);
    bool startPeriod(exports::PeriodJob job);
    bool startPackage(exports::PackageJob job);
    // The run ends at the next document boundary; its stamp does not move.
    void requestStop() { stop_ = true; }

    // Called on the window's thread.
    std::function<void(long)> onTotal;
    std::function<void(long done, long long number)> onDocument;
    std::function<void(const exports::RunSummary&)> onFinished;
    // Called on the worker thread once the connection is up.
    std::function<void()> onConnected;

private:
    bool start(std::function<exports::RunSummary(exports::Observer&)> run);

    std::thread worker_;
    bool running_ = false;
    std::atomic<bool> stop_{false};
};

}  // namespace app
