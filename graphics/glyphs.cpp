#include "graphics/glyphs.h"

#include <algorithm>
#include <cstring>

namespace vesperine {

int CurrentState(const GlyphButtonState& st) {
    if (st.DroppedDownArrow || st.HeldDown) return 2;
    if (st.MouseOver && st.Enabled) return 1;
    return 0;
}

int CurrentImageIndex(const GlyphButtonState& st) {
    int index = -1;
    if (!st.Enabled) index = st.ImageIndexDisabled;
    else if (st.HeldDown || st.Down) index = (st.Down && st.InGroup) ? st.ImageIndexSelected : st.ImageIndexPressed;
    else if (st.MouseOver) index = st.ImageIndexHot;
    return index == -1 ? st.ImageIndex : index;
}

GlyphPaint ChooseGlyphPaint(const GlyphButtonState& st, int buttonWidth, int buttonHeight, int frameWidth,
                            int frameHeight) {
    GlyphPaint p;
    const int state = CurrentState(st);
    const int left = (buttonWidth - frameWidth) / 2;
    const int top = (buttonHeight - frameHeight) / 2;
    const int shift = state == 2 ? 1 : 0;
    p.GlyphRect = graphics::Rect(left + shift, top + shift, left + shift + frameWidth, top + shift + frameHeight);

    p.Frame = std::min((st.Down ? 1 : 0) + state, std::max(st.NumGlyphs, 1) - 1);

    p.Blend = state == 0 ? std::clamp(st.Blend, 0, 100) : 0;
    if (!st.Enabled && (st.DisabledGlyphKind & dgBlended)) p.Blend = std::max(p.Blend, 50);

    const bool hasTone = st.GlyphColorTone != graphics::clNone;
    const bool grey = st.Grayed || hasTone ||
                      (!st.Enabled && ((st.DisabledKind & dkGrayed) || (st.DisabledGlyphKind & dgGrayed)));
    if (grey) {
        if (hasTone) p.Tint = st.GlyphColorTone;
        else p.Tint = (st.CustomColor && st.OwnColor != graphics::clNone) ? st.OwnColor : graphics::clWhite;
    }
    return p;
}

namespace {

// Copies a w x h block of 32-bit pixels between bitmaps, clipped to both.
void CopyBlock(const TBitmap& from, int fx, int fy, TBitmap& to, int tx, int ty, int w, int h) {
    if (fx < 0) {
        tx -= fx;
        w += fx;
        fx = 0;
    }
    if (fy < 0) {
        ty -= fy;
        h += fy;
        fy = 0;
    }
    if (tx < 0) {
        fx -= tx;
        w += tx;
        tx = 0;
    }
    if (ty < 0) {
        fy -= ty;
        h += ty;
        ty = 0;
    }
    w = std::min({w, from.Width() - fx, to.Width() - tx});
    h = std::min({h, from.Height() - fy, to.Height() - ty});
    for (int y = 0; y < h; ++y)
        if (w > 0) std::memcpy(to.ScanLine(ty + y) + 4 * tx, from.ScanLine(fy + y) + 4 * fx, 4 * std::size_t(w));
}

}  // namespace

bool DrawButtonGlyph(TBitmap& area, const GlyphButtonState& st, int imageIndex, int frameWidth, int frameHeight) {
    TsAlphaImageList* list = st.Images;
    if (!list || imageIndex < 0 || imageIndex >= list->Count()) return false;
    const GlyphPaint p = ChooseGlyphPaint(st, area.Width(), area.Height(), frameWidth, frameHeight);

    const int iw = list->Width(), ih = list->Height();
    std::optional<TBitmap> image = list->CreateBitmap32(imageIndex, iw, ih);
    if (!image) return false;

    // Work on a copy of what lies under the glyph, then put it back.
    TBitmap under = graphics::NewBitmap32(iw, ih);
    CopyBlock(area, p.GlyphRect.Left, p.GlyphRect.Top, under, 0, 0, iw, ih);
    const TRect src = graphics::Rect(p.Frame * frameWidth, 0, p.Frame * frameWidth + frameWidth, ih);
    if (list->IgnoreTransparency) CopyBlock(*image, src.Left, 0, under, 0, 0, frameWidth, ih);
    else
        graphics::ComposeBitmap32(graphics::Rect(0, 0, iw, ih), src, under, st.Reflected, p.Blend, p.Tint, false,
                                  graphics::NoBackground, *image);
    CopyBlock(under, 0, 0, area, p.GlyphRect.Left, p.GlyphRect.Top, iw, ih);
    return true;
}

}  // namespace vesperine
