#include "platform/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>

namespace platform {

bool canShowMessageBoxes() {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
    const QString p = QGuiApplication::platformName();
    return p != QLatin1String("offscreen") && p != QLatin1String("minimal");
}

void showMessageBox(const QString& caption, const QString& text, MessageIcon icon, QWidget* parent) {
    if (!canShowMessageBoxes()) {
        const QByteArray line = (caption + QStringLiteral(": ") + text + QLatin1Char('\n')).toUtf8();
        std::fwrite(line.constData(), 1, std::size_t(line.size()), stderr);
        std::fflush(stderr);
        return;
    }
    QMessageBox::Icon qi = QMessageBox::NoIcon;
    switch (icon) {
    case MessageIcon::Information: qi = QMessageBox::Information; break;
    case MessageIcon::Warning: qi = QMessageBox::Warning; break;
    case MessageIcon::Error: qi = QMessageBox::Critical; break;
    case MessageIcon::None: break;
    }
    QMessageBox box(qi, caption, text, QMessageBox::Ok, parent);
    box.exec();
}

}  // namespace platform
