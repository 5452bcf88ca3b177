#include "controls/popup_controller.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QWheelEvent>

#include "controls/shadow_form.h"

namespace {
TsPopupController* gController = nullptr;

// Raises a top-level window where the platform can stack windows.
void RaiseWindow(QWidget* w) {
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) w->raise();
}

bool Inside(const QWidget* w, const QWidget* container) {
    return w && container && (w == container || container->isAncestorOf(w));
}
}  // namespace

// ---------------------------------------------------------------- handler

TacFormHandler::TacFormHandler(TsPopupController* controller, QWidget* form, QWidget* ctrl)
    : Controller(controller), PopupForm(form), PopupCtrl(ctrl) {
    form->installEventFilter(this);
    if (ctrl) {
        ctrl->installEventFilter(this);
        ParentForm = ctrl->window();
    }
    Initialized = true;
}

TacFormHandler::~TacFormHandler() {
    Unhook();
    if (ShadowForm) {
        ShadowForm->KillShadow();
        ShadowForm = nullptr;
    }
}

void TacFormHandler::Unhook() {
    if (PopupForm) {
        PopupForm->removeEventFilter(this);
        if (auto* f = qobject_cast<TacPopupForm*>(PopupForm.data())) {
            if (HasOldOnClose) f->OnClose = OldOnClose;
            else f->OnClose = nullptr;
        }
    }
    if (PopupCtrl) PopupCtrl->removeEventFilter(this);
    HasOldOnClose = false;
    OldOnClose = nullptr;
    Initialized = false;
    PopupForm = nullptr;
    PopupCtrl = nullptr;
}

void TacFormHandler::CloseForm(bool hide) {
    if (CheckTimer) CheckTimer->stop();
    TCloseAction action = TCloseAction::caHide;
    if (Closed || ClosingForbidden || !PopupForm) return;
    auto* form = qobject_cast<TacPopupForm*>(PopupForm.data());
    if (form && form->OnCloseQuery) {
        bool canClose = true;
        form->OnCloseQuery(form, canClose);
        if (!canClose) {
            if (CheckTimer) CheckTimer->start();
            return;
        }
    }
    Closed = true;
    if (HasOldOnClose && OldOnClose) OldOnClose(PopupForm, action);
    if (action == TCloseAction::caNone) {
        // Kept open: later close requests are heard again.
        Closed = false;
        if (CheckTimer) CheckTimer->start();
        return;
    }
    QPointer<QWidget> self = PopupForm;
    if (PopupCtrl) {
        TacPopupClosedEvent notice(PopupForm.data());
        QCoreApplication::sendEvent(PopupCtrl, &notice);
    }
    if (hide && self) {
        if (action == TCloseAction::caFree) {
            self->hide();
            self->deleteLater();
        } else {
            self->hide();
        }
    }
    PressPending = false;
    PressedWidget = nullptr;
}

void TacFormHandler::CheckTimerTick() {
    if (!PopupForm) return;
    if (QGuiApplication::applicationState() != Qt::ApplicationActive) {
        CloseForm(true);
        return;
    }
    // The widget that holds the mouse: the one pressed while a button is
    // down, or pressed since the last tick.
    QWidget* capture = QWidget::mouseGrabber();
    if (!capture && (PressPending || QGuiApplication::mouseButtons() != Qt::NoButton)) capture = PressedWidget;
    PressPending = false;
    if (QGuiApplication::mouseButtons() == Qt::NoButton) PressedWidget = nullptr;
    if (!capture || capture == CaptureHandle || Inside(capture, PopupForm) || Inside(capture, PopupCtrl) ||
        Controller->HasChild(PopupForm))
        return;
    CloseForm(true);
}

bool TacFormHandler::eventFilter(QObject* watched, QEvent* event) {
    if (watched == PopupForm) {
        switch (event->type()) {
        case QEvent::Destroy: Unhook(); break;
        default: break;
        }
        return false;
    }
    if (watched == PopupCtrl) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: {
            auto* me = static_cast<QMouseEvent*>(event);
            if ((me->button() == Qt::LeftButton || me->button() == Qt::RightButton) && !Closed && PopupForm &&
                PopupForm->isVisible()) {
                CloseForm(true);
                return true;
            }
            break;
        }
        case QEvent::FocusOut: {
            auto* fe = static_cast<QFocusEvent*>(event);
            if (fe->reason() != Qt::PopupFocusReason && !Closed && PopupForm && PopupForm->isVisible()) CloseForm(true);
            break;
        }
        case QEvent::Wheel:
            if (!Closed && PopupForm && PopupForm->isVisible()) {
                QCoreApplication::sendEvent(PopupForm, event);
                return true;
            }
            break;
        case QEvent::Destroy:
            if (ShadowForm) {
                ShadowForm->KillShadow();
                ShadowForm = nullptr;
            }
            Unhook();
            break;
        default: break;
        }
    }
    return false;
}

// ---------------------------------------------------------------- controller

TsPopupController::TsPopupController() = default;

TsPopupController::~TsPopupController() {
    WatchApplication(false);
    FormHandlers.clear();
}

TsPopupController* TsPopupController::Instance() {
    if (!gController) {
        gController = new TsPopupController;
        qAddPostRoutine(&TsPopupController::Free);  // freed with the application
    }
    return gController;
}

void TsPopupController::Free() {
    delete gController;
    gController = nullptr;
}

TacFormHandler* TsPopupController::HandlerOf(QWidget* form) const {
    int i = GetFormIndex(form);
    return i < 0 ? nullptr : FormHandlers[size_t(i)].get();
}

int TsPopupController::GetFormIndex(QWidget* form) const {
    if (!form) return -1;
    for (size_t i = 0; i < FormHandlers.size(); ++i)
        if (FormHandlers[i]->PopupForm == form) return int(i);
    return -1;
}

bool TsPopupController::HasChild(QWidget* form) const {
    for (const auto& h : FormHandlers)
        if (h->PopupForm && h->PopupForm != form && h->PopupForm->isVisible() && h->PopupCtrl &&
            Inside(h->PopupCtrl, form))
            return true;
    return false;
}

TacFormHandler* TsPopupController::RegisterForm(QWidget* form, QWidget* ctrl) {
    TacFormHandler* h = HandlerOf(form);
    if (!h) {
        // Forget handlers whose form is gone.
        std::erase_if(FormHandlers, [](const std::unique_ptr<TacFormHandler>& x) { return !x->PopupForm; });
        FormHandlers.push_back(std::make_unique<TacFormHandler>(this, form, ctrl));
        h = FormHandlers.back().get();
        if (auto* f = qobject_cast<TacPopupForm*>(form)) {
            if (f->OnClose) {
                h->OldOnClose = f->OnClose;
                h->HasOldOnClose = true;
            }
            f->OnClose = [h](QObject*, TCloseAction& action) {
                // Runs the close steps without hiding; the form hides itself
                // by the action that comes back.
                if (h->CheckTimer) h->CheckTimer->stop();
                if (h->Closed) return;
                TCloseAction a = TCloseAction::caHide;
                h->Closed = true;
                if (h->HasOldOnClose && h->OldOnClose) h->OldOnClose(h->PopupForm, a);
                if (a == TCloseAction::caNone) {
                    h->Closed = false;
                    if (h->CheckTimer) h->CheckTimer->start();
                    action = a;
                    return;
                }
                if (h->PopupCtrl) {
                    TacPopupClosedEvent notice(h->PopupForm.data());
                    QCoreApplication::sendEvent(h->PopupCtrl, &notice);
                }
                action = a;
            };
        }
    }
    h->Closed = false;
    return h;
}

QPoint TsPopupController::PlaceBelow(const QRect& r, QSize size, const QRect& w, int& direction) {
    int left = r.left();
    int top = r.bottom() + 1 - 2;  // overlaps the control's bottom edge by 2
    direction = 0;
    if (top + size.height() > w.bottom() + 1) {
        top = r.top() - 1 - size.height();
        if (top < w.top()) top = w.top();
        direction = 1;
    }
    if (left + size.width() > w.right() + 1) {
        left = w.right() + 1 - size.width();
        direction |= 2;
    }
    return {left, top};
}

void TsPopupController::ShowForm(QWidget* form, QWidget* ctrl, int animTime) {
    Q_UNUSED(animTime);  // animation needs an active skin
    if (!form || !ctrl || SkipOpen) {
        SkipOpen = false;
        return;
    }
    form->hide();
    TacFormHandler* h = RegisterForm(form, ctrl);
    if (!h->ShadowForm) {
        h->ShadowForm = TacShadowForm::CreateNew(form);
        h->ShadowForm->Locked = true;
    }
    h->CaptureHandle = QWidget::mouseGrabber();
    if (!h->CheckTimer) {
        h->CheckTimer = new QTimer(h);
        h->CheckTimer->setInterval(100);
        connect(h->CheckTimer, &QTimer::timeout, h, [h] { h->CheckTimerTick(); });
    }
    h->PressPending = false;
    h->PressedWidget = nullptr;
    h->CheckTimer->start();
    WatchApplication(true);

    // Placement in the work area of the screen that holds the control's
    // top-left corner.
    const QRect r(ctrl->mapToGlobal(QPoint(0, 0)), ctrl->size());
    QRect work;
    if (QScreen* s = QGuiApplication::screenAt(r.topLeft())) work = s->availableGeometry();
    else if (QScreen* p = QGuiApplication::primaryScreen()) work = p->availableGeometry();
    const QPoint at = PlaceBelow(r, form->size(), work, AnimDirection);
    form->move(at);

    auto* pf = qobject_cast<TacPopupForm*>(form);
    if (pf && ctrl->window() && (ctrl->window()->windowFlags() & Qt::WindowStaysOnTopHint)) pf->StayOnTop = true;
    form->show();
    RaiseWindow(form);
    if (h->ShadowForm) {
        h->ShadowForm->Locked = false;
        h->ShadowForm->UpdateShadowPos();
        RaiseWindow(form);
    }
    SkipOpen = false;
}

void TsPopupController::ShowFormPos(QWidget* form, QPoint topLeft, int animTime) {
    Q_UNUSED(animTime);
    if (!form || SkipOpen) {
        SkipOpen = false;
        return;
    }
    form->hide();
    TacFormHandler* h = RegisterForm(form, nullptr);
    if (!h->ShadowForm) h->ShadowForm = TacShadowForm::CreateNew(form);
    h->CaptureHandle = QWidget::mouseGrabber();
    if (!h->CheckTimer) {
        h->CheckTimer = new QTimer(h);
        h->CheckTimer->setInterval(100);
        connect(h->CheckTimer, &QTimer::timeout, h, [h] { h->CheckTimerTick(); });
    }
    h->CheckTimer->start();
    WatchApplication(true);
    QRect work;
    if (QScreen* s = QGuiApplication::screenAt(topLeft)) work = s->availableGeometry();
    QPoint at = topLeft;
    AnimDirection = 0;
    // Keeps the right edge one pixel inside the work area.
    if (!work.isNull() && at.x() + form->width() >= work.right() + 1) {
        at.setX(work.right() - form->width());
        AnimDirection |= 2;
    }
    if (!work.isNull() && at.y() + form->height() > work.bottom() + 1) {
        at.setY(qMax(work.top(), work.bottom() + 1 - form->height()));
        AnimDirection |= 1;
    }
    form->move(at);
    form->show();
    RaiseWindow(form);
    if (h->ShadowForm) {
        h->ShadowForm->Locked = false;
        h->ShadowForm->UpdateShadowPos();
        RaiseWindow(form);
    }
    SkipOpen = false;
}

void TsPopupController::KillAllForms() {
    for (auto& h : FormHandlers)
        if (h->PopupForm && h->PopupForm->isVisible()) h->CloseForm(true);
    if (PopupCount() == 0) FormHandlers.clear();
}

int TsPopupController::PopupCount() const {
    int n = 0;
    for (const auto& h : FormHandlers)
        if (h->PopupForm && h->PopupForm->isVisible()) ++n;
    return n;
}

int TsPopupController::PopuChildCount(QWidget* form) const {
    int n = 0;
    for (const auto& h : FormHandlers)
        if (h->PopupForm && h->PopupForm != form && h->PopupForm->isVisible() && Inside(h->PopupCtrl, form)) ++n;
    return n;
}

void TsPopupController::ClosingForbide(QWidget* form) {
    if (TacFormHandler* h = HandlerOf(form)) h->ClosingForbidden = true;
}

void TsPopupController::ClosingAllow(QWidget* form) {
    if (TacFormHandler* h = HandlerOf(form)) h->ClosingForbidden = false;
}

void TsPopupController::WatchApplication(bool on) {
    if (on == FWatching || !qApp) return;
    FWatching = on;
    if (on) qApp->installEventFilter(this);
    else qApp->removeEventFilter(this);
}

bool TsPopupController::eventFilter(QObject* watched, QEvent* event) {
    // Remembers where presses land while popups are open, standing in for
    // the mouse capture the watch timer looks at.
    if (event->type() == QEvent::MouseButtonPress && watched->isWidgetType()) {
        auto* w = static_cast<QWidget*>(watched);
        for (auto& h : FormHandlers) {
            if (!h->PopupForm || !h->PopupForm->isVisible() || h->Closed) continue;
            h->PressedWidget = w;
            h->PressPending = true;
            // A press on the owner edit's own children (its button) is a press
            // on the edit: it only closes the popup.
            if (h->PopupCtrl && w != h->PopupCtrl.data() && h->PopupCtrl->isAncestorOf(w)) {
                h->CloseForm(true);
                return true;
            }
        }
    }
    return false;
}
