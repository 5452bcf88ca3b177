#include "controls/edit_button.h"

#include <QMouseEvent>

TsEditButton::TsEditButton(QWidget* parent, const vesperine::TsGlyphMode* mode)
    : TsSpeedButton(parent), FGlyphMode(mode) {
    SetFlat(true);
    setCursor(Qt::ArrowCursor);
    SetDisabledGlyphKind(vesperine::dgBlended);
    SetShowCaption(false);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(0, 0, 22, parent ? parent->height() : 21);
}

void TsEditButton::SetDefBmpID(int id) {
    if (FDefBmpID == id) return;
    FDefBmpID = id;
    update();
}

void TsEditButton::SetDroppedDown(bool on) {
    if (FDroppedDown == on) return;
    FDroppedDown = on;
    // Only a drop-down arrow looks different.
    if (IsDropDownArrow()) update();
}

void TsEditButton::ApplyGlyphLayout(int buttonWidth, int numGlyphs) {
    TsSpeedButton::ApplyGlyphLayout(buttonWidth, numGlyphs);
    emit glyphLayoutChanged();
}

void TsEditButton::BeginInitGlyph() {
    if (!FGlyphMode) return;
    const vesperine::GlyphChoice c = vesperine::ChooseGlyph(*FGlyphMode, IsDropDownArrow(), FDefBmpID, CurrentState());
    vesperine::GlyphButtonState& st = GlyphState();
    st.Images = c.Images;
    st.ImageIndex = c.ImageIndex;
    st.ImageIndexHot = st.ImageIndexPressed = -1;
    st.NumGlyphs = c.NumGlyphs;
}

void TsEditButton::EndInitGlyph() { GlyphState().Images = nullptr; }

void TsEditButton::PaintGlyphBackground(graphics::TBitmap& area) {
    // The edit's face lies under the glyph.
    const QWidget* face = parentWidget() ? parentWidget() : this;
    const QColor c = face->palette().color(QPalette::Base);
    const graphics::TColor value = graphics::TColor(c.red()) | graphics::TColor(c.green()) << 8 |
                                   graphics::TColor(c.blue()) << 16;
    graphics::FillArea32(area, graphics::Rect(0, 0, area.Width(), area.Height()), value, 255);
}

void TsEditButton::mousePressEvent(QMouseEvent* e) {
    TsSpeedButton::mousePressEvent(e);
    if (e->button() == Qt::LeftButton && IsDropDownArrow()) emit popupToggleRequested();
}

void TsEditButton::mouseDoubleClickEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) emit popupToggleRequested();
}
