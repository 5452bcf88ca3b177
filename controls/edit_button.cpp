#include "controls/edit_button.h"

#include <QMouseEvent>

#include "controls/combo_edit.h"

TsEditButton::TsEditButton(TsCustomComboEdit* owner) : TsSpeedButton(owner), FOwner(owner) {
    SetFlat(true);
    setCursor(Qt::ArrowCursor);
    SetDisabledGlyphKind(vesperine::dgBlended);
    SetShowCaption(false);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(0, 0, 22, owner ? owner->height() : 21);
}

bool TsEditButton::IsDropDownArrow() const { return FOwner && FOwner->DefBmpID() < 0; }

bool TsEditButton::DroppedDownArrow() const { return IsDropDownArrow() && FOwner->DroppedDown(); }

void TsEditButton::ApplyGlyphLayout(int buttonWidth, int numGlyphs) {
    TsSpeedButton::ApplyGlyphLayout(buttonWidth, numGlyphs);
    if (FOwner) FOwner->UpdateEditRect();
}

void TsEditButton::BeginInitGlyph() {
    if (!FOwner) return;
    const vesperine::GlyphChoice c =
        vesperine::ChooseGlyph(FOwner->GlyphMode(), IsDropDownArrow(), FOwner->DefBmpID(), CurrentState());
    vesperine::GlyphButtonState& st = GlyphState();
    st.Images = c.Images;
    st.ImageIndex = c.ImageIndex;
    st.ImageIndexHot = st.ImageIndexPressed = -1;
    st.NumGlyphs = c.NumGlyphs;
}

void TsEditButton::EndInitGlyph() { GlyphState().Images = nullptr; }

void TsEditButton::PaintGlyphBackground(graphics::TBitmap& area) {
    // The edit's face lies under the glyph.
    const QColor c = FOwner ? FOwner->Color() : palette().color(QPalette::Base);
    const graphics::TColor value =
        graphics::TColor(c.red()) | graphics::TColor(c.green()) << 8 | graphics::TColor(c.blue()) << 16;
    graphics::FillArea32(area, graphics::Rect(0, 0, area.Width(), area.Height()), value, 255);
}

void TsEditButton::mousePressEvent(QMouseEvent* e) {
    TsSpeedButton::mousePressEvent(e);
    if (e->button() == Qt::LeftButton && FOwner && IsDropDownArrow() && !FOwner->ReadOnly()) FOwner->ButtonClicked();
}

void TsEditButton::mouseDoubleClickEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && FOwner && !FOwner->ReadOnly()) FOwner->ButtonClicked();
}
