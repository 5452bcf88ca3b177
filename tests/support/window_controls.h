#pragma once
// A window's controls by object name, the way the tests reach them:
// control<QPushButton>(window, "generateButton"). A name that is missing,
// names another type or is used twice throws: GoogleTest reports the message as the test's
// failure; Qt Test stops the program with it.

#include <QDebug>
#include <QList>
#include <QObject>
#include <QString>
#include <stdexcept>
#include <string>

namespace testsupport {

class MissingControl : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

template <class T>
T* control(const QObject& window, const char* name) {
    const QList<T*> found = window.findChildren<T*>(QString::fromLatin1(name));
    if (found.size() == 1) return found.front();
    const std::string type = T::staticMetaObject.className();
    const std::string message = found.isEmpty() ? "the window has no " + type + " named \"" + name + "\""
                                                : "the window has " + std::to_string(found.size()) +
                                                      " objects of type " + type + " named \"" + name + "\"";
    // Qt Test prints this under the running test function.
    qCritical("%s", message.c_str());
    throw MissingControl(message);
}

}  // namespace testsupport
