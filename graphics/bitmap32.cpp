#include "graphics/bitmap32.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>

namespace graphics {

// ---------------------------------------------------------------- TBitmap

int TBitmap::BitsPerPixelOf(TPixelFormat pf) {
    switch (pf) {
    case TPixelFormat::pf1bit: return 1;
    case TPixelFormat::pf4bit: return 4;
    case TPixelFormat::pf8bit: return 8;
    case TPixelFormat::pf15bit:
    case TPixelFormat::pf16bit: return 16;
    case TPixelFormat::pf24bit: return 24;
    default: return 32;
    }
}

std::ptrdiff_t TBitmap::StrideFor(int width, int bpp) {
    return static_cast<std::ptrdiff_t>((uint64_t(width) * uint64_t(bpp) + 31) / 32 * 4);
}

TBitmap::TBitmap(int width, int height, TPixelFormat pf) {
    format_ = pf;
    SetSize(width, height);
}

void TBitmap::SetSize(int width, int height) {
    if (width < 0 || height < 0) throw EOutOfResources(SOutOfResources);
    if (width == width_ && height == height_) return;
    const int bpp = BitsPerPixelOf(format_);
    const uint64_t stride = (uint64_t(width) * uint64_t(bpp) + 31) / 32 * 4;
    const uint64_t total = stride * uint64_t(height);
    if (total > MaxPixelBufferBytes) throw EOutOfResources(SOutOfResources);
    std::vector<uint8_t> bits(static_cast<std::size_t>(total), 0);
    const std::size_t keepBytes = std::min<std::size_t>(static_cast<std::size_t>(stride),
                                                        static_cast<std::size_t>(stride_));
    const int keepRows = std::min(height, height_);
    for (int y = 0; y < keepRows; ++y)
        std::memcpy(bits.data() + std::size_t(y) * stride, bits_.data() + std::size_t(y) * stride_, keepBytes);
    bits_.swap(bits);
    stride_ = static_cast<std::ptrdiff_t>(stride);
    width_ = width;
    height_ = height;
}

void TBitmap::SetPalette(std::vector<TColor> palette) { palette_ = std::move(palette); }

unsigned TBitmap::PixelIndex(int x, int y) const {
    const uint8_t* row = ScanLine(y);
    switch (format_) {
    case TPixelFormat::pf1bit: return (row[x >> 3] >> (7 - (x & 7))) & 1u;
    case TPixelFormat::pf4bit: return (x & 1) ? (row[x >> 1] & 0x0Fu) : (row[x >> 1] >> 4);
    case TPixelFormat::pf8bit: return row[x];
    default: return 0;
    }
}

static void StorePixelIndex(uint8_t* row, TPixelFormat pf, int x, unsigned index) {
    switch (pf) {
    case TPixelFormat::pf1bit: {
        const uint8_t bit = uint8_t(0x80u >> (x & 7));
        row[x >> 3] = (index & 1) ? (row[x >> 3] | bit) : (row[x >> 3] & ~bit);
        break;
    }
    case TPixelFormat::pf4bit:
        if (x & 1) row[x >> 1] = uint8_t((row[x >> 1] & 0xF0u) | (index & 0x0Fu));
        else row[x >> 1] = uint8_t((row[x >> 1] & 0x0Fu) | ((index & 0x0Fu) << 4));
        break;
    case TPixelFormat::pf8bit: row[x] = uint8_t(index); break;
    default: break;
    }
}

static bool IsIndexed(TPixelFormat pf) {
    return pf == TPixelFormat::pf1bit || pf == TPixelFormat::pf4bit || pf == TPixelFormat::pf8bit;
}

static TColor From555(uint16_t v) {
    const unsigned r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
    return (r * 255 / 31) | ((g * 255 / 31) << 8) | ((b * 255 / 31) << 16);
}
static TColor From565(uint16_t v) {
    const unsigned r = (v >> 11) & 31, g = (v >> 5) & 63, b = v & 31;
    return (r * 255 / 31) | ((g * 255 / 63) << 8) | ((b * 255 / 31) << 16);
}

TColor TBitmap::PixelColor(int x, int y) const {
    const uint8_t* row = ScanLine(y);
    switch (format_) {
    case TPixelFormat::pf1bit:
    case TPixelFormat::pf4bit:
    case TPixelFormat::pf8bit: {
        const unsigned i = PixelIndex(x, y);
        return i < palette_.size() ? (palette_[i] & 0xFFFFFFu) : 0;
    }
    case TPixelFormat::pf15bit: return From555(uint16_t(row[2 * x] | row[2 * x + 1] << 8));
    case TPixelFormat::pf16bit: return From565(uint16_t(row[2 * x] | row[2 * x + 1] << 8));
    case TPixelFormat::pf24bit: return row[3 * x + 2] | (row[3 * x + 1] << 8) | (TColor(row[3 * x]) << 16);
    default: return row[4 * x + 2] | (row[4 * x + 1] << 8) | (TColor(row[4 * x]) << 16);
    }
}

unsigned TBitmap::NearestPaletteIndex(TColor color) const {
    unsigned best = 0;
    long bestDist = std::numeric_limits<long>::max();
    const int r = color & 0xFF, g = (color >> 8) & 0xFF, b = (color >> 16) & 0xFF;
    for (std::size_t i = 0; i < palette_.size(); ++i) {
        const TColor p = palette_[i];
        const long dr = long(p & 0xFF) - r, dg = long((p >> 8) & 0xFF) - g, db = long((p >> 16) & 0xFF) - b;
        const long dist = dr * dr + dg * dg + db * db;
        if (dist < bestDist) {
            bestDist = dist;
            best = unsigned(i);
            if (dist == 0) break;
        }
    }
    return best;
}

static void StoreColor(uint8_t* row, TPixelFormat pf, int x, TColor c, uint8_t alpha) {
    const uint8_t r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
    switch (pf) {
    case TPixelFormat::pf15bit: {
        const uint16_t v = uint16_t(((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3));
        row[2 * x] = uint8_t(v);
        row[2 * x + 1] = uint8_t(v >> 8);
        break;
    }
    case TPixelFormat::pf16bit: {
        const uint16_t v = uint16_t(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
        row[2 * x] = uint8_t(v);
        row[2 * x + 1] = uint8_t(v >> 8);
        break;
    }
    case TPixelFormat::pf24bit:
        row[3 * x] = b;
        row[3 * x + 1] = g;
        row[3 * x + 2] = r;
        break;
    default:
        row[4 * x] = b;
        row[4 * x + 1] = g;
        row[4 * x + 2] = r;
        row[4 * x + 3] = alpha;
        break;
    }
}

void TBitmap::SetPixelFormat(TPixelFormat pf) {
    if (pf == format_) return;
    if (width_ == 0 || height_ == 0) {
        format_ = pf;
        bits_.clear();
        stride_ = 0;
        const int w = width_, h = height_;
        width_ = height_ = 0;
        SetSize(w, h);
        return;
    }
    TBitmap converted;
    converted.format_ = pf;
    converted.palette_ = IsIndexed(pf) ? palette_ : std::vector<TColor>{};
    converted.SetSize(width_, height_);
    const bool fromIndexed = IsIndexed(format_);
    for (int y = 0; y < height_; ++y) {
        uint8_t* dst = converted.ScanLine(y);
        const uint8_t* src = ScanLine(y);
        if (!fromIndexed && (format_ == TPixelFormat::pf32bit || format_ == TPixelFormat::pfDevice) &&
            (pf == TPixelFormat::pf32bit || pf == TPixelFormat::pfDevice)) {
            std::memcpy(dst, src, std::size_t(width_) * 4);
            continue;
        }
        for (int x = 0; x < width_; ++x) {
            const TColor c = PixelColor(x, y);
            if (IsIndexed(pf))
                StorePixelIndex(dst, pf, x, fromIndexed ? PixelIndex(x, y) : converted.NearestPaletteIndex(c));
            else StoreColor(dst, pf, x, c, 255);
        }
    }
    converted.transparent_ = transparent_;
    converted.transparentColor_ = transparentColor_;
    *this = static_cast<TBitmap&&>(converted);
}

void TBitmap::Assign(const TBitmap& source) {
    if (&source == this) return;
    width_ = source.width_;
    height_ = source.height_;
    format_ = source.format_;
    stride_ = source.stride_;
    bits_ = source.bits_;
    palette_ = source.palette_;
    transparent_ = source.transparent_;
    transparentColor_ = source.transparentColor_;
}

void TBitmap::TakeImage(TBitmap&& source) {
    if (&source == this) return;
    width_ = source.width_;
    height_ = source.height_;
    format_ = source.format_;
    stride_ = source.stride_;
    bits_ = std::move(source.bits_);
    palette_ = std::move(source.palette_);
    transparent_ = source.transparent_;
    transparentColor_ = source.transparentColor_;
    source.ReleaseImage();
}

void TBitmap::ReleaseImage() {
    width_ = height_ = 0;
    format_ = TPixelFormat::pfDevice;
    stride_ = 0;
    bits_.clear();
    bits_.shrink_to_fit();
    palette_.clear();
    transparent_ = false;
    transparentColor_ = clNone;
}

void TBitmap::FillRect(const TRect& rect, TColor color) {
    const int left = std::max(rect.Left, 0), top = std::max(rect.Top, 0);
    const int right = std::min(rect.Right, width_), bottom = std::min(rect.Bottom, height_);
    if (left >= right || top >= bottom) return;
    color &= 0xFFFFFFu;
    const bool fullRows = left == 0 && right == width_;
    if (IsIndexed(format_)) {
        const unsigned index = NearestPaletteIndex(color);
        if (format_ == TPixelFormat::pf8bit) {
            for (int y = top; y < bottom; ++y) std::memset(ScanLine(y) + left, int(index), std::size_t(right - left));
            return;
        }
        for (int x = left; x < right; ++x) StorePixelIndex(ScanLine(top), format_, x, index);
    } else if (BitsPerPixelOf(format_) == 32) {
        const uint32_t v = ExchangeRedBlue(color);
        uint8_t* row = ScanLine(top) + std::size_t(left) * 4;
        for (int x = left; x < right; ++x, row += 4) std::memcpy(row, &v, 4);
    } else {
        for (int x = left; x < right; ++x) StoreColor(ScanLine(top), format_, x, color, 0);
    }
    // The first row is done; the others are copies of its bytes.
    const std::size_t bytes = fullRows ? std::size_t(stride_) : (std::size_t(right) * BitsPerPixelOf(format_) + 7) / 8;
    const std::size_t from = fullRows ? 0 : std::size_t(left) * BitsPerPixelOf(format_) / 8;
    if (!fullRows && BitsPerPixelOf(format_) < 8) {
        for (int y = top + 1; y < bottom; ++y)
            for (int x = left; x < right; ++x) StorePixelIndex(ScanLine(y), format_, x, PixelIndex(x, top));
        return;
    }
    for (int y = top + 1; y < bottom; ++y) std::memcpy(ScanLine(y) + from, ScanLine(top) + from, bytes - from);
}

bool GetRowAccess(TBitmap& bitmap, TRowAccess& access) {
    if (bitmap.Height() <= 0 || bitmap.Width() <= 0) {
        access = {};
        return false;
    }
    access.Row0 = bitmap.ScanLine(0);
    access.Delta = bitmap.Height() > 1 ? bitmap.Stride() : 0;
    return true;
}

// ---------------------------------------------------------------- creation and pixels

TBitmap NewBitmap32(int width, int height) {
    TBitmap bmp;
    bmp.SetPixelFormat(TPixelFormat::pf32bit);
    try {
        bmp.SetSize(width, height);
    } catch (const std::exception&) {
        bmp.SetSize(0, 0);
    }
    return bmp;
}

TBitmap NewBitmap32(TSize size) { return NewBitmap32(size.cx, size.cy); }

TBitmap NewBitmap32(const TRect& rect) { return NewBitmap32(std::max(rect.Width(), 0), std::max(rect.Height(), 0)); }

TBitmap NewBitmap32(const TBitmap& sizeOf) { return NewBitmap32(sizeOf.Width(), sizeOf.Height()); }

static bool Is32(const TBitmap& b) { return b.BitsPerPixel() == 32; }

uint32_t ReadPixel32(const TBitmap& bitmap, int x, int y) {
    if (!Is32(bitmap) || x < 0 || y < 0 || x >= bitmap.Width() || y >= bitmap.Height()) return 0;
    uint32_t v;
    std::memcpy(&v, bitmap.ScanLine(y) + std::size_t(x) * 4, 4);
    return v;
}

void WritePixel32(TBitmap& bitmap, int x, int y, uint32_t value) {
    if (!Is32(bitmap) || x < 0 || y < 0 || x >= bitmap.Width() || y >= bitmap.Height()) return;
    std::memcpy(bitmap.ScanLine(y) + std::size_t(x) * 4, &value, 4);
}

void FillArea32(TBitmap& bitmap, const TRect& rect, TColor color, uint8_t alpha) {
    TRowAccess rows;
    if (!Is32(bitmap) || !GetRowAccess(bitmap, rows)) return;
    const uint32_t v = (ExchangeRedBlue(color) & 0x00FFFFFFu) | (uint32_t(alpha) << 24);
    const int top = std::max(rect.Top, 0), bottom = std::min(rect.Bottom, bitmap.Height());
    const int left = std::max(rect.Left, 0), right = std::min(rect.Right, bitmap.Width());
    for (int y = top; y < bottom; ++y) {
        uint8_t* p = rows.Row(y) + std::size_t(left) * 4;
        for (int x = left; x < right; ++x, p += 4) std::memcpy(p, &v, 4);
    }
}

void ClearInvisibleWhite(TBitmap& bitmap) {
    TRowAccess rows;
    if (!Is32(bitmap) || !GetRowAccess(bitmap, rows)) return;
    for (int y = 0; y < bitmap.Height(); ++y) {
        uint8_t* p = rows.Row(y);
        for (int x = 0; x < bitmap.Width(); ++x, p += 4) {
            uint32_t v;
            std::memcpy(&v, p, 4);
            if (v == 0x00FFFFFFu) std::memset(p, 0, 4);
        }
    }
}

TColor BlendColorValues(TColor a, TColor b, uint8_t weight) {
    const uint32_t w = weight;
    TColor result = a & 0xFF000000u;
    for (int shift = 0; shift < 24; shift += 8) {
        const uint32_t ca = (a >> shift) & 0xFF, cb = (b >> shift) & 0xFF;
        result |= (((w * ca + (255 - w) * cb) >> 8) & 0xFF) << shift;
    }
    return result;
}

const BackgroundInfo NoBackground{nullptr, -99, -99, 0x00FF00FF, TRect{}, false};

void DescribeBitmapBackground(TBitmap* bitmap, int32_t x, int32_t y, BackgroundInfo& info) {
    info.Bitmap = bitmap;
    info.OffsetX = x;
    info.OffsetY = y;
    info.Color = 0xFF00FF;
    info.Rect = TRect{};
    info.HasBitmap = true;
}

// ---------------------------------------------------------------- compositing

namespace {

struct Tint {
    bool active = false;
    uint32_t r = 0, g = 0, b = 0;
};

inline uint8_t Step(uint32_t s, uint32_t d, uint32_t alpha) { return uint8_t((s * alpha + d * (256 - alpha)) >> 8); }

// Lays one source pixel with working alpha over a destination pixel.
inline void LayPixel(const uint8_t* s, uint8_t* d, uint32_t alpha, const Tint& tint) {
    if (tint.active) {
        const uint32_t gray = s[2] / 4 + s[1] / 2 + s[0] / 4;
        d[0] = Step((tint.b * gray) >> 8, d[0], alpha);
        d[1] = Step((tint.g * gray) >> 8, d[1], alpha);
        d[2] = Step((tint.r * gray) >> 8, d[2], alpha);
    } else {
        d[0] = Step(s[0], d[0], alpha);
        d[1] = Step(s[1], d[1], alpha);
        d[2] = Step(s[2], d[2], alpha);
    }
}

inline bool IsSkipped(const uint8_t* s) {
    uint32_t v;
    std::memcpy(&v, s, 4);
    return v == KeyPixel || s[3] <= 16;
}

}  // namespace

void ComposeBitmap32(const TRect& dstRect, const TRect& srcRect, TBitmap& dst, bool reflect, int blend, TColor tint,
                     bool copyBackground, const BackgroundInfo& info, const TBitmap& srcIn) {
    if (!Is32(dst)) return;
    TBitmap converted;
    const TBitmap* srcp = &srcIn;
    if (!Is32(srcIn)) {
        converted.Assign(srcIn);
        converted.SetPixelFormat(TPixelFormat::pf32bit);
        srcp = &converted;
    }
    const TBitmap& src = *srcp;
    if (src.Empty() || dst.Empty()) return;
    blend = std::clamp(blend, 0, 100);

    int64_t w = std::min(int64_t(dstRect.Right) - dstRect.Left, int64_t(srcRect.Right) - srcRect.Left);
    int64_t h = std::min(int64_t(dstRect.Bottom) - dstRect.Top, int64_t(srcRect.Bottom) - srcRect.Top);
    w = std::min<int64_t>({w, int64_t(dst.Width()) - dstRect.Left, int64_t(src.Width()) - srcRect.Left});
    h = std::min<int64_t>({h, int64_t(dst.Height()) - dstRect.Top, int64_t(src.Height()) - srcRect.Top});
    int64_t dl = dstRect.Left, sl = srcRect.Left, dt = dstRect.Top, st = srcRect.Top;
    if (const int64_t m = std::min(dl, sl); m < 0) {
        dl -= m;
        sl -= m;
        w += m;
    }
    if (const int64_t m = std::min(dt, st); m < 0) {
        dt -= m;
        st -= m;
        h += m;
    }
    if (w < 1 || h < 1) return;

    Tint t;
    if (tint != clNone) {
        const uint32_t r = tint & 0xFF, g = (tint >> 8) & 0xFF, b = (tint >> 16) & 0xFF;
        const uint32_t m = std::max({r, g, b});
        t = {true, r + 255 - m, g + 255 - m, b + 255 - m};
    }
    const uint32_t v = uint32_t(100 - blend);
    const bool keyed = info.HasBitmap;
    TBitmap* bg = (copyBackground && keyed && info.Bitmap && Is32(*info.Bitmap)) ? info.Bitmap : nullptr;

    for (int64_t y = 0; y < h; ++y) {
        const uint8_t* s = src.ScanLine(int(st + y)) + sl * 4;
        uint8_t* d = dst.ScanLine(int(dt + y)) + dl * 4;
        for (int64_t x = 0; x < w; ++x, s += 4, d += 4) {
            if (keyed && IsSkipped(s)) {
                if (bg) {
                    const int64_t bx = dl + x + info.OffsetX, by = dt + y + info.OffsetY;
                    if (bx >= 0 && by >= 0 && bx < bg->Width() && by < bg->Height())
                        std::memcpy(d, bg->ScanLine(int(by)) + bx * 4, 4);
                }
                continue;
            }
            const uint32_t a = s[3];
            const uint32_t alpha = blend ? v * a / 100 : a;
            LayPixel(s, d, alpha, t);
            if (!blend && !t.active) d[3] = std::max(d[3], s[3]);
        }
    }

    if (!reflect) return;
    const int64_t n = std::min<int64_t>(src.Height() / 2 - 1, int64_t(dst.Height()) - dstRect.Bottom - 1);
    uint32_t f = 255;
    const uint32_t fStep = 255 / uint32_t(src.Height());
    for (int64_t r = 1; r <= n; ++r) {
        const int64_t sy = int64_t(srcRect.Bottom) - r - 1;
        const int64_t dy = int64_t(dstRect.Bottom) + r;
        if (sy >= 0 && sy < src.Height() && dy >= 0 && dy < dst.Height()) {
            const uint8_t* s = src.ScanLine(int(sy)) + sl * 4;
            uint8_t* d = dst.ScanLine(int(dy)) + dl * 4;
            for (int64_t x = 0; x < w; ++x, s += 4, d += 4) {
                if (IsSkipped(s)) continue;
                const uint32_t a = s[3];
                uint32_t alpha = t.active ? uint32_t(a * (n - r) / n / 4) : uint32_t(((a * (n - r) / n) * f) >> 9);
                if (blend) alpha = v * alpha / 100;
                LayPixel(s, d, alpha, t);
                if (!blend && !t.active) d[3] = std::max<uint8_t>(d[3], uint8_t(alpha));
            }
        }
        f = f > fStep ? f - fStep : 0;
    }
}

// ---------------------------------------------------------------- template painting

namespace {

// Plain pixel copy of a w x h block, clipped to both bitmaps.
void CopyBlock(TBitmap& dst, int64_t dx, int64_t dy, const TBitmap& src, int64_t sx, int64_t sy, int64_t w, int64_t h) {
    if (w <= 0 || h <= 0) return;
    for (int64_t y = 0; y < h; ++y) {
        const int64_t ty = dy + y, fy = sy + y;
        if (ty < 0 || ty >= dst.Height() || fy < 0 || fy >= src.Height()) continue;
        for (int64_t x = 0; x < w; ++x) {
            const int64_t tx = dx + x, fx = sx + x;
            if (tx < 0 || tx >= dst.Width() || fx < 0 || fx >= src.Width()) continue;
            std::memcpy(dst.ScanLine(int(ty)) + tx * 4, src.ScanLine(int(fy)) + fx * 4, 4);
        }
    }
}

// Nearest-neighbour stretch of the source block onto the destination block.
void StretchBlock(TBitmap& dst, const TRect& d, const TBitmap& src, const TRect& s) {
    const int64_t dw = d.Width(), dh = d.Height(), sw = s.Width(), sh = s.Height();
    if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;
    for (int64_t y = 0; y < dh; ++y) {
        const int64_t ty = d.Top + y, fy = s.Top + y * sh / dh;
        if (ty < 0 || ty >= dst.Height() || fy < 0 || fy >= src.Height()) continue;
        for (int64_t x = 0; x < dw; ++x) {
            const int64_t tx = d.Left + x, fx = s.Left + x * sw / dw;
            if (tx < 0 || tx >= dst.Width() || fx < 0 || fx >= src.Width()) continue;
            std::memcpy(dst.ScanLine(int(ty)) + tx * 4, src.ScanLine(int(fy)) + fx * 4, 4);
        }
    }
}

// Fills d from s: one stretched piece, or tiles from the top-left with shortened last copies.
void FillBlock(TBitmap& dst, const TRect& d, const TBitmap& src, const TRect& s, bool stretch) {
    if (d.Width() <= 0 || d.Height() <= 0 || s.Width() <= 0 || s.Height() <= 0) return;
    if (stretch) {
        StretchBlock(dst, d, src, s);
        return;
    }
    for (int64_t y = d.Top; y < d.Bottom; y += s.Height())
        for (int64_t x = d.Left; x < d.Right; x += s.Width())
            CopyBlock(dst, x, y, src, s.Left, s.Top, std::min<int64_t>(s.Width(), d.Right - x),
                      std::min<int64_t>(s.Height(), d.Bottom - y));
}

}  // namespace

void PaintFromTemplate(TBitmap& dst, const TBitmap& templ, const TRect& rect, bool fillCentre, bool stretchCentre,
                       const TSideModes& modes, const TRect& bands, const TRect& margins, const TRect& src) {
    if (!Is32(dst) || !Is32(templ) || dst.Empty() || templ.Empty()) return;
    const TRect& m = margins;
    const int bl = std::min(m.Left, bands.Left), br = std::min(m.Right, bands.Right);
    const int bt = std::min(m.Top, bands.Top), bb = std::min(m.Bottom, bands.Bottom);

    // Corners: a full-width band block plus a narrower block down to the margin.
    CopyBlock(dst, rect.Left, rect.Top, templ, src.Left, src.Top, m.Left, bt);
    if (bt < m.Top) CopyBlock(dst, rect.Left, rect.Top + bt, templ, src.Left, src.Top + bt, bl, m.Top - bt);
    CopyBlock(dst, rect.Left, int64_t(rect.Bottom) - bb, templ, src.Left, int64_t(src.Bottom) - bb, m.Left, bb);
    if (bb < m.Bottom)
        CopyBlock(dst, rect.Left, int64_t(rect.Bottom) - m.Bottom, templ, src.Left, int64_t(src.Bottom) - m.Bottom, bl,
                  m.Bottom - bb);
    CopyBlock(dst, int64_t(rect.Right) - m.Right, rect.Top, templ, int64_t(src.Right) - m.Right, src.Top, m.Right, bt);
    if (bt < m.Top)
        CopyBlock(dst, int64_t(rect.Right) - br, int64_t(rect.Top) + bt, templ, int64_t(src.Right) - br,
                  int64_t(src.Top) + bt, br, m.Top - bt);
    CopyBlock(dst, int64_t(rect.Right) - m.Right, int64_t(rect.Bottom) - bb, templ, int64_t(src.Right) - m.Right,
              int64_t(src.Bottom) - bb, m.Right, bb);
    if (bb < m.Bottom)
        CopyBlock(dst, int64_t(rect.Right) - br, int64_t(rect.Bottom) - m.Bottom, templ, int64_t(src.Right) - br,
                  int64_t(src.Bottom) - m.Bottom, br, m.Bottom - bb);

    // Edges: the template's middle strips between the margins.
    const int sx0 = src.Left + m.Left, sx1 = src.Right - m.Right;
    const int sy0 = src.Top + m.Top, sy1 = src.Bottom - m.Bottom;
    const int dx0 = rect.Left + m.Left, dx1 = rect.Right - m.Right;
    const int dy0 = rect.Top + m.Top, dy1 = rect.Bottom - m.Bottom;
    if (sx1 > sx0) {
        FillBlock(dst, {dx0, rect.Top, dx1, rect.Top + bt}, templ, {sx0, src.Top, sx1, src.Top + bt},
                  modes.Top == pmStretch);
        FillBlock(dst, {dx0, rect.Bottom - bb, dx1, rect.Bottom}, templ, {sx0, src.Bottom - bb, sx1, src.Bottom},
                  modes.Bottom == pmStretch);
    }
    if (sy1 > sy0) {
        FillBlock(dst, {rect.Left, dy0, rect.Left + bl, dy1}, templ, {src.Left, sy0, src.Left + bl, sy1},
                  modes.Left == pmStretch);
        FillBlock(dst, {rect.Right - br, dy0, rect.Right, dy1}, templ, {src.Right - br, sy0, src.Right, sy1},
                  modes.Right == pmStretch);
    }
    if (fillCentre && sx1 > sx0 && sy1 > sy0)
        FillBlock(dst, {dx0, dy0, dx1, dy1}, templ, {sx0, sy0, sx1, sy1}, stretchCentre);
}

// ---------------------------------------------------------------- layered windows, timing

void MakeBlendFunction(TBlendFunction& blend, uint8_t constantAlpha) {
    blend.BlendOp = 0;
    blend.BlendFlags = 0;
    blend.SourceConstantAlpha = constantAlpha;
    blend.AlphaFormat = 1;
}

uint32_t GetTickCount() {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void WaitUntilTicks(uint32_t start, uint32_t ms) {
    const uint64_t target = uint64_t(start) + ms;
    if (target > 0xFFFFFFFFu) throw EIntOverflow(SIntOverflow);
    while (GetTickCount() < target) {
    }
}

}  // namespace graphics
