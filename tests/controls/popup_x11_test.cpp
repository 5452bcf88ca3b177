// The popup under a real X server: no activation taken, focus kept in the
// edit, closing on a press elsewhere, placement at the screen's edges, and
// the shadow band around the popup.

#include <optional>
#include <QAbstractEventDispatcher>
#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include <QProcess>
#include <QStandardPaths>
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include "controls/combo_edit.h"
#include "controls/popup_controller.h"
#include "controls/shadow_form.h"
#include "graphics/startup.h"
#include "platform/regional.h"
#include "settle.h"

namespace {
class Popup : public TacPopupForm {
public:
    using TacPopupForm::TacPopupForm;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), QColor(250, 250, 210));
    }
};

// Waits until the X server has handled every request made so far and Qt has
// delivered what it answered: a message we send ourselves comes back after
// all the events caused before it.
class X11Settler : public QAbstractNativeEventFilter {
public:
    bool settle(QWidget* window) {
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        if (!x11) return false;
        xcb_connection_t* c = x11->connection();
        if (!atom) {
            static const char name[] = "EXPORTAR_TEST_SETTLE";
            xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof name - 1, name),
                                                               nullptr);
            if (!r) return false;
            atom = r->atom;
            free(r);
        }
        xcb_client_message_event_t ev{};
        ev.response_type = XCB_CLIENT_MESSAGE;
        ev.format = 32;
        ev.window = xcb_window_t(window->winId());
        ev.type = atom;
        ev.data.data32[0] = ++sent;
        QAbstractEventDispatcher::instance()->installNativeEventFilter(this);
        xcb_send_event(c, 0, ev.window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&ev));
        xcb_flush(c);
        const bool back = QTest::qWaitFor([this] { return received == sent; }, 5000);
        QAbstractEventDispatcher::instance()->removeNativeEventFilter(this);
        return back && deliverPostedEvents();
    }
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t") return false;
        auto* ev = static_cast<xcb_generic_event_t*>(message);
        if ((ev->response_type & 0x7F) != XCB_CLIENT_MESSAGE) return false;
        auto* cm = reinterpret_cast<xcb_client_message_event_t*>(ev);
        if (cm->type != atom) return false;
        received = cm->data.data32[0];
        return true;
    }

private:
    xcb_atom_t atom = 0;
    uint32_t sent = 0, received = 0;
};

class Combo : public TsCustomComboEdit {
public:
    using TsCustomComboEdit::TsCustomComboEdit;
    void OpenPopup() override {
        if (!PopupWindow()) SetPopupWindow(new Popup(this));
        TsCustomComboEdit::OpenPopup();
    }
};
}  // namespace

class TestPopupX11 : public QObject {
    Q_OBJECT
    std::optional<vesperine::ControlLibrary> library;
    QWidget* window = nullptr;
    Combo* edit = nullptr;
    QPushButton* button = nullptr;
    QRect screen;
    X11Settler settler;

    QTimer* watchTimer() const {
        TacFormHandler* h = TsPopupController::Instance()->HandlerOf(edit->PopupWindow());
        return h ? h->CheckTimer : nullptr;
    }

    void placeWindow(QPoint at) {
        window->move(at);
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
    }
    QWidget* popup() const { return edit->PopupWindow(); }

private slots:
    void initTestCase() {
        QVERIFY(platform::setProcessLocale("pt_BR.UTF-8"));
        library.emplace(std::vector<std::string>{});
        screen = QGuiApplication::primaryScreen()->availableGeometry();
    }
    void cleanupTestCase() {
        TsPopupController::Free();
        library.reset();
    }
    void init() {
        window = new QWidget(nullptr, Qt::FramelessWindowHint);
        window->setAutoFillBackground(true);
        QPalette pal = window->palette();
        pal.setColor(QPalette::Window, QColor(200, 200, 200));
        window->setPalette(pal);
        window->resize(320, 300);
        edit = new Combo(window);
        edit->setGeometry(20, 20, 120, 21);
        button = new QPushButton("Other", window);
        button->setGeometry(200, 20, 80, 25);
    }
    void cleanup() {
        delete window;
        window = nullptr;
    }

    void popupKeepsActivationAndFocus() {
        placeWindow({100, 100});
        edit->ButtonClicked();
        QTRY_VERIFY(popup() && popup()->isVisible());
        QVERIFY(settler.settle(window));
        QVERIFY(waitForTick(watchTimer()));  // the watch has looked once
        QVERIFY(window->isActiveWindow());
        QVERIFY(!popup()->isActiveWindow());
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(edit));
        // Below the edit, overlapping its bottom edge by 2 pixels.
        const QPoint editAt = edit->mapToGlobal(QPoint(0, 0));
        QCOMPARE(popup()->geometry().topLeft(), QPoint(editAt.x(), editAt.y() + edit->height() - 2));
        QCOMPARE(TsPopupController::Instance()->AnimDirection, 0);
        // A click into the popup does not activate it either.
        QTest::mouseClick(popup(), Qt::LeftButton, {}, QPoint(20, 20));
        QVERIFY(settler.settle(window));
        QVERIFY(waitForTick(watchTimer()));
        QVERIFY(popup()->isVisible());
        QVERIFY(window->isActiveWindow());
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(edit));
    }

    void pressElsewhereClosesWithinTheWatchTime() {
        placeWindow({100, 100});
        edit->ButtonClicked();
        QTRY_VERIFY(popup() && popup()->isVisible());
        QElapsedTimer t;
        t.start();
        QTest::mouseClick(button, Qt::LeftButton);
        while (popup()->isVisible() && t.elapsed() < 1000) QTest::qWait(5);
        QVERIFY(!popup()->isVisible());
        QVERIFY2(t.elapsed() <= 150, qPrintable(QString::number(t.elapsed())));
    }

    void realClickElsewhereCloses() {
        const QString xdotool = QStandardPaths::findExecutable("xdotool");
        QVERIFY2(!xdotool.isEmpty(), "xdotool is not installed");
        placeWindow({100, 100});
        edit->ButtonClicked();
        QTRY_VERIFY(popup() && popup()->isVisible());
        const QPoint at = button->mapToGlobal(button->rect().center());
        QElapsedTimer t;
        t.start();
        QProcess::execute(xdotool, {"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1"});
        QTRY_VERIFY_WITH_TIMEOUT(!popup()->isVisible(), 1000);
        QVERIFY(button->hasFocus());
    }

    void losingTheActivationCloses() {
        placeWindow({100, 100});
        // An unfinished required field: switching to another program is no
        // exit from the edit, so nothing is checked.
        edit->SetEditMask("00-00;1;_");
        edit->SetText("1");
        QStringList errors;
        auto old = TsMaskEdit::ErrorReporter();
        TsMaskEdit::ErrorReporter() = [&](const QString& m) { errors << m; };
        edit->ButtonClicked();
        QTRY_VERIFY(popup() && popup()->isVisible());
        // Another client takes the keyboard: the focus goes to the root window.
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        QVERIFY(x11);
        xcb_connection_t* c = x11->connection();
        const xcb_screen_t* root = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        xcb_set_input_focus(c, XCB_INPUT_FOCUS_POINTER_ROOT, root->root, XCB_CURRENT_TIME);
        xcb_flush(c);
        QTRY_VERIFY_WITH_TIMEOUT(!popup()->isVisible(), 1000);
        QTRY_VERIFY(!window->isActiveWindow());
        QVERIFY(settler.settle(window));
        QVERIFY(errors.isEmpty());
        TsMaskEdit::ErrorReporter() = old;
    }

    void pressOnTheEditOnlyCloses() {
        placeWindow({100, 100});
        edit->ButtonClicked();
        QTRY_VERIFY(popup() && popup()->isVisible());
        edit->SetText("abc");
        edit->setCursorPosition(0);
        QTest::mouseClick(edit, Qt::LeftButton, {}, QPoint(30, 10));
        QTRY_VERIFY(!popup()->isVisible());
        QCOMPARE(edit->cursorPosition(), 0);  // the press was taken by the popup's closing
    }

    void opensAboveNearTheBottomAndShiftsLeftAtTheRight() {
        window->resize(320, 60);
        placeWindow({screen.right() - 150, screen.bottom() - 60});
        edit->ButtonClicked();
        QTRY_VERIFY(popup() && popup()->isVisible());
        const QRect editRect(edit->mapToGlobal(QPoint(0, 0)), edit->size());
        const QRect g = popup()->geometry();
        QCOMPARE(g.bottom(), editRect.top() - 2);  // its bottom edge one pixel above the edit
        QCOMPARE(g.right(), screen.right());
        QCOMPARE(TsPopupController::Instance()->AnimDirection, 3);
    }

    void shadowBandAroundThePopup() {
        placeWindow({100, 100});
        edit->ButtonClicked();
        QTRY_VERIFY(popup() && popup()->isVisible());
        TacFormHandler* h = TsPopupController::Instance()->HandlerOf(popup());
        QVERIFY(h && h->ShadowForm);
        QTRY_VERIFY(h->ShadowForm->isVisible());
        const QRect g = popup()->geometry();
        QCOMPARE(h->ShadowForm->geometry(), g.adjusted(-9, -9, 9, 9));
        // The image: alpha in the band, none inside.
        const QImage img = TacShadowForm::BuildImage(g.width(), g.height());
        QVERIFY(qAlpha(img.pixel(4, img.height() / 2)) > 0);
        QVERIFY(qAlpha(img.pixel(img.width() / 2, img.height() - 3)) > 0);
        QCOMPARE(qAlpha(img.pixel(img.width() / 2, img.height() / 2)), 0);
        // On the screen: the band differs from the window behind it, one
        // pixel further out does not.
        QTest::qWait(100);
        const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
        if (qEnvironmentVariableIsSet("EDITORS_SHOT"))
            shot.copy(60, 60, 400, 360).save(qEnvironmentVariable("EDITORS_SHOT"));
        const int y = g.center().y();
        const QColor behind = shot.pixelColor(g.left() - 10, y);
        QCOMPARE(behind, QColor(200, 200, 200));
        QVERIFY(shot.pixelColor(g.left() - 3, y) != behind);
        QVERIFY(shot.pixelColor(g.center().x(), g.bottom() + 3) != behind);
        // Moving the popup moves the shadow; closing hides it.
        popup()->move(g.topLeft() + QPoint(15, 5));
        QTRY_COMPARE(h->ShadowForm->geometry(), popup()->geometry().adjusted(-9, -9, 9, 9));
        // The update notice lays the shadow around the rectangle it carries.
        const QRect asked(g.left() + 40, g.top() + 30, 50, 60);
        TacUpdateShadowEvent update({asked.left(), asked.top(), asked.width(), asked.height(), 255});
        QCoreApplication::sendEvent(popup(), &update);
        QTRY_COMPARE(h->ShadowForm->geometry(), asked.adjusted(-9, -9, 9, 9));
        edit->ClosePopup();
        QTRY_VERIFY(!h->ShadowForm->isVisible());
    }

    void closeHandlerCanKeepThePopupOpen() {
        placeWindow({100, 100});
        edit->ButtonClicked();
        QTRY_VERIFY(popup() && popup()->isVisible());
        auto* form = static_cast<TacPopupForm*>(popup());
        TacFormHandler* h = TsPopupController::Instance()->HandlerOf(form);
        int refused = 0;
        h->OldOnClose = [&](QObject*, TCloseAction& a) {
            if (refused++ == 0) a = TCloseAction::caNone;
        };
        h->HasOldOnClose = true;
        button->setFocusPolicy(Qt::NoFocus);  // only the press asks to close
        QTimer* watch = h->CheckTimer;
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_COMPARE(refused, 1);     // the watch asked, the handler said no
        QVERIFY(waitForTick(watch));  // and the watch goes on without asking again
        QVERIFY(popup()->isVisible());
        QCOMPARE(refused, 1);
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_VERIFY(!popup()->isVisible());
        QCOMPARE(refused, 2);
        h->OldOnClose = nullptr;
        h->HasOldOnClose = false;
    }
};

QTEST_MAIN(TestPopupX11)
#include "popup_x11_test.moc"
