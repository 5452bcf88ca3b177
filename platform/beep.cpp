#include "platform/beep.h"

#include <QApplication>

namespace platform {

void beep() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) QApplication::beep();
}

}  // namespace platform
