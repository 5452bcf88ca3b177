#pragma once
// Picture formats the program can load, by file extension. The newest
// registration of an extension wins; extensions compare without letter case.

#include <functional>
#include <string>
#include <vector>

#include "graphics/bitmap32.h"
#include "graphics/stream.h"

namespace vesperine {

// Decodes the picture at the stream's position into the bitmap.
using PictureLoader = std::function<void(graphics::TBitmap&, graphics::TStream&)>;

struct PictureFormat {
    std::string Extension;
    std::string Description;
    PictureLoader Loader;
    int Owner = 0;  // who registered it, for unregistering
};

void RegisterFileFormat(const std::string& extension, const std::string& description, PictureLoader loader, int owner);
// Removes every format registered by owner.
void UnregisterFileFormats(int owner);
// The newest format for the extension, or null.
const PictureFormat* FindFileFormat(const std::string& extension);
const std::vector<PictureFormat>& RegisteredFileFormats();

}  // namespace vesperine
