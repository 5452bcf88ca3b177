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
        // One line whatever the text holds: control characters read from
        // the settings file are shown escaped.
        QString shown;
        QString whole = caption + QStringLiteral(": ") + text;
        whole.replace(QLatin1String("\r\n"), QLatin1String("; ")).replace(QLatin1Char('\n'), QLatin1String("; "));
        for (const QChar c : whole) {
            const char16_t u = c.unicode();
            if (u < 0x20 || (u >= 0x7F && u < 0xA0))
                shown += QStringLiteral("\\x") + QString::number(u, 16).toUpper().rightJustified(2, QLatin1Char('0'));
            else shown += c;
        }
        const QByteArray line = (shown + QLatin1Char('\n')).toUtf8();
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
