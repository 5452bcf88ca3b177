// Errors escaping an event handler are reported and the program goes on.
#include "app/application.h"

#include <gtest/gtest.h>

#include <QEvent>
#include <stdexcept>

namespace {

class Thrower : public QObject {
public:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User) throw std::runtime_error("Invalid value 12,3,4");
        return QObject::event(e);
    }
};

TEST(Application, ExceptionTextEndsWithAFullStop) {
    struct Case {
        const char* what;
        QString text;
    } cases[] = {
        {"Unable to write to /x/ConfigQuillan.ini", "Unable to write to /x/ConfigQuillan.ini."},
        {"Already ends.", "Already ends."},
        {"", "."},
        // Messages are UTF-8; a file name in them is the file system's own.
        {"Arquivo inválido", "Arquivo inválido."},
        {"Unable to write to /x/Exportação/ConfigQuillan.ini: Permission denied",
         "Unable to write to /x/Exportação/ConfigQuillan.ini: Permission denied."},
        {"Pasta de exportação inexistente: /x/日本/out/", "Pasta de exportação inexistente: /x/日本/out/."},
        // a byte that is not UTF-8 (a stored name, a server's message) reads as Windows-1252
        {"Arquivo NFe\xE7.XML recusado", "Arquivo NFeç.XML recusado."},
    };
    for (const Case& c : cases) EXPECT_EQ(TApplication::ExceptionText(std::runtime_error(c.what)), c.text) << c.what;
}

TEST(Application, ErrorInAHandlerIsShownAndDoesNotUnwind) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "test_application";
    static char* argv[] = {name, nullptr};
    TApplication app(argc, argv);
    Thrower t;
    QEvent ev(QEvent::User);
    testing::internal::CaptureStderr();
    bool handled = true;
    EXPECT_NO_THROW(handled = QCoreApplication::sendEvent(&t, &ev));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(handled);
    EXPECT_NE(err.find("Exportação de XML: Invalid value 12,3,4."), std::string::npos) << err;
}

}  // namespace
