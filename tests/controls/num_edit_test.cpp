// The numeric edit typed through Qt Test with the pt-BR locale pinned.

#include <optional>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QTest>

#include "controls/num_edit.h"
#include "controls/number_rules.h"
#include "controls/popup_controller.h"
#include "fakes.h"
#include "graphics/startup.h"
#include "platform/regional.h"

class TestNumEdit : public QObject {
    Q_OBJECT
    std::optional<vesperine::ControlLibrary> library;
    QWidget* window = nullptr;
    TsCalcEdit* edit = nullptr;
    QLineEdit* other = nullptr;
    FakeCalculator* calc = nullptr;
    QStringList errors;

    void focusEdit() {
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
    }
    void leave() {
        other->setFocus();
        QTRY_VERIFY(other->hasFocus());
    }

private slots:
    void initTestCase() {
        QVERIFY(platform::setProcessLocale("pt_BR.UTF-8"));
        library.emplace(std::vector<std::string>{});
        TsCustomNumEdit::SetCalculatorFactory([this](TsCustomNumEdit* owner) {
            calc = new FakeCalculator(owner);
            return calc;
        });
        TsMaskEdit::ErrorReporter() = [this](const QString& m) { errors << m; };
    }
    void cleanupTestCase() {
        TsCustomNumEdit::SetCalculatorFactory(nullptr);
        TsPopupController::Free();
        library.reset();
    }

    void init() {
        errors.clear();
        window = new QWidget;
        window->resize(300, 200);
        edit = new TsCalcEdit(window);
        edit->setGeometry(10, 10, 100, 21);
        other = new QLineEdit(window);
        other->setGeometry(10, 60, 100, 21);
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
    }
    void cleanup() {
        delete window;
        window = nullptr;
        calc = nullptr;
    }

    void freshEditReadsZero() {
        leave();
        QCOMPARE(edit->Text(), QString("0"));
        QCOMPARE(double(edit->Value()), 0.0);
        QCOMPARE(edit->DisplayText(), QString("0"));
        QCOMPARE(edit->DefBmpID(), 4);
        QCOMPARE(edit->PopupWidth(), 216);
        QCOMPARE(edit->PopupHeight(), 136);
        QCOMPARE(edit->Alignment(), Qt::Alignment(Qt::AlignRight));
        // Painted right-aligned: the "0" lies in the right half of the text area.
        const QImage face = edit->grab().toImage();
        const QRect area = edit->TextArea();
        int leftmostDark = face.width();
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                if (qGray(face.pixel(x, y)) < 100) leftmostDark = qMin(leftmostDark, x);
        QVERIFY2(leftmostDark > area.center().x(), qPrintable(QString::number(leftmostDark)));
    }

    void typedTextAndLeaving_data() {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        QTest::newRow("decimal comma") << "1,5"
                                       << "1,5" << 1.5;
        QTest::newRow("dot is the thousands mark") << "1.5"
                                                   << "15" << 15.0;
        QTest::newRow("third decimal refused") << "1,234"
                                               << "1,23" << 1.23;
        QTest::newRow("exponent") << "1E3"
                                  << "1000" << 1000.0;
        QTest::newRow("minus at the start") << "-7"
                                            << "-7" << -7.0;
        QTest::newRow("letters refused") << "4a2"
                                         << "42" << 42.0;
        QTest::newRow("cleared") << ""
                                 << "0" << 0.0;
    }
    void typedTextAndLeaving() {
        QFETCH(QString, keys);
        QFETCH(QString, text);
        QFETCH(double, value);
        focusEdit();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, keys);
        leave();
        QCOMPARE(edit->Text(), text);
        QCOMPARE(double(edit->Value()), value);
        QVERIFY(errors.isEmpty());
    }

    void thousandsSeparatorIsDroppedWhenPasted() {
        QApplication::clipboard()->setText("1.5");
        focusEdit();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(edit->EditText(), QString("1.5"));
        leave();
        QCOMPARE(edit->Text(), QString("15"));
    }

    void pastingANonNumberIsUndone() {
        edit->SetValue(12);
        QApplication::clipboard()->setText("abc");
        focusEdit();
        edit->setCursorPosition(2);
        QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(edit->EditText(), QString("12"));
        QCOMPARE(edit->selectedText(), QString("12"));
        QVERIFY(errors.isEmpty());
    }

    void noDecimalsStillTakesTheSeparator() {
        edit->SetDecimalPlaces(0);
        focusEdit();
        edit->selectAll();
        QTest::keyClicks(edit, "7,5");
        QCOMPARE(edit->EditText(), QString("7,"));
        leave();
        QCOMPARE(edit->Text(), QString("7"));
    }

    void operatorKeys() {
        focusEdit();
        edit->selectAll();
        QTest::keyClicks(edit, "5");
        QTest::keyClicks(edit, "+");
        QVERIFY(calc);
        QTRY_VERIFY(edit->DroppedDown());
        QCOMPARE(calc->ShownValue, 5.0);
        QCOMPARE(calc->Keys, QString("+"));
        QVERIFY(edit->hasFocus());
        // Typing goes to the calculator while it is open.
        QTest::keyClicks(edit, "3=");
        QCOMPARE(calc->Keys, QString("+3="));
        QCOMPARE(edit->EditText(), QString("5"));
        edit->ClosePopup();
        QTRY_VERIFY(!edit->DroppedDown());
        // "-" after 0 is typed; at the start it is a sign.
        edit->SetValue(0);
        edit->setCursorPosition(1);
        QTest::keyClicks(edit, "-");
        QCOMPARE(edit->EditText(), QString("0-"));
        edit->SetValue(4);
        edit->setCursorPosition(0);
        QTest::keyClicks(edit, "-");
        QCOMPARE(edit->EditText(), QString("-4"));
        // After an exponent "-" is the exponent's sign.
        edit->SetText("1");
        edit->setCursorPosition(1);
        QTest::keyClicks(edit, "E-");
        QCOMPARE(edit->EditText(), QString("1E-"));
        QVERIFY(!edit->DroppedDown());
        // Other operators at the start are swallowed.
        edit->setCursorPosition(0);
        QTest::keyClicks(edit, "*");
        QCOMPARE(edit->EditText(), QString("1E-"));
    }

    void eachOpeningMakesAFreshCalculator() {
        const int created = FakeCalculator::Created, destroyed = FakeCalculator::Destroyed;
        focusEdit();
        edit->SetFlatButtons(true);
        QTest::keyClick(edit, Qt::Key_Down, Qt::AltModifier);
        QTRY_VERIFY(edit->DroppedDown());
        QVERIFY(calc->Flat);
        QCOMPARE(calc->size(), QSize(216, 136));
        QTest::keyClick(edit, Qt::Key_Down, Qt::AltModifier);
        QTRY_VERIFY(!edit->DroppedDown());
        QTest::keyClick(edit, Qt::Key_Down, Qt::AltModifier);
        QTRY_VERIFY(edit->DroppedDown());
        QCOMPARE(FakeCalculator::Created, created + 2);
        QCOMPARE(FakeCalculator::Destroyed, destroyed + 1);
    }

    void leavingWithANonNumberReportsAndKeepsTheFocus() {
        edit->SetValue(3);
        focusEdit();
        // What a calculator leaves behind after a division by zero.
        edit->SetEditTextRaw("Error");
        other->setFocus();
        QTRY_COMPARE(errors.size(), 1);
        QCOMPARE(errors[0], QString("'0Error' is not a valid floating point value"));
        QTRY_VERIFY(edit->hasFocus());
        QCOMPARE(edit->EditText(), QString("Error"));
        QCOMPARE(double(edit->Value()), 0.0);  // reading Value never raises: MinValue
    }

    void escRestoresTheStoredValue() {
        edit->SetValue(8);
        focusEdit();
        edit->setCursorPosition(1);
        QTest::keyClicks(edit, "9");
        QCOMPARE(edit->EditText(), QString("89"));
        QTest::keyClick(edit, Qt::Key_Escape);
        QCOMPARE(edit->EditText(), QString("8"));
        QCOMPARE(edit->selectedText(), QString("8"));
    }

    void rangeAndConversions() {
        edit->SetMinValue(1);
        QCOMPARE(double(edit->Value()), 1.0);  // raised to the new minimum
        edit->SetValue(0.5L);
        QCOMPARE(double(edit->Value()), 1.0);
        edit->SetValue(1000);
        QCOMPARE(double(edit->Value()), 1000.0);
        edit->SetMinValue(0);
        edit->SetValue(2.9L);
        QCOMPARE(edit->AsInteger(), 2);
        edit->SetValue(-2.9L);
        QCOMPARE(edit->AsInteger(), -2);
        QVERIFY_THROWS_EXCEPTION(controls::EConvertError, edit->SetText("abc"));
        QCOMPARE(edit->Text(), QString("-2,9"));
        edit->SetEditTextRaw("1?2\r\n");
        QCOMPARE(edit->Text(), QString("12"));
        edit->Clear();
        QCOMPARE(edit->Text(), QString("0"));
        edit->SetValue(1234567.5L);
        leave();
        QCOMPARE(edit->DisplayText(), QString("1 234 567,50"));
        QCOMPARE(edit->Text(), QString("1234567,5"));
    }

    void changeIsNotReportedForFocusRewrites() {
        edit->SetValue(2.5L);
        int changes = 0;
        edit->OnChange = [&](QObject*) { ++changes; };
        focusEdit();
        leave();
        QCOMPARE(changes, 0);
        focusEdit();
        QTest::keyClicks(edit, "1");
        QCOMPARE(changes, 1);
    }
};

QTEST_MAIN(TestNumEdit)
#include "num_edit_test.moc"
