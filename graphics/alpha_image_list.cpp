#include "graphics/alpha_image_list.h"

#include <algorithm>
#include <cmath>

#include "graphics/png_graphic.h"
#include "graphics/stream.h"

namespace vesperine {

using graphics::TBitmap;

// ------------------------------------------------------------------ items

TsImgListItem& TsImgListItem::operator=(const TsImgListItem& other) {
    if (this == &other) return *this;
    Text = other.Text;
    ImageName = other.ImageName;
    ImageFormat = other.ImageFormat;
    PixelFormat = other.PixelFormat;
    OrigWidth = other.OrigWidth;
    OrigHeight = other.OrigHeight;
    ImgData = other.ImgData;
    CacheBmp.reset();  // a copy starts without a cache
    return *this;
}

// ------------------------------------------------------------------ registry

namespace {

std::vector<TsAlphaImageList*>& Lists() {
    static std::vector<TsAlphaImageList*> lists;
    return lists;
}

}  // namespace

const std::vector<TsAlphaImageList*>& AlphaImageLists() { return Lists(); }

// ------------------------------------------------------------------ resampling

double MitchellNetravali(double x) {
    constexpr double B = 1.0 / 3.0;
    constexpr double C = 1.0 / 3.0;
    x = std::fabs(x);
    if (x < 1.0) return ((12 - 9 * B - 6 * C) * x * x * x + (-18 + 12 * B + 6 * C) * x * x + (6 - 2 * B)) / 6.0;
    if (x < 2.0)
        return ((-B - 6 * C) * x * x * x + (6 * B + 30 * C) * x * x + (-12 * B - 48 * C) * x + (8 * B + 24 * C)) / 6.0;
    return 0.0;
}

namespace {

struct Contribution {
    int index;
    int64_t weight;  // 16.16 fixed point
};

// Mirrors a position back into 0..n-1. Repeated because the filter support of a
// strong reduction can reach further than one image width beyond an edge.
int MirrorIndex(int j, int n) {
    while (j < 0 || j >= n) {
        if (j < 0) j = -j;
        else j = 2 * n - 1 - j;
    }
    return j;
}

std::vector<std::vector<Contribution>> Contributions(int n, int m) {
    const double s = m < n ? double(m) / n : 1.0;
    const double support = 2.0 / s;
    std::vector<std::vector<Contribution>> out(m);
    for (int i = 0; i < m; ++i) {
        const double c = double(i) * n / m;
        const int first = static_cast<int>(std::floor(c - support));
        const int last = static_cast<int>(std::ceil(c + support));
        for (int j = first; j <= last; ++j) {
            const int64_t w = std::llround(MitchellNetravali(std::fabs(c - j) * s) * s * 65536.0);
            if (w != 0) out[i].push_back({MirrorIndex(j, n), w});
        }
    }
    return out;
}

uint8_t Clamp(int64_t sum) {
    sum >>= 16;  // arithmetic: negative sums clamp to 0
    return static_cast<uint8_t>(std::clamp<int64_t>(sum, 0, 255));
}

}  // namespace

TBitmap ResampleMitchell(const TBitmap& source, int width, int height) {
    TBitmap src = source;
    if (src.PixelFormat() != graphics::TPixelFormat::pf32bit) src.SetPixelFormat(graphics::TPixelFormat::pf32bit);
    const int sw = src.Width(), sh = src.Height();
    if (sw < 2 || sh < 2 || width <= 0 || height <= 0) return src;

    // Across the width.
    TBitmap mid = graphics::NewBitmap32(width, sh);
    const auto cx = Contributions(sw, width);
    for (int y = 0; y < sh; ++y) {
        const uint8_t* in = src.ScanLine(y);
        uint8_t* out = mid.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            int64_t acc[4] = {0, 0, 0, 0};
            for (const Contribution& c : cx[x]) {
                const uint8_t* p = in + 4 * c.index;
                for (int k = 0; k < 4; ++k) acc[k] += c.weight * p[k];
            }
            for (int k = 0; k < 4; ++k) out[4 * x + k] = Clamp(acc[k]);
        }
    }

    // Then across the height.
    TBitmap dst = graphics::NewBitmap32(width, height);
    const auto cy = Contributions(sh, height);
    for (int y = 0; y < height; ++y) {
        uint8_t* out = dst.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            int64_t acc[4] = {0, 0, 0, 0};
            for (const Contribution& c : cy[y]) {
                const uint8_t* p = mid.ScanLine(c.index) + 4 * x;
                for (int k = 0; k < 4; ++k) acc[k] += c.weight * p[k];
            }
            for (int k = 0; k < 4; ++k) out[4 * x + k] = Clamp(acc[k]);
        }
    }
    return dst;
}

// ------------------------------------------------------------------ the list

TsAlphaImageList::TsAlphaImageList() {
    FLoaded = true;
    Lists().push_back(this);
}

TsAlphaImageList::~TsAlphaImageList() {
    auto& lists = Lists();
    lists.erase(std::remove(lists.begin(), lists.end(), this), lists.end());
}

const TBitmap* TsAlphaImageList::PlatformImage(int index) const {
    if (!platformCreated_ || index < 0 || index >= Count()) return nullptr;
    return &images_[index];
}

void TsAlphaImageList::SetPlatformSize(int width, int height) {
    // Like the system image list, a new image size empties the list.
    width_ = width;
    height_ = height;
    images_.clear();
}

void TsAlphaImageList::SetWidth(int value) {
    if (FLoaded) SavedWidth = value;  // no skin, so no scaling to apply
    SetPlatformSize(value, height_);
    if (FLoaded && static_cast<int>(FItems.size()) >= Count()) GenerateStdList();
}

void TsAlphaImageList::SetHeight(int value) {
    if (FLoaded) SavedHeight = value;
    SetPlatformSize(width_, value);
    if (static_cast<int>(FItems.size()) >= Count()) GenerateStdList();
}

TBitmap TsAlphaImageList::DecodeItem(TsImgListItem& item) const {
    TBitmap bmp;
    graphics::TBytesStream stream(item.ImgData.data(), item.ImgData.size());
    graphics::PngStreamToBitmap32(bmp, stream);
    return bmp;
}

void TsAlphaImageList::GenerateStdList() {
    if (width_ == 16 && height_ == 16 && SavedWidth == 0 && SavedHeight == 0) {
        SetPlatformSize(16, 16);
        platformCreated_ = true;
        SavedWidth = 16;
        SavedHeight = 16;
    }
    if (SavedHeight == 0) return;
    if (!platformCreated_) {
        SetPlatformSize(SavedWidth, SavedHeight);
        platformCreated_ = true;
    }

    AcChanging = true;
    images_.clear();
    try {
        for (TsImgListItem& item : FItems) {
            TBitmap image;
            if (item.ImageFormat == TsImageFormat::ifPNG) {
                image = DecodeItem(item);
                item.OrigWidth = image.Width();
                item.OrigHeight = image.Height();
            }
            // Icons and stored bitmaps are not used by this program: they get
            // an empty image so indices stay in step with the items.
            if (image.Width() != width_ || image.Height() != height_) {
                image = image.Empty() ? graphics::NewBitmap32(width_, height_)
                                      : ResampleMitchell(image, width_, height_);
            }
            images_.push_back(std::move(image));
        }
    } catch (...) {
        AcChanging = false;
        throw;
    }
    if (!FItems.empty()) StdListIsGenerated = true;
    if (!DoubleData) FItems.clear();
    AcChanging = false;
}

std::optional<TBitmap> TsAlphaImageList::CreateBitmap32(int index, int width, int height) {
    if (!platformCreated_ || index < 0 || index >= Count()) return std::nullopt;
    if (DoubleData && index < static_cast<int>(FItems.size()) && !FItems[index].ImgData.empty()) {
        TsImgListItem& item = FItems[index];
        if (FUseCache && item.CacheBmp) {
            if (item.CacheBmp->Width() == width && item.CacheBmp->Height() == height) {
                ++cacheHits_;
                return *item.CacheBmp;
            }
            item.CacheBmp.reset();
        }
        TBitmap result;
        switch (item.ImageFormat) {
        case TsImageFormat::ifPNG:
        case TsImageFormat::ifBMP32: {  // only PNG data are ever stored here
            TBitmap decoded = DecodeItem(item);
            result = (decoded.Width() == width && decoded.Height() == height)
                         ? std::move(decoded)
                         : ResampleMitchell(decoded, width, height);
            break;
        }
        case TsImageFormat::ifICO: result = images_[index]; break;
        }
        if (FUseCache) item.CacheBmp = std::make_unique<TBitmap>(result);
        return result;
    }
    return images_[index];
}

}  // namespace vesperine
