// The popup calendar opened from a date edit, used with keys and clicks.

#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QtTest>

#include "controls/calend_grid.h"
#include "controls/date_edit.h"
#include "controls/edit_button.h"
#include "controls/popup_calendar.h"
#include "controls/popup_controller.h"
#include "platform/datetime.h"
#include "graphics/startup.h"
#include "platform/regional.h"

using platform::DateTime;

namespace {

DateTime D(int y, int m, int d) {
    DateTime out = 0;
    platform::tryEncodeDate(y, m, d, out);
    return out;
}

}  // namespace

class TestPopupCalendar : public QObject {
    Q_OBJECT

    QWidget* window = nullptr;
    TsDateEdit* edit = nullptr;

    TsPopupCalendar* popup() const { return dynamic_cast<TsPopupCalendar*>(edit->Popup()); }
    TsMonthCalendar* calendar() const { return popup() ? popup()->Calendar() : nullptr; }
    bool popupOpen() const { return popup() && popup()->isVisible(); }

    void openByButton() {
        QTest::mouseClick(edit->Button(), Qt::LeftButton);
        QVERIFY(popupOpen());
        calendar()->SetAnimated(false);
    }
    void clickCell(int col, int row) {
        TsCalendGrid* grid = calendar()->Grid();
        QTest::mouseClick(grid, Qt::LeftButton, {}, grid->CellRect(col, row).center());
    }

private slots:
    void initTestCase() {
        QVERIFY(platform::setProcessLocale("pt_BR.UTF-8"));
        // The offscreen platform cannot raise windows; that note is noise here.
        static QtMessageHandler previous = nullptr;
        previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& ctx, const QString& msg) {
            if (!msg.contains(QLatin1String("does not support raise()"))) previous(type, ctx, msg);
        });
    }

    void init() {
        window = new QWidget;
        window->resize(320, 260);
        edit = new TsDateEdit(window);
        edit->setGeometry(10, 10, 86, 21);
        edit->SetStartOfWeek(TCalDayOfWeek::dowMonday);
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        edit->setFocus();
    }

    void cleanup() {
        delete window;
        window = nullptr;
    }

    void popupHasItsSizeAndTheEditDate() {
        edit->SetDate(D(2026, 3, 15));
        openByButton();
        QCOMPARE(popup()->size(), QSize(197, 166));
        QCOMPARE(calendar()->CalendarDate(), D(2026, 3, 15));
        QCOMPARE(calendar()->DragBar()->Caption(), QStringLiteral("março 2026"));
        QVERIFY(edit->hasFocus());  // the popup never takes the focus
        QVERIFY(calendar()->TodayBtn()->isVisible());
        QVERIFY(calendar()->TodayBtn()->Caption().startsWith(QStringLiteral("Today: ")));
        // Below the edit.
        QVERIFY(popup()->geometry().top() > edit->mapToGlobal(QPoint(0, 0)).y());
    }

    void keysMoveTheDateAndEnterAcceptsIt() {
        struct Case {
            QList<int> keys;
            DateTime expected;
        };
        const Case cases[] = {
            {{Qt::Key_Right, Qt::Key_Right}, D(2026, 3, 17)},
            {{Qt::Key_Left}, D(2026, 3, 14)},
            {{Qt::Key_Down, Qt::Key_Down}, D(2026, 3, 29)},
            {{Qt::Key_Up}, D(2026, 3, 8)},
            {{Qt::Key_PageDown}, D(2026, 4, 15)},
            {{Qt::Key_PageUp, Qt::Key_PageUp}, D(2026, 1, 15)},
        };
        for (const Case& c : cases) {
            edit->SetDate(D(2026, 3, 15));
            openByButton();
            for (int k : c.keys) QTest::keyClick(edit, Qt::Key(k));
            QVERIFY(popupOpen());
            QCOMPARE(edit->Date(), D(2026, 3, 15));  // nothing written before Enter
            QTest::keyClick(edit, Qt::Key_Return);
            QVERIFY(!popupOpen());
            QCOMPARE(edit->Date(), c.expected);
        }
        // Ctrl+Page Down is a year; the keypad minus a day back.
        edit->SetDate(D(2024, 2, 29));
        openByButton();
        QTest::keyClick(edit, Qt::Key_PageDown, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Minus, Qt::KeypadModifier);
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(edit->Date(), D(2025, 2, 27));
        QCOMPARE(edit->Text(), QStringLiteral("27/02/2025"));
    }

    void escClosesWithoutChange() {
        edit->SetDate(D(2026, 3, 15));
        openByButton();
        QTest::keyClick(edit, Qt::Key_Right);
        QTest::keyClick(edit, Qt::Key_Escape);
        QVERIFY(!popupOpen());
        QCOMPARE(edit->Date(), D(2026, 3, 15));
        QVERIFY(edit->hasFocus());
    }

    void clickOnADayAcceptsIt() {
        // March 2026 with Monday first starts on a Sunday: row 1 ends with 1 March.
        edit->SetDate(D(2026, 3, 15));
        int changes = 0;
        edit->OnChange = [&](QObject*) { ++changes; };
        openByButton();
        clickCell(2, 2);  // Wednesday 4 March
        QVERIFY(!popupOpen());
        QCOMPARE(edit->Date(), D(2026, 3, 4));
        QCOMPARE(changes, 1);
        QCOMPARE(edit->selectedText(), edit->EditText());  // AutoSelect
    }

    void clickOnAGreyedDaySwitchesMonth() {
        edit->SetDate(D(2026, 3, 15));
        openByButton();
        clickCell(4, 6);  // the row after 30, 31 March: Friday 3 April
        QVERIFY(!popupOpen());
        QCOMPARE(edit->Date(), D(2026, 4, 3));
    }

    void limitsRefuseKeysAndClicks() {
        edit->SetDate(D(2026, 3, 15));
        edit->SetMaxDate(D(2026, 3, 16));
        openByButton();
        QTest::keyClick(edit, Qt::Key_Right);
        QTest::keyClick(edit, Qt::Key_Right);  // 17 March is past the limit
        QCOMPARE(calendar()->CalendarDate(), D(2026, 3, 16));
        clickCell(4, 3);  // Friday 13 March is allowed
        QVERIFY(!popupOpen());
        QCOMPARE(edit->Date(), D(2026, 3, 13));

        openByButton();
        clickCell(4, 4);  // 20 March: not selected; the release accepts what is shown
        QVERIFY(!popupOpen());
        QCOMPARE(edit->Date(), D(2026, 3, 13));
    }

    void refusingAcceptKeepsThePopupOpen() {
        edit->SetDate(D(2026, 3, 15));
        edit->OnAcceptDate = [](QObject*, DateTime& d, bool& accept) { accept = d < D(2026, 3, 10); };
        openByButton();
        clickCell(4, 4);  // 20 March, refused
        QVERIFY(popupOpen());
        QCOMPARE(edit->Date(), D(2026, 3, 15));
        clickCell(3, 2);  // 5 March, accepted
        QVERIFY(!popupOpen());
        QCOMPARE(edit->Date(), D(2026, 3, 5));

        // Enter closes even when refused, and leaves the edit alone.
        openByButton();
        QTest::keyClick(edit, Qt::Key_PageDown);
        QTest::keyClick(edit, Qt::Key_Return);
        QVERIFY(!popupOpen());
        QCOMPARE(edit->Date(), D(2026, 3, 5));

        // A handler may change the date.
        edit->OnAcceptDate = [](QObject*, DateTime& d, bool&) { d = d + 1; };
        openByButton();
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(edit->Date(), D(2026, 3, 6));
    }

    void todayButtonSetsTodayAndCloses() {
        edit->SetDate(D(2020, 6, 10));
        openByButton();
        QTest::mouseClick(calendar()->TodayBtn(), Qt::LeftButton);
        QVERIFY(!popupOpen());
        QCOMPARE(edit->Date(), platform::today());
    }

    void typedTSetsTodayInThePopup() {
        edit->SetDate(D(2020, 6, 10));
        openByButton();
        QTest::keyClicks(edit, QStringLiteral("t"));
        QCOMPARE(calendar()->CalendarDate(), platform::today());
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(edit->Date(), platform::today());
    }

    void headerFollowsTheLocaleFirstDay() {
        edit->SetStartOfWeek(TCalDayOfWeek::dowLocaleDefault);
        edit->SetDate(D(2026, 3, 15));
        openByButton();
        QCOMPARE(calendar()->GetCellText(0, 0), QStringLiteral("dom"));
        QCOMPARE(calendar()->GetCellText(6, 0), QStringLiteral("sáb"));
        // 1 March 2026 is a Sunday: with Sunday first it starts row 2.
        QCOMPARE(calendar()->GetCellDate(0, 2), D(2026, 3, 1));
    }

    void navigationButtonsStepOncePerClick() {
        edit->SetDate(D(2024, 1, 31));
        openByButton();
        calendar()->SetAnimated(true);  // the slide runs and ends on the new month
        QTest::mouseClick(calendar()->Btn(2), Qt::LeftButton);
        QCOMPARE(calendar()->CalendarDate(), D(2024, 2, 29));
        QTest::mouseClick(calendar()->Btn(3), Qt::LeftButton);
        QCOMPARE(calendar()->CalendarDate(), D(2025, 2, 28));
        QTest::mouseClick(calendar()->Btn(0), Qt::LeftButton);
        QTest::mouseClick(calendar()->Btn(1), Qt::LeftButton);
        QCOMPARE(calendar()->CalendarDate(), D(2024, 1, 28));
        QVERIFY(popupOpen());
        QCOMPARE(edit->Date(), D(2024, 1, 31));
        QVERIFY(edit->hasFocus());
    }

    void popupAnswersEscAndClicksDuringTheSlide() {
        edit->SetDate(D(2024, 1, 31));
        openByButton();
        calendar()->SetAnimated(true);
        int changes = 0;
        calendar()->FOnChange = [&](QObject*) { ++changes; };
        QTest::mouseClick(calendar()->Btn(2), Qt::LeftButton);
        QVERIFY(calendar()->Sliding());  // the click came back before the slide ended
        QCOMPARE(calendar()->CalendarDate(), D(2024, 2, 29));
        QTest::keyClick(edit, Qt::Key_Escape);
        QVERIFY(!popupOpen());
        QVERIFY(!calendar()->Sliding());
        QCOMPARE(edit->Date(), D(2024, 1, 31));
        QCOMPARE(changes, 1);

        // A click on a day while the grid slides takes that day of the new month.
        QTest::mouseClick(edit->Button(), Qt::LeftButton);
        QVERIFY(popupOpen());
        calendar()->SetAnimated(true);
        QTest::mouseClick(calendar()->Btn(2), Qt::LeftButton);
        QVERIFY(calendar()->Sliding());
        clickCell(2, 2);  // February 2024 with Monday first: Wednesday 7
        QVERIFY(!popupOpen());
        QCOMPARE(edit->Date(), D(2024, 2, 7));

        // Left alone, the slide ends by itself and reports the change once.
        QTest::mouseClick(edit->Button(), Qt::LeftButton);
        calendar()->SetAnimated(true);
        changes = 0;
        QTest::mouseClick(calendar()->Btn(2), Qt::LeftButton);
        QTRY_VERIFY(!calendar()->Sliding());
        QCOMPARE(changes, 1);
    }

    void yearMenuChoosesYearAndMonth() {
        edit->SetDate(D(2026, 3, 15));
        openByButton();
        QStringList titles;
        bool closedWhileMenuOpen = true;
        QString checkedMonth;
        // The menu runs modally inside the press: act on it once it shows, and
        // close it unhandled past the deadline so a failure cannot hang the run.
        bool handled = false;
        QElapsedTimer waited;
        waited.start();
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, this, [&] {
            QMenu* menu = calendar()->YearMenu();
            if (!menu || !menu->isVisible() || !calendar()->YearMenuOpen()) return;
            poll.stop();
            if (waited.elapsed() > 5000) {
                menu->close();
                return;
            }
            for (QAction* a : menu->actions()) titles << a->text();
            for (QAction* a : menu->actions()[9]->menu()->actions())  // 2026
                if (a->isChecked()) checkedMonth = a->text();
            popup()->Close();  // refused while the menu is open
            closedWhileMenuOpen = !popup()->isVisible();
            menu->actions()[5]->menu()->actions()[4]->trigger();  // 2022, maio
            menu->close();
            handled = true;
        });
        poll.start();
        QTest::mousePress(calendar()->DragBar(), Qt::LeftButton, {}, calendar()->DragBar()->rect().center());
        poll.stop();
        QVERIFY2(handled, "the year menu did not open in time");
        QCOMPARE(titles.size(), 19);
        QCOMPARE(titles.first(), QStringLiteral("1972..1981"));
        QCOMPARE(titles[5], QStringLiteral("2022"));
        QCOMPARE(titles.last(), QStringLiteral("2062..2071"));
        QCOMPARE(checkedMonth, QStringLiteral("março"));
        QVERIFY(!closedWhileMenuOpen);
        QVERIFY(popupOpen());
        QCOMPARE(calendar()->CalendarDate(), D(2022, 5, 15));
        QCOMPARE(calendar()->DragBar()->Caption(), QStringLiteral("maio 2022"));
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(edit->Date(), D(2022, 5, 15));
    }

    void oneCalendarOpenInTheProgram() {
        auto* second = new TsDateEdit(window);
        second->setGeometry(150, 10, 86, 21);
        second->show();
        edit->SetDate(D(2026, 3, 15));
        openByButton();
        QTest::mouseClick(second->Button(), Qt::LeftButton);
        auto* other = dynamic_cast<TsPopupCalendar*>(second->Popup());
        QVERIFY(other && other->isVisible());
        QVERIFY(!popupOpen());
        QCOMPARE(TsCustomDateEdit::CurrentDatePopupOwner(), second);
    }

    void cellHookColoursAndSelectionArePainted() {
        QList<DateTime> asked;
        edit->SetOnGetCellParams([&](QObject* sender, QFont&, QColor& background, DateTime date) {
            QVERIFY(qobject_cast<TsCalendGrid*>(sender));
            asked << date;
            if (date == D(2026, 3, 20)) background = QColor(255, 255, 0);
        });
        edit->SetDate(D(2026, 3, 15));
        openByButton();
        TsCalendGrid* grid = calendar()->Grid();
        asked.clear();
        const QImage image = grid->grab().toImage();
        auto corner = [&](int col, int row) {
            return image.pixelColor(grid->CellRect(col, row).topLeft() + QPoint(1, 1));
        };
        auto inner = [&](int col, int row) {
            return image.pixelColor(grid->CellRect(col, row).topLeft() + QPoint(4, 3));
        };
        QCOMPARE(corner(4, 4), QColor(255, 255, 0));    // 20 March
        QCOMPARE(corner(5, 4), calendar()->Color());    // 21 March
        QCOMPARE(inner(6, 3), syscolors::Highlight());  // 15 March, selected
        QCOMPARE(asked.size(), 42);                     // every day cell, none of the names
        QVERIFY(asked.contains(D(2026, 4, 5)));
    }

    void altDownOpensAndReusesThePopup() {
        edit->SetDate(D(2026, 3, 15));
        QTest::keyClick(edit, Qt::Key_Down, Qt::AltModifier);
        QVERIFY(popupOpen());
        TsPopupCalendar* first = popup();
        QTest::keyClick(edit, Qt::Key_Escape);
        QTest::keyClick(edit, Qt::Key_Down, Qt::AltModifier);
        QVERIFY(popupOpen());
        QCOMPARE(popup(), first);
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    vesperine::ControlLibrary library{std::vector<std::string>{}};  // glyphs: the click key needs a button glyph
    TsPopupCalendar::Register();
    TestPopupCalendar t;
    return QTest::qExec(&t, argc, argv);
}

#include "popup_calendar_test.moc"
