#pragma once
// A masked edit with a small button inside its right edge that opens a popup
// window supplied by a subclass (the date edit's calendar, the numeric edit's
// calculator). The popup controller places, shows and closes the popup.

#include <QKeySequence>
#include <QPointer>
#include <functional>

#include "controls/mask_edit.h"
#include "graphics/glyph_mode.h"

class TsEditButton;

enum class TPopupWindowAlign { pwaRight, pwaLeft };

class TsCustomComboEdit : public TsMaskEdit {
    Q_OBJECT
public:
    explicit TsCustomComboEdit(QWidget* parent = nullptr);
    ~TsCustomComboEdit() override;

    // Popup: created and owned by the subclass, which hands it over here;
    // the edit follows its showing and hiding to keep its button current.
    QWidget* PopupWindow() const { return FPopupWindow; }
    void SetPopupWindow(QWidget* popup);
    bool DroppedDown() const;
    virtual void OpenPopup();
    virtual void ClosePopup();
    virtual void ButtonClicked();
    void DoClick();
    void UpdateEditRect();
    void InvalidateButton();  // re-sizes, shows or hides the button

    int PopupWidth() const { return FPopupWidth; }
    void SetPopupWidth(int w) { FPopupWidth = w; }
    int PopupHeight() const { return FPopupHeight; }
    void SetPopupHeight(int h) { FPopupHeight = h; }
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool on);
    bool DirectInput() const { return FDirectInput; }
    void SetDirectInput(bool on);
    bool ShowButton() const { return FShowButton; }
    void SetShowButton(bool on);
    // The key that opens and closes the popup (one key with its modifiers).
    QKeySequence ClickKey() const { return FClickKey; }
    void SetClickKey(const QKeySequence& key) { FClickKey = key; }
    TPopupWindowAlign PopupAlign() const { return FPopupWindowAlign; }
    void SetPopupAlign(TPopupWindowAlign a) { FPopupWindowAlign = a; }
    int DefBmpID() const { return FDefBmpID; }
    void SetDefBmpID(int id);
    TsEditButton* Button() const { return FButton; }
    vesperine::TsGlyphMode& GlyphMode() { return FGlyphMode; }
    const vesperine::TsGlyphMode& GlyphMode() const { return FGlyphMode; }
    int ButtonWidth() const;

    std::function<void(QObject* sender)> OnButtonClick;

    int ReservedRight() const override;

protected:
    void KeyDown(QKeyEvent* event, bool& handled) override;
    void KeyPress(QChar& key) override;
    void Change() override;
    void DoExit() override;
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void changeEvent(QEvent* e) override;
    // Date edits close their popup when the edit loses the focus.
    virtual bool ClosesPopupOnFocusLoss() const { return false; }

    int FPopupWidth = 197;
    int FPopupHeight = 166;
    bool FReadOnly = false;
    bool FDirectInput = true;
    bool FShowButton = true;
    TsEditButton* FButton = nullptr;
    QKeySequence FClickKey{Qt::ALT | Qt::Key_Down};
    TPopupWindowAlign FPopupWindowAlign = TPopupWindowAlign::pwaRight;
    vesperine::TsGlyphMode FGlyphMode{true};

private:
    void UpdateReadOnly();
    // Tells the button whether the popup is shown; `going` is a popup being destroyed.
    void UpdateButtonDroppedDown(const QObject* going = nullptr);
    void ButtonToggleRequested();

    // Set only through SetDefBmpID and SetPopupWindow: the button holds a copy.
    int FDefBmpID = 3;
    QPointer<QWidget> FPopupWindow;
};
