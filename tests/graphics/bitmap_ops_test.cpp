#include <gtest/gtest.h>

#include "graphics/bitmap32.h"

using namespace graphics;

namespace {

TBitmap Filled(int w, int h, uint32_t value) {
    TBitmap b = NewBitmap32(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) WritePixel32(b, x, y, value);
    return b;
}

}  // namespace

TEST(Bitmap32, ClearInvisibleWhiteTouchesOnlyTransparentWhite) {
    const uint32_t in[] = {0x00FFFFFF, 0x01FFFFFF, 0x00FFFFFE, 0xFFFFFFFF, 0x00000000};
    const uint32_t out[] = {0x00000000, 0x01FFFFFF, 0x00FFFFFE, 0xFFFFFFFF, 0x00000000};
    TBitmap b = NewBitmap32(5, 2);
    for (int x = 0; x < 5; ++x) WritePixel32(b, x, 1, in[x]);
    ClearInvisibleWhite(b);
    for (int x = 0; x < 5; ++x) EXPECT_EQ(ReadPixel32(b, x, 1), out[x]) << x;
}

TEST(Bitmap32, FillAreaIsClippedToTheBitmap) {
    TBitmap b = Filled(4, 3, 0x11223344);
    FillArea32(b, Rect(-2, 1, 10, 2), 0x0000FF /* red */, 0x80);
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(ReadPixel32(b, x, 0), 0x11223344u);
        EXPECT_EQ(ReadPixel32(b, x, 1), 0x80FF0000u);
        EXPECT_EQ(ReadPixel32(b, x, 2), 0x11223344u);
    }
    FillArea32(b, Rect(3, -5, 9, 9), 0xFF0000 /* blue */, 0);
    EXPECT_EQ(ReadPixel32(b, 3, 0), 0x000000FFu);
    EXPECT_EQ(ReadPixel32(b, 2, 0), 0x11223344u);
}

TEST(Bitmap32, BlendColorValuesDividesBy256) {
    EXPECT_EQ(BlendColorValues(0xFFFFFF, 0x000000, 255), 0xFEFEFEu);
    EXPECT_EQ(BlendColorValues(0x12FFFFFF, 0x000000, 0), 0x12000000u);  // high byte comes from A
    EXPECT_EQ(BlendColorValues(0x0000FF, 0xFF0000, 128), 0x7E007Fu);    // 128 * 255 >> 8 and 127 * 255 >> 8
}

struct ComposeCase {
    const char* name;
    uint32_t src, dst;
    bool background;
    int blend;
    TColor tint;
    uint32_t expected;
};

class ComposePixel : public ::testing::TestWithParam<ComposeCase> {};

TEST_P(ComposePixel, OnePixel) {
    const ComposeCase& c = GetParam();
    TBitmap src = Filled(1, 1, c.src), dst = Filled(1, 1, c.dst), under = Filled(1, 1, 0);
    BackgroundInfo info = NoBackground;
    if (c.background) DescribeBitmapBackground(&under, 0, 0, info);
    ComposeBitmap32(Rect(0, 0, 1, 1), Rect(0, 0, 1, 1), dst, false, c.blend, c.tint, false, info, src);
    EXPECT_EQ(ReadPixel32(dst, 0, 0), c.expected) << std::hex << ReadPixel32(dst, 0, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Bitmap32, ComposePixel,
    ::testing::Values(
        ComposeCase{"OpaqueWhiteOverBlackIs254", 0xFFFFFFFF, 0xFF000000, false, 0, clNone, 0xFFFEFEFE},
        ComposeCase{"TransparentLeavesDestination", 0x00123456, 0x80ABCDEF, false, 0, clNone, 0x80ABCDEF},
        ComposeCase{"HalfAlphaMixesAndRaisesAlpha", 0x80FF0000, 0x400000FF, false, 0, clNone, 0x807F007F},
        ComposeCase{"BackgroundSkipsAlpha16", 0x10FFFFFF, 0xFF000000, true, 0, clNone, 0xFF000000},
        ComposeCase{"BackgroundDrawsAlpha17", 0x11FFFFFF, 0xFF000000, true, 0, clNone, 0xFF101010},
        ComposeCase{"WithoutBackgroundAlpha16IsDrawn", 0x10FFFFFF, 0xFF000000, false, 0, clNone, 0xFF0F0F0F},
        ComposeCase{"BlendHalvesAlphaKeepsDestinationAlpha", 0xFFFFFFFF, 0x20000000, false, 50, clNone, 0x207E7E7E},
        ComposeCase{"TintUsesGrayOfSource", 0xFFFFFFFF, 0x40000000, false, 0, 0x000080, 0x40FB7C7C}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Bitmap32, ComposeShiftsBothOriginsForNegativeLeft) {
    TBitmap src = NewBitmap32(4, 1), dst = Filled(4, 1, 0xFF000000);
    for (int x = 0; x < 4; ++x) WritePixel32(src, x, 0, 0xFF000000u | uint32_t(0x10 * (x + 1)));
    ComposeBitmap32(Rect(-2, 0, 2, 1), Rect(0, 0, 4, 1), dst, false, 0, clNone, false, NoBackground, src);
    // Source columns 2 and 3 land on destination columns 0 and 1; the rest is untouched.
    EXPECT_EQ(ReadPixel32(dst, 0, 0) & 0xFF, 0x2Fu);  // (0x30 * 255 + 0) >> 8
    EXPECT_EQ(ReadPixel32(dst, 1, 0) & 0xFF, 0x3Fu);
    EXPECT_EQ(ReadPixel32(dst, 2, 0), 0xFF000000u);
    EXPECT_EQ(ReadPixel32(dst, 3, 0), 0xFF000000u);
}

TEST(Bitmap32, ComposeReflectionFadesBelowTheImage) {
    TBitmap src = Filled(1, 8, 0xFFFFFFFF), dst = Filled(1, 20, 0xFF000000);
    ComposeBitmap32(Rect(0, 0, 1, 8), Rect(0, 0, 1, 8), dst, true, 0, clNone, false, NoBackground, src);
    // Three rows (8 div 2 - 1) below the image; alphas 84, 37, 0 from the fade formula.
    EXPECT_EQ(ReadPixel32(dst, 0, 8), 0xFF000000u);
    EXPECT_EQ(ReadPixel32(dst, 0, 9), 0xFF535353u);
    EXPECT_EQ(ReadPixel32(dst, 0, 10), 0xFF242424u);
    EXPECT_EQ(ReadPixel32(dst, 0, 11), 0xFF000000u);
    EXPECT_EQ(ReadPixel32(dst, 0, 12), 0xFF000000u);
}

TEST(Bitmap32, PaintFromTemplateCopiesCornersAndStretchesStrips) {
    TBitmap templ = NewBitmap32(33, 33);
    for (int y = 0; y < 33; ++y)
        for (int x = 0; x < 33; ++x) WritePixel32(templ, x, y, 0xFF000000u | uint32_t(x) | uint32_t(y) << 8);
    const uint32_t sentinel = 0x12345678;
    TBitmap dst = Filled(100, 60, sentinel);
    const TRect nine = Rect(9, 9, 9, 9), sixteen = Rect(16, 16, 16, 16);
    PaintFromTemplate(dst, templ, Rect(0, 0, 100, 60), false, false, {pmStretch, pmStretch, pmStretch, pmStretch}, nine,
                      sixteen, Rect(0, 0, 33, 33));
    auto at = [&](int x, int y) { return ReadPixel32(dst, x, y); };
    auto t = [](int x, int y) { return 0xFF000000u | uint32_t(x) | uint32_t(y) << 8; };
    struct Probe {
        int x, y;
        uint32_t expected;
    } probes[] = {
        {0, 0, t(0, 0)},     {15, 8, t(15, 8)},   {15, 9, sentinel},   {8, 15, t(8, 15)},
        {9, 15, sentinel},   {84, 51, t(17, 24)}, {99, 59, t(32, 32)}, {84, 0, t(17, 0)},
        {91, 15, t(24, 15)}, {0, 51, t(0, 24)},   {50, 3, t(16, 3)},   {50, 56, t(16, 29)},
        {4, 30, t(4, 16)},   {95, 30, t(28, 16)}, {50, 30, sentinel},  {50, 9, sentinel},
    };
    for (const Probe& p : probes) EXPECT_EQ(at(p.x, p.y), p.expected) << p.x << "," << p.y;
}

TEST(Bitmap32, PaintFromTemplateTilesWithAShortLastCopy) {
    TBitmap templ = NewBitmap32(5, 5);  // margins 1: the middle strip is 3 pixels long
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x) WritePixel32(templ, x, y, 0xFF000000u | uint32_t(x) | uint32_t(y) << 8);
    TBitmap dst = Filled(9, 9, 0);
    PaintFromTemplate(dst, templ, Rect(0, 0, 9, 9), true, false, {}, Rect(1, 1, 1, 1), Rect(1, 1, 1, 1),
                      Rect(0, 0, 5, 5));
    const int expectedX[] = {1, 2, 3, 1, 2, 3, 1};  // columns 1..7: tiles of 3, the last one cut to 1
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(ReadPixel32(dst, 1 + i, 0) & 0xFF, uint32_t(expectedX[i])) << i;
        // centre row 4 starts the second vertical tile: template row 1
        EXPECT_EQ(ReadPixel32(dst, 1 + i, 4), 0xFF000000u | uint32_t(expectedX[i]) | (1u << 8)) << i;
    }
}

TEST(Bitmap32, NewBitmap32FormsAndUnallocatableSizes) {
    EXPECT_EQ(NewBitmap32(Rect(10, 10, 5, 30)).Width(), 0);
    EXPECT_EQ(NewBitmap32(Rect(10, 10, 5, 30)).Height(), 20);
    const TBitmap b = NewBitmap32(TSize{7, 3});
    EXPECT_EQ(b.PixelFormat(), TPixelFormat::pf32bit);
    EXPECT_EQ(NewBitmap32(b).Width(), 7);
    const TBitmap huge = NewBitmap32(100000, 100000);  // far above the buffer limit
    EXPECT_EQ(huge.Width(), 0);
    EXPECT_EQ(huge.Height(), 0);
    const TBitmap negative = NewBitmap32(-1, 5);
    EXPECT_TRUE(negative.Empty());
}

TEST(Bitmap32, RowAccess) {
    TBitmap empty = NewBitmap32(4, 0), one = NewBitmap32(4, 1), many = NewBitmap32(3, 5);
    TRowAccess rows;
    EXPECT_FALSE(GetRowAccess(empty, rows));
    ASSERT_TRUE(GetRowAccess(one, rows));
    EXPECT_EQ(rows.Delta, 0);
    ASSERT_TRUE(GetRowAccess(many, rows));
    EXPECT_EQ(rows.Delta, 12);
    rows.Row(4)[8] = 0x77;
    EXPECT_EQ(ReadPixel32(many, 2, 4), 0x77u);
    FillArea32(empty, Rect(0, 0, 4, 4), 0, 0);  // nothing to touch, no fault
}

TEST(Bitmap32, WaitUntilTicksOverflowAndReturn) {
    try {
        WaitUntilTicks(0xFFFFFFF0u, 0x20);
        FAIL() << "no error";
    } catch (const EIntOverflow& e) {
        EXPECT_STREQ(e.what(), "Integer overflow");
    }
    const uint32_t start = GetTickCount();
    WaitUntilTicks(start, 3);
    EXPECT_GE(GetTickCount() - start, 3u);
}

TEST(Bitmap32, BlendFunctionAndBackgroundRecords) {
    TBlendFunction bf;
    MakeBlendFunction(bf, 200);
    EXPECT_EQ(bf.BlendOp, 0);
    EXPECT_EQ(bf.BlendFlags, 0);
    EXPECT_EQ(bf.SourceConstantAlpha, 200);
    EXPECT_EQ(bf.AlphaFormat, 1);
    TBitmap b = NewBitmap32(2, 2);
    BackgroundInfo info;
    DescribeBitmapBackground(&b, 3, -4, info);
    EXPECT_EQ(info.Bitmap, &b);
    EXPECT_EQ(info.OffsetX, 3);
    EXPECT_EQ(info.OffsetY, -4);
    EXPECT_EQ(info.Color, 0xFF00FFu);
    EXPECT_TRUE(info.HasBitmap);
    EXPECT_FALSE(NoBackground.HasBitmap);
    EXPECT_EQ(NoBackground.OffsetX, -99);
}
