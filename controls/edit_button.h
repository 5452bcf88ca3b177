#pragma once
// The small button inside a combo edit. It draws only its glyph (the
// standard glyph of its edit, or the edit's own images), over what the edit
// has painted at its place.

#include "controls/speed_button.h"

class TsCustomComboEdit;

class TsEditButton : public TsSpeedButton {
    Q_OBJECT
public:
    explicit TsEditButton(TsCustomComboEdit* owner);

    TsCustomComboEdit* FOwner;

    bool IsDropDownArrow() const override;
    void ApplyGlyphLayout(int buttonWidth, int numGlyphs) override;

protected:
    void BeginInitGlyph() override;
    void EndInitGlyph() override;
    bool DroppedDownArrow() const override;
    void PaintGlyphBackground(graphics::TBitmap& area) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
};
