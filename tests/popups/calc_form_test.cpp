// The calculator popup opened from a numeric edit, used with keys and clicks.

#include <QApplication>
#include <QtTest>

#include "controls/calc_form.h"
#include "controls/edit_button.h"
#include "controls/num_edit.h"
#include "graphics/startup.h"
#include "platform/regional.h"

class TestCalcForm : public QObject {
    Q_OBJECT

    QWidget* window = nullptr;
    TsCalcEdit* edit = nullptr;
    QStringList texts;  // every text the edit showed

    TsCalcForm* calc() const { return dynamic_cast<TsCalcForm*>(edit->Calculator()); }
    bool popupOpen() const { return calc() && calc()->isVisible(); }
    void open() {
        QTest::mouseClick(edit->Button(), Qt::LeftButton);
        QVERIFY(popupOpen());
    }
    void click(const QString& caption) {
        TsCalcButton* b = calc()->ButtonByCaption(caption);
        QVERIFY2(b, qPrintable(caption));
        QTest::mouseClick(b, Qt::LeftButton);
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
        edit = new TsCalcEdit(window);
        edit->setGeometry(10, 10, 121, 21);
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        edit->setFocus();
        texts.clear();
        connect(edit, &QLineEdit::textChanged, this, [this](const QString& t) { texts << t; });
    }

    void cleanup() {
        delete window;
        window = nullptr;
    }

    void layoutHasTheButtonsInPlace() {
        TsCalcForm form;
        struct Case {
            int n;
            const char* caption;
            QRect bounds;
        };
        const Case cases[] = {
            {1, "<-", {48, 6, 47, 20}},         {27, "CE", {100, 6, 48, 20}}, {2, "C", {153, 6, 48, 20}},
            {3, "MC", {5, 32, 31, 20}},         {4, "7", {38, 32, 31, 20}},   {8, "sqrt", {170, 32, 31, 20}},
            {9, "MR", {5, 54, 31, 20}},         {14, "%", {170, 54, 31, 20}}, {15, "MS", {5, 76, 31, 20}},
            {20, "1/x", {170, 76, 31, 20}},     {21, "MP", {5, 98, 31, 20}},  {22, "0", {38, 98, 31, 20}},
            {23, "\xC2\xB1", {71, 98, 31, 20}}, {24, ",", {104, 98, 31, 20}}, {26, "=", {170, 98, 31, 20}},
        };
        for (const Case& c : cases) {
            QCOMPARE(form.Button(c.n)->Caption(), QString::fromUtf8(c.caption));
            QCOMPARE(form.Button(c.n)->geometry(), c.bounds);
        }
        QCOMPARE(form.size(), QSize(214, 176));
        QCOMPARE(form.sDragBar1->geometry(), QRect(5, 5, 204, 20));
        QCOMPARE(form.FDisplayPanel->geometry(), QRect(5, 27, 204, 20));
        QCOMPARE(form.FCalculatorPanel->geometry(), QRect(5, 47, 204, 124));
        QCOMPARE(form.FDisplayPanel->Caption(), QStringLiteral("0 "));
        QVERIFY(!form.Button(3)->isEnabled());
        QVERIFY(!form.Button(9)->isEnabled());

        QVERIFY(platform::setProcessLocale("en_US.UTF-8"));
        TsCalcForm english;
        QCOMPARE(english.Button(24)->Caption(), QStringLiteral("."));
        QVERIFY(platform::setProcessLocale("pt_BR.UTF-8"));
    }

    void standaloneCalculatorShowsOnItsDisplay() {
        TsCalcForm form;
        form.show();
        QTest::mouseClick(form.Button(16), Qt::LeftButton);  // 1
        QTest::mouseClick(form.Button(24), Qt::LeftButton);  // ,
        QTest::mouseClick(form.Button(12), Qt::LeftButton);  // 6: two characters without a precision
        QCOMPARE(form.FDisplayPanel->Caption(), QStringLiteral("1, "));
        form.Engine().SetPrecision(16);
        QTest::mouseClick(form.Button(12), Qt::LeftButton);
        QCOMPARE(form.FDisplayPanel->Caption(), QStringLiteral("1,6 "));
    }

    void typedSumGoesIntoTheEdit() {
        edit->SetValue(5);
        open();
        QCOMPARE(calc()->size(), QSize(216, 136));
        QVERIFY(!calc()->FDisplayPanel->isVisible());
        QVERIFY(!calc()->sDragBar1->isVisible());
        QCOMPARE(calc()->FCalculatorPanel->geometry(), QRect(5, 7, 206, 124));
        QCOMPARE(calc()->Text(), QStringLiteral("5"));
        QVERIFY(edit->hasFocus());
        texts.clear();
        QTest::keyClicks(edit, QStringLiteral("3+4"));
        QCOMPARE(texts, (QStringList{"0", "", "3", "0", "", "4"}));
        QVERIFY(popupOpen());
        QTest::keyClicks(edit, QStringLiteral("="));
        QVERIFY(!popupOpen());
        QCOMPARE(double(edit->Value()), 7.0);
        QCOMPARE(edit->EditText(), QStringLiteral("7"));
        QCOMPARE(edit->selectedText(), QStringLiteral("7"));
    }

    void operatorKeyOpensTheCalculator() {
        edit->SetValue(5);
        edit->setCursorPosition(1);
        QTest::keyClicks(edit, QStringLiteral("*"));
        QVERIFY(popupOpen());
        QCOMPARE(calc()->Engine().PendingOperator(), '*');
        QTest::keyClicks(edit, QStringLiteral("6"));
        QTest::keyClick(edit, Qt::Key_Return);  // ends the entry: 30 on display
        QVERIFY(popupOpen());
        QCOMPARE(calc()->Text(), QStringLiteral("30"));
        QTest::keyClick(edit, Qt::Key_Return);  // between entries: hands back
        QVERIFY(!popupOpen());
        QCOMPARE(double(edit->Value()), 30.0);
    }

    void clicksOnTheButtonsWork() {
        open();
        for (const char* caption : {"7", "*", "6", "-", "2", "%"}) click(QString::fromLatin1(caption));
        QCOMPARE(edit->EditText(), QStringLiteral("41,16"));
        click(QStringLiteral("="));
        QVERIFY(!popupOpen());
        QCOMPARE(double(edit->Value()), 41.16);
        QVERIFY(edit->hasFocus());
    }

    void memoryButtonsFollowTheMemory() {
        open();
        TsCalcForm* form = calc();
        QTest::keyClicks(edit, QStringLiteral("12"));
        click(QStringLiteral("MS"));
        QVERIFY(form->Button(3)->isEnabled());
        QVERIFY(form->Button(9)->isEnabled());
        QCOMPARE(form->FCalcPanel->Caption(), QStringLiteral("M"));
        QTest::keyClicks(edit, QStringLiteral("c"));
        click(QStringLiteral("MR"));
        QTest::keyClicks(edit, QStringLiteral("3"));
        QCOMPARE(edit->EditText(), QStringLiteral("123"));
        click(QStringLiteral("MC"));
        QVERIFY(!form->Button(3)->isEnabled());
        QVERIFY(!form->Button(9)->isEnabled());
        QCOMPARE(form->FCalcPanel->Caption(), QString());
    }

    void divisionByZeroKeepsTheValueAndThePopup() {
        edit->SetValue(5);
        open();
        QTest::keyClicks(edit, QStringLiteral("1/0="));
        QVERIFY(popupOpen());
        QCOMPARE(edit->EditText(), QStringLiteral("Error"));
        QCOMPARE(calc()->Engine().Status(), controls::TsCalcState::csError);
        QTest::keyClicks(edit, QStringLiteral("5+"));
        QCOMPARE(edit->EditText(), QStringLiteral("Error"));
        QTest::keyClicks(edit, QStringLiteral("c9="));
        QVERIFY(!popupOpen());
        QCOMPARE(double(edit->Value()), 9.0);
    }

    void escTwiceClosesWithoutHandingBack() {
        edit->SetValue(5);
        open();
        QTest::keyClicks(edit, QStringLiteral("12"));
        QTest::keyClick(edit, Qt::Key_Escape);
        QVERIFY(popupOpen());
        QCOMPARE(edit->EditText(), QStringLiteral("0"));
        QTest::keyClick(edit, Qt::Key_Escape);
        QVERIFY(!popupOpen());
        QCOMPARE(edit->EditText(), QStringLiteral("0"));
        QVERIFY(edit->hasFocus());
    }

    void eachOpeningMakesAFreshCalculator() {
        open();
        QTest::keyClicks(edit, QStringLiteral("8"));
        click(QStringLiteral("MS"));
        QPointer<TsCalcForm> first = calc();
        QTest::keyClick(edit, Qt::Key_Escape);
        QTest::keyClick(edit, Qt::Key_Escape);
        open();
        QVERIFY(calc() != first.data());
        QCOMPARE(double(calc()->Engine().Memory()), 0.0);
        QVERIFY(!calc()->Button(9)->isEnabled());
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    vesperine::ControlLibrary library{std::vector<std::string>{}};  // glyphs: the click key needs a button glyph
    TsCalcForm::Register();
    TestCalcForm t;
    return QTest::qExec(&t, argc, argv);
}

#include "calc_form_test.moc"
