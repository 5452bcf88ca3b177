#include <gtest/gtest.h>

#include <cmath>

#include "graphics/color_manager.h"

using namespace graphics;

namespace {

void Layout(TColorManager& cm, TColorScheme src, TColorScheme dst, uint8_t srcBits, uint8_t dstBits, uint8_t spp) {
    cm.SetSourceColorScheme(src);
    cm.SetTargetColorScheme(dst);
    cm.SetSourceSamplesPerPixel(spp);
    cm.SetTargetSamplesPerPixel(spp);
    cm.SetSourceBitsPerSample(srcBits);
    cm.SetTargetBitsPerSample(dstBits);
}

template <typename E>
void ExpectError(const std::function<void()>& f, const char* message) {
    try {
        f();
        ADD_FAILURE() << "no error";
    } catch (const E& e) {
        EXPECT_STREQ(e.what(), message);
    }
}

}  // namespace

TEST(ColorManager, ScaleSampleTruncates) {
    struct {
        uint16_t v, m, d, expected;
    } cases[] = {{65535, 255, 65535, 255}, {65534, 255, 65535, 254}, {257, 255, 65535, 1}, {256, 255, 65535, 0},
                 {3, 15, 3, 15},           {2, 15, 3, 10},           {5, 3, 15, 1}};
    for (const auto& c : cases) EXPECT_EQ(ScaleSample(c.v, c.m, c.d), c.expected) << c.v << "*" << c.m << "/" << c.d;
}

TEST(ColorManager, PackedTwoBitToFourBitSpreads) {
    TColorManager cm;
    Layout(cm, TColorScheme::csG, TColorScheme::csG, 2, 4, 1);
    const uint8_t src[] = {0b00011011};  // 0, 1, 2, 3
    uint8_t dst[2] = {0xEE, 0xEE};
    cm.ConvertRow(src, dst, 4, 0xFF);
    EXPECT_EQ(dst[0], 0x05);
    EXPECT_EQ(dst[1], 0xAF);
}

TEST(ColorManager, MaskWritesOnlyItsPixelsAndConsumesOnlyThose) {
    TColorManager cm;
    Layout(cm, TColorScheme::csIndexed, TColorScheme::csIndexed, 8, 8, 1);
    const uint8_t src[] = {10, 20, 30, 40};
    uint8_t dst[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    cm.ConvertRow(src, dst, 8, 0x88);
    const uint8_t expected[8] = {10, 1, 1, 1, 20, 1, 1, 1};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(dst[i], expected[i]) << i;

    // The same rule on packed 4-bit targets: the other nibble of each byte is kept.
    Layout(cm, TColorScheme::csG, TColorScheme::csG, 2, 4, 1);
    const uint8_t two[] = {0b11100100};  // 3, 2, 1, 0
    uint8_t nib[4] = {0x99, 0x99, 0x99, 0x99};
    cm.ConvertRow(two, nib, 8, 0x55);  // pixels 1, 3, 5, 7
    EXPECT_EQ(nib[0], 0x9F);
    EXPECT_EQ(nib[1], 0x9A);
    EXPECT_EQ(nib[2], 0x95);
    EXPECT_EQ(nib[3], 0x90);
}

TEST(ColorManager, GrayRowsTakeTheFirstSampleAndScale16Bit) {
    TColorManager cm;
    cm.SetSourceOptions(coNeedByteSwap);
    Layout(cm, TColorScheme::csGA, TColorScheme::csIndexed, 16, 8, 1);
    const uint8_t ga16[] = {0xFF, 0xFF, 0x12, 0x34, 0x80, 0x00, 0xFF, 0xFF, 0x01, 0x00, 0, 0};
    uint8_t out[3] = {};
    cm.ConvertRow(ga16, out, 3, 0xFF);
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(out[1], 127);  // 0x8000 * 255 / 65535
    EXPECT_EQ(out[2], 0);    // 0x0100 * 255 / 65535 = 0.99
    Layout(cm, TColorScheme::csGA, TColorScheme::csIndexed, 8, 8, 1);
    const uint8_t ga8[] = {7, 200, 9, 100};
    cm.ConvertRow(ga8, out, 2, 0xFF);
    EXPECT_EQ(out[0], 7);
    EXPECT_EQ(out[1], 9);
}

TEST(ColorManager, RgbToBgrWithAlphaGammaAnd16Bit) {
    TColorManager cm;
    cm.SetSourceOptions(coNeedByteSwap);
    Layout(cm, TColorScheme::csRGBA, TColorScheme::csBGRA, 8, 8, 4);
    const uint8_t rgba[] = {1, 2, 3, 4, 250, 251, 252, 253};
    uint8_t out[8] = {};
    cm.ConvertRow(rgba, out, 2, 0xFF);
    const uint8_t bgra[] = {3, 2, 1, 4, 252, 251, 250, 253};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(out[i], bgra[i]) << i;

    cm.SetGamma(1.0f, 2.2f);
    cm.SetTargetOptions(cm.TargetOptions() | coApplyGamma);
    const uint8_t mid[] = {128, 0, 255, 128};
    cm.ConvertRow(mid, out, 1, 0xFF);
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(out[2], 186);  // gamma on colour
    EXPECT_EQ(out[3], 128);  // never on alpha

    Layout(cm, TColorScheme::csRGB, TColorScheme::csBGR, 16, 8, 3);
    cm.SetTargetOptions(0);
    const uint8_t rgb16[] = {0xFF, 0xFF, 0x80, 0x00, 0x00, 0xFF};
    uint8_t out3[3] = {};
    cm.ConvertRow(rgb16, out3, 1, 0xFF);
    EXPECT_EQ(out3[0], 0);  // 0x00FF * 255 / 65535
    EXPECT_EQ(out3[1], 127);
    EXPECT_EQ(out3[2], 255);
}

TEST(ColorManager, GammaTableRoundsHalfToEven) {
    TColorManager cm;
    cm.SetGamma(1.0f, 2.2f);
    EXPECT_EQ(cm.GammaTable()[128], 186);
    EXPECT_EQ(cm.GammaTable()[0], 0);
    EXPECT_EQ(cm.GammaTable()[255], 255);
    // Exponent 1: identity, so rounding cannot drift.
    cm.SetGamma(1.0f / 2.2f, 2.2f);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(cm.GammaTable()[i], i) << i;
    // Non-positive values fall back to 1.0 and 2.2.
    cm.SetGamma(0.0f, -1.0f);
    EXPECT_FLOAT_EQ(cm.MainGamma(), 1.0f);
    EXPECT_FLOAT_EQ(cm.DisplayGamma(), 2.2f);
    EXPECT_EQ(cm.GammaTable()[128], 186);
}

TEST(ColorManager, GrayscalePalettes) {
    TColorManager cm;
    Layout(cm, TColorScheme::csG, TColorScheme::csG, 4, 4, 1);
    TPaletteHandle p = cm.CreateGrayscalePalette(false);
    ASSERT_EQ(p.size(), 16u);
    for (unsigned i = 0; i < 16; ++i) EXPECT_EQ(p[i], i * 17 * 0x010101u) << i;
    p = cm.CreateGrayscalePalette(true);
    EXPECT_EQ(p[0], 0xFFFFFFu);
    EXPECT_EQ(p[15], 0u);
    Layout(cm, TColorScheme::csG, TColorScheme::csG, 1, 1, 1);
    p = cm.CreateGrayscalePalette(false);
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[1], 0xFFFFFFu);
}

TEST(ColorManager, ColorPaletteSpreadsForWidenedSamples) {
    TColorManager cm;
    Layout(cm, TColorScheme::csIndexed, TColorScheme::csIndexed, 2, 4, 1);
    const uint8_t plte[] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 8, 7};
    const TPaletteHandle p = cm.CreateColorPalette(plte, TRawPaletteFormat::pfInterlaced8Triple, 4, false);
    ASSERT_EQ(p.size(), 16u);
    EXPECT_EQ(p[0], 0x0000FFu);
    EXPECT_EQ(p[5], 0x00FF00u);
    EXPECT_EQ(p[10], 0xFF0000u);
    EXPECT_EQ(p[15], 0x070809u);
    // RGB true reads the triples as blue, green, red.
    Layout(cm, TColorScheme::csIndexed, TColorScheme::csIndexed, 8, 8, 1);
    EXPECT_EQ(cm.CreateColorPalette(plte, TRawPaletteFormat::pfInterlaced8Triple, 1, true)[0], 0xFFu << 16);
}

TEST(ColorManager, PixelFormatOfALayout) {
    struct {
        uint8_t spp, bps;
        TPixelFormat expected;
    } cases[] = {{1, 1, TPixelFormat::pf1bit},  {1, 2, TPixelFormat::pf4bit},  {1, 4, TPixelFormat::pf4bit},
                 {1, 8, TPixelFormat::pf8bit},  {1, 16, TPixelFormat::pf8bit}, {3, 5, TPixelFormat::pf15bit},
                 {3, 8, TPixelFormat::pf24bit}, {4, 8, TPixelFormat::pf32bit}, {4, 4, TPixelFormat::pfCustom},
                 {2, 8, TPixelFormat::pfCustom}};
    for (const auto& c : cases)
        EXPECT_EQ(TColorManager::PixelFormatOf(c.spp, c.bps), c.expected) << int(c.spp) << "/" << int(c.bps);
}

TEST(ColorManager, ChangedOnlyWhenAValueChanges) {
    TColorManager cm;
    const uint8_t px[3] = {1, 2, 3};
    uint8_t out[3];
    cm.ConvertRow(px, out, 1, 0xFF);  // chooses the conversion and clears the flag
    EXPECT_FALSE(cm.Changed());
    cm.SetSourceBitsPerSample(8);
    cm.SetTargetColorScheme(TColorScheme::csBGR);
    EXPECT_FALSE(cm.Changed());
    cm.SetSourceBitsPerSample(16);
    EXPECT_TRUE(cm.Changed());
}

TEST(ColorManager, ErrorsCarryTheirTexts) {
    TColorManager cm;
    ExpectError<EColorConversionError>([&] { cm.SetSourceBitsPerSample(0); },
                                       "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16.");
    ExpectError<EColorConversionError>([&] { cm.SetTargetBitsPerSample(17); },
                                       "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16.");
    ExpectError<EColorConversionError>([&] { cm.SetSourceSamplesPerPixel(5); },
                                       "Sample count per pixel does not correspond to the given color scheme.");
    cm.SetSourceBitsPerSample(12);  // in range, so accepted
    const uint8_t px[8] = {};
    uint8_t out[8];
    cm.SetSourceColorScheme(TColorScheme::csIndexed);
    ExpectError<EColorConversionError>([&] { cm.ConvertRow(px, out, 1, 0xFF); },
                                       "Conversion between indexed and non-indexed pixel formats is not supported.");
    Layout(cm, TColorScheme::csRGB, TColorScheme::csRGB, 8, 8, 3);
    ExpectError<EColorConversionError>([&] { cm.ConvertRow(px, out, 1, 0xFF); },
                                       "Color conversion failed. Could not find a proper method.");
}
