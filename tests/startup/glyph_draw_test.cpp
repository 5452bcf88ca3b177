#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "graphics/glyphs.h"
#include "graphics/startup.h"
#include "tests/startup/test_png.h"

using namespace vesperine;
using graphics::ReadPixel32;
using graphics::TBitmap;

namespace {

constexpr graphics::TColor kNone = graphics::clNone;

TEST(GlyphState, StateAndImageIndex) {
    struct Case {
        const char* name;
        bool enabled, mouseOver, held, down, inGroup, droppedArrow;
        int state, index;
    };
    const std::vector<Case> cases = {
        {"normal", true, false, false, false, false, false, 0, 10},
        {"hot", true, true, false, false, false, false, 1, 11},
        {"held", true, true, true, false, false, false, 2, 12},
        {"latched in group", true, false, false, true, true, false, 0, 14},
        {"disabled under mouse", false, true, false, false, false, false, 0, 13},
        {"dropped-down arrow", true, false, false, false, false, true, 2, 10},
    };
    for (const Case& c : cases) {
        GlyphButtonState st;
        st.ImageIndex = 10;
        st.ImageIndexHot = 11;
        st.ImageIndexPressed = 12;
        st.ImageIndexDisabled = 13;
        st.ImageIndexSelected = 14;
        st.Enabled = c.enabled;
        st.MouseOver = c.mouseOver;
        st.HeldDown = c.held;
        st.Down = c.down;
        st.InGroup = c.inGroup;
        st.DroppedDownArrow = c.droppedArrow;
        EXPECT_EQ(CurrentState(st), c.state) << c.name;
        EXPECT_EQ(CurrentImageIndex(st), c.index) << c.name;
    }
    GlyphButtonState unset;
    unset.ImageIndex = 3;
    unset.MouseOver = true;
    EXPECT_EQ(CurrentImageIndex(unset), 3) << "-1 means ImageIndex";
}

TEST(GlyphState, FrameBlendTintAndPositionPerState) {
    struct Case {
        const char* name;
        bool enabled, mouseOver, held, down, grayed;
        int blend;
        unsigned glyphKind, kind;
        graphics::TColor tone;
        int frame, expBlend;
        graphics::TColor tint;
        int left, top;
    };
    const std::vector<Case> cases = {
        {"normal", true, false, false, false, false, 0, dgBlended, dkBlended, kNone, 0, 0, kNone, 1, 2},
        {"hot", true, true, false, false, false, 0, dgBlended, dkBlended, kNone, 1, 0, kNone, 1, 2},
        {"pressed", true, true, true, false, false, 0, dgBlended, dkBlended, kNone, 1, 0, kNone, 2, 3},
        {"latched", true, false, false, true, false, 0, dgBlended, dkBlended, kNone, 1, 0, kNone, 1, 2},
        {"blend 40 normal", true, false, false, false, false, 40, dgBlended, dkBlended, kNone, 0, 40, kNone, 1, 2},
        {"blend 40 hot", true, true, false, false, false, 40, dgBlended, dkBlended, kNone, 1, 0, kNone, 1, 2},
        {"blend 140 kept at 100", true, false, false, false, false, 140, dgBlended, dkBlended, kNone, 0, 100, kNone, 1,
         2},
        {"disabled", false, false, false, false, false, 0, dgBlended, dkBlended, kNone, 0, 50, kNone, 1, 2},
        {"disabled blend 70", false, false, false, false, false, 70, dgBlended, dkBlended, kNone, 0, 70, kNone, 1, 2},
        {"disabled not blended", false, false, false, false, false, 0, 0, dkBlended, kNone, 0, 0, kNone, 1, 2},
        {"disabled grey kind", false, false, false, false, false, 0, dgBlended, dkGrayed, kNone, 0, 50,
         graphics::clWhite, 1, 2},
        {"disabled grey glyph", false, false, false, false, false, 0, dgGrayed, dkBlended, kNone, 0, 0,
         graphics::clWhite, 1, 2},
        {"grayed", true, false, false, false, true, 0, dgBlended, dkBlended, kNone, 0, 0, graphics::clWhite, 1, 2},
        {"colour tone", true, true, false, false, false, 0, dgBlended, dkBlended, 0x0000FF, 1, 0, 0x0000FF, 1, 2},
    };
    for (const Case& c : cases) {
        GlyphButtonState st;
        st.NumGlyphs = 2;
        st.Enabled = c.enabled;
        st.MouseOver = c.mouseOver;
        st.HeldDown = c.held;
        st.Down = c.down;
        st.Grayed = c.grayed;
        st.Blend = c.blend;
        st.DisabledGlyphKind = c.glyphKind;
        st.DisabledKind = c.kind;
        st.GlyphColorTone = c.tone;
        // An 18 x 21 button with 16 x 16 frames: free space 2 and 5, remainders dropped.
        const GlyphPaint p = ChooseGlyphPaint(st, 18, 21, 16, 16);
        EXPECT_EQ(p.Frame, c.frame) << c.name;
        EXPECT_EQ(p.Blend, c.expBlend) << c.name;
        EXPECT_EQ(p.Tint, c.tint) << c.name;
        EXPECT_EQ(p.GlyphRect, graphics::Rect(c.left, c.top, c.left + 16, c.top + 16)) << c.name;
    }

    GlyphButtonState single;  // one frame per image: never past it
    single.NumGlyphs = 1;
    single.HeldDown = true;
    EXPECT_EQ(ChooseGlyphPaint(single, 18, 18, 16, 16).Frame, 0);

    GlyphButtonState custom;
    custom.Grayed = true;
    custom.CustomColor = true;
    custom.OwnColor = 0x00C0FFEE;
    EXPECT_EQ(ChooseGlyphPaint(custom, 18, 18, 16, 16).Tint, 0x00C0FFEEu);
}

// A list of one 4 x 2 image: a red 2 x 2 frame, then a blue one.
class GlyphDrawTest : public ::testing::Test {
protected:
    void SetUp() override {
        list.SetWidth(4);
        list.SetHeight(2);
        TsImgListItem& item = list.AddItem();
        item.ImgData = testpng::Encode(4, 2,
                                       {0xFFFF0000, 0xFFFF0000, 0xFF0000FF, 0xFF0000FF,  //
                                        0xFFFF0000, 0xFFFF0000, 0xFF0000FF, 0xFF0000FF});
        list.GenerateStdList();
    }
    static TBitmap WhiteArea() {
        TBitmap area = graphics::NewBitmap32(6, 6);
        graphics::FillArea32(area, graphics::Rect(0, 0, 6, 6), 0xFFFFFF, 255);
        return area;
    }
    TsAlphaImageList list;
};

TEST_F(GlyphDrawTest, DrawsTheChosenFrameWithItsBlendAndTint) {
    struct Case {
        const char* name;
        bool enabled, mouseOver, held, grayed;
        int blend;
        graphics::TColor tone;
        int left, top;
        uint32_t pixel;
    };
    const std::vector<Case> cases = {
        // Opaque over white: (255 * s + 255) >> 8 per channel.
        {"normal: red frame", true, false, false, false, 0, kNone, 2, 2, 0xFFFF0000},
        {"hot: blue frame", true, true, false, false, 0, kNone, 2, 2, 0xFF0000FF},
        {"pressed: blue, one pixel down-right", true, true, true, false, 0, kNone, 3, 3, 0xFF0000FF},
        // Blend 40: alpha 60 * 255 / 100 = 153; white part (255 * 103) >> 8 = 102.
        {"blend 40: normal frame at 60 %", true, false, false, false, 40, kNone, 2, 2, 0xFFFF6666},
        {"blend 40: hot frame opaque", true, true, false, false, 40, kNone, 2, 2, 0xFF0000FF},
        // Disabled: alpha 127; (255 * 129) >> 8 = 128. Still in colour.
        {"disabled: half strength", false, true, false, false, 0, kNone, 2, 2, 0xFFFF8080},
        // Grey of red: 255 / 4 = 63, white tint 255 * 63 >> 8 = 62.
        {"grayed: grey tones", true, false, false, true, 0, kNone, 2, 2, 0xFF3E3E3E},
        {"colour tone red", true, false, false, false, 0, 0x0000FF, 2, 2, 0xFF3E0000},
    };
    for (const Case& c : cases) {
        GlyphButtonState st;
        st.Images = &list;
        st.NumGlyphs = 2;
        st.Enabled = c.enabled;
        st.MouseOver = c.mouseOver;
        st.HeldDown = c.held;
        st.Grayed = c.grayed;
        st.Blend = c.blend;
        st.GlyphColorTone = c.tone;
        TBitmap area = WhiteArea();
        ASSERT_TRUE(DrawButtonGlyph(area, st, 0, 2, 2)) << c.name;
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 6; ++x) {
                const bool inside = x >= c.left && x < c.left + 2 && y >= c.top && y < c.top + 2;
                EXPECT_EQ(ReadPixel32(area, x, y), inside ? c.pixel : 0xFFFFFFFFu) << c.name << " at " << x << "," << y;
            }
    }
}

TEST_F(GlyphDrawTest, NothingIsDrawnWithoutAListOrWithAnIndexOutside) {
    GlyphButtonState st;
    st.NumGlyphs = 2;
    for (int index : {0, -1, 1}) {
        st.Images = index == 0 ? nullptr : &list;
        TBitmap area = WhiteArea();
        EXPECT_FALSE(DrawButtonGlyph(area, st, index, 2, 2)) << index;
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 6; ++x) EXPECT_EQ(ReadPixel32(area, x, y), 0xFFFFFFFFu);
    }
}

TEST_F(GlyphDrawTest, GlyphNearTheEdgeIsClipped) {
    GlyphButtonState st;
    st.Images = &list;
    st.NumGlyphs = 2;
    st.HeldDown = true;  // shifted by one
    TBitmap area = graphics::NewBitmap32(2, 2);
    graphics::FillArea32(area, graphics::Rect(0, 0, 2, 2), 0xFFFFFF, 255);
    ASSERT_TRUE(DrawButtonGlyph(area, st, 0, 2, 2));
    EXPECT_EQ(ReadPixel32(area, 0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(ReadPixel32(area, 1, 1), 0xFF0000FFu);
}

TEST(StandardGlyphDrawing, CalculatorButtonShowsItsFramesFromTheStandardList) {
    ControlLibrary library{std::vector<std::string>{}};
    GlyphButtonState st;
    st.Images = StandardGlyphList();
    st.NumGlyphs = 2;
    auto draw = [&](bool hot, bool pressed) {
        st.MouseOver = hot;
        st.HeldDown = pressed;
        TBitmap area = graphics::NewBitmap32(18, 18);
        graphics::FillArea32(area, graphics::Rect(0, 0, 18, 18), 0xFFFFFF, 255);
        EXPECT_TRUE(DrawButtonGlyph(area, st, 4, 16, 16));
        return area;
    };
    const TBitmap normal = draw(false, false);
    const TBitmap hot = draw(true, false);
    const TBitmap pressed = draw(true, true);
    int differ = 0;
    for (int y = 1; y < 17; ++y)
        for (int x = 1; x < 17; ++x) {
            differ += ReadPixel32(normal, x, y) != ReadPixel32(hot, x, y);
            EXPECT_EQ(ReadPixel32(pressed, x + 1, y + 1), ReadPixel32(hot, x, y)) << x << "," << y;
        }
    EXPECT_GT(differ, 0) << "hot shows the other frame";
    // The frame is drawn inside its 16 x 16 place: the border column stays white.
    for (int y = 0; y < 18; ++y) EXPECT_EQ(ReadPixel32(normal, 0, y), 0xFFFFFFFFu);
}

}  // namespace
