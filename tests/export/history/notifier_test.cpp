// Notifications on a real session bus (ctest starts this under
// dbus-run-session): a stand-in notification service on its own connection
// sees the Notify call arrive through the bus daemon.

#include "tests/support/ci.h"
#include "app/notifier.h"
#include "app/run_monitor.h"
#include "export/history/history.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QMutex>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QVariantMap>
#include <cstdlib>
#include <memory>

class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call {
        QString appName, icon, summary, body;
        QVariantMap hints;
        int timeout = 0;
    };
    QList<Call> received() {
        QMutexLocker lock(&mutex_);
        return calls_;
    }

public slots:
    uint Notify(const QString& appName, uint, const QString& icon, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap& hints, int timeout) {
        QMutexLocker lock(&mutex_);
        calls_.append({appName, icon, summary, body, hints, timeout});
        return uint(calls_.size());
    }

private:
    QMutex mutex_;
    QList<Call> calls_;
};

// The stand-in service on its own connection and thread, so that a caller
// blocked waiting for the answer does not block the answer.
class ServiceOnTheBus {
public:
    ServiceOnTheBus() : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, "fake-service")) {
        service.moveToThread(&thread_);
        thread_.start();
        registered = bus_.registerObject("/org/freedesktop/Notifications", &service, QDBusConnection::ExportAllSlots) &&
                     bus_.registerService("org.freedesktop.Notifications");
    }
    ~ServiceOnTheBus() {
        bus_.unregisterService("org.freedesktop.Notifications");
        bus_.unregisterObject("/org/freedesktop/Notifications");
        QDBusConnection::disconnectFromBus("fake-service");
        thread_.quit();
        thread_.wait();
    }
    FakeNotifications service;
    bool registered = false;

private:
    QThread thread_;
    QDBusConnection bus_;
};

// Notifications other than the test's own marker.
int realCalls(FakeNotifications& service) {
    int n = 0;
    for (const auto& call : service.received()) n += call.summary != QStringLiteral("marcador do teste");
    return n;
}

// That nothing more arrives: a marker of our own, sent after and answered,
// comes behind anything the program sent before it on the bus.
void expectNothingMoreThan(FakeNotifications& service, int expected) {
    QVERIFY(app::notifyDesktop(QStringLiteral("marcador do teste"), QString(), std::chrono::seconds(10)));
    QCOMPARE(realCalls(service), expected);
}

class NotifierTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            QREQUIRE_PREREQUISITE(false, "needs a session bus: run under dbus-run-session");
    }

    void notificationReachesTheService() {
        ServiceOnTheBus bus;
        QVERIFY(bus.registered);
        FakeNotifications& service = bus.service;

        QVERIFY(app::notifyDesktop(QString::fromUtf8("Exportação falhou"), QStringLiteral("Disco cheio")));
        QTRY_COMPARE(service.received().size(), 1);
        const auto call = service.received().front();
        QCOMPARE(call.appName, QString::fromUtf8("Exportação de XML"));
        QCOMPARE(call.summary, QString::fromUtf8("Exportação falhou"));
        QCOMPARE(call.body, QStringLiteral("Disco cheio"));
        QCOMPARE(call.hints.value("urgency").toInt(), 2);

        // A process about to end waits for the answer.
        QVERIFY(app::notifyDesktop(QStringLiteral("Outra"), QStringLiteral("falha"), std::chrono::seconds(5)));
        QCOMPARE(service.received().size(), 2);
    }

    // A scheduled run fails while the window runs: one notification, the
    // warning until a run completes, and no second notification for it after
    // a restart.
    void monitorAnnouncesAFailureOnce() {
        ServiceOnTheBus bus;
        QVERIFY(bus.registered);
        QTemporaryDir dir;
        const std::string settings = (dir.path() + QStringLiteral("/ConfigQuillan.ini")).toStdString();
        const std::string history = exports::historyFileFor(settings);

        exports::RunRecord run;
        run.started = exports::Clock::now() - std::chrono::hours(2);
        run.ended = run.started + std::chrono::seconds(3);
        run.kind = exports::kRunUnattended;
        QVERIFY(exports::appendRun(history, run));

        auto monitor = std::make_unique<app::RunMonitor>(settings);
        monitor->refresh();
        QVERIFY(!monitor->needsAttention());
        QVERIFY(monitor->toolTip().startsWith(
            QString::fromUtf8("Exportação de XML\nÚltima: Exportação agendada concluída em ")));

        run.started += std::chrono::hours(1);
        run.ended += std::chrono::hours(1);
        run.result = exports::Result::Failed;
        run.error = "Banco de dados inacess\xEDvel";
        QVERIFY(exports::appendRun(history, run));  // as another process would: the monitor sees the file change
        QTRY_COMPARE(bus.service.received().size(), 1);
        QTRY_VERIFY(monitor->needsAttention());
        QCOMPARE(bus.service.received().front().summary, QString::fromUtf8("Exportação agendada (/executa) falhou"));
        QVERIFY(bus.service.received().front().body.contains(QString::fromUtf8("Banco de dados inacessível")));
        QVERIFY(monitor->toolTip().contains(QString::fromUtf8("falhou em")));

        // The window starts again: nothing new to say.
        monitor = std::make_unique<app::RunMonitor>(settings);
        monitor->refresh();
        QVERIFY(monitor->needsAttention());
        expectNothingMoreThan(bus.service, 1);

        run.started += std::chrono::minutes(30);
        run.ended += std::chrono::minutes(30);
        run.result = exports::Result::Complete;
        run.error.clear();
        QVERIFY(exports::appendRun(history, run));
        QTRY_VERIFY(!monitor->needsAttention());
        QCOMPARE(realCalls(bus.service), 1);
    }

    // The unattended run tells the desktop itself and marks the run
    // announced before recording it: a window following the history stays quiet.
    void unattendedRunAnnouncesBeforeRecording() {
        ServiceOnTheBus bus;
        QVERIFY(bus.registered);
        QTemporaryDir dir;
        const std::string settings = (dir.path() + QStringLiteral("/ConfigQuillan.ini")).toStdString();
        app::RunMonitor monitor(settings);
        monitor.refresh();

        exports::RunRecord run;
        run.ended = exports::Clock::now();
        run.started = run.ended - std::chrono::seconds(3);
        run.kind = exports::kRunUnattended;
        run.result = exports::Result::Complete;
        QVERIFY(!app::announceBeforeRecording(run, settings));  // nothing to say about a success
        run.result = exports::Result::Interrupted;
        QVERIFY(app::announceBeforeRecording(run, settings));
        QCOMPARE(realCalls(bus.service), 1);
        QCOMPARE(bus.service.received().front().summary,
                 QString::fromUtf8("Exportação agendada (/executa) interrompida"));
        QVERIFY(exports::appendRun(exports::historyFileFor(settings), run));
        QTRY_VERIFY(monitor.needsAttention());
        expectNothingMoreThan(bus.service, 1);
    }

    void noServiceOnTheBus() {
        QVERIFY(app::notifyDesktop(QStringLiteral("x"), QStringLiteral("y")));
        QVERIFY(!app::notifyDesktop(QStringLiteral("x"), QStringLiteral("y"), std::chrono::milliseconds(500)));
    }

    void noBusAtAll() {
        const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS"), runtime = qgetenv("XDG_RUNTIME_DIR");
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        qputenv("XDG_RUNTIME_DIR", "/nonexistent");
        QVERIFY(!app::sessionBusExpected());
        QVERIFY(!app::notifyDesktop(QStringLiteral("x"), QStringLiteral("y"), std::chrono::seconds(5)));
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        qputenv("XDG_RUNTIME_DIR", runtime);
    }
};

QTEST_GUILESS_MAIN(NotifierTest)
#include "notifier_test.moc"
