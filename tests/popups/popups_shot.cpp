// Opens the calendar or the calculator from its edit on a small window and
// leaves it open, for screenshots: popups_shot calendar|calculator [seconds].
// docs/calendar.png and docs/calculator.png were taken under
//   xvfb-run -a -s "-screen 0 400x320x24" with xcompmgr running (for the
//   translucent shadow) and `import -window root` two seconds after the start.

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QtTest>

#include "controls/calc_form.h"
#include "controls/edit_button.h"
#include "controls/popup_calendar.h"
#include "graphics/startup.h"
#include "platform/regional.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    platform::setProcessLocale("pt_BR.UTF-8");
    vesperine::ControlLibrary library{std::vector<std::string>{}};
    TsPopupCalendar::Register();
    TsCalcForm::Register();
    const QString what = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("calendar");
    const int seconds = argc > 2 ? atoi(argv[2]) : 5;

    QWidget window;
    window.setWindowTitle(QStringLiteral("Exportação de XML"));
    window.setGeometry(40, 40, 330, 250);
    QFont f(QStringLiteral("Tahoma"));
    f.setPixelSize(11);
    window.setFont(f);
    auto* l1 = new QLabel(QStringLiteral("Data inicial"), &window);
    l1->move(16, 18);
    auto* date = new TsDateEdit(&window);
    date->setGeometry(16, 34, 86, 21);
    auto* l2 = new QLabel(QStringLiteral("Filial"), &window);
    l2->move(130, 18);
    auto* num = new TsCalcEdit(&window);
    num->setGeometry(130, 34, 121, 21);
    platform::DateTime d = 0;
    platform::tryEncodeDate(2026, 12, 15, d);
    date->SetDate(d);
    num->SetValue(12.5);
    window.show();
    window.activateWindow();
    if (!QTest::qWaitForWindowActive(&window)) qWarning("the window did not become active");

    QTimer::singleShot(300, [&] {
        if (what == QLatin1String("calculator")) {
            num->setFocus();
            QTest::mouseClick(num->Button(), Qt::LeftButton);
            QTest::keyClicks(num, QStringLiteral("*4"));
            if (auto* calc = dynamic_cast<TsCalcForm*>(num->Calculator())) {
                calc->Engine().MemoryStore();
            }
        } else {
            date->setFocus();
            QTest::mouseClick(date->Button(), Qt::LeftButton);
        }
    });
    QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
    return app.exec();
}
