#pragma once
// Device-independent bitmaps and the 32-bit alpha routines the controls draw with.
// A 32-bit pixel is four bytes B, G, R, A in memory (straight alpha), read as the
// little-endian value A << 24 | R << 16 | G << 8 | B. Colour values put red in
// the low byte (R | G << 8 | B << 16); 0x1FFFFFFF means "no colour".

#include <cstddef>
#include <cstdint>
#include <vector>

#include "graphics/errors.h"

namespace graphics {

using TColor = uint32_t;

inline constexpr TColor clNone = 0x1FFFFFFF;
inline constexpr TColor clWhite = 0x00FFFFFF;
inline constexpr TColor clBlack = 0x00000000;
// The fixed fuchsia key pixel (blue 255, green 0, red 255, alpha 0).
inline constexpr uint32_t KeyPixel = 0x00FF00FF;
// No bitmap is ever given a pixel buffer larger than this.
inline constexpr std::size_t MaxPixelBufferBytes = std::size_t(256) << 20;

enum class TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };

struct TRect {
    int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
    constexpr int32_t Width() const { return Right - Left; }
    constexpr int32_t Height() const { return Bottom - Top; }
    friend constexpr bool operator==(const TRect&, const TRect&) = default;
};

constexpr TRect Rect(int32_t left, int32_t top, int32_t right, int32_t bottom) { return {left, top, right, bottom}; }

struct TSize {
    int32_t cx = 0, cy = 0;
};

// A bitmap of 1, 4, 8, 24 or 32 bits per pixel (pfDevice is stored as 32 bits
// and stands for "format not chosen yet"). Rows are 4-byte aligned, stored top
// to bottom. Indexed formats carry a palette of colour values.
class TBitmap {
public:
    TBitmap() = default;
    TBitmap(int width, int height, TPixelFormat pf = TPixelFormat::pf32bit);
    virtual ~TBitmap() = default;
    TBitmap(const TBitmap&) = default;
    TBitmap& operator=(const TBitmap&) = default;
    TBitmap(TBitmap&&) noexcept = default;
    TBitmap& operator=(TBitmap&&) noexcept = default;

    int Width() const { return width_; }
    int Height() const { return height_; }
    bool Empty() const { return width_ == 0 || height_ == 0; }

    TPixelFormat PixelFormat() const { return format_; }
    // Changes the format; existing pixels are converted (to 32 bits they get
    // alpha 255; to an indexed format they take the nearest palette entry).
    void SetPixelFormat(TPixelFormat pf);

    // Resizes keeping the overlapping top-left pixels. Raises EOutOfResources
    // for negative sizes or a buffer above MaxPixelBufferBytes.
    void SetSize(int width, int height);
    void SetWidth(int width) { SetSize(width, height_); }
    void SetHeight(int height) { SetSize(width_, height); }

    std::ptrdiff_t Stride() const { return stride_; }
    uint8_t* ScanLine(int y) { return bits_.data() + std::ptrdiff_t(y) * stride_; }
    const uint8_t* ScanLine(int y) const { return bits_.data() + std::ptrdiff_t(y) * stride_; }
    int BitsPerPixel() const { return BitsPerPixelOf(format_); }
    static int BitsPerPixel(TPixelFormat pf) { return BitsPerPixelOf(pf); }

    // Colour values (R | G << 8 | B << 16) of an indexed bitmap.
    const std::vector<TColor>& Palette() const { return palette_; }
    void SetPalette(std::vector<TColor> palette);

    bool Transparent() const { return transparent_; }
    void SetTransparent(bool value) { transparent_ = value; }
    TColor TransparentColor() const { return transparentColor_; }
    void SetTransparentColor(TColor value) { transparentColor_ = value; }

    // Copies everything (size, format, palette, pixels, transparency).
    virtual void Assign(const TBitmap& source);
    // Takes the image of source, leaving it empty.
    void TakeImage(TBitmap&& source);
    // Drops the image: 0 x 0, format not chosen, no palette.
    void ReleaseImage();

    // Fills a rectangle (clipped) with a colour the way a canvas brush would:
    // 32-bit pixels get alpha 0, indexed pixels the nearest palette entry.
    void FillRect(const TRect& rect, TColor color);
    // Colour value of a pixel in any format (palette looked up, 0 outside it).
    TColor PixelColor(int x, int y) const;
    // Raw index (or packed value) of a pixel of an indexed bitmap.
    unsigned PixelIndex(int x, int y) const;
    // Index of the palette entry closest to a colour.
    unsigned NearestPaletteIndex(TColor color) const;

private:
    static int BitsPerPixelOf(TPixelFormat pf);
    static std::ptrdiff_t StrideFor(int width, int bpp);

    int width_ = 0;
    int height_ = 0;
    TPixelFormat format_ = TPixelFormat::pfDevice;
    std::ptrdiff_t stride_ = 0;
    std::vector<uint8_t> bits_;
    std::vector<TColor> palette_;
    bool transparent_ = false;
    TColor transparentColor_ = clNone;
};

// Row access: address of row 0 and the signed distance from row 0 to row 1.
struct TRowAccess {
    uint8_t* Row0 = nullptr;
    std::ptrdiff_t Delta = 0;
    uint8_t* Row(int y) const { return Row0 + std::ptrdiff_t(y) * Delta; }
};
// False (and nothing to touch) when the bitmap has no rows.
bool GetRowAccess(TBitmap& bitmap, TRowAccess& access);

// New 32-bit bitmaps; a size that cannot be allocated gives a 0 x 0 bitmap.
TBitmap NewBitmap32(int width, int height);
TBitmap NewBitmap32(TSize size);
TBitmap NewBitmap32(const TRect& rect);  // negative extents clamp to 0
TBitmap NewBitmap32(const TBitmap& sizeOf);

uint32_t ReadPixel32(const TBitmap& bitmap, int x, int y);
void WritePixel32(TBitmap& bitmap, int x, int y, uint32_t value);
// Swaps the lowest and third bytes: colour value <-> pixel byte order.
constexpr uint32_t ExchangeRedBlue(uint32_t v) { return (v & 0xFF00FF00u) | ((v & 0xFFu) << 16) | ((v >> 16) & 0xFFu); }
void FillArea32(TBitmap& bitmap, const TRect& rect, TColor color, uint8_t alpha);
// Zeroes every pixel equal to 0x00FFFFFF (white with alpha 0).
void ClearInvisibleWhite(TBitmap& bitmap);
// Per channel (w * A + (255 - w) * B) >> 8; high byte from A.
TColor BlendColorValues(TColor a, TColor b, uint8_t weight);

// What lies under a drawn bitmap.
struct BackgroundInfo {
    TBitmap* Bitmap = nullptr;
    int32_t OffsetX = 0;
    int32_t OffsetY = 0;
    TColor Color = 0;
    TRect Rect{};
    bool HasBitmap = false;
};
// The record that describes no background.
extern const BackgroundInfo NoBackground;
void DescribeBitmapBackground(TBitmap* bitmap, int32_t x, int32_t y, BackgroundInfo& info);

// Lays the 32-bit source over the 32-bit destination. blend is a percentage
// (0 = none); tint a colour value or clNone.
void ComposeBitmap32(const TRect& dstRect, const TRect& srcRect, TBitmap& dst, bool reflect, int blend, TColor tint,
                     bool copyBackground, const BackgroundInfo& info, const TBitmap& src);

// Edge fill modes of PaintFromTemplate.
enum : int { pmTile = 0, pmStretch = 1 };
struct TSideModes {
    int Left = pmTile, Top = pmTile, Right = pmTile, Bottom = pmTile;
};
// Nine-part painting: margins are the template's corner sizes, bands the band
// thicknesses drawn, src the template region.
void PaintFromTemplate(TBitmap& dst, const TBitmap& templ, const TRect& rect, bool fillCentre, bool stretchCentre,
                       const TSideModes& modes, const TRect& bands, const TRect& margins, const TRect& src);

struct TBlendFunction {
    uint8_t BlendOp = 0;
    uint8_t BlendFlags = 0;
    uint8_t SourceConstantAlpha = 0;
    uint8_t AlphaFormat = 0;
};
void MakeBlendFunction(TBlendFunction& blend, uint8_t constantAlpha);

// Milliseconds of a monotonic clock, wrapping like a 32-bit tick counter.
uint32_t GetTickCount();
// Busy-waits until GetTickCount() >= start + ms; EIntOverflow when that sum overflows.
void WaitUntilTicks(uint32_t start, uint32_t ms);

}  // namespace graphics
