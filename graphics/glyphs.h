#pragma once
// How a speed button or edit button chooses and draws its glyph when no skin is
// active. Pure functions on the button's glyph state and on bitmaps, so the
// rules can be checked without a screen; the widget only fills the state and
// hands over the bitmap of its area.

#include "graphics/alpha_image_list.h"
#include "graphics/bitmap32.h"

namespace vesperine {

using graphics::TRect;

// Set members of DisabledGlyphKind and DisabledKind.
enum : unsigned { dgBlended = 1u, dgGrayed = 2u };
enum : unsigned { dkBlended = 1u, dkGrayed = 2u };

struct GlyphButtonState {
    TsAlphaImageList* Images = nullptr;
    int ImageIndex = -1;
    int ImageIndexHot = -1;
    int ImageIndexPressed = -1;
    int ImageIndexDisabled = -1;
    int ImageIndexSelected = -1;
    int Blend = 0;  // percentage, kept within 0..100 by the button
    bool Grayed = false;
    bool Reflected = false;
    TColor GlyphColorTone = graphics::clNone;
    unsigned DisabledGlyphKind = dgBlended;
    unsigned DisabledKind = dkBlended;
    int NumGlyphs = 1;
    bool Down = false;  // latched down (group buttons)
    bool Enabled = true;
    bool MouseOver = false;         // the mouse-over flag of the skin state record
    bool HeldDown = false;          // mouse button held on it, or its menu shown
    bool InGroup = false;           // belongs to a group of latching buttons
    bool DroppedDownArrow = false;  // drop-down arrow button of a dropped-down combo
    bool CustomColor = false;       // skin state marked as having a custom colour
    TColor OwnColor = graphics::clNone;
};

// 2 pressed, 1 hot, 0 normal.
int CurrentState(const GlyphButtonState& st);
// The image index to draw in the current state.
int CurrentImageIndex(const GlyphButtonState& st);

struct GlyphPaint {
    TRect GlyphRect;  // one frame, centred in the button, shifted when pressed
    int Frame = 0;
    int Blend = 0;
    TColor Tint = graphics::clNone;
};

// Position, frame, blend and tint for a button of the given size whose glyph
// frames are frameWidth x frameHeight.
GlyphPaint ChooseGlyphPaint(const GlyphButtonState& st, int buttonWidth, int buttonHeight, int frameWidth,
                            int frameHeight);

// Draws the glyph of image `imageIndex` of st.Images onto `area`, the button's
// area as already painted beneath it (same size as the button). Draws nothing
// without a list or with an index outside it. Returns whether it drew.
bool DrawButtonGlyph(TBitmap& area, const GlyphButtonState& st, int imageIndex, int frameWidth, int frameHeight);

}  // namespace vesperine
