#pragma once
// Glyph settings of a combo edit: which image list and images its button shows.
// Blend, Grayed and Hint live on the button itself; the mode reaches them
// through TsGlyphButtonHost, which the edit button implements.

#include <string>

#include "graphics/alpha_image_list.h"

namespace vesperine {

// The button a glyph mode acts on.
class TsGlyphButtonHost {
public:
    virtual ~TsGlyphButtonHost() = default;
    // False while the button is being loaded or destroyed: reads then give
    // defaults and writes are ignored.
    virtual bool GlyphSettingsAvailable() const { return true; }
    virtual int GlyphBlend() const = 0;
    virtual void SetGlyphBlend(int value) = 0;
    virtual bool GlyphGrayed() const = 0;
    virtual void SetGlyphGrayed(bool value) = 0;
    virtual std::string GlyphHint() const = 0;
    virtual void SetGlyphHint(const std::string& value) = 0;
    virtual bool IsDropDownArrow() const { return false; }
    // Width of the system's vertical scroll bar.
    virtual int SystemScrollBarWidth() const { return 16; }
    // New button width and frame count, then repaint.
    virtual void ApplyGlyphLayout(int buttonWidth, int numGlyphs) = 0;
};

class TsGlyphMode {
public:
    // ownerIsComboEdit: only a combo edit's mode re-sizes its button.
    explicit TsGlyphMode(bool ownerIsComboEdit = true) : ownerIsComboEdit_(ownerIsComboEdit) {}

    TsGlyphButtonHost* Btn = nullptr;

    int Blend() const;
    void SetBlend(int value);
    bool Grayed() const;
    void SetGrayed(bool value);
    std::string Hint() const;
    void SetHint(const std::string& value);

    TsAlphaImageList* Images() const { return FImages; }
    void SetImages(TsAlphaImageList* value) {
        FImages = value;
        Invalidate();
    }
    int ImageIndex() const { return FImageIndex; }
    void SetImageIndex(int value) {
        FImageIndex = value;
        Invalidate();
    }
    int ImageIndexHot() const { return FImageIndexHot; }
    void SetImageIndexHot(int value) { FImageIndexHot = value; }
    int ImageIndexPressed() const { return FImageIndexPressed; }
    void SetImageIndexPressed(int value) { FImageIndexPressed = value; }

    // Images when set and ImageIndex lies inside it, otherwise the standard list.
    TsAlphaImageList* Source() const;
    bool UsesOwnImages() const;

    int ImageCount() const;
    int Width() const;
    int Height() const;
    void Invalidate();

private:
    int FImageIndex = -1;
    int FImageIndexHot = -1;
    int FImageIndexPressed = -1;
    TsAlphaImageList* FImages = nullptr;
    bool ownerIsComboEdit_;
    std::string ownerHint_;  // hint store when the owner is not a combo edit
};

}  // namespace vesperine

namespace vesperine {

// What an edit button draws from, chosen right before it paints without a skin.
struct GlyphChoice {
    TsAlphaImageList* Images = nullptr;
    int ImageIndex = -1;
    int NumGlyphs = 1;
    bool TakesModeBlend = false;  // Blend and Grayed come from the glyph mode
};

// dropDownArrow: the button is a drop-down arrow (draws no image);
// defBmpID: the combo edit's standard glyph number; state: 0, 1 or 2.
GlyphChoice ChooseGlyph(const TsGlyphMode& mode, bool dropDownArrow, int defBmpID, int state);

}  // namespace vesperine
