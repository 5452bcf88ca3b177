#include "graphics/color_manager.h"

#include <cmath>
#include <cstring>

namespace graphics {

namespace {

inline uint8_t RotateRight(uint8_t bit) { return uint8_t((bit >> 1) | (bit << 7)); }

bool IsIndexedSource(TColorScheme s) {
    return s == TColorScheme::csIndexed || s == TColorScheme::csG || s == TColorScheme::csGA;
}
bool IsIndexedTarget(TColorScheme s) { return s == TColorScheme::csIndexed || s == TColorScheme::csG; }
bool HasAlpha(TColorScheme s) {
    return s == TColorScheme::csGA || s == TColorScheme::csRGBA || s == TColorScheme::csBGRA;
}

// Reads a 16-bit sample; the PNG reader's samples are big-endian and need the swap.
inline uint16_t Sample16(const uint8_t* p, bool swap) {
    return swap ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[0] | p[1] << 8);
}

}  // namespace

TColorManager::TColorManager() { SetGamma(1.0f, 2.2f); }

void TColorManager::Error(const char* msg) const { throw EColorConversionError(msg); }

void TColorManager::CheckDepth(uint8_t value) const {
    if (value == 0 || value > 16) Error(gesInvalidSampleDepth);
}
void TColorManager::CheckCount(uint8_t value) const {
    if (value == 0 || value > 4) Error(gesInvalidPixelDepth);
}

void TColorManager::SetSourceBitsPerSample(uint8_t value) {
    CheckDepth(value);
    if (value != FSourceBPS) FChanged = true;
    FSourceBPS = value;
}
void TColorManager::SetTargetBitsPerSample(uint8_t value) {
    CheckDepth(value);
    if (value != FTargetBPS) FChanged = true;
    FTargetBPS = value;
}
void TColorManager::SetSourceSamplesPerPixel(uint8_t value) {
    CheckCount(value);
    if (value != FSourceSPP) FChanged = true;
    FSourceSPP = value;
}
void TColorManager::SetTargetSamplesPerPixel(uint8_t value) {
    CheckCount(value);
    if (value != FTargetSPP) FChanged = true;
    FTargetSPP = value;
}
void TColorManager::SetSourceColorScheme(TColorScheme value) {
    if (value != FSourceScheme) FChanged = true;
    FSourceScheme = value;
}
void TColorManager::SetTargetColorScheme(TColorScheme value) {
    if (value != FTargetScheme) FChanged = true;
    FTargetScheme = value;
}

TPixelFormat TColorManager::PixelFormatOf(uint8_t spp, uint8_t bps) {
    if (spp == 1) {
        if (bps == 1) return TPixelFormat::pf1bit;
        if (bps >= 2 && bps <= 4) return TPixelFormat::pf4bit;
        if (bps >= 8 && bps <= 16) return TPixelFormat::pf8bit;
    } else if (spp == 3) {
        if (bps >= 1 && bps <= 5) return TPixelFormat::pf15bit;
        return TPixelFormat::pf24bit;
    } else if (spp == 4 && bps >= 8) {
        return TPixelFormat::pf32bit;
    }
    return TPixelFormat::pfCustom;
}

void TColorManager::ChooseConversion() {
    if (IsIndexedSource(FSourceScheme) != IsIndexedTarget(FTargetScheme)) Error(gesIndexedNotSupported);
    FSourceOptions = HasAlpha(FSourceScheme) ? (FSourceOptions | coAlpha) : (FSourceOptions & ~coAlpha);
    FTargetOptions = HasAlpha(FTargetScheme) ? (FTargetOptions | coAlpha) : (FTargetOptions & ~coAlpha);
    FRowConversion = nullptr;
    const unsigned sb = FSourceBPS, tb = FTargetBPS;
    switch (FSourceScheme) {
    case TColorScheme::csIndexed:
        if (sb <= 8 && tb <= 8) FRowConversion = &TColorManager::ConvertPackedRow;
        break;
    case TColorScheme::csG:
        if (sb <= 8 && tb <= 8) FRowConversion = &TColorManager::ConvertPackedRow;
        else if ((sb == 16 || tb == 16) && (sb == 8 || sb == 16) && (tb == 8 || tb == 16))
            FRowConversion = &TColorManager::ConvertGrayRow;
        break;
    case TColorScheme::csGA:
        if ((sb == 8 || sb == 16) && (tb == 8 || tb == 16)) FRowConversion = &TColorManager::ConvertGrayRow;
        break;
    case TColorScheme::csRGB:
    case TColorScheme::csRGBA:
        if ((FTargetScheme == TColorScheme::csBGR || FTargetScheme == TColorScheme::csBGRA) && (sb == 8 || sb == 16) &&
            tb == 8)
            FRowConversion = &TColorManager::ConvertRgbToBgrRow;
        break;
    default: break;
    }
    FChanged = false;
}

void TColorManager::ConvertRow(const void* const* source, void* target, uint32_t count, uint8_t mask) {
    if (FChanged) ChooseConversion();
    if (!FRowConversion) Error(gesConversionUnsupported);
    (this->*FRowConversion)(source, target, count, mask);
}

void TColorManager::ConvertPackedRow(const void* const* source, void* target, uint32_t count, uint8_t mask) {
    const uint8_t* src = static_cast<const uint8_t*>(source[0]);
    uint8_t* dst = static_cast<uint8_t*>(target);
    const unsigned sb = FSourceBPS, tb = FTargetBPS;
    if (sb == tb && mask == 0xFF) {
        std::memcpy(dst, src, (std::size_t(count) * sb + 7) / 8);
        return;
    }
    const unsigned sPerByte = 8 / sb, tPerByte = 8 / tb;
    const unsigned sMax = (1u << sb) - 1, tMax = (1u << tb) - 1;
    unsigned sIndex = 0, tIndex = 0;  // position inside the current byte
    uint8_t bit = 0x80;
    for (uint32_t i = 0; i < count; ++i) {
        if (mask & bit) {
            const unsigned sShift = 8 - sb * (sIndex + 1);
            unsigned v = (*src >> sShift) & sMax;
            if (sb != tb) v = ScaleSample(uint16_t(v), uint16_t(tMax), uint16_t(sMax));
            const unsigned tShift = 8 - tb * (tIndex + 1);
            *dst = uint8_t((*dst & ~(tMax << tShift)) | ((v & tMax) << tShift));
            if (++sIndex == sPerByte) {
                sIndex = 0;
                ++src;
            }
        }
        if (++tIndex == tPerByte) {
            tIndex = 0;
            ++dst;
        }
        bit = RotateRight(bit);
    }
}

void TColorManager::ConvertGrayRow(const void* const* source, void* target, uint32_t count, uint8_t mask) {
    const uint8_t* src = static_cast<const uint8_t*>(source[0]);
    uint8_t* dst = static_cast<uint8_t*>(target);
    const bool alpha = FSourceScheme == TColorScheme::csGA;
    const bool swap = (FSourceOptions & coNeedByteSwap) != 0;
    const std::size_t step = FSourceBPS == 16 ? (alpha ? 4 : 2) : (alpha ? 2 : 1);
    const std::size_t tStep = FTargetBPS == 16 ? 2 : 1;
    uint8_t bit = 0x80;
    for (uint32_t i = 0; i < count; ++i, dst += tStep) {
        if (mask & bit) {
            if (FTargetBPS == 16) {
                const uint16_t v = FSourceBPS == 16 ? Sample16(src, swap) : uint16_t(src[0] * 257u);
                dst[0] = uint8_t(v);
                dst[1] = uint8_t(v >> 8);
            } else {
                *dst = FSourceBPS == 16 ? uint8_t(ScaleSample(Sample16(src, swap), 255, 65535)) : src[0];
            }
            src += step;
        }
        bit = RotateRight(bit);
    }
}

void TColorManager::ConvertRgbToBgrRow(const void* const* source, void* target, uint32_t count, uint8_t mask) {
    const uint8_t* src = static_cast<const uint8_t*>(source[0]);
    uint8_t* dst = static_cast<uint8_t*>(target);
    const bool srcAlpha = (FSourceOptions & coAlpha) != 0;
    const bool dstAlpha = (FTargetOptions & coAlpha) != 0;
    const bool gamma = (FTargetOptions & coApplyGamma) != 0;
    const bool swap = (FSourceOptions & coNeedByteSwap) != 0;
    const std::size_t tStep = dstAlpha ? 4 : 3;

    if (FSourceBPS == 8 && mask == 0xFF && !gamma) {
        // The common cases, kept tight so the compiler can vectorise them.
        if (srcAlpha && dstAlpha) {
            for (uint32_t i = 0; i < count; ++i) {
                uint32_t v;
                std::memcpy(&v, src + 4 * std::size_t(i), 4);
                v = ExchangeRedBlue(v);
                std::memcpy(dst + 4 * std::size_t(i), &v, 4);
            }
            return;
        }
        if (!srcAlpha && !dstAlpha) {
            for (uint32_t i = 0; i < count; ++i) {
                dst[3 * std::size_t(i)] = src[3 * std::size_t(i) + 2];
                dst[3 * std::size_t(i) + 1] = src[3 * std::size_t(i) + 1];
                dst[3 * std::size_t(i) + 2] = src[3 * std::size_t(i)];
            }
            return;
        }
    }

    const std::size_t sStep = (FSourceBPS == 16 ? 2u : 1u) * (srcAlpha ? 4u : 3u);
    uint8_t bit = 0x80;
    for (uint32_t i = 0; i < count; ++i, dst += tStep) {
        if (mask & bit) {
            uint8_t r, g, b, a = 255;
            if (FSourceBPS == 16) {
                r = uint8_t(ScaleSample(Sample16(src, swap), 255, 65535));
                g = uint8_t(ScaleSample(Sample16(src + 2, swap), 255, 65535));
                b = uint8_t(ScaleSample(Sample16(src + 4, swap), 255, 65535));
                if (srcAlpha) a = uint8_t(ScaleSample(Sample16(src + 6, swap), 255, 65535));
            } else {
                r = src[0];
                g = src[1];
                b = src[2];
                if (srcAlpha) a = src[3];
            }
            if (gamma) {
                r = FGammaTable[r];
                g = FGammaTable[g];
                b = FGammaTable[b];
            }
            dst[0] = b;
            dst[1] = g;
            dst[2] = r;
            if (dstAlpha && srcAlpha) dst[3] = a;
            src += sStep;
        }
        bit = RotateRight(bit);
    }
}

void TColorManager::SetGamma(float mainGamma, float displayGamma) {
    if (mainGamma <= 0) mainGamma = 1.0f;
    if (displayGamma <= 0) displayGamma = 2.2f;
    FMainGamma = mainGamma;
    FDisplayGamma = displayGamma;
    const double g = 1.0 / (double(FMainGamma) * double(FDisplayGamma));
    const unsigned targetMax = FTargetBPS >= 8 ? 255u : (1u << FTargetBPS) - 1;
    const unsigned n = FSourceBPS >= 8 ? 255u : targetMax;
    const double m = targetMax;
    for (unsigned i = 0; i <= n && i < FGammaTable.size(); ++i) {
        // nearbyint rounds ties to even under the default rounding mode.
        const double v = std::nearbyint(std::pow(double(i) / n, g) * m);
        FGammaTable[i] = uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
    }
}

TPaletteHandle TColorManager::CreateGrayscalePalette(bool minimumIsWhite) {
    unsigned bits = unsigned(FTargetBPS) * FTargetSPP;
    if (bits > 8) bits = 8;
    const unsigned entries = 1u << bits;
    const unsigned step = 255 / (entries - 1);
    const bool gamma = (FTargetOptions & coApplyGamma) != 0;
    TPaletteHandle palette(entries);
    for (unsigned i = 0; i < entries; ++i) {
        unsigned v = i * step;
        if (gamma) v = FGammaTable[v];
        palette[minimumIsWhite ? entries - 1 - i : i] = v | v << 8 | v << 16;
    }
    return palette;
}

TPaletteHandle TColorManager::CreateColorPalette(const void* const* data, TRawPaletteFormat format, uint32_t colorCount,
                                                 bool rgb) {
    if (colorCount > 256) colorCount = 256;
    const bool gamma = (FTargetOptions & coApplyGamma) != 0;
    TPaletteHandle palette(colorCount);
    const bool wide = format >= TRawPaletteFormat::pfInterlaced16Triple;
    const bool quad = format == TRawPaletteFormat::pfInterlaced8Quad || format == TRawPaletteFormat::pfPlane8Quad ||
                      format == TRawPaletteFormat::pfInterlaced16Quad || format == TRawPaletteFormat::pfPlane16Quad;
    const bool planar = format == TRawPaletteFormat::pfPlane8Triple || format == TRawPaletteFormat::pfPlane8Quad ||
                        format == TRawPaletteFormat::pfPlane16Triple || format == TRawPaletteFormat::pfPlane16Quad;
    const std::size_t sampleBytes = wide ? 2 : 1;
    for (uint32_t i = 0; i < colorCount; ++i) {
        uint8_t c[3];
        for (int k = 0; k < 3; ++k) {
            const uint8_t* p = planar ? static_cast<const uint8_t*>(data[k]) + i * sampleBytes
                                      : static_cast<const uint8_t*>(data[0]) + (i * (quad ? 4 : 3) + k) * sampleBytes;
            c[k] = wide ? uint8_t(ScaleSample(Sample16(p, true), 255, 65535)) : p[0];
        }
        uint8_t r = rgb ? c[2] : c[0], g = c[1], b = rgb ? c[0] : c[2];
        if (gamma) {
            r = FGammaTable[r];
            g = FGammaTable[g];
            b = FGammaTable[b];
        }
        palette[i] = TColor(r) | TColor(g) << 8 | TColor(b) << 16;
    }
    if (FTargetBPS <= 8 && FTargetBPS != FSourceBPS && FSourceBPS <= 16) {
        // Spread so that entry i holds the colour a rescaled sample value i stands for.
        const unsigned targetMax = (1u << FTargetBPS) - 1, sourceMax = (1u << FSourceBPS) - 1;
        TPaletteHandle spread(targetMax + 1, 0);
        for (int i = int(targetMax); i >= 0; --i) {
            const unsigned from = ScaleSample(uint16_t(i), uint16_t(sourceMax), uint16_t(targetMax));
            spread[i] = from < palette.size() ? palette[from] : 0;
        }
        palette.swap(spread);
    }
    return palette;
}

}  // namespace graphics
