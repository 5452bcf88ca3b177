#pragma once
// An image list of 32-bit alpha images whose items keep their source data (PNG
// bytes), so any size can be made from the original instead of from a scaled
// copy. The "platform list" is a row of 32-bit bitmaps of the list's image size,
// filled from the items by GenerateStdList.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "graphics/bitmap32.h"

namespace vesperine {

using graphics::TBitmap;
using graphics::TColor;

enum class TsImageFormat { ifPNG, ifICO, ifBMP32 };

class TsAlphaImageList;

class TsImgListItem {
public:
    std::string Text;
    std::string ImageName;
    TsImageFormat ImageFormat = TsImageFormat::ifPNG;
    graphics::TPixelFormat PixelFormat = graphics::TPixelFormat::pf32bit;
    int OrigWidth = 0;
    int OrigHeight = 0;
    // Ready bitmap of the size last asked for; owned, dropped when copied.
    std::unique_ptr<TBitmap> CacheBmp;
    // Source file bytes (the PNG itself for ifPNG).
    std::vector<uint8_t> ImgData;

    TsImgListItem() = default;
    TsImgListItem(const TsImgListItem& other) { *this = other; }
    TsImgListItem& operator=(const TsImgListItem& other);
};

class TsAlphaImageList {
public:
    // Without an owner form the list counts as loaded at once.
    TsAlphaImageList();
    ~TsAlphaImageList();
    TsAlphaImageList(const TsAlphaImageList&) = delete;
    TsAlphaImageList& operator=(const TsAlphaImageList&) = delete;

    int Width() const { return width_; }
    int Height() const { return height_; }
    void SetWidth(int value);
    void SetHeight(int value);

    TColor BkColor() const { return FBkColor; }
    void SetBkColor(TColor value) { FBkColor = value; }
    bool UseCache() const { return FUseCache; }
    void SetUseCache(bool value) { FUseCache = value; }

    std::vector<TsImgListItem>& Items() { return FItems; }
    const std::vector<TsImgListItem>& Items() const { return FItems; }
    TsImgListItem& AddItem() { return FItems.emplace_back(); }

    // Number of images in the platform list.
    int Count() const { return static_cast<int>(images_.size()); }
    bool HasPlatformList() const { return platformCreated_; }
    // Image of the platform list (already at the list's size), or null.
    const TBitmap* PlatformImage(int index) const;

    // Fills the platform list from the items. Raises the PNG reader's errors.
    void GenerateStdList();
    // A new bitmap of the given size showing item `index`, or nothing when the
    // index is outside the platform list or there is no platform list.
    std::optional<TBitmap> CreateBitmap32(int index, int width, int height);

    // How often the last CreateBitmap32 calls were answered from the cache
    // (for diagnostics and tests of the cache).
    int CacheHits() const { return cacheHits_; }

    bool FLoaded = false;
    bool FUseCache = true;
    bool AcChanging = false;
    bool FAllowScale = true;
    bool StdListIsGenerated = false;
    TColor FBkColor = graphics::clNone;
    int FSavedScale = 0;
    int SavedHeight = 0;
    int SavedWidth = 0;
    bool DoubleData = true;
    bool IgnoreTransparency = false;

private:
    void SetPlatformSize(int width, int height);
    TBitmap DecodeItem(TsImgListItem& item) const;

    std::vector<TsImgListItem> FItems;
    int width_ = 16;
    int height_ = 16;
    bool platformCreated_ = false;
    std::vector<TBitmap> images_;
    int cacheHits_ = 0;
};

// Every alpha image list alive, in creation order.
const std::vector<TsAlphaImageList*>& AlphaImageLists();

// Two-pass Mitchell-Netravali (B = C = 1/3) resampling of all four channels,
// width first. Sources narrower or lower than 2 pixels come back unchanged.
TBitmap ResampleMitchell(const TBitmap& source, int width, int height);
// The filter itself, exposed for tests.
double MitchellNetravali(double x);

// The five button glyphs (0 "SF" ... 4 "SC") of the current control library
// (see startup.h); null without a started one.
TsAlphaImageList* StandardGlyphList();

}  // namespace vesperine
