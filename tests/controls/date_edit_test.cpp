// The date edit typed through Qt Test with the pt-BR locale pinned.

#include <optional>
#include <QLineEdit>
#include <QTest>

#include "controls/date_edit.h"
#include "controls/popup_controller.h"
#include "fakes.h"
#include "graphics/startup.h"
#include "platform/datetime.h"
#include "platform/regional.h"

namespace {
DateTime Day(int y, int m, int d) {
    DateTime v = 0;
    platform::tryEncodeDate(y, m, d, v);
    return v;
}
platform::DateParts Today() {
    platform::DateParts p;
    platform::tryDecodeDate(platform::today(), p);
    return p;
}
QString Two(int v) { return QString::number(v).rightJustified(2, QLatin1Char('0')); }
}  // namespace

class TestDateEdit : public QObject {
    Q_OBJECT
    std::optional<vesperine::ControlLibrary> library;
    QWidget* window = nullptr;
    TsDateEdit* edit = nullptr;
    QLineEdit* other = nullptr;
    FakeCalendar* calendar = nullptr;

    void typeAndLeave(const QString& keys) {
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        edit->setCursorPosition(0);
        QTest::keyClicks(edit, keys);
        other->setFocus();
        QTRY_VERIFY(other->hasFocus());
    }

private slots:
    void initTestCase() {
        QVERIFY(platform::setProcessLocale("pt_BR.UTF-8"));
        library.emplace(std::vector<std::string>{});
        TsCustomDateEdit::SetDatePopupFactory([this](TsCustomDateEdit* owner) {
            calendar = new FakeCalendar(owner);
            return calendar;
        });
    }
    void cleanupTestCase() {
        TsCustomDateEdit::SetDatePopupFactory(nullptr);
        TsPopupController::Free();
        library.reset();
    }

    void init() {
        window = new QWidget;
        window->resize(300, 200);
        edit = new TsDateEdit(window);
        // As the main window sets its period fields.
        edit->SetCheckOnExitProp(true);
        edit->SetAssumeDefault(false);
        edit->SetDateText("30/12/1899");
        edit->SetEditMask("!99/99/9999;1; ");
        edit->setMaxLength(10);
        edit->setGeometry(10, 10, 81, 21);
        other = new QLineEdit(window);
        other->setGeometry(10, 60, 100, 21);
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
    }
    void cleanup() {
        delete window;
        window = nullptr;
        calendar = nullptr;
    }

    void startsEmptyWithTheLocaleMask() {
        QCOMPARE(edit->EditMask(), QString("!99/99/9999;1; "));
        QCOMPARE(edit->DateFormat(), QString("DD/MM/YYYY"));
        QCOMPARE(edit->Text(), QString("  /  /    "));
        QCOMPARE(edit->DateValue(), 0.0);
        QCOMPARE(edit->Date(), NullDate);
        QCOMPARE(edit->DefBmpID(), 2);
        typeAndLeave("");
        QCOMPARE(edit->Text(), QString("  /  /    "));
        QCOMPARE(edit->Date(), NullDate);
    }

    void exitCompletion_data() {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("text");
        const auto t = Today();
        QTest::newRow("complete") << "15032026"
                                  << "15/03/2026";
        QTest::newRow("two-digit year") << "150326"
                                        << "15/03/2026";
        QTest::newRow("day past the month") << "31022026"
                                            << "28/02/2026";
        QTest::newRow("day and month too big") << "45132026"
                                               << "31/12/2026";
        QTest::newRow("zeros are empty") << "00000000"
                                         << "  /  /    ";
        const int may = qMin(t.day, 31);
        QTest::newRow("only the month") << "  05" << Two(may) + "/05/" + QString::number(t.year);
        const int april = qMin(t.day, 30);
        QTest::newRow("only april") << "  04" << Two(april) + "/04/" + QString::number(t.year);
    }
    void exitCompletion() {
        QFETCH(QString, keys);
        QFETCH(QString, text);
        typeAndLeave(keys);
        QCOMPARE(edit->Text(), text);
        if (text.trimmed() != "/  /") {
            const QStringList f = text.split('/');
            const DateTime expected = Day(f[2].toInt(), f[1].toInt(), f[0].toInt());
            QCOMPARE(edit->Date(), expected);
            QCOMPARE(edit->DateValue(), expected);
        } else {
            QCOMPARE(edit->Date(), NullDate);
            QCOMPARE(edit->DateValue(), 0.0);
        }
    }

    void impossibleTextReadsZeroBeforeLeaving() {
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        edit->setCursorPosition(0);
        QTest::keyClicks(edit, "31022026");
        QCOMPARE(edit->EditText(), QString("31/02/2026"));
        QCOMPARE(edit->DateValue(), 0.0);
        QTest::keyClick(edit, Qt::Key_Backspace);
        QCOMPARE(edit->DateValue(), 0.0);  // a blank anywhere reads as empty
    }

    void typingDoesNotMoveTheCaret() {
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        edit->setCursorPosition(0);
        QTest::keyClicks(edit, "150320");
        QCOMPARE(edit->cursorPosition(), 8);
        QTest::keyClicks(edit, "26");
        QCOMPARE(edit->Date(), Day(2026, 3, 15));
        QCOMPARE(edit->EditText(), QString("15/03/2026"));
    }

    void dateKeys() {
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        QTest::keyClick(edit, Qt::Key_Up);  // empty: tomorrow
        QCOMPARE(std::floor(edit->Date()), platform::today() + 1);
        QCOMPARE(edit->selectedText(), edit->EditText());
        QTest::keyClick(edit, Qt::Key_T);
        QCOMPARE(edit->Date(), platform::today());
        edit->SetDate(Day(2024, 2, 28));
        QTest::keyClick(edit, Qt::Key_Plus, Qt::KeypadModifier);
        QCOMPARE(edit->EditText(), QString("29/02/2024"));
        QTest::keyClick(edit, Qt::Key_Down);
        QTest::keyClick(edit, Qt::Key_Down);
        QCOMPARE(edit->EditText(), QString("27/02/2024"));
        QTest::keyClick(edit, Qt::Key_Minus);  // typed "-" does nothing
        QCOMPARE(edit->EditText(), QString("27/02/2024"));
        edit->SetReadOnly(true);
        QTest::keyClick(edit, Qt::Key_Up);
        QCOMPARE(edit->EditText(), QString("27/02/2024"));
    }

    void dateValueAndLimits() {
        edit->SetDateValue(Day(2026, 3, 15));
        QCOMPARE(edit->Text(), QString("15/03/2026"));
        QCOMPARE(edit->Date(), Day(2026, 3, 15));
        QCOMPARE(edit->DateText(), QString("15/03/2026"));
        edit->SetMinDate(Day(2026, 4, 1));
        QCOMPARE(edit->Date(), Day(2026, 4, 1));
        edit->SetMaxDate(Day(2026, 3, 1));  // below MinDate: ignored
        QCOMPARE(edit->MaxDate(), 0.0);
        edit->SetMaxDate(Day(2026, 4, 10));
        edit->SetDate(Day(2026, 5, 1));  // typed dates are not limited
        QCOMPARE(edit->Date(), Day(2026, 5, 1));
        edit->SetDateValue(NullDate);
        QCOMPARE(edit->Text(), QString("  /  /    "));
    }

    void clickSelectsTheSegment() {
        edit->SetDate(Day(2026, 3, 15));
        edit->SetAutoSelect(false);
        const QFontMetrics fm(edit->font());
        const int left = edit->contentsRect().left();
        QTest::mouseClick(edit, Qt::LeftButton, {}, QPoint(left + fm.horizontalAdvance('0') / 2, 10));
        QCOMPARE(edit->selectionStart(), 0);
        QCOMPARE(edit->selectedText(), QString("15"));
        QTest::mouseClick(edit, Qt::LeftButton, {}, QPoint(left + 3 * fm.horizontalAdvance('0') + 2, 10));
        QCOMPARE(edit->selectedText(), QString("03"));
        QTest::mouseClick(edit, Qt::LeftButton, {}, QPoint(left + 7 * fm.horizontalAdvance('0') + 2, 10));
        QCOMPARE(edit->selectedText(), QString("2026"));
    }

    void openingPreparesTheCalendar() {
        edit->SetDate(Day(2026, 3, 15));
        edit->SetMinDate(Day(2026, 1, 1));
        edit->SetShowTodayBtn(false);
        edit->SetCalendarHints({"a", "b", "c", "d", "e"});
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        QTest::keyClick(edit, Qt::Key_Down, Qt::AltModifier);
        QVERIFY(calendar);
        QTRY_VERIFY(edit->DroppedDown());
        QCOMPARE(calendar->CalendarDate, Day(2026, 3, 15));
        QCOMPARE(calendar->Min, Day(2026, 1, 1));
        QCOMPARE(calendar->Max, 0.0);
        QCOMPARE(calendar->Editor, static_cast<TsCustomDateEdit*>(edit));
        QCOMPARE(calendar->Settings.ShowTodayBtn, false);
        QCOMPARE(calendar->Settings.Hints.size(), 4);
        QCOMPARE(calendar->size(), QSize(197, 166));
        QCOMPARE(TsCustomDateEdit::CurrentDatePopupOwner(), static_cast<TsCustomDateEdit*>(edit));
        // Keys go to the calendar while it is open.
        QTest::keyClick(edit, Qt::Key_Right);
        QTest::keyClicks(edit, "t+");
        QCOMPARE(calendar->Keys, QStringList({QString::number(Qt::Key_Right, 16), "t", "+"}));
        QCOMPARE(edit->EditText(), QString("15/03/2026"));
        calendar->CalendarDate = Day(2026, 3, 20);
        QTest::keyClick(edit, Qt::Key_Return);
        QTRY_VERIFY(!edit->DroppedDown());
        QCOMPARE(edit->EditText(), QString("20/03/2026"));
        QCOMPARE(TsCustomDateEdit::CurrentDatePopupOwner(), static_cast<TsCustomDateEdit*>(nullptr));
    }

    void emptyDateOpensOnTodayAndFocusLossCloses() {
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        QTest::keyClick(edit, Qt::Key_Down, Qt::AltModifier);
        QTRY_VERIFY(edit->DroppedDown());
        QCOMPARE(calendar->CalendarDate, platform::today());
        other->setFocus();
        QTRY_VERIFY(!edit->DroppedDown());
    }

    void onlyOneDatePopupAtATime() {
        auto* second = new TsDateEdit(window);
        second->setGeometry(150, 10, 81, 21);
        second->show();
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        edit->OpenPopup();
        QTRY_VERIFY(edit->DroppedDown());
        second->OpenPopup();
        QTRY_VERIFY(second->DroppedDown());
        QVERIFY(!edit->DroppedDown());
        QCOMPARE(TsCustomDateEdit::CurrentDatePopupOwner(), static_cast<TsCustomDateEdit*>(second));
    }

    void checkValidDateRaisesInvalidDate() {
        edit->SetText("99/99/2026");
        bool raised = false;
        try {
            edit->CheckValidDate();
        } catch (const std::exception& e) {
            raised = true;
            QCOMPARE(QString(e.what()), QString("Invalid date"));
        }
        QVERIFY(raised);
        edit->SetText("15/03/26  ");
        QVERIFY(edit->CheckValidDate());
        QCOMPARE(edit->EditText(), QString("15/03/2026"));
        edit->SetText("");
        QVERIFY(!edit->CheckValidDate());
    }

    void englishLocaleOrder() {
        QVERIFY(platform::setProcessLocale("en_US.UTF-8"));
        auto* us = new TsDateEdit(window);
        us->setGeometry(150, 40, 81, 21);
        us->show();
        QCOMPARE(us->DateFormat(), QString("MM/DD/YYYY"));
        us->setFocus();
        QTRY_VERIFY(us->hasFocus());
        us->setCursorPosition(0);
        QTest::keyClicks(us, "02312026");
        other->setFocus();
        QTRY_VERIFY(other->hasFocus());
        QCOMPARE(us->Text(), QString("02/28/2026"));
        QCOMPARE(us->DateValue(), Day(2026, 2, 28));
        QVERIFY(platform::setProcessLocale("pt_BR.UTF-8"));
    }
};

QTEST_MAIN(TestDateEdit)
#include "date_edit_test.moc"
