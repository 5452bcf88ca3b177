#include "app/application.h"

#include "platform/message_box.h"

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowException(e);
    } catch (...) {
        ShowException(std::runtime_error("Unknown error"));
    }
    return false;
}

QString TApplication::ExceptionText(const std::exception& e) {
    // File names in messages are file-system names, already UTF-8.
    QString text = QString::fromUtf8(e.what());
    if (!text.endsWith(QLatin1Char('.'))) text += QLatin1Char('.');
    return text;
}

void TApplication::ShowException(const std::exception& e) {
    platform::showMessageBox(QString::fromUtf8(kApplicationTitle), ExceptionText(e), platform::MessageIcon::Error);
}
