#include "graphics/picture_registry.h"

#include <algorithm>

#include "graphics/png_graphic.h"

namespace vesperine {
namespace {

constexpr int kGraphicsLayer = 0;

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto up = [](char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; };
               return up(x) == up(y);
           });
}

std::vector<PictureFormat>& Formats() {
    // The graphics layer's own PNG class is always there, under "PNG".
    static std::vector<PictureFormat> formats{
        {"PNG", "Portable Network Graphics",
         [](graphics::TBitmap& b, graphics::TStream& s) { graphics::PngStreamToBitmap32(b, s); }, kGraphicsLayer}};
    return formats;
}

}  // namespace

void RegisterFileFormat(const std::string& extension, const std::string& description, PictureLoader loader, int owner) {
    Formats().push_back({extension, description, std::move(loader), owner});
}

void UnregisterFileFormats(int owner) {
    if (owner == kGraphicsLayer) return;
    auto& f = Formats();
    f.erase(std::remove_if(f.begin(), f.end(), [owner](const PictureFormat& p) { return p.Owner == owner; }), f.end());
}

const PictureFormat* FindFileFormat(const std::string& extension) {
    const auto& f = Formats();
    for (auto it = f.rbegin(); it != f.rend(); ++it)
        if (SameText(it->Extension, extension)) return &*it;
    return nullptr;
}

const std::vector<PictureFormat>& RegisteredFileFormats() { return Formats(); }

}  // namespace vesperine
