#include "app/run_monitor.h"

#include "app/notifier.h"
#include "export/history/run_status.h"
#include "platform/regional.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <memory>

namespace app {

RunMonitor::RunMonitor(const std::string& settingsFile, QObject* parent)
    : QObject(parent), historyPath_(exports::historyFileFor(settingsFile)),
      markPath_(exports::announcedFileFor(settingsFile)) {
    // A trim replaces the file and an append may come in several events:
    // read once things have settled.
    settle_.setSingleShot(true);
    settle_.setInterval(250);
    connect(&settle_, &QTimer::timeout, this, &RunMonitor::refresh);
    connect(&watcher_, &QFileSystemWatcher::fileChanged, &settle_, qOverload<>(&QTimer::start));
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, &settle_, qOverload<>(&QTimer::start));
    watch();
}

void RunMonitor::watch() {
    const QString file = QString::fromStdString(historyPath_);
    const QString folder = QFileInfo(file).absolutePath();
    // The folder tells when the file appears or is replaced.
    if (!watcher_.directories().contains(folder)) watcher_.addPath(folder);
    if (QFileInfo::exists(file) && !watcher_.files().contains(file)) watcher_.addPath(file);
}

void RunMonitor::refresh() {
    watch();
    const std::vector<exports::RunRecord> runs = exports::readRuns(historyPath_, 50);
    last_.reset();
    attention_ = false;
    if (!runs.empty()) {
        last_ = runs.front();
        const exports::RunRecord* judged = exports::judgedRun(runs);
        attention_ = judged && exports::needsAttention(judged->result);
    }

    const exports::Announcement due = exports::pendingAnnouncement(runs, exports::readAnnouncedMark(markPath_));
    bool announced = true;
    if (due.run) {
        const platform::FormatSettings fs = platform::currentFormatSettings();
        announced = notifyDesktop(QString::fromStdString(exports::announcementSummary(*due.run)),
                                  QString::fromStdString(exports::announcementBody(due, fs)));
    }
    // Without a bus nothing was said: try again on the next change or start.
    if (announced && due.mark) exports::writeAnnouncedMark(markPath_, *due.mark);
    emit changed();
}

QString RunMonitor::toolTip() const {
    QString tip = QString::fromUtf8("Exportação de XML");
    if (last_)
        tip += QString::fromUtf8("\nÚltima: ") +
               QString::fromStdString(exports::trayRunText(*last_, platform::currentFormatSettings()));
    return tip;
}

QString RunMonitor::statusText() const {
    if (!last_) return {};
    return QString::fromStdString(exports::trayRunText(*last_, platform::currentFormatSettings()));
}

bool announceBeforeRecording(const exports::RunRecord& run, const std::string& settingsFile) {
    if (!exports::needsAttention(run.result) || !sessionBusExpected()) return false;
    // Qt's bus connection wants an application object; the unattended run
    // has none of its own.
    std::unique_ptr<QCoreApplication> application;
    static int argc = 1;
    static char name[] = "exportar-xml";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) application = std::make_unique<QCoreApplication>(argc, argv);

    const std::string markPath = exports::announcedFileFor(settingsFile);
    std::vector<exports::RunRecord> runs = exports::readRuns(exports::historyFileFor(settingsFile), 50);
    runs.insert(runs.begin(), run);
    const exports::Announcement due = exports::pendingAnnouncement(runs, exports::readAnnouncedMark(markPath));
    if (!due.run) return false;
    const platform::FormatSettings fs = platform::currentFormatSettings();
    const bool sent = notifyDesktop(QString::fromStdString(exports::announcementSummary(*due.run)),
                                    QString::fromStdString(exports::announcementBody(due, fs)),
                                    std::chrono::seconds(2));
    if (sent && due.mark) exports::writeAnnouncedMark(markPath, *due.mark);
    return sent;
}

QIcon iconWithWarning(const QIcon& base) {
    QIcon marked;
    QList<QSize> sizes = base.availableSizes();
    if (sizes.isEmpty()) sizes = {QSize(16, 16), QSize(32, 32), QSize(64, 64)};
    for (const QSize& size : sizes) {
        QPixmap pm = base.isNull() ? QPixmap(size) : base.pixmap(size);
        if (base.isNull()) pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        // A triangle over the lower right half: visible at 16 pixels.
        const qreal w = pm.width() * 0.6, h = pm.height() * 0.55;
        const QRectF box(pm.width() - w, pm.height() - h, w, h);
        QPainterPath triangle;
        triangle.moveTo(box.center().x(), box.top());
        triangle.lineTo(box.right(), box.bottom());
        triangle.lineTo(box.left(), box.bottom());
        triangle.closeSubpath();
        p.setPen(QPen(QColor(0x80, 0x20, 0x00), qMax<qreal>(1.0, w / 14)));
        p.setBrush(QColor(0xF5, 0xC0, 0x10));
        p.drawPath(triangle);
        const qreal bar = qMax<qreal>(1.5, w / 9);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x20, 0x10, 0x00));
        p.drawRect(QRectF(box.center().x() - bar / 2, box.top() + h * 0.3, bar, h * 0.38));
        p.drawRect(QRectF(box.center().x() - bar / 2, box.top() + h * 0.75, bar, bar));
        p.end();
        marked.addPixmap(pm);
    }
    return marked;
}

}  // namespace app
