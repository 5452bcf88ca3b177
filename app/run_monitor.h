#pragma once
// Keeps the window and the tray up to date with the run history, whichever
// process wrote it (the window, a scheduled /executa, the package): the tip
// says how the last run ended, the icon carries a warning mark while the last
// run needs attention, and a failure nobody was told about yet becomes one
// desktop notification.

#include <QFileSystemWatcher>
#include <QIcon>
#include <QObject>
#include <QTimer>
#include <optional>
#include <string>

#include "export/history/history.h"

namespace app {

class RunMonitor : public QObject {
    Q_OBJECT
public:
    // `settingsFile` is ConfigQuillan.ini; the history lives beside it.
    explicit RunMonitor(const std::string& settingsFile, QObject* parent = nullptr);

    const std::string& historyPath() const { return historyPath_; }

    // Reads the history again, announces what is due and emits changed().
    void refresh();

    const std::optional<exports::RunRecord>& lastRun() const { return last_; }
    // The last run that did something failed, was interrupted or refused documents.
    bool needsAttention() const { return attention_; }
    // "Exportação de XML" and, below it, the last run.
    QString toolTip() const;
    // The last run in words for the window's status line; empty without runs.
    QString statusText() const;

signals:
    void changed();

private:
    void watch();

    std::string historyPath_, markPath_;
    std::optional<exports::RunRecord> last_;
    bool attention_ = false;
    QFileSystemWatcher watcher_;
    QTimer settle_;
};

// For a process that ends right after its run (/executa): when the run needs
// attention, tells the desktop now (waiting a moment for the answer) and
// marks it announced, so that a window following the history does not say it
// again. Call it before the run is added to the history. Returns true when a
// notification went out.
bool announceBeforeRecording(const exports::RunRecord& run, const std::string& settingsFile);

// The program icon with a warning mark in its lower right corner.
QIcon iconWithWarning(const QIcon& base);

}  // namespace app
