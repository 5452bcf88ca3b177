#include "app/notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QFileInfo>
#include <QVariantMap>

namespace app {

bool sessionBusExpected() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return true;
    // Without an address libdbus may try to launch a bus for the display;
    // only a bus that already runs counts.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo(runtime + QStringLiteral("/bus")).exists();
}

bool notifyDesktop(const QString& summary, const QString& body, std::chrono::milliseconds wait) {
    if (!sessionBusExpected()) return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;

    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
                                                       QStringLiteral("/org/freedesktop/Notifications"),
                                                       QStringLiteral("org.freedesktop.Notifications"),
                                                       QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(2)));  // critical: stays until read
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("exportar-xml"));
    call << QString::fromUtf8("Exportação de XML") << uint(0) << QStringLiteral("dialog-warning") << summary << body
         << QStringList() << hints << int(-1);
    if (wait.count() <= 0) return bus.send(call);
    // The timeout bounds the wait even when the service never answers.
    QDBusPendingCall pending = bus.asyncCall(call, int(wait.count()));
    pending.waitForFinished();
    return !pending.isError();
}

}  // namespace app
