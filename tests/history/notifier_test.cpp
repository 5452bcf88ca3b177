// Notifications on a real session bus (ctest starts this under
// dbus-run-session): a stand-in notification service on its own connection
// sees the Notify call arrive through the bus daemon.

#include "app/notifier.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QMutex>
#include <QTest>
#include <QThread>
#include <QVariantMap>
#include <cstdlib>

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

class NotifierTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            QSKIP("needs a session bus: run under dbus-run-session");
    }

    void notificationReachesTheService() {
        // On a thread of its own, so that a caller blocked waiting for the
        // answer does not block the answer.
        QThread serviceThread;
        FakeNotifications service;
        service.moveToThread(&serviceThread);
        serviceThread.start();
        QDBusConnection serviceBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "fake-service");
        QVERIFY(serviceBus.registerObject("/org/freedesktop/Notifications", &service, QDBusConnection::ExportAllSlots));
        QVERIFY(serviceBus.registerService("org.freedesktop.Notifications"));

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

        serviceBus.unregisterService("org.freedesktop.Notifications");
        serviceBus.unregisterObject("/org/freedesktop/Notifications");
        QDBusConnection::disconnectFromBus("fake-service");
        serviceThread.quit();
        serviceThread.wait();
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
