#include "controls/combo_edit.h"

#include <QKeyEvent>
#include <QMouseEvent>

#include "controls/edit_button.h"
#include "controls/popup_controller.h"
#include "controls/popup_form.h"

namespace {
// The key and the modifiers that make a shortcut (the keypad flag only for
// the keys it changes).
QKeyCombination ShortcutKey(const QKeyEvent* event) {
    Qt::KeyboardModifiers mods = event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    const int k = event->key();
    if ((event->modifiers() & Qt::KeypadModifier) &&
        ((k >= Qt::Key_0 && k <= Qt::Key_9) || k == Qt::Key_Plus || k == Qt::Key_Minus || k == Qt::Key_Asterisk ||
         k == Qt::Key_Slash))
        mods |= Qt::KeypadModifier;
    return QKeyCombination(mods, Qt::Key(k));
}
}  // namespace

TsCustomComboEdit::TsCustomComboEdit(QWidget* parent) : TsMaskEdit(parent) {
    resize(width(), 21);
    FButton = new TsEditButton(this, &FGlyphMode);
    FButton->SetDefBmpID(FDefBmpID);
    FGlyphMode.Btn = FButton;
    connect(FButton, &TsSpeedButton::clicked, this, [this] { DoClick(); });
    connect(FButton, &TsEditButton::glyphLayoutChanged, this, &TsCustomComboEdit::UpdateEditRect);
    connect(FButton, &TsEditButton::popupToggleRequested, this, &TsCustomComboEdit::ButtonToggleRequested);
    InvalidateButton();
}

TsCustomComboEdit::~TsCustomComboEdit() {
    OnChange = nullptr;
    if (FButton) FButton->disconnect(this);
    // The popup may be one of the children deleted after this point.
    SetPopupWindow(nullptr);
    FGlyphMode.Btn = nullptr;
}

bool TsCustomComboEdit::DroppedDown() const { return FPopupWindow && FPopupWindow->isVisible(); }

void TsCustomComboEdit::SetPopupWindow(QWidget* popup) {
    if (FPopupWindow == popup) return;
    if (FPopupWindow) {
        FPopupWindow->removeEventFilter(this);
        FPopupWindow->disconnect(this);
    }
    FPopupWindow = popup;
    if (popup) {
        popup->installEventFilter(this);
        connect(popup, &QObject::destroyed, this, [this](QObject* gone) { UpdateButtonDroppedDown(gone); });
    }
    UpdateButtonDroppedDown();
}

void TsCustomComboEdit::UpdateButtonDroppedDown(const QObject* going) {
    if (FButton) FButton->SetDroppedDown(FPopupWindow && FPopupWindow != going && FPopupWindow->isVisible());
}

bool TsCustomComboEdit::eventFilter(QObject* watched, QEvent* e) {
    // However the popup is shown or hidden (the controller, a click outside, Esc).
    if (watched == FPopupWindow && (e->type() == QEvent::Show || e->type() == QEvent::Hide)) UpdateButtonDroppedDown();
    return TsMaskEdit::eventFilter(watched, e);
}

void TsCustomComboEdit::ButtonToggleRequested() {
    if (!FReadOnly) ButtonClicked();
}

void TsCustomComboEdit::OpenPopup() {
    QWidget* popup = FPopupWindow;
    if (!popup || FReadOnly || DroppedDown()) return;
    popup->hide();
    popup->resize(FPopupWidth, FPopupHeight);
    if (isEnabled() && isVisible()) setFocus(Qt::OtherFocusReason);
    auto* form = qobject_cast<TacPopupForm*>(popup);
    if (QWidget* parentForm = window(); parentForm && form)
        if (parentForm->windowFlags() & Qt::WindowStaysOnTopHint) form->StayOnTop = true;
    if (form) TsPopupController::Instance()->ShowForm(form, this, 80);
    else popup->show();
}

void TsCustomComboEdit::ClosePopup() {
    if (!FPopupWindow || !FPopupWindow->isVisible()) return;
    if (auto* form = qobject_cast<TacPopupForm*>(FPopupWindow.data())) form->Close();
    else FPopupWindow->hide();
}

void TsCustomComboEdit::ButtonClicked() {
    if (OnButtonClick) OnButtonClick(this);
    if (DroppedDown()) ClosePopup();
    else OpenPopup();
}

void TsCustomComboEdit::DoClick() {
    if (!FReadOnly && FDefBmpID >= 0) ButtonClicked();
}

int TsCustomComboEdit::ButtonWidth() const { return FButton && FShowButton ? FButton->width() : 0; }

int TsCustomComboEdit::ReservedRight() const { return ButtonWidth(); }

void TsCustomComboEdit::UpdateEditRect() {
    if (!FButton) return;
    const int b = hasFrame() ? 2 : 0;
    const int bw = FShowButton ? FButton->width() : 0;
    const int h = height() - 2 * b;
    if (layoutDirection() == Qt::RightToLeft) {
        FButton->setGeometry(b, b, bw, h);
        setTextMargins(bw, 0, 0, 0);
    } else {
        FButton->setGeometry(width() - b - bw, b, bw, h);
        setTextMargins(0, 0, bw, 0);
    }
}

void TsCustomComboEdit::InvalidateButton() {
    if (!FButton) return;
    if (FShowButton) {
        FGlyphMode.Invalidate();  // width = glyph width + 2, frames
        FButton->show();
    } else {
        FButton->hide();
        FButton->resize(0, FButton->height());
    }
    FButton->setEnabled(isEnabled());
    UpdateEditRect();
    update();
}

void TsCustomComboEdit::SetReadOnly(bool on) {
    FReadOnly = on;
    UpdateReadOnly();
}

void TsCustomComboEdit::SetDirectInput(bool on) {
    FDirectInput = on;
    UpdateReadOnly();
}

void TsCustomComboEdit::UpdateReadOnly() { setReadOnly(FReadOnly || !FDirectInput); }

void TsCustomComboEdit::SetShowButton(bool on) {
    if (FShowButton == on) return;
    FShowButton = on;
    InvalidateButton();
}

void TsCustomComboEdit::SetDefBmpID(int id) {
    FDefBmpID = id;
    // Before the layout: a drop-down arrow is as wide as a scroll bar.
    if (FButton) FButton->SetDefBmpID(id);
    InvalidateButton();
}

void TsCustomComboEdit::KeyDown(QKeyEvent* event, bool& handled) {
    TsMaskEdit::KeyDown(event, handled);
    if (handled) return;
    const QKeyCombination key = ShortcutKey(event);
    if (!FClickKey.isEmpty() && key == FClickKey[0] && FGlyphMode.Width() > 0) {
        if (!FReadOnly) ButtonClicked();
        handled = true;
    } else if (key == QKeyCombination(Qt::ControlModifier, Qt::Key_A)) {
        SelectAll();
        handled = true;  // no character follows
    }
    UpdateEditRect();
}

void TsCustomComboEdit::KeyPress(QChar& key) {
    TsMaskEdit::KeyPress(key);
    // Enter is taken here (no beep); the form's default button still hears
    // it, as the edit passes the key event on. Esc goes on.
}

void TsCustomComboEdit::Change() {
    if (DroppedDown()) return;
    TsMaskEdit::Change();
}

void TsCustomComboEdit::DoExit() { TsMaskEdit::DoExit(); }

bool TsCustomComboEdit::event(QEvent* e) {
    if (TacPopupClosedEvent::From(e)) {
        ClosePopup();
        return true;
    }
    if (e->type() == QEvent::FocusOut && ClosesPopupOnFocusLoss() && FPopupWindow && FPopupWindow->isVisible()) {
        auto* fe = static_cast<QFocusEvent*>(e);
        if (fe->reason() != Qt::PopupFocusReason) ClosePopup();
    }
    return TsMaskEdit::event(e);
}

void TsCustomComboEdit::resizeEvent(QResizeEvent* e) {
    TsMaskEdit::resizeEvent(e);
    UpdateEditRect();
}

void TsCustomComboEdit::mousePressEvent(QMouseEvent* e) {
    if (DroppedDown()) ClosePopup();
    TsMaskEdit::mousePressEvent(e);
    UpdateEditRect();
}

void TsCustomComboEdit::changeEvent(QEvent* e) {
    TsMaskEdit::changeEvent(e);
    if (e->type() == QEvent::EnabledChange && FButton) FButton->setEnabled(isEnabled());
    if (e->type() == QEvent::FontChange || e->type() == QEvent::LayoutDirectionChange) UpdateEditRect();
}
