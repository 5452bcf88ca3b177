// Conformance over the PngSuite images. Expected pixels come from a separate,
// deliberately plain decoder below (whole-stream inflate, naive unfiltering and
// de-interlacing to raw samples) followed by the library's mapping rules for
// each colour type; the reader under test shares none of that code.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include <zlib.h>

#include "graphics/png_graphic.h"

using namespace graphics;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> ReadFile(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

uint32_t Be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

struct Reference {
    uint32_t w = 0, h = 0;
    int depth = 0, colorType = 0, interlace = 0, channels = 0;
    std::vector<std::array<uint8_t, 3>> palette;
    std::vector<uint8_t> trns;
    bool hasGamma = false;
    uint32_t gamma = 0;
    std::vector<uint16_t> samples;     // w * h * channels raw sample values
    std::array<uint8_t, 256> table{};  // gamma table the rules give (identity without gAMA)
};

Reference PlainDecode(const std::vector<uint8_t>& file) {
    Reference r;
    std::vector<uint8_t> z;
    std::size_t pos = 8;
    bool seenData = false;
    while (pos + 12 <= file.size()) {
        const uint32_t len = Be32(&file[pos]);
        const std::string type(file.begin() + pos + 4, file.begin() + pos + 8);
        const uint8_t* d = &file[pos + 8];
        if (type == "IHDR") {
            r.w = Be32(d);
            r.h = Be32(d + 4);
            r.depth = d[8];
            r.colorType = d[9];
            r.interlace = d[12];
        } else if (type == "PLTE") {
            for (uint32_t i = 0; i + 2 < len; i += 3) r.palette.push_back({d[i], d[i + 1], d[i + 2]});
        } else if (type == "tRNS") {
            r.trns.assign(d, d + len);
        } else if (type == "gAMA" && !seenData) {
            r.hasGamma = true;
            r.gamma = Be32(d);
        } else if (type == "IDAT") {
            seenData = true;
            z.insert(z.end(), d, d + len);
        } else if (type == "IEND") {
            break;
        }
        pos += 12 + len;
    }
    r.channels = r.colorType == 2 ? 3 : r.colorType == 4 ? 2 : r.colorType == 6 ? 4 : 1;
    const int bitsPerPixel = r.channels * r.depth;
    const int bpp = std::max(1, bitsPerPixel / 8);

    r.samples.assign(std::size_t(r.w) * r.h * r.channels, 0);
    struct Pass {
        int x0, y0, dx, dy;
    };
    const std::vector<Pass> passes = r.interlace == 1
                                         ? std::vector<Pass>{{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                                             {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}}
                                         : std::vector<Pass>{{0, 0, 1, 1}};
    std::size_t expectedSize = 0;
    for (const Pass& p : passes) {
        if (uint32_t(p.x0) >= r.w || uint32_t(p.y0) >= r.h) continue;
        const std::size_t pw = (r.w - p.x0 + p.dx - 1) / p.dx, ph = (r.h - p.y0 + p.dy - 1) / p.dy;
        expectedSize += ph * ((pw * bitsPerPixel + 7) / 8 + 1);
    }
    std::vector<uint8_t> raw(expectedSize);
    uLongf rawSize = uLongf(raw.size());
    EXPECT_EQ(uncompress(raw.data(), &rawSize, z.data(), uLong(z.size())), Z_OK);
    EXPECT_EQ(rawSize, expectedSize);
    std::size_t at = 0;
    for (const Pass& p : passes) {
        if (uint32_t(p.x0) >= r.w || uint32_t(p.y0) >= r.h) continue;
        const uint32_t pw = (r.w - p.x0 + p.dx - 1) / p.dx, ph = (r.h - p.y0 + p.dy - 1) / p.dy;
        const std::size_t stride = (std::size_t(pw) * bitsPerPixel + 7) / 8;
        std::vector<uint8_t> prev(stride, 0), cur(stride);
        for (uint32_t y = 0; y < ph; ++y) {
            const uint8_t f = raw[at++];
            for (std::size_t i = 0; i < stride; ++i) {
                const int a = i >= std::size_t(bpp) ? cur[i - bpp] : 0, b = prev[i];
                const int c = i >= std::size_t(bpp) ? prev[i - bpp] : 0;
                int pred = 0;
                if (f == 1) pred = a;
                else if (f == 2) pred = b;
                else if (f == 3) pred = (a + b) / 2;
                else if (f == 4) {
                    const int pp = a + b - c, pa = std::abs(pp - a), pb = std::abs(pp - b), pc = std::abs(pp - c);
                    pred = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
                }
                cur[i] = uint8_t(raw[at + i] + pred);
            }
            at += stride;
            for (uint32_t x = 0; x < pw; ++x)
                for (int ch = 0; ch < r.channels; ++ch) {
                    const std::size_t bit = (std::size_t(x) * r.channels + ch) * r.depth;
                    uint16_t v;
                    if (r.depth == 16) v = uint16_t(cur[bit / 8] << 8 | cur[bit / 8 + 1]);
                    else if (r.depth == 8) v = cur[bit / 8];
                    else v = uint16_t((cur[bit / 8] >> (8 - r.depth - bit % 8)) & ((1 << r.depth) - 1));
                    const std::size_t X = p.x0 + std::size_t(x) * p.dx, Y = p.y0 + std::size_t(y) * p.dy;
                    r.samples[(Y * r.w + X) * r.channels + ch] = v;
                }
            prev = cur;
        }
    }
    for (int i = 0; i < 256; ++i) r.table[i] = uint8_t(i);
    if (r.hasGamma) {
        const float fileGamma = float(r.gamma / 100000.0);
        const double g = 1.0 / (double(fileGamma) * double(2.2f));
        for (int i = 0; i < 256; ++i) r.table[i] = uint8_t(std::nearbyint(std::pow(i / 255.0, g) * 255.0));
    }
    return r;
}

// The 32-bit pixel the library's rules give for pixel (x, y).
uint32_t ExpectedPixel(const Reference& r, std::size_t x, std::size_t y) {
    const auto& table = r.table;
    const uint16_t* s = &r.samples[(y * r.w + x) * r.channels];
    auto to8 = [&](uint16_t v) { return r.depth == 16 ? uint32_t(v) * 255 / 65535 : uint32_t(v); };
    auto pixel = [](uint32_t a, uint32_t red, uint32_t green, uint32_t blue) {
        return a << 24 | red << 16 | green << 8 | blue;
    };
    switch (r.colorType) {
    case 6: return pixel(to8(s[3]), table[to8(s[0])], table[to8(s[1])], table[to8(s[2])]);
    case 2: return pixel(255, table[to8(s[0])], table[to8(s[1])], table[to8(s[2])]);
    case 3: {
        const unsigned i = s[0];
        const auto c = i < r.palette.size() ? r.palette[i] : std::array<uint8_t, 3>{0, 0, 0};
        if (!r.trns.empty()) return pixel(i < r.trns.size() ? r.trns[i] : 255, table[c[0]], table[c[1]], table[c[2]]);
        if (r.hasGamma && r.depth == 8) return pixel(255 - table[i], 0, 0, 0);
        return pixel(255, table[c[0]], table[c[1]], table[c[2]]);
    }
    default: {  // gray, gray + alpha (alpha dropped)
        if (r.depth >= 8) {
            const uint32_t v = to8(s[0]);
            if (r.hasGamma) return pixel(255 - table[v], 0, 0, 0);
            return pixel(255, v, v, v);
        }
        const uint32_t level = table[s[0] * 255u / ((1u << r.depth) - 1)];
        return pixel(255, level, level, level);
    }
    }
}

std::vector<fs::path> SuiteFiles(bool corrupt) {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(PNGSUITE_DIR)) {
        const std::string name = e.path().filename().string();
        if (e.path().extension() == ".png" && (name[0] == 'x') == corrupt) out.push_back(e.path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

TEST(PngSuite, EveryValidImageDecodesToTheExpectedPixels) {
    const auto files = SuiteFiles(false);
    ASSERT_GT(files.size(), 100u) << "PngSuite not found at " << PNGSUITE_DIR;
    for (const fs::path& p : files) {
        SCOPED_TRACE(p.filename().string());
        const Reference ref = PlainDecode(ReadFile(p));
        TBitmap b;
        ASSERT_NO_THROW(PngFileToBitmap32(b, p.string()));
        ASSERT_EQ(b.PixelFormat(), TPixelFormat::pf32bit);
        ASSERT_EQ(uint32_t(b.Width()), ref.w);
        ASSERT_EQ(uint32_t(b.Height()), ref.h);
        int mismatches = 0;
        for (uint32_t y = 0; y < ref.h && mismatches < 3; ++y)
            for (uint32_t x = 0; x < ref.w && mismatches < 3; ++x) {
                const uint32_t got = ReadPixel32(b, int(x), int(y)), want = ExpectedPixel(ref, x, y);
                if (got != want) {
                    ++mismatches;
                    ADD_FAILURE() << "pixel " << x << "," << y << std::hex << " got " << got << " want " << want;
                }
            }
    }
}

TEST(PngSuite, InterlacedImagesMatchTheirTwins) {
    for (const fs::path& p : SuiteFiles(false)) {
        const std::string name = p.filename().string();
        if (name.size() < 4 || name[3] != 'i' || name[0] == 'x') continue;
        std::string twin = name;
        twin[3] = 'n';
        const fs::path other = p.parent_path() / twin;
        if (!fs::exists(other)) continue;
        SCOPED_TRACE(name);
        TBitmap a, b;
        PngFileToBitmap32(a, p.string());
        PngFileToBitmap32(b, other.string());
        ASSERT_EQ(a.Width(), b.Width());
        ASSERT_EQ(a.Height(), b.Height());
        for (int y = 0; y < a.Height(); ++y)
            ASSERT_EQ(0, std::memcmp(a.ScanLine(y), b.ScanLine(y), std::size_t(a.Width()) * 4)) << "row " << y;
    }
}

TEST(PngSuite, CorruptImagesAreRefusedWithTheirError) {
    const std::string format = "Cannot load image. Invalid or unexpected PNG image format.";
    const std::string crc = "Cannot load image. CRC error found in PNG file.";
    const std::string color = "Invalid color format in PNG file.";
    const std::map<std::string, std::string> expected = {
        {"xc1n0g08.png", color},  {"xc9n2c08.png", color},  {"xcrn0g04.png", format}, {"xcsn0g01.png", crc},
        {"xd0n2c08.png", color},  {"xd3n2c08.png", color},  {"xd9n2c08.png", color},  {"xdtn0g01.png", format},
        {"xhdn0g08.png", crc},    {"xlfn0g04.png", format}, {"xs1n0g01.png", format}, {"xs2n0g01.png", format},
        {"xs4n0g01.png", format}, {"xs7n0g01.png", format}};
    const auto files = SuiteFiles(true);
    ASSERT_EQ(files.size(), expected.size());
    for (const fs::path& p : files) {
        const std::string name = p.filename().string();
        SCOPED_TRACE(name);
        ASSERT_TRUE(expected.count(name));
        TBitmap b;
        try {
            PngFileToBitmap32(b, p.string());
            ADD_FAILURE() << "decoded";
        } catch (const EInvalidGraphic& e) {
            EXPECT_EQ(e.what(), expected.at(name));
        }
    }
}

TEST(PngSuite, SameImageInOtherEncodingsDecodesAlike) {
    // Compression levels 0 to 9, and the image data split over 1, 2, 4 or 9 IDAT chunks.
    const std::vector<std::vector<std::string>> groups = {{"z00n2c08", "z03n2c08", "z06n2c08", "z09n2c08"},
                                                          {"basn2c16", "oi1n2c16", "oi2n2c16", "oi4n2c16", "oi9n2c16"},
                                                          {"basn0g16", "oi1n0g16", "oi2n0g16", "oi4n0g16", "oi9n0g16"}};
    for (const auto& group : groups) {
        TBitmap first;
        PngFileToBitmap32(first, std::string(PNGSUITE_DIR) + "/" + group[0] + ".png");
        for (std::size_t i = 1; i < group.size(); ++i) {
            SCOPED_TRACE(group[i]);
            TBitmap other;
            PngFileToBitmap32(other, std::string(PNGSUITE_DIR) + "/" + group[i] + ".png");
            ASSERT_EQ(other.Width(), first.Width());
            ASSERT_EQ(other.Height(), first.Height());
            for (int y = 0; y < first.Height(); ++y)
                ASSERT_EQ(0, std::memcmp(first.ScanLine(y), other.ScanLine(y), std::size_t(first.Width()) * 4));
        }
    }
}

// Every file that once broke the reader (found by fuzzing) must be refused or decoded, nothing else.
TEST(PngRegressions, StoredCrashCasesStaySafe) {
    ASSERT_TRUE(fs::is_directory(REGRESS_DIR)) << REGRESS_DIR;
    for (const auto& e : fs::directory_iterator(REGRESS_DIR)) {
        if (!e.is_regular_file() || e.path().filename().string()[0] == '.') continue;
        SCOPED_TRACE(e.path().filename().string());
        const std::vector<uint8_t> data = ReadFile(e.path());
        TBitmap b;
        try {
            PngStreamToBitmap32(b, data.data(), data.size());
        } catch (const graphics::Exception&) {
        }
    }
}
