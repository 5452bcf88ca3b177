#pragma once
// Waiting for a quiet moment instead of sleeping: a check that something did
// NOT happen only means something once the events that could make it happen
// have been delivered.

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <memory>

// True once every event posted before the call has been delivered: a queued
// call is handled only after them.
inline bool deliverPostedEvents(int timeoutMs = 5000) {
    auto reached = std::make_shared<bool>(false);
    QMetaObject::invokeMethod(
        qApp, [reached] { *reached = true; }, Qt::QueuedConnection);
    return QTest::qWaitFor([reached] { return *reached; }, timeoutMs);
}

// True once the timer has fired again and its handlers have run.
inline bool waitForTick(QTimer* timer, int timeoutMs = 5000) {
    if (!timer || !timer->isActive()) return false;
    QSignalSpy tick(timer, &QTimer::timeout);
    return tick.wait(timeoutMs);
}
