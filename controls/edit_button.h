#pragma once
// The small button inside a combo edit. It draws only its glyph (the
// standard glyph of its edit, or the edit's own images), over the face of the
// edit it sits in. The edit tells it what it needs to know (its standard
// glyph, whether its popup is shown) and hears its presses through signals,
// so the button knows nothing of the edit's type.

#include "controls/speed_button.h"

class TsEditButton : public TsSpeedButton {
    Q_OBJECT
public:
    // parent: the edit; mode: the edit's glyph settings, which outlive the button.
    TsEditButton(QWidget* parent, const vesperine::TsGlyphMode* mode);

    // The edit's standard glyph number; below zero the button is a drop-down arrow.
    int DefBmpID() const { return FDefBmpID; }
    void SetDefBmpID(int id);
    // The edit's popup is shown: a drop-down arrow then looks pressed.
    bool DroppedDown() const { return FDroppedDown; }
    void SetDroppedDown(bool on);

    bool IsDropDownArrow() const override { return FDefBmpID < 0; }
    void ApplyGlyphLayout(int buttonWidth, int numGlyphs) override;

signals:
    // The button's width may have changed: the edit lays its text out again.
    void glyphLayoutChanged();
    // A left press on a drop-down arrow, or a left double click: the edit
    // opens or closes its popup (unless it is read-only).
    void popupToggleRequested();

protected:
    void BeginInitGlyph() override;
    void EndInitGlyph() override;
    bool DroppedDownArrow() const override { return IsDropDownArrow() && FDroppedDown; }
    void PaintGlyphBackground(graphics::TBitmap& area) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;

private:
    const vesperine::TsGlyphMode* FGlyphMode;
    int FDefBmpID = 3;
    bool FDroppedDown = false;
};
