// The masked edit and the combo edit with its button, typed through Qt Test.

#include <optional>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QStyle>
#include <QTest>
#include <QVBoxLayout>

#include "controls/combo_edit.h"
#include "controls/edit_button.h"
#include "controls/popup_controller.h"
#include "controls/popup_form.h"
#include "graphics/startup.h"
#include "platform/regional.h"
#include "settle.h"

namespace {
class PlainPopup : public TacPopupForm {
public:
    using TacPopupForm::TacPopupForm;
};

// A combo edit whose popup is a plain form.
class TestCombo : public TsCustomComboEdit {
public:
    explicit TestCombo(QWidget* parent) : TsCustomComboEdit(parent) {}
    void OpenPopup() override {
        if (!PopupWindow()) SetPopupWindow(new PlainPopup(this));
        ++Opened;
        TsCustomComboEdit::OpenPopup();
    }
    int Opened = 0;
};
}  // namespace

class TestComboEdit : public QObject {
    Q_OBJECT
    std::optional<vesperine::ControlLibrary> library;
    QWidget* window = nullptr;
    TestCombo* combo = nullptr;
    TsMaskEdit* masked = nullptr;
    QLineEdit* other = nullptr;

private slots:
    void initTestCase() {
        QVERIFY(platform::setProcessLocale("pt_BR.UTF-8"));
        library.emplace(std::vector<std::string>{});
    }
    void cleanupTestCase() {
        TsPopupController::Free();
        library.reset();
    }

    void init() {
        window = new QWidget;
        window->resize(300, 200);
        combo = new TestCombo(window);
        combo->setGeometry(10, 10, 120, 21);
        masked = new TsMaskEdit(window);
        masked->setGeometry(10, 40, 120, 21);
        other = new QLineEdit(window);
        other->setGeometry(10, 70, 120, 21);
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        combo->setFocus();
        QTRY_VERIFY(combo->hasFocus());
    }
    void cleanup() {
        delete window;
        window = nullptr;
    }

    void buttonIsTheStandardGlyphWide() {
        QCOMPARE(combo->Button()->width(), 18);
        QCOMPARE(combo->Button()->geometry().right(), combo->width() - 3);
        QCOMPARE(combo->ClickKey(), QKeySequence(Qt::ALT | Qt::Key_Down));
        QCOMPARE(combo->PopupWidth(), 197);
        QCOMPARE(combo->PopupHeight(), 166);
    }

    void buttonOpensAndASecondClickOnlyCloses() {
        QTest::mouseClick(combo->Button(), Qt::LeftButton);
        QTRY_VERIFY(combo->DroppedDown());
        QCOMPARE(combo->PopupWindow()->size(), QSize(197, 166));
        QVERIFY(combo->hasFocus());  // the popup does not take the focus
        QTest::mousePress(combo->Button(), Qt::LeftButton);
        QTest::mouseRelease(combo->Button(), Qt::LeftButton);
        QTRY_VERIFY(!combo->DroppedDown());
        QVERIFY(deliverPostedEvents());
        QVERIFY(!combo->DroppedDown());
        QCOMPARE(combo->Opened, 1);
    }

    // The button is told, not asking: its glyph follows a change made after
    // creation, and its pressed look follows the popup however it is shown,
    // hidden or destroyed.
    void buttonFollowsItsEdit() {
        TsEditButton* button = combo->Button();
        QVERIFY(!button->IsDropDownArrow());
        combo->SetDefBmpID(-1);
        QVERIFY(button->IsDropDownArrow());
        QCOMPARE(button->DefBmpID(), -1);
        // An arrow is as wide as a scroll bar, and the text makes room for it.
        QCOMPARE(button->width(), combo->style()->pixelMetric(QStyle::PM_ScrollBarExtent) - 1);
        QCOMPARE(combo->textMargins().right(), button->width());

        // Each check follows its opening at once: off screen the popup is
        // activated a moment later, and the edit's focus loss closes it.
        // Opened from the keyboard: the arrow looks pressed, not held.
        QTest::keyClick(combo, Qt::Key_Down, Qt::AltModifier);
        QTRY_VERIFY(combo->DroppedDown());
        QVERIFY(button->DroppedDown());
        QCOMPARE(button->CurrentState(), 2);
        // Hidden behind the edit's back (as a click elsewhere does).
        combo->PopupWindow()->hide();
        QVERIFY(!button->DroppedDown());
        QCOMPARE(button->CurrentState(), 0);
        // A press on the arrow opens at once.
        QTest::mousePress(button, Qt::LeftButton);
        QTRY_VERIFY(combo->DroppedDown());
        QVERIFY(button->DroppedDown());
        QTest::mouseRelease(button, Qt::LeftButton);
        QCOMPARE(button->DroppedDown(), combo->DroppedDown());
        combo->ClosePopup();
        QVERIFY(!combo->DroppedDown());
        QVERIFY(!button->DroppedDown());
        // Destroyed while shown.
        QTest::keyClick(combo, Qt::Key_Down, Qt::AltModifier);
        QTRY_VERIFY(combo->DroppedDown());
        QVERIFY(button->DroppedDown());
        delete combo->PopupWindow();
        QVERIFY(!combo->DroppedDown());
        QVERIFY(!button->DroppedDown());
        QCOMPARE(button->CurrentState(), 0);

        // Back to a standard glyph: its own width, and an open popup does not
        // press it.
        combo->SetDefBmpID(3);
        QVERIFY(!button->IsDropDownArrow());
        QCOMPARE(button->width(), 18);
        QCOMPARE(combo->textMargins().right(), 18);
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_VERIFY(combo->DroppedDown());
        QVERIFY(button->DroppedDown());
        QCOMPARE(button->CurrentState(), 0);
        QCOMPARE(combo->Opened, 4);
    }

    void clickKeyOpensAndCloses() {
        QTest::keyClick(combo, Qt::Key_Down, Qt::AltModifier);
        QTRY_VERIFY(combo->DroppedDown());
        QTest::keyClick(combo, Qt::Key_Down, Qt::AltModifier);
        QTRY_VERIFY(!combo->DroppedDown());
        QCOMPARE(combo->EditText(), QString());  // Alt+Down types nothing
        // Another click key replaces Alt+Down.
        combo->SetClickKey(QKeySequence(Qt::Key_F4));
        QTest::keyClick(combo, Qt::Key_Down, Qt::AltModifier);
        QVERIFY(!combo->DroppedDown());
        QTest::keyClick(combo, Qt::Key_F4);
        QTRY_VERIFY(combo->DroppedDown());
        QTest::keyClick(combo, Qt::Key_F4);
        QTRY_VERIFY(!combo->DroppedDown());
    }

    void readOnlyOpensNothing() {
        combo->SetReadOnly(true);
        QTest::mouseClick(combo->Button(), Qt::LeftButton);
        QTest::keyClick(combo, Qt::Key_Down, Qt::AltModifier);
        QTest::mouseDClick(combo->Button(), Qt::LeftButton);
        QVERIFY(deliverPostedEvents());
        QVERIFY(!combo->DroppedDown());
        QCOMPARE(combo->Opened, 0);
        QTest::keyClicks(combo, "abc");
        QCOMPARE(combo->EditText(), QString());
    }

    void withoutDirectInputOnlyTheButtonWorks() {
        combo->SetText("keep");
        combo->SetDirectInput(false);
        QApplication::clipboard()->setText("pasted");
        combo->setCursorPosition(4);
        QTest::keyClicks(combo, "xyz");
        QTest::keyClick(combo, Qt::Key_V, Qt::ControlModifier);
        QTest::keyClick(combo, Qt::Key_Insert, Qt::ShiftModifier);
        combo->selectAll();
        QTest::keyClick(combo, Qt::Key_X, Qt::ControlModifier);
        QTest::keyClick(combo, Qt::Key_Backspace);
        QCOMPARE(combo->EditText(), QString("keep"));
        QTest::mouseClick(combo->Button(), Qt::LeftButton);
        QTRY_VERIFY(combo->DroppedDown());
    }

    void ctrlASelectsAndTypesNothing() {
        QTest::keyClicks(combo, "hello");
        combo->setCursorPosition(0);
        QTest::keyClick(combo, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(combo->selectedText(), QString("hello"));
        QCOMPARE(combo->EditText(), QString("hello"));
    }

    void hidingTheButtonGivesItsWidthBack() {
        const int withButton = combo->TextArea().width();
        combo->SetShowButton(false);
        QVERIFY(!combo->Button()->isVisible());
        QCOMPARE(combo->TextArea().width(), withButton + 18);
        QCOMPARE(combo->textMargins().right(), 0);
        combo->SetShowButton(true);
        QCOMPARE(combo->Button()->width(), 18);
        QCOMPARE(combo->textMargins().right(), 18);
    }

    void hintShowsGreyWithoutFocus() {
        combo->SetTextHint("Data");
        other->setFocus();
        QTRY_VERIFY(!combo->hasFocus());
        const QImage face = combo->grab().toImage();
        const QColor grey = combo->palette().color(QPalette::Disabled, QPalette::Text);
        int greyish = 0;
        for (int y = 0; y < face.height(); ++y)
            for (int x = 0; x < face.width() - 20; ++x) {
                const QColor c = face.pixelColor(x, y);
                if (qAbs(c.red() - grey.red()) < 40 && qAbs(c.green() - grey.green()) < 40 && c != Qt::white) ++greyish;
            }
        QVERIFY2(greyish > 5, "no hint pixels");
        combo->SetText("x");
        QCOMPARE(combo->Text(), QString("x"));
    }

    void changeIsReportedOnlyWhileClosed() {
        int changes = 0;
        combo->OnChange = [&](QObject*) { ++changes; };
        QTest::keyClicks(combo, "ab");
        QCOMPARE(changes, 2);
        QTest::keyClick(combo, Qt::Key_Down, Qt::AltModifier);
        QTRY_VERIFY(combo->DroppedDown());
        combo->SetText("while open");
        QCOMPARE(changes, 2);
    }

    void maskTypingAndCaret() {
        masked->SetEditMask("!99/99/9999;1; ");
        masked->setFocus();
        QTRY_VERIFY(masked->hasFocus());
        masked->setCursorPosition(0);
        QTest::keyClicks(masked, "1503");
        QCOMPARE(masked->EditText(), QString("15/03/    "));
        QCOMPARE(masked->cursorPosition(), 6);  // stepped over the "/"
        QTest::keyClick(masked, Qt::Key_Backspace);
        QCOMPARE(masked->EditText(), QString("15/0 /    "));
        QTest::keyClick(masked, Qt::Key_Left);
        QTest::keyClick(masked, Qt::Key_Left);
        QCOMPARE(masked->cursorPosition(), 1);  // stepped back over the "/"
        QTest::keyClick(masked, Qt::Key_Delete);
        QCOMPARE(masked->EditText(), QString("1 /0 /    "));
        QTest::keyClicks(masked, "x");  // refused
        QCOMPARE(masked->EditText(), QString("1 /0 /    "));
        QCOMPARE(masked->Text(), QString("1 /0 /    "));
    }

    void checkOnExitKeepsTheFocus() {
        masked->SetEditMask("00000-000;1;_");
        QString reported, validate;
        masked->OnValidateError = [&](QObject*, const QString& m) { validate = m; };
        auto old = TsMaskEdit::ErrorReporter();
        TsMaskEdit::ErrorReporter() = [&](const QString& m) { reported = m; };
        masked->setFocus();
        QTRY_VERIFY(masked->hasFocus());
        masked->setCursorPosition(0);
        QTest::keyClicks(masked, "0123");
        other->setFocus();
        QTRY_VERIFY(!reported.isEmpty());
        QCOMPARE(validate, reported);
        QTRY_VERIFY(masked->hasFocus());
        // Switched off, the same text may leave.
        masked->SetCheckOnExit(false);
        reported.clear();
        other->setFocus();
        QTRY_VERIFY(other->hasFocus());
        QVERIFY(deliverPostedEvents());  // the focus is taken back by a queued call
        QVERIFY(reported.isEmpty());
        QVERIFY(other->hasFocus());
        TsMaskEdit::ErrorReporter() = old;
    }
};

QTEST_MAIN(TestComboEdit)
#include "combo_edit_test.moc"
