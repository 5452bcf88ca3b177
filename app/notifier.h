#pragma once
// Desktop notifications through org.freedesktop.Notifications on the session
// bus. Where there is no session bus (cron, a service, a bare X server) the
// message is dropped: a notification must never hold up or fail an export.

#include <QString>
#include <chrono>

namespace app {

// True when a session bus can be reached without starting one: an address in
// DBUS_SESSION_BUS_ADDRESS, or the socket $XDG_RUNTIME_DIR/bus.
bool sessionBusExpected();

// Sends one notification. With a zero `wait` it returns at once (the window),
// true when the message left for the bus; otherwise it waits at most that
// long for the service's answer (a process about to end), true when it came.
bool notifyDesktop(const QString& summary, const QString& body,
                   std::chrono::milliseconds wait = std::chrono::milliseconds(0));

}  // namespace app
