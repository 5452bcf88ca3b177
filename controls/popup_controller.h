#pragma once
// Shows the editors' popups below their owner control without taking the
// activation, lays a drop shadow behind them and closes them when the user
// turns elsewhere. One controller serves the whole program.

#include <QEvent>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <vector>

#include "controls/popup_form.h"

class TacShadowForm;
class TsPopupController;

// The library's private message, carried as typed events of one event type;
// the command code tells them apart.
constexpr int SM_ALPHACMD = 0xA100;
constexpr int AC_POPUPCLOSED = 72;   // to the owner control
constexpr int AC_UPDATESHADOW = 73;  // to the popup form

struct TacShadowRect {
    qint32 Left = 0, Top = 0, Width = 0, Height = 0, Blend = 255;
};

class TacLibraryEvent : public QEvent {
public:
    static QEvent::Type Type() { return QEvent::Type(SM_ALPHACMD); }
    int Code() const { return FCode; }

protected:
    explicit TacLibraryEvent(int code) : QEvent(Type()), FCode(code) {}

private:
    int FCode;
};

// To the owner control: its popup has closed.
class TacPopupClosedEvent : public TacLibraryEvent {
public:
    explicit TacPopupClosedEvent(QWidget* popupForm) : TacLibraryEvent(AC_POPUPCLOSED), PopupForm(popupForm) {}
    // The event of that code, or null.
    static const TacPopupClosedEvent* From(const QEvent* e) {
        return e->type() == Type() && static_cast<const TacLibraryEvent*>(e)->Code() == AC_POPUPCLOSED
                   ? static_cast<const TacPopupClosedEvent*>(e)
                   : nullptr;
    }
    QWidget* const PopupForm;
};

// To a popup form: where its shadow goes now.
class TacUpdateShadowEvent : public TacLibraryEvent {
public:
    explicit TacUpdateShadowEvent(const TacShadowRect& rect) : TacLibraryEvent(AC_UPDATESHADOW), Rect(rect) {}
    static const TacUpdateShadowEvent* From(const QEvent* e) {
        return e->type() == Type() && static_cast<const TacLibraryEvent*>(e)->Code() == AC_UPDATESHADOW
                   ? static_cast<const TacUpdateShadowEvent*>(e)
                   : nullptr;
    }
    const TacShadowRect Rect;
};

// Watches one popup form and its owner control.
class TacFormHandler : public QObject {
    Q_OBJECT
public:
    TacFormHandler(TsPopupController* controller, QWidget* form, QWidget* ctrl);
    ~TacFormHandler() override;

    void CloseForm(bool hide);
    void Unhook();

    QPointer<QWidget> ClientCtrl;
    bool Initialized = false;
    bool ClosingForbidden = false;
    QTimer* CheckTimer = nullptr;
    TsPopupController* Controller = nullptr;
    std::function<void(QObject*, TCloseAction&)> OldOnClose;
    bool HasOldOnClose = false;
    QPointer<QWidget> CaptureHandle;
    bool Closed = false;
    QPointer<QWidget> PopupForm;
    QPointer<QWidget> PopupCtrl;
    QPointer<QWidget> ParentForm;
    QPointer<TacShadowForm> ShadowForm;

    // Where the last mouse press in the program landed while this popup was
    // open, kept until the next tick (a quick click may end before it).
    QPointer<QWidget> PressedWidget;
    bool PressPending = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CheckTimerTick();
    friend class TsPopupController;
};

class TsPopupController : public QObject {
    Q_OBJECT
public:
    // The program's controller, created on first use.
    static TsPopupController* Instance();
    // Frees it (the library's end step).
    static void Free();

    void ShowForm(QWidget* form, QWidget* ctrl, int animTime = 0);
    void ShowFormPos(QWidget* form, QPoint topLeft, int animTime = 0);
    int GetFormIndex(QWidget* form) const;
    bool HasChild(QWidget* form) const;
    void KillAllForms();
    int PopupCount() const;
    int PopuChildCount(QWidget* form) const;
    void ClosingForbide(QWidget* form);
    void ClosingAllow(QWidget* form);
    TacFormHandler* RegisterForm(QWidget* form, QWidget* ctrl);
    TacFormHandler* HandlerOf(QWidget* form) const;

    // Placement of a popup of the given size at a control's screen rectangle
    // within a work area; sets bit 0 of direction when put above, bit 1 when
    // pushed left.
    static QPoint PlaceBelow(const QRect& ctrlRect, QSize popupSize, const QRect& workArea, int& direction);

    int AnimDirection = 0;
    bool SkipOpen = false;
    std::vector<std::unique_ptr<TacFormHandler>> FormHandlers;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TsPopupController();
    ~TsPopupController() override;
    void WatchApplication(bool on);
    bool FWatching = false;
};
