#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "graphics/alpha_image_list.h"
#include "graphics/glyph_mode.h"
#include "graphics/startup.h"
#include "tests/startup/test_png.h"

using namespace vesperine;
using graphics::ReadPixel32;
using graphics::TBitmap;

namespace {

class GlyphListTest : public ::testing::Test {
protected:
    ControlLibrary library{std::vector<std::string>{}};
};

// A list of 2 x 1 frames: item 0 is frame red | frame blue.
std::unique_ptr<TsAlphaImageList> SmallList(int width, int height, const std::vector<std::vector<uint8_t>>& pngs) {
    auto list = std::make_unique<TsAlphaImageList>();
    list->SetWidth(width);
    list->SetHeight(height);
    for (const auto& png : pngs) {
        TsImgListItem& item = list->AddItem();
        item.ImgData = png;
    }
    list->GenerateStdList();
    return list;
}

bool SamePixels(const TBitmap& a, const TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            if (ReadPixel32(a, x, y) != ReadPixel32(b, x, y)) return false;
    return true;
}

TEST_F(GlyphListTest, StandardListHoldsFiveImagesOf32By16) {
    TsAlphaImageList* list = StandardGlyphList();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->Width(), 32);
    EXPECT_EQ(list->Height(), 16);
    ASSERT_EQ(list->Count(), 5);
    EXPECT_TRUE(list->StdListIsGenerated);
    for (int i = 0; i < 5; ++i) {
        const TsImgListItem& item = list->Items()[i];
        EXPECT_EQ(item.OrigWidth, 48) << i;
        EXPECT_EQ(item.OrigHeight, 24) << i;
        EXPECT_FALSE(item.ImgData.empty()) << "items keep their PNG data";
        EXPECT_EQ(item.ImageFormat, TsImageFormat::ifPNG);
        ASSERT_NE(list->PlatformImage(i), nullptr);
        EXPECT_EQ(list->PlatformImage(i)->Width(), 32);
        EXPECT_EQ(list->PlatformImage(i)->Height(), 16);
    }
    EXPECT_NE(std::find(AlphaImageLists().begin(), AlphaImageLists().end(), list), AlphaImageLists().end());
}

class FakeButton : public TsGlyphButtonHost {
public:
    bool available = true;
    bool dropDown = false;
    int blend = 0;
    bool grayed = false;
    std::string hint;
    int width = -1, numGlyphs = -1, repaints = 0;
    bool GlyphSettingsAvailable() const override { return available; }
    int GlyphBlend() const override { return blend; }
    void SetGlyphBlend(int v) override { blend = v; }
    bool GlyphGrayed() const override { return grayed; }
    void SetGlyphGrayed(bool v) override { grayed = v; }
    std::string GlyphHint() const override { return hint; }
    void SetGlyphHint(const std::string& v) override { hint = v; }
    bool IsDropDownArrow() const override { return dropDown; }
    int SystemScrollBarWidth() const override { return 17; }
    void ApplyGlyphLayout(int w, int n) override {
        width = w;
        numGlyphs = n;
        ++repaints;
    }
};

TEST_F(GlyphListTest, GlyphModeMetricsWithTheStandardList) {
    FakeButton button;
    TsGlyphMode mode;
    mode.Btn = &button;
    EXPECT_EQ(mode.Width(), 16);
    EXPECT_EQ(mode.Height(), 16);
    EXPECT_EQ(mode.ImageCount(), 2);
    mode.Invalidate();
    EXPECT_EQ(button.width, 18);
    EXPECT_EQ(button.numGlyphs, 2);

    button.dropDown = true;
    EXPECT_EQ(mode.Width(), 14);
}

TEST_F(GlyphListTest, OwnImagesAreUsedOnlyWithAnIndexInside) {
    const auto png = testpng::Encode(2, 2, {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF});
    auto own = SmallList(48, 16, {png, png});  // 3 frames of 16 x 16
    FakeButton button;
    TsGlyphMode mode;
    mode.Btn = &button;
    mode.SetImages(own.get());
    for (int index : {-1, 2, 7}) {
        mode.SetImageIndex(index);
        EXPECT_EQ(mode.Source(), StandardGlyphList()) << index;
        EXPECT_EQ(mode.ImageCount(), 2) << index;
        GlyphChoice c = ChooseGlyph(mode, false, 4, 1);
        EXPECT_EQ(c.Images, StandardGlyphList());
        EXPECT_EQ(c.ImageIndex, 4);
        EXPECT_EQ(c.NumGlyphs, 2);
    }
    mode.SetImageIndex(1);
    EXPECT_EQ(mode.Source(), own.get());
    EXPECT_EQ(mode.ImageCount(), 3);
    EXPECT_EQ(mode.Width(), 16);
    EXPECT_EQ(button.width, 18);
    EXPECT_EQ(button.numGlyphs, 3);

    // Per-state indices; out of range ones fall back to ImageIndex.
    mode.SetImageIndexHot(0);
    mode.SetImageIndexPressed(9);
    const struct { int state, index; } cases[] = {{0, 1}, {1, 0}, {2, 1}};
    for (const auto& c : cases) {
        GlyphChoice g = ChooseGlyph(mode, false, 3, c.state);
        EXPECT_EQ(g.Images, own.get());
        EXPECT_EQ(g.ImageIndex, c.index) << c.state;
        EXPECT_EQ(g.NumGlyphs, 1);
        EXPECT_TRUE(g.TakesModeBlend);
    }
    GlyphChoice arrow = ChooseGlyph(mode, true, 3, 0);
    EXPECT_EQ(arrow.Images, nullptr);
    EXPECT_EQ(arrow.ImageIndex, -1);
}

TEST_F(GlyphListTest, BlendAndGrayedLiveOnTheButton) {
    FakeButton button;
    TsGlyphMode mode;
    mode.SetBlend(40);  // no button yet: ignored
    EXPECT_EQ(mode.Blend(), 0);
    mode.Btn = &button;
    mode.SetBlend(140);
    EXPECT_EQ(button.blend, 100);
    mode.SetBlend(40);
    mode.SetGrayed(true);
    EXPECT_EQ(mode.Blend(), 40);
    EXPECT_TRUE(mode.Grayed());
    button.available = false;  // loading or destroying
    EXPECT_EQ(mode.Blend(), 0);
    EXPECT_FALSE(mode.Grayed());
    mode.SetBlend(10);
    EXPECT_EQ(button.blend, 40);
    mode.SetHint("Abrir calendário");
    EXPECT_EQ(button.hint, "Abrir calendário");
}

TEST_F(GlyphListTest, CreateBitmap32CachesOneSizePerItem) {
    TsAlphaImageList* list = StandardGlyphList();
    const int hits = list->CacheHits();
    std::optional<TBitmap> first = list->CreateBitmap32(4, 32, 16);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->Width(), 32);
    EXPECT_EQ(list->CacheHits(), hits);
    std::optional<TBitmap> second = list->CreateBitmap32(4, 32, 16);
    ASSERT_TRUE(second);
    EXPECT_EQ(list->CacheHits(), hits + 1);
    EXPECT_TRUE(SamePixels(*first, *second));

    // Another size resamples again and replaces the cache.
    std::optional<TBitmap> small = list->CreateBitmap32(4, 20, 10);
    ASSERT_TRUE(small);
    EXPECT_EQ(small->Width(), 20);
    EXPECT_EQ(list->CacheHits(), hits + 1);
    ASSERT_TRUE(list->Items()[4].CacheBmp);
    EXPECT_EQ(list->Items()[4].CacheBmp->Width(), 20);
    std::optional<TBitmap> again = list->CreateBitmap32(4, 32, 16);
    EXPECT_EQ(list->CacheHits(), hits + 1);
    EXPECT_TRUE(SamePixels(*first, *again));

    // The caller owns what it gets: changing it leaves the cache alone.
    graphics::WritePixel32(*again, 0, 0, 0x12345678);
    EXPECT_TRUE(SamePixels(*first, *list->CreateBitmap32(4, 32, 16)));

    EXPECT_FALSE(list->CreateBitmap32(5, 32, 16));
    EXPECT_FALSE(list->CreateBitmap32(-1, 32, 16));
    TsAlphaImageList empty;
    EXPECT_FALSE(empty.CreateBitmap32(0, 16, 16));
}

TEST_F(GlyphListTest, CreateBitmap32AtTheSourceSizeGivesTheDecodedPixels) {
    const std::vector<uint32_t> px = {0xFF102030, 0x80405060, 0x00000000, 0xFFFFFFFF};
    auto list = SmallList(4, 4, {testpng::Encode(2, 2, px)});
    std::optional<TBitmap> bmp = list->CreateBitmap32(0, 2, 2);
    ASSERT_TRUE(bmp);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(ReadPixel32(*bmp, i % 2, i / 2), px[i]) << i;
}

// Expected values come from a separate floating-point evaluation of the
// filter (B = C = 1/3), rounding each weight to 16.16 fixed point, mirroring at
// the edges and truncating to bytes after each pass.
TEST(Resampling, MatchesIndependentlyComputedValues) {
    const int A[3][4] = {{0, 255, 0, 255}, {255, 0, 255, 0}, {10, 200, 30, 90}};
    TBitmap src = graphics::NewBitmap32(4, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            graphics::WritePixel32(src, x, y, 0xFF000000u | uint32_t(255 - A[y][x]) << 8 | uint32_t(A[y][x]));

    struct Case {
        int w, h;
        std::vector<std::vector<int>> blue, green, alpha;
    };
    const std::vector<Case> cases = {
        {3,
         2,
         {{125, 130, 134}, {114, 118, 82}},
         {{129, 126, 121}, {136, 132, 169}},
         {{255, 255, 255}, {251, 252, 252}}},
        {6,
         5,
         {{50, 164, 164, 50, 157, 226},
          {149, 117, 116, 149, 121, 103},
          {190, 89, 91, 192, 82, 14},
          {71, 126, 134, 80, 69, 72},
          {18, 142, 153, 30, 64, 98}},
         {{203, 89, 89, 203, 96, 28},
          {104, 136, 137, 104, 132, 151},
          {63, 164, 162, 61, 171, 240},
          {182, 127, 119, 173, 184, 182},
          {235, 111, 100, 223, 189, 154}},
         {{255, 254, 254, 255, 254, 254},
          {255, 254, 254, 255, 254, 254},
          {255, 254, 254, 255, 254, 254},
          {255, 254, 254, 255, 254, 254},
          {255, 254, 254, 255, 254, 254}}},
    };
    for (const Case& c : cases) {
        TBitmap out = ResampleMitchell(src, c.w, c.h);
        ASSERT_EQ(out.Width(), c.w);
        ASSERT_EQ(out.Height(), c.h);
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) {
                const uint32_t p = ReadPixel32(out, x, y);
                EXPECT_EQ(int(p & 0xFF), c.blue[y][x]) << c.w << "x" << c.h << " at " << x << "," << y;
                EXPECT_EQ(int(p >> 8 & 0xFF), c.green[y][x]) << c.w << "x" << c.h << " at " << x << "," << y;
                EXPECT_EQ(int(p >> 16 & 0xFF), 0);
                EXPECT_EQ(int(p >> 24), c.alpha[y][x]) << c.w << "x" << c.h << " at " << x << "," << y;
            }
    }
}

TEST(Resampling, StrongReductionStaysInsideTheSource) {
    // 2 x 2 to 1 x 1 reaches four pixels past each edge.
    TBitmap src = graphics::NewBitmap32(2, 2);
    graphics::WritePixel32(src, 0, 0, 0xFF0000FF);
    graphics::WritePixel32(src, 1, 1, 0xFF0000FF);
    TBitmap one = ResampleMitchell(src, 1, 1);
    EXPECT_EQ(ReadPixel32(one, 0, 0) & 0xFF, 131u);
    TBitmap three = ResampleMitchell(src, 3, 3);
    const int blue[3][3] = {{203, 96, 28}, {96, 139, 166}, {16, 170, 255}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(int(ReadPixel32(three, x, y) & 0xFF), blue[y][x]) << x << "," << y;
}

TEST(Resampling, SourcesBelowTwoPixelsAreLeftAlone) {
    for (auto [w, h] : {std::pair{1, 5}, std::pair{5, 1}}) {
        TBitmap src = graphics::NewBitmap32(w, h);
        graphics::WritePixel32(src, 0, 0, 0xFF336699);
        TBitmap out = ResampleMitchell(src, 8, 8);
        EXPECT_EQ(out.Width(), w);
        EXPECT_EQ(out.Height(), h);
        EXPECT_EQ(ReadPixel32(out, 0, 0), 0xFF336699u);
    }
}

TEST(Resampling, FilterKnots) {
    EXPECT_NEAR(MitchellNetravali(0), 8.0 / 9.0, 1e-12);
    EXPECT_NEAR(MitchellNetravali(1), 1.0 / 18.0, 1e-12);
    EXPECT_NEAR(MitchellNetravali(-1), 1.0 / 18.0, 1e-12);
    EXPECT_EQ(MitchellNetravali(2), 0.0);
    EXPECT_EQ(MitchellNetravali(3.5), 0.0);
}

}  // namespace
