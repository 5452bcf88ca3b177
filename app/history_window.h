#pragma once
// "Histórico": the recent runs from the history file, newest first. A run
// that failed or was interrupted stands out in red, one that refused
// documents in amber; the selected run's error and refused documents show
// below the list.

#include <QWidget>
#include <string>
#include <vector>

#include "export/history/history.h"

class QLabel;
class QPlainTextEdit;
class QTreeWidget;

namespace app {

class HistoryWindow : public QWidget {
    Q_OBJECT
public:
    explicit HistoryWindow(std::string historyPath, QWidget* parent = nullptr);

    // Reads the file again, keeping the list's selection at the top.
    void reload();

    QTreeWidget* runsList() const { return runsList_; }
    QPlainTextEdit* details() const { return details_; }

    // The colours rows are highlighted with.
    static QColor failureColor();
    static QColor refusedColor();

private:
    void showDetails();

    std::string historyPath_;
    std::vector<exports::RunRecord> runs_;
    QTreeWidget* runsList_;
    QPlainTextEdit* details_;
    QLabel* emptyNote_;
};

}  // namespace app
