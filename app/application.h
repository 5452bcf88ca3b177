#pragma once
// The application object: an error that escapes an event handler (a click, a
// key, a timer) is reported in an error box captioned with the application
// title, and the program goes on, instead of unwinding through the toolkit.

#include <QApplication>
#include <exception>

inline constexpr const char* kApplicationTitle = "Exportação de XML";

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // The error box: the message (UTF-8, like every message of the program)
    // with a final full stop added when it lacks one.
    static void ShowException(const std::exception& e);
    static QString ExceptionText(const std::exception& e);
};
