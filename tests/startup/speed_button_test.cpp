#include <optional>
#include <QEnterEvent>
#include <QSignalSpy>
#include <QtTest>

#include "controls/speed_button.h"
#include "graphics/startup.h"

using graphics::ReadPixel32;

class SpeedButtonTest : public QObject {
    Q_OBJECT
    std::optional<vesperine::ControlLibrary> library;
private:
    TsSpeedButton* MakeButton() {
        auto* b = new TsSpeedButton;
        b->resize(18, 18);
        QPalette pal = b->palette();
        pal.setColor(QPalette::All, QPalette::Window, Qt::white);
        b->setPalette(pal);
        b->SetImages(vesperine::StandardGlyphList());
        b->SetImageIndex(4);  // the calculator
        b->SetNumGlyphs(2);
        b->SetShowCaption(false);
        return b;
    }
    static void Enter(QWidget* w) {
        QEnterEvent ev(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QApplication::sendEvent(w, &ev);
    }
    // What the pure drawing rules give on a white area.
    static QImage Expected(const vesperine::GlyphButtonState& st) {
        graphics::TBitmap area = graphics::NewBitmap32(18, 18);
        graphics::FillArea32(area, graphics::Rect(0, 0, 18, 18), 0xFFFFFF, 255);
        vesperine::DrawButtonGlyph(area, st, 4, 16, 16);
        QImage img(18, 18, QImage::Format_ARGB32);
        for (int y = 0; y < 18; ++y)
            for (int x = 0; x < 18; ++x) img.setPixel(x, y, ReadPixel32(area, x, y));
        return img;
    }

private slots:
    void initTestCase() { library.emplace(std::vector<std::string>{}); }
    void cleanupTestCase() { library.reset(); }

    void paintsTheStateFramesAsTheRulesSay() {
        std::unique_ptr<TsSpeedButton> b(MakeButton());
        b->show();
        vesperine::GlyphButtonState st;
        st.Images = vesperine::StandardGlyphList();
        st.NumGlyphs = 2;

        QCOMPARE(b->CurrentState(), 0);
        QCOMPARE(b->RenderButton(), Expected(st));

        Enter(b.get());
        QCOMPARE(b->CurrentState(), 1);
        st.MouseOver = true;
        const QImage hot = b->RenderButton();
        QCOMPARE(hot, Expected(st));

        QTest::mousePress(b.get(), Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(b->CurrentState(), 2);
        const QImage pressed = b->RenderButton();
        for (int y = 1; y < 17; ++y)
            for (int x = 1; x < 17; ++x) QCOMPARE(pressed.pixel(x + 1, y + 1), hot.pixel(x, y));

        QSignalSpy clicked(b.get(), &TsSpeedButton::clicked);
        QTest::mouseRelease(b.get(), Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(b->CurrentState(), 1);

        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(b.get(), &leave);
        QCOMPARE(b->CurrentState(), 0);
    }

    void disabledButtonShowsHalfStrengthInColour() {
        std::unique_ptr<TsSpeedButton> b(MakeButton());
        b->setEnabled(false);
        QPalette pal = b->palette();
        pal.setColor(QPalette::Disabled, QPalette::Window, Qt::white);
        b->setPalette(pal);
        Enter(b.get());
        QCOMPARE(b->CurrentState(), 0);
        vesperine::GlyphButtonState st;
        st.Images = vesperine::StandardGlyphList();
        st.NumGlyphs = 2;
        st.Enabled = false;
        const QImage img = b->RenderButton();
        QCOMPARE(img, Expected(st));
        bool coloured = false;
        for (int y = 0; y < 18; ++y)
            for (int x = 0; x < 18; ++x) {
                const QRgb p = img.pixel(x, y);
                coloured |= qRed(p) != qBlue(p);
            }
        QVERIFY(coloured);
    }

    void blendIsKeptWithinAPercentage() {
        TsSpeedButton b;
        b.SetBlend(140);
        QCOMPARE(b.Blend(), 100);
        b.SetBlend(-5);
        QCOMPARE(b.Blend(), 0);
    }

    void glyphModeSizesTheButton() {
        TsSpeedButton b;
        b.resize(30, 20);
        vesperine::TsGlyphMode mode;
        mode.Btn = &b;
        mode.Invalidate();
        QCOMPARE(b.width(), 18);
        QCOMPARE(b.NumGlyphs(), 2);
        mode.SetBlend(40);
        QCOMPARE(b.Blend(), 40);
        mode.SetHint("Calculadora");
        QCOMPARE(b.toolTip(), QString("Calculadora"));
    }
};

QTEST_MAIN(SpeedButtonTest)
#include "speed_button_test.moc"
