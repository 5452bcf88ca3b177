#pragma once
// Row-by-row sample conversion from an image layout into a bitmap layout,
// with gamma correction and the palettes indexed and gray bitmaps need.

#include <array>
#include <cstdint>
#include <vector>

#include "graphics/bitmap32.h"

namespace graphics {

enum class TColorScheme {
    csUnknown,
    csIndexed,
    csG,
    csGA,
    csRGB,
    csRGBA,
    csBGR,
    csBGRA,
    csCMY,
    csCMYK,
    csCIELab,
    csYCbCr,
    csPhotoYCC
};

enum TConvertOption : uint8_t {
    coAlpha = 1 << 0,
    coApplyGamma = 1 << 1,
    coNeedByteSwap = 1 << 2,
    coLabByteRange = 1 << 3,
    coLabChromaOffset = 1 << 4,
};
using TConvertOptions = uint8_t;  // set of TConvertOption

enum class TRawPaletteFormat {
    pfInterlaced8Triple,
    pfInterlaced8Quad,
    pfPlane8Triple,
    pfPlane8Quad,
    pfInterlaced16Triple,
    pfInterlaced16Quad,
    pfPlane16Triple,
    pfPlane16Quad
};

// Palettes are lists of colour values (R | G << 8 | B << 16); empty means none.
using TPaletteHandle = std::vector<TColor>;

// v * m / d in unsigned 16-bit arithmetic, truncated.
constexpr uint16_t ScaleSample(uint16_t v, uint16_t m, uint16_t d) {
    return static_cast<uint16_t>(uint32_t(v) * m / d);
}

class TColorManager {
public:
    TColorManager();

    // Converts Count target pixels of one row; Source holds one pointer for
    // interleaved samples (or one per plane). Only pixels whose bit of the
    // rotating mask (starting at 0x80) is set in Mask are written, and only
    // those consume a source pixel.
    void ConvertRow(const void* const* source, void* target, uint32_t count, uint8_t mask);
    void ConvertRow(const void* source, void* target, uint32_t count, uint8_t mask) {
        const void* planes[1] = {source};
        ConvertRow(planes, target, count, mask);
    }

    TPaletteHandle CreateColorPalette(const void* const* data, TRawPaletteFormat format, uint32_t colorCount, bool rgb);
    TPaletteHandle CreateColorPalette(const void* data, TRawPaletteFormat format, uint32_t colorCount, bool rgb) {
        const void* planes[1] = {data};
        return CreateColorPalette(planes, format, colorCount, rgb);
    }
    TPaletteHandle CreateGrayscalePalette(bool minimumIsWhite);
    void SetGamma(float mainGamma, float displayGamma);
    [[noreturn]] void Error(const char* msg) const;

    uint8_t SourceBitsPerSample() const { return FSourceBPS; }
    void SetSourceBitsPerSample(uint8_t value);
    uint8_t TargetBitsPerSample() const { return FTargetBPS; }
    void SetTargetBitsPerSample(uint8_t value);
    uint8_t SourceSamplesPerPixel() const { return FSourceSPP; }
    void SetSourceSamplesPerPixel(uint8_t value);
    uint8_t TargetSamplesPerPixel() const { return FTargetSPP; }
    void SetTargetSamplesPerPixel(uint8_t value);
    TColorScheme SourceColorScheme() const { return FSourceScheme; }
    void SetSourceColorScheme(TColorScheme value);
    TColorScheme TargetColorScheme() const { return FTargetScheme; }
    void SetTargetColorScheme(TColorScheme value);
    TConvertOptions SourceOptions() const { return FSourceOptions; }
    void SetSourceOptions(TConvertOptions value) { FSourceOptions = value; }
    TConvertOptions TargetOptions() const { return FTargetOptions; }
    void SetTargetOptions(TConvertOptions value) { FTargetOptions = value; }
    TPixelFormat SourcePixelFormat() const { return PixelFormatOf(FSourceSPP, FSourceBPS); }
    TPixelFormat TargetPixelFormat() const { return PixelFormatOf(FTargetSPP, FTargetBPS); }

    bool Changed() const { return FChanged; }
    const std::array<uint8_t, 256>& GammaTable() const { return FGammaTable; }
    float MainGamma() const { return FMainGamma; }
    float DisplayGamma() const { return FDisplayGamma; }

    static TPixelFormat PixelFormatOf(uint8_t samplesPerPixel, uint8_t bitsPerSample);

private:
    using TConversionMethod = void (TColorManager::*)(const void* const*, void*, uint32_t, uint8_t);
    void ChooseConversion();
    void ConvertPackedRow(const void* const* source, void* target, uint32_t count, uint8_t mask);
    void ConvertGrayRow(const void* const* source, void* target, uint32_t count, uint8_t mask);
    void ConvertRgbToBgrRow(const void* const* source, void* target, uint32_t count, uint8_t mask);
    void CheckDepth(uint8_t value) const;
    void CheckCount(uint8_t value) const;

    bool FChanged = true;
    uint8_t FSourceBPS = 8, FTargetBPS = 8;
    uint8_t FSourceSPP = 3, FTargetSPP = 3;
    float FMainGamma = 1.0f, FDisplayGamma = 2.2f;
    std::array<uint8_t, 256> FGammaTable{};
    std::array<float, 3> FYCbCrCoefficients{0.299f, 0.587f, 0.114f};
    TColorScheme FSourceScheme = TColorScheme::csRGB;
    TColorScheme FTargetScheme = TColorScheme::csBGR;
    TConversionMethod FRowConversion = nullptr;
    TConvertOptions FSourceOptions = 0;
    TConvertOptions FTargetOptions = 0;
};

inline constexpr const char* gesIndexedNotSupported =
    "Conversion between indexed and non-indexed pixel formats is not supported.";
inline constexpr const char* gesConversionUnsupported = "Color conversion failed. Could not find a proper method.";
inline constexpr const char* gesInvalidSampleDepth =
    "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16.";
inline constexpr const char* gesInvalidPixelDepth =
    "Sample count per pixel does not correspond to the given color scheme.";

}  // namespace graphics
