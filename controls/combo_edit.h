#pragma once
// A masked edit with a small button inside its right edge that opens a popup
// window supplied by a subclass (the date edit's calendar, the numeric edit's
// calculator). The popup controller places, shows and closes the popup.

#include <QPointer>
#include <functional>

#include "controls/mask_edit.h"
#include "graphics/glyph_mode.h"

class TsEditButton;

enum class TPopupWindowAlign { pwaRight, pwaLeft };

// A 16-bit shortcut: virtual key plus 0x2000 Shift, 0x4000 Ctrl, 0x8000 Alt.
using TShortCut = quint16;
constexpr TShortCut scShift = 0x2000, scCtrl = 0x4000, scAlt = 0x8000;
// The shortcut a key event stands for (0 when the key has no virtual key).
TShortCut ShortCutFromKeyEvent(const QKeyEvent* event);
// Virtual key codes used by the editors.
namespace vk {
constexpr int Back = 0x08, Tab = 0x09, Return = 0x0D, Escape = 0x1B, Prior = 0x21, Next = 0x22,
              End = 0x23, Home = 0x24, Left = 0x25, Up = 0x26, Right = 0x27, Down = 0x28,
              Insert = 0x2D, Delete = 0x2E, Add = 0x6B, Subtract = 0x6D;
}

class TsCustomComboEdit : public TsMaskEdit {
    Q_OBJECT
public:
    explicit TsCustomComboEdit(QWidget* parent = nullptr);
    ~TsCustomComboEdit() override;

    // Popup: created and owned by the subclass.
    QWidget* PopupWindow() const { return FPopupWindow; }
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
    TShortCut ClickKey() const { return FClickKey; }
    void SetClickKey(TShortCut key) { FClickKey = key; }
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
    TShortCut FClickKey = 32808;  // Alt+Down
    TPopupWindowAlign FPopupWindowAlign = TPopupWindowAlign::pwaRight;
    bool FDroppedDown = false;
    int FDefBmpID = 3;
    vesperine::TsGlyphMode FGlyphMode{true};
    QPointer<QWidget> FPopupWindow;

private:
    void UpdateReadOnly();
    friend class TsEditButton;
};
