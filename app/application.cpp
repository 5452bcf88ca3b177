#include "app/application.h"

#include "platform/codepage.h"
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
    // Messages are UTF-8; a byte from the database or the settings that is
    // not reads as Windows-1252, as everywhere else.
    QString text = QString::fromStdString(platform::textToUtf8(e.what()));
    if (!text.endsWith(QLatin1Char('.'))) text += QLatin1Char('.');
    return text;
}

void TApplication::ShowException(const std::exception& e) {
    platform::showMessageBox(QString::fromUtf8(kApplicationTitle), ExceptionText(e), platform::MessageIcon::Error);
}
