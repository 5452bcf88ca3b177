#include "controls/popup_form.h"

#include <QCloseEvent>

TacPopupForm::TacPopupForm(QWidget* owner)
    : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus | Qt::BypassWindowManagerHint) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_X11DoNotAcceptFocus);
    setFocusPolicy(Qt::NoFocus);
}

void TacPopupForm::Close() {
    if (FInClose) return;
    FInClose = true;
    bool canClose = true;
    if (OnCloseQuery) OnCloseQuery(this, canClose);
    if (!canClose) {
        FInClose = false;
        return;
    }
    TCloseAction action = TCloseAction::caHide;
    if (OnClose) OnClose(this, action);
    FInClose = false;
    switch (action) {
    case TCloseAction::caNone: break;
    case TCloseAction::caHide: hide(); break;
    case TCloseAction::caFree:
        hide();
        deleteLater();
        break;
    case TCloseAction::caMinimize: showMinimized(); break;
    }
}

void TacPopupForm::closeEvent(QCloseEvent* e) {
    // QWidget::close() goes through the same query and handler.
    e->ignore();
    Close();
}

void TacPopupForm::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (OnShow) OnShow(this);
}
