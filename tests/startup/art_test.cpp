#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "graphics/png_graphic.h"
#include "graphics/startup.h"
#include "resources/resources.h"

namespace {

uint32_t Be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

struct PngFacts {
    uint32_t width = 0, height = 0;
    int depth = 0, colourType = 0;
    std::vector<std::string> chunks;
};

PngFacts Inspect(resources::Bytes b) {
    PngFacts f;
    std::size_t pos = 8;
    while (pos + 12 <= b.size()) {
        const uint32_t len = Be32(b.data() + pos);
        const std::string type(reinterpret_cast<const char*>(b.data() + pos + 4), 4);
        if (type == "IHDR") {
            f.width = Be32(b.data() + pos + 8);
            f.height = Be32(b.data() + pos + 12);
            f.depth = b[pos + 16];
            f.colourType = b[pos + 17];
        }
        f.chunks.push_back(type);
        pos += 12 + std::size_t(len);
    }
    return f;
}

TEST(Art, EmbeddedImagesHaveTheirSizesFormatAndAncillaryChunks) {
    struct Case {
        const char* name;
        uint32_t w, h;
    };
    const std::vector<Case> cases = {
        {"SF", 48, 24},     {"SR", 48, 24},     {"SD", 48, 24},     {"SE", 48, 24},       {"SC", 48, 24},
        {"ACHINT", 27, 27}, {"acSHDA", 33, 33}, {"acSHDI", 33, 33}, {"MAINICON", 64, 64},
    };
    for (const Case& c : cases) {
        auto bytes = resources::FindResource(c.name);
        ASSERT_TRUE(bytes) << c.name;
        const PngFacts f = Inspect(*bytes);
        EXPECT_EQ(f.width, c.w) << c.name;
        EXPECT_EQ(f.height, c.h) << c.name;
        EXPECT_EQ(f.depth, 8) << c.name;
        EXPECT_EQ(f.colourType, 6) << c.name;
        ASSERT_FALSE(f.chunks.empty());
        EXPECT_EQ(f.chunks.front(), "IHDR");
        EXPECT_EQ(f.chunks.back(), "IEND");
        // The reader must pass over these on its way to the image data.
        const auto idat = std::find(f.chunks.begin(), f.chunks.end(), "IDAT");
        for (const char* extra : {"pHYs", "iCCP", "cHRM"})
            EXPECT_NE(std::find(f.chunks.begin(), idat, extra), idat) << c.name << " lacks " << extra;

        graphics::TBitmap bmp = vesperine::LoadPngResource(c.name);
        EXPECT_EQ(uint32_t(bmp.Width()), c.w) << c.name;
        EXPECT_EQ(bmp.PixelFormat(), graphics::TPixelFormat::pf32bit) << c.name;
    }
}

TEST(Art, GlyphFramesAreDistinctAndUseTransparency) {
    for (const char* name : {"SF", "SR", "SD", "SE", "SC"}) {
        graphics::TBitmap bmp = vesperine::LoadPngResource(name);
        int transparent = 0, opaque = 0, differ = 0;
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 24; ++x) {
                const uint32_t left = graphics::ReadPixel32(bmp, x, y);
                const uint32_t right = graphics::ReadPixel32(bmp, x + 24, y);
                transparent += (left >> 24) == 0;
                opaque += (left >> 24) == 255;
                differ += left != right;
            }
        EXPECT_GT(transparent, 24) << name;
        EXPECT_GT(opaque, 100) << name;
        EXPECT_GT(differ, 0) << name << ": the hot frame must look different";
    }
}

TEST(Art, CalendarGlyphHasABlueBandAndTheHotFrameAYellowPage) {
    graphics::TBitmap bmp = vesperine::LoadPngResource("SD");
    auto rgb = [&](int x, int y) { return graphics::ReadPixel32(bmp, x, y) & 0xFFFFFF; };
    const uint32_t band = rgb(12, 6);
    EXPECT_GT(band & 0xFF, (band >> 16) & 0xFF) << "blue over red in the band";
    const uint32_t page = rgb(24 + 4, 20);
    EXPECT_GT((page >> 16) & 0xFF, page & 0xFF) << "yellow: red over blue";
    const uint32_t normalPage = rgb(4, 20);
    EXPECT_GT(normalPage & 0xFF, 200u) << "white page in the normal frame";
}

TEST(Art, PipetteCursorCarriesItsHotSpot) {
    auto bytes = resources::FindResource("CRASPIPETTE");
    ASSERT_TRUE(bytes);
    const uint8_t* b = bytes->data();
    EXPECT_EQ(b[2] | b[3] << 8, 2) << "a cursor, not an icon";
    const int hx = b[10] | b[11] << 8, hy = b[12] | b[13] << 8;
    EXPECT_LT(hx, 32);
    EXPECT_LT(hy, 32);
    vesperine::ControlLibrary library{std::vector<std::string>{}};
    const auto& cursor = library.State().PipetteCursor;
    ASSERT_TRUE(cursor);
    EXPECT_EQ(cursor->Number, -50);
    EXPECT_EQ(cursor->HotSpotX, hx);
    EXPECT_EQ(cursor->Image.Width(), 32);
    // The hot spot sits on the drawn tip.
    EXPECT_GT(graphics::ReadPixel32(cursor->Image, hx, hy) >> 24, 0u);
}

}  // namespace
