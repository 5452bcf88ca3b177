#include "graphics/glyph_mode.h"

#include <algorithm>

namespace vesperine {

int TsGlyphMode::Blend() const { return Btn && Btn->GlyphSettingsAvailable() ? Btn->GlyphBlend() : 0; }

void TsGlyphMode::SetBlend(int value) {
    if (Btn && Btn->GlyphSettingsAvailable()) Btn->SetGlyphBlend(std::clamp(value, 0, 100));
}

bool TsGlyphMode::Grayed() const { return Btn && Btn->GlyphSettingsAvailable() ? Btn->GlyphGrayed() : false; }

void TsGlyphMode::SetGrayed(bool value) {
    if (Btn && Btn->GlyphSettingsAvailable()) Btn->SetGlyphGrayed(value);
}

std::string TsGlyphMode::Hint() const {
    if (ownerIsComboEdit_) return Btn ? Btn->GlyphHint() : std::string();
    return ownerHint_;
}

void TsGlyphMode::SetHint(const std::string& value) {
    if (!ownerIsComboEdit_) ownerHint_ = value;
    else if (Btn) Btn->SetGlyphHint(value);
}

bool TsGlyphMode::UsesOwnImages() const { return FImages && FImageIndex >= 0 && FImageIndex < FImages->Count(); }

TsAlphaImageList* TsGlyphMode::Source() const { return UsesOwnImages() ? FImages : StandardGlyphList(); }

int TsGlyphMode::ImageCount() const {
    const TsAlphaImageList* src = Source();
    if (!src || src->Height() <= 0) return 1;
    return src->Width() % src->Height() == 0 ? std::max(1, src->Width() / src->Height()) : 1;
}

int TsGlyphMode::Width() const {
    if (Btn && Btn->IsDropDownArrow()) return Btn->SystemScrollBarWidth() - 3;
    const TsAlphaImageList* src = Source();
    return src ? src->Width() / ImageCount() : 0;
}

int TsGlyphMode::Height() const {
    const TsAlphaImageList* src = Source();
    return src ? src->Height() : 0;
}

void TsGlyphMode::Invalidate() {
    if (ownerIsComboEdit_ && Btn) Btn->ApplyGlyphLayout(Width() + 2, ImageCount());
}

}  // namespace vesperine

namespace vesperine {

GlyphChoice ChooseGlyph(const TsGlyphMode& mode, bool dropDownArrow, int defBmpID, int state) {
    GlyphChoice c;
    if (dropDownArrow) return c;
    if (mode.UsesOwnImages()) {
        TsAlphaImageList* list = mode.Images();
        int index = state == 1 ? mode.ImageIndexHot() : state == 2 ? mode.ImageIndexPressed() : mode.ImageIndex();
        if (index < 0 || index >= list->Count()) index = mode.ImageIndex();
        c.Images = list;
        c.ImageIndex = index;
        c.NumGlyphs = 1;
        c.TakesModeBlend = true;
        return c;
    }
    c.Images = StandardGlyphList();
    c.ImageIndex = defBmpID;
    c.NumGlyphs = 2;
    return c;
}

}  // namespace vesperine
