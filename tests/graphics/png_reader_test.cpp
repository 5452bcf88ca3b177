#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

#include "graphics/png_graphic.h"
#include "png_builder.h"

using namespace graphics;
using namespace pngtest;

namespace {

TBitmap Decode(const Bytes& file) {
    TBitmap b;
    PngStreamToBitmap32(b, file.data(), file.size());
    return b;
}

// Expects the decode to raise class E with exactly this message.
template <typename E>
void ExpectRefused(const Bytes& file, const std::string& message) {
    try {
        Decode(file);
        ADD_FAILURE() << "decoded without error, expected: " << message;
    } catch (const E& e) {
        EXPECT_EQ(std::string(e.what()), message);
    } catch (const std::exception& e) {
        ADD_FAILURE() << "wrong error: " << e.what();
    }
}

// Rows of 8-bit RGBA pixels with filter 0.
Bytes RgbaRows(const std::vector<std::vector<uint32_t>>& rows) {  // 0xRRGGBBAA
    Bytes out;
    for (const auto& row : rows) {
        out.push_back(0);
        for (uint32_t p : row) {
            out.push_back(uint8_t(p >> 24));
            out.push_back(uint8_t(p >> 16));
            out.push_back(uint8_t(p >> 8));
            out.push_back(uint8_t(p));
        }
    }
    return out;
}

const Bytes kRgbaRows = RgbaRows({{0xFF000080, 0x00FF00FF}, {0x0000FF00, 0x10203040}});

// The 2 x 2 RGBA image above as B, G, R, A pixels.
void ExpectRgbaImage(const TBitmap& b) {
    ASSERT_EQ(b.Width(), 2);
    ASSERT_EQ(b.Height(), 2);
    ASSERT_EQ(b.PixelFormat(), TPixelFormat::pf32bit);
    EXPECT_EQ(ReadPixel32(b, 0, 0), 0x80FF0000u);
    EXPECT_EQ(ReadPixel32(b, 1, 0), 0xFF00FF00u);
    EXPECT_EQ(ReadPixel32(b, 0, 1), 0x000000FFu);
    EXPECT_EQ(ReadPixel32(b, 1, 1), 0x40102030u);
}

Bytes Plte(std::initializer_list<uint32_t> colors) {  // 0xRRGGBB
    Bytes d;
    for (uint32_t c : colors) {
        d.push_back(uint8_t(c >> 16));
        d.push_back(uint8_t(c >> 8));
        d.push_back(uint8_t(c));
    }
    return Chunk("PLTE", d);
}

Bytes Gama(uint32_t value) {
    Bytes d;
    Put32(d, value);
    return Chunk("gAMA", d);
}

// Forward PNG filtering, written separately from the reader's unfiltering.
Bytes FilterRows(const Bytes& raw, std::size_t rowBytes, std::size_t bpp, const std::vector<uint8_t>& filters) {
    Bytes out;
    const std::size_t rows = raw.size() / rowBytes;
    for (std::size_t y = 0; y < rows; ++y) {
        const uint8_t f = filters[y % filters.size()];
        out.push_back(f);
        for (std::size_t i = 0; i < rowBytes; ++i) {
            const int x = raw[y * rowBytes + i];
            const int a = i >= bpp ? raw[y * rowBytes + i - bpp] : 0;
            const int b = y > 0 ? raw[(y - 1) * rowBytes + i] : 0;
            const int c = (y > 0 && i >= bpp) ? raw[(y - 1) * rowBytes + i - bpp] : 0;
            int pred = 0;
            switch (f) {
            case 1: pred = a; break;
            case 2: pred = b; break;
            case 3: pred = (a + b) / 2; break;
            case 4: {
                const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
                pred = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
                break;
            }
            default: break;
            }
            out.push_back(uint8_t(x - pred));
        }
    }
    return out;
}

}  // namespace

TEST(PngReader, RgbaImageWithAncillaryChunksSkippedUnchecked) {
    const Bytes file = Concat({Signature(), IHDR(2, 2, 8, 6), Chunk("pHYs", Bytes(9, 1), true),
                               Chunk("iCCP", Bytes(20, 7), true), Chunk("cHRM", Bytes(32, 0)),
                               Chunk("IDAT", Deflate(kRgbaRows)), Chunk("IEND", {})});
    ExpectRgbaImage(Decode(file));
}

struct ChunkCase {
    const char* name;
    std::function<Bytes()> file;
    const char* error;  // nullptr: decodes to the reference image
};

class ChunkRules : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(ChunkRules, Decode) {
    const ChunkCase& c = GetParam();
    if (c.error) ExpectRefused<EInvalidGraphic>(c.file(), c.error);
    else ExpectRgbaImage(Decode(c.file()));
}

static Bytes Head() { return Concat({Signature(), IHDR(2, 2, 8, 6)}); }
static Bytes Data() { return Chunk("IDAT", Deflate(kRgbaRows)); }

INSTANTIATE_TEST_SUITE_P(
    PngReader, ChunkRules,
    ::testing::Values(
        ChunkCase{"LowercaseTypesAreRecognised",
                  [] {
                      return Concat({Head(), Chunk("idat", Deflate(kRgbaRows)), Chunk("iend", {})});
                  },
                  nullptr},
        ChunkCase{"UnknownAncillaryBeforeDataIsSkipped",
                  [] {
                      return Concat({Head(), Chunk("zzZZ", Bytes(5, 3)), Data(), Chunk("IEND", {})});
                  },
                  nullptr},
        ChunkCase{"UnknownCriticalBeforeDataIsRefused",
                  [] {
                      return Concat({Head(), Chunk("ZZZZ", Bytes(5, 3)), Data(), Chunk("IEND", {})});
                  },
                  "Cannot load PNG image. Unexpected but critical chunk detected."},
        ChunkCase{"AncillaryAfterDataIsSkipped",
                  [] {
                      return Concat({Head(), Data(), Chunk("tEXt", Bytes(4, 65), true), Chunk("IEND", {})});
                  },
                  nullptr},
        ChunkCase{"CriticalAfterDataIsRefused",
                  [] {
                      return Concat({Head(), Data(), Chunk("PLTE", Bytes(3, 0)), Chunk("IEND", {})});
                  },
                  "Cannot load PNG image. Unexpected but critical chunk detected."},
        ChunkCase{"IendEndsTheLoadBeforeTrailingBytes",
                  [] {
                      return Concat({Head(), Data(), Chunk("IEND", {}), Bytes{1, 2, 3}});
                  },
                  nullptr},
        ChunkCase{"EmptyIdatBetweenDataIsPassedOver",
                  [] {
                      const Bytes z = Deflate(kRgbaRows);
                      const Bytes first(z.begin(), z.begin() + 5), second(z.begin() + 5, z.end());
                      return Concat({Head(), Chunk("IDAT", first), Chunk("IDAT", {}), Chunk("IDAT", second),
                                     Chunk("IEND", {})});
                  },
                  nullptr},
        ChunkCase{"CrcErrorInData",
                  [] {
                      return Concat({Head(), Chunk("IDAT", Deflate(kRgbaRows), true), Chunk("IEND", {})});
                  },
                  "Cannot load image. CRC error found in PNG file."},
        ChunkCase{"CompressionMethodNotZero",
                  [] {
                      return Concat({Signature(), IHDR(2, 2, 8, 6, 0, 1), Data(), Chunk("IEND", {})});
                  },
                  "Cannot load image. The compression scheme is not supported for PNG files."},
        ChunkCase{"PaletteLengthNotMultipleOfThree",
                  [] {
                      return Concat({Head(), Chunk("PLTE", Bytes(5, 0)), Data(), Chunk("IEND", {})});
                  },
                  "Cannot load image. Palette in PNG file is invalid."},
        ChunkCase{
            "BrokenDeflateData",
            [] {
                return Concat({Head(), Chunk("IDAT", Bytes{0x78, 0x9C, 0xFF, 0xFF, 0xFF, 0xFF}), Chunk("IEND", {})});
            },
            "Cannot load image. Compression error found in PNG file."},
        ChunkCase{"BytesAfterTheDeflateStream",
                  [] {
                      Bytes z = Deflate(kRgbaRows);
                      z.push_back(0);
                      return Concat({Head(), Chunk("IDAT", z), Chunk("IEND", {})});
                  },
                  "Cannot load image. Extra compressed data found in PNG file."},
        ChunkCase{"DeflateStreamShorterThanTheImage",
                  [] {
                      const Bytes rows(kRgbaRows.begin(), kRgbaRows.begin() + 5);  // ends inside row 0
                      return Concat({Head(), Chunk("IDAT", Deflate(rows)), Chunk("IEND", {})});
                  },
                  "Cannot load image. Extra compressed data found in PNG file."},
        ChunkCase{"DepthNotInTheLayoutTable",
                  [] {
                      return Concat({Signature(), IHDR(2, 2, 4, 2), Data(), Chunk("IEND", {})});
                  },
                  "Invalid color format in PNG file."},
        ChunkCase{"UnknownColorType",
                  [] {
                      return Concat({Signature(), IHDR(2, 2, 8, 5), Data(), Chunk("IEND", {})});
                  },
                  "Invalid color format in PNG file."},
        ChunkCase{"NoSignature",
                  [] {
                      return Concat({IHDR(2, 2, 8, 6), Data(), Chunk("IEND", {})});
                  },
                  "Cannot load image. Invalid or unexpected PNG image format."},
        ChunkCase{
            "HeaderNotFirst",
            [] {
                return Concat({Signature(), Chunk("tEXt", Bytes(3, 65)), IHDR(2, 2, 8, 6), Data(), Chunk("IEND", {})});
            },
            "Cannot load image. Invalid or unexpected PNG image format."},
        ChunkCase{"ZeroWidth",
                  [] {
                      return Concat({Signature(), IHDR(0, 2, 8, 6), Data(), Chunk("IEND", {})});
                  },
                  "Cannot load image. Invalid or unexpected PNG image format."},
        ChunkCase{"ShortHeader",
                  [] {
                      return Concat({Signature(), Chunk("IHDR", Bytes(8, 1)), Data(), Chunk("IEND", {})});
                  },
                  "Cannot load image. Invalid or unexpected PNG image format."},
        ChunkCase{"PixelsAbove256MiB",
                  [] {
                      return Concat({Signature(), IHDR(8193, 8192, 8, 6), Data(), Chunk("IEND", {})});
                  },
                  "Cannot load image. Invalid or unexpected PNG image format."},
        ChunkCase{"HugeOneBitImage",
                  [] {
                      return Concat({Signature(), IHDR(100000, 100000, 1, 0), Data(), Chunk("IEND", {})});
                  },
                  "Cannot load image. Invalid or unexpected PNG image format."},
        ChunkCase{"NoImageData",
                  [] {
                      return Concat({Head(), Chunk("IEND", {})});
                  },
                  "Cannot load image. Invalid or unexpected PNG image format."},
        ChunkCase{"IndexedWithoutPalette",
                  [] {
                      return Concat({Signature(), IHDR(2, 2, 8, 3), Data(), Chunk("IEND", {})});
                  },
                  "Cannot load image. Palette in PNG file is invalid."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PngReader, StreamEndsBeforeTheEndChunk) {
    const Bytes file = Concat({Head(), Data()});
    try {
        Decode(file);
        FAIL() << "no error";
    } catch (const EReadError& e) {
        EXPECT_STREQ(e.what(), "Stream read error");
    }
}

TEST(PngReader, ChunkLengthBeyondTheStreamIsNotAllocated) {
    Bytes file = Concat({Head(), Data(), Chunk("IEND", {})});
    const std::size_t idat = Head().size();
    file[idat] = 0x7F;  // IDAT length near 2 GiB
    EXPECT_THROW(Decode(file), EReadError);
}

TEST(PngReader, TruncatedDataEndingWithTheLastIdatIsNoError) {
    const Bytes rows = RgbaRows({{0x11223344, 0x55667788}, {0x99AABBCC, 0xDDEEFF00}, {1, 2}, {3, 4}});
    const Bytes z = Deflate(rows);
    const Bytes head(z.begin(), z.begin() + z.size() / 2);
    const TBitmap b = Decode(Concat({Signature(), IHDR(2, 4, 8, 6), Chunk("IDAT", head), Chunk("IEND", {})}));
    EXPECT_EQ(b.Width(), 2);
    EXPECT_EQ(b.Height(), 4);
    EXPECT_EQ(ReadPixel32(b, 0, 0), 0x44112233u);
    // Rows the data never reached keep the background fill (white, alpha 0).
    EXPECT_EQ(ReadPixel32(b, 0, 3), 0x00FFFFFFu);
    EXPECT_EQ(ReadPixel32(b, 1, 3), 0x00FFFFFFu);
}

TEST(PngReader, TallImageWithOneRowOfDataStopsWhereTheDataEnds) {
    // Found by fuzzing: 1 x 16777217 pixels, 1-bit indexed, data for one row. Decoding
    // went on through every missing row and ran into the time limit.
    const std::string path = std::string(REGRESS_DIR) + "/tall-1bit-truncated-data-timeout.png";
    TBitmap b;
    PngFileToBitmap32(b, path);
    ASSERT_EQ(b.Width(), 1);
    ASSERT_EQ(b.Height(), 0x01000001);
    EXPECT_EQ(ReadPixel32(b, 0, 0), 0xFF0000FFu);               // palette entry 0: blue
    EXPECT_EQ(ReadPixel32(b, 0, b.Height() - 1), 0xFF0000FFu);  // the background fill is palette entry 0 too
}

TEST(PngReader, EveryFilterAtEveryPixelDistance) {
    struct Layout {
        uint8_t depth, colorType;
        std::size_t bytesPerPixel;
    } layouts[] = {{8, 0, 1}, {16, 0, 2}, {8, 4, 2}, {8, 2, 3}, {8, 6, 4}, {16, 2, 6}, {16, 6, 8}};
    std::mt19937 rng(7);
    for (const Layout& l : layouts) {
        const uint32_t w = 7, h = 10;
        const std::size_t rowBytes = w * l.bytesPerPixel;
        Bytes raw(rowBytes * h);
        for (auto& v : raw) v = uint8_t(rng());
        const Bytes file = SimplePng(w, h, l.depth, l.colorType,
                                     FilterRows(raw, rowBytes, l.bytesPerPixel, {0, 1, 2, 3, 4}));
        const TBitmap b = Decode(file);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                const uint8_t* s = &raw[y * rowBytes + x * l.bytesPerPixel];
                const uint32_t p = ReadPixel32(b, int(x), int(y));
                const unsigned step = l.depth / 8;  // most significant byte of each sample
                uint32_t expected;
                if (l.colorType == 0 || l.colorType == 4) {
                    // 16-bit: floor(v * 255 / 65535)
                    const unsigned v = l.depth == 16 ? (unsigned(s[0]) << 8 | s[1]) * 255u / 65535u : s[0];
                    expected = 0xFF000000u | v * 0x010101u;
                } else {
                    auto ch = [&](int k) {
                        const uint8_t* q = s + k * step;
                        return l.depth == 16 ? (unsigned(q[0]) << 8 | q[1]) * 255u / 65535u : q[0];
                    };
                    const unsigned a = l.colorType == 6 ? ch(3) : 255;
                    expected = a << 24 | ch(0) << 16 | ch(1) << 8 | ch(2);
                }
                ASSERT_EQ(p, expected) << "depth " << int(l.depth) << " type " << int(l.colorType) << " at " << x << ","
                                       << y;
            }
    }
}

TEST(PngReader, UnknownFilterLeavesTheRowAsStored) {
    const Bytes rows = {7, 10, 20, 30, 40};
    const TBitmap b = Decode(SimplePng(1, 1, 8, 6, rows));
    EXPECT_EQ(ReadPixel32(b, 0, 0), 0x280A141Eu);
}

TEST(PngReader, TwoBitGrayBecomesFourBitOverAGrayPalette) {
    const Bytes rows = {0, 0b00011011};
    const Bytes file = SimplePng(4, 1, 2, 0, rows);
    TPNGGraphic png;
    TBytesStream s(file);
    png.LoadFromStream(s);
    ASSERT_EQ(png.PixelFormat(), TPixelFormat::pf4bit);
    ASSERT_EQ(png.Palette().size(), 16u);
    for (unsigned i = 0; i < 16; ++i) EXPECT_EQ(png.Palette()[i], i * 17 * 0x010101u);
    const unsigned values[] = {0, 5, 10, 15};
    for (int x = 0; x < 4; ++x) EXPECT_EQ(png.PixelIndex(x, 0), values[x]);
    const TBitmap b = Decode(file);
    const uint32_t grays[] = {0xFF000000, 0xFF555555, 0xFFAAAAAA, 0xFFFFFFFF};
    for (int x = 0; x < 4; ++x) EXPECT_EQ(ReadPixel32(b, x, 0), grays[x]);
}

TEST(PngReader, TwoBitIndexedSpreadsItsPalette) {
    const Bytes file = SimplePng(4, 1, 2, 3, {0, 0b00011011}, Plte({0xFF0000, 0x00FF00, 0x0000FF, 0x102030}));
    TPNGGraphic png;
    TBytesStream s(file);
    png.LoadFromStream(s);
    ASSERT_EQ(png.PixelFormat(), TPixelFormat::pf4bit);
    EXPECT_EQ(png.Palette()[0], 0x0000FFu);  // colour values: red in the low byte
    EXPECT_EQ(png.Palette()[5], 0x00FF00u);
    EXPECT_EQ(png.Palette()[10], 0xFF0000u);
    EXPECT_EQ(png.Palette()[15], 0x302010u);
    const TBitmap b = Decode(file);
    const uint32_t px[] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFF102030};
    for (int x = 0; x < 4; ++x) EXPECT_EQ(ReadPixel32(b, x, 0), px[x]);
}

TEST(PngReader, TransparencyTableLengths) {
    // 8-bit indexed, pixels 0..4; tRNS of 3 entries, then of 300.
    const Bytes rows = {0, 0, 1, 2, 3, 4};
    const Bytes plte = Plte({0x000000, 0x111111, 0x222222, 0x333333, 0x444444});
    TBitmap b = Decode(SimplePng(5, 1, 8, 3, rows, Concat({plte, Chunk("tRNS", {10, 20, 30})})));
    const uint32_t alpha3[] = {10, 20, 30, 255, 255};
    for (int x = 0; x < 5; ++x) EXPECT_EQ(ReadPixel32(b, x, 0) >> 24, alpha3[x]) << x;
    EXPECT_EQ(ReadPixel32(b, 1, 0) & 0xFFFFFF, 0x111111u);

    Bytes long300(300);
    for (int i = 0; i < 300; ++i) long300[i] = uint8_t(100 + i);
    TPNGGraphic png;
    const Bytes file = SimplePng(5, 1, 8, 3, rows, Concat({plte, Chunk("tRNS", long300)}));
    TBytesStream s(file);
    png.LoadFromStream(s);
    ASSERT_EQ(png.Transparency().size(), 256u);
    EXPECT_EQ(png.Transparency()[255], uint8_t(100 + 255));
    b = Decode(file);
    EXPECT_EQ(ReadPixel32(b, 4, 0) >> 24, 104u);

    // Without tRNS an indexed image is opaque.
    b = Decode(SimplePng(5, 1, 8, 3, rows, plte));
    for (int x = 0; x < 5; ++x) EXPECT_EQ(ReadPixel32(b, x, 0) >> 24, 255u);
}

TEST(PngReader, PackedIndexedTransparencyUsesTheFileIndex) {
    // 2-bit indexed: pixel values 0..3 widened to 0, 5, 10, 15 must still find tRNS entries 0..3.
    const Bytes file = SimplePng(4, 1, 2, 3, {0, 0b00011011},
                                 Concat({Plte({0xFF0000, 0x00FF00, 0x0000FF, 0x102030}), Chunk("tRNS", {0, 50, 100})}));
    const TBitmap b = Decode(file);
    const uint32_t px[] = {0x00FF0000, 0x3200FF00, 0x640000FF, 0xFF102030};
    for (int x = 0; x < 4; ++x) EXPECT_EQ(ReadPixel32(b, x, 0), px[x]) << x;
}

TEST(PngReader, SixteenBitSamplesAreTruncatedTo8Bits) {
    Bytes rows = {0};
    for (uint16_t v : {0xFFFF, 0x8000, 0x0101, 0x00FF, 0xFEFF, 0x0000}) {
        rows.push_back(uint8_t(v >> 8));
        rows.push_back(uint8_t(v));
    }
    const TBitmap b = Decode(SimplePng(2, 1, 16, 2, rows));
    EXPECT_EQ(ReadPixel32(b, 0, 0), 0xFFFF7F01u);  // R 255, G 127, B 1
    EXPECT_EQ(ReadPixel32(b, 1, 0), 0xFF00FE00u);  // 0x00FF -> 0, 0xFEFF -> 254
}

TEST(PngReader, GammaCorrectsColourNotAlpha) {
    const Bytes rows = RgbaRows({{0x80404080, 0xFFFF0010}});
    TBitmap b = Decode(SimplePng(2, 1, 8, 6, rows, Gama(45455)));  // exponent about 1
    EXPECT_EQ(ReadPixel32(b, 0, 0), 0x80804040u);
    b = Decode(SimplePng(2, 1, 8, 6, rows, Gama(100000)));  // exponent 1 / 2.2
    EXPECT_EQ(ReadPixel32(b, 0, 0), 0x80BA8888u);           // 128 -> 186, 64 -> 136
    EXPECT_EQ(ReadPixel32(b, 1, 0) >> 24, 0x10u);
}

TEST(PngReader, GrayWithGammaBecomesAnAlphaMask) {
    const Bytes rows = {0, 0, 128, 255};
    TBitmap b = Decode(SimplePng(3, 1, 8, 0, rows));
    EXPECT_EQ(ReadPixel32(b, 1, 0), 0xFF808080u);
    b = Decode(SimplePng(3, 1, 8, 0, rows, Gama(100000)));
    EXPECT_EQ(ReadPixel32(b, 0, 0), 0xFF000000u);  // 255 - gamma(0)
    EXPECT_EQ(ReadPixel32(b, 1, 0), 0x45000000u);  // 255 - 186
    EXPECT_EQ(ReadPixel32(b, 2, 0), 0x00000000u);
}

// A 16-bit RGB pixel with a background and a transparent colour.
Bytes KeyedRgb16Png() {
    const Bytes bkgd = Chunk("bKGD", {0x12, 0x34, 0x00, 0x56, 0xAB, 0xCD});
    const Bytes trns = Chunk("tRNS", {0x00, 0x10, 0x00, 0x20, 0x00, 0x30});
    return SimplePng(1, 1, 16, 2, {0, 0, 0, 0, 0, 0, 0}, Concat({bkgd, trns}));
}

TEST(PngReader, BackgroundAndTransparentColourAreKept) {
    TPNGGraphic png;
    const Bytes file = KeyedRgb16Png();
    TBytesStream s(file);
    png.LoadFromStream(s);
    EXPECT_EQ(png.BackgroundColor(), 0x12u | 0x00u << 8 | 0xABu << 16);  // 16-bit values scaled to 8 bits
    EXPECT_TRUE(png.Transparent());
    EXPECT_EQ(png.TransparentColor(), 0u);  // 0x0010 etc. scale to 0
}

TEST(PngDecoder, DecodesIntoAPlainBitmapAndStartsEachImageAfresh) {
    TPngDecoder decoder;
    const Bytes keyed = KeyedRgb16Png();
    TBytesStream first(keyed);
    TBitmap keyedImage;
    decoder.Decode(first, keyedImage);
    EXPECT_EQ(decoder.BackgroundColor(), 0x12u | 0x00u << 8 | 0xABu << 16);
    EXPECT_TRUE(keyedImage.Transparent());
    EXPECT_EQ(decoder.Header().BitDepth, 16);

    // The same decoder on a plain RGBA image: nothing of the first one remains.
    const Bytes plain = Concat({Head(), Data(), Chunk("IEND", {})});
    TBytesStream second(plain);
    TBitmap plainImage;
    decoder.Decode(second, plainImage);
    ExpectRgbaImage(plainImage);
    EXPECT_FALSE(plainImage.Transparent());
    EXPECT_EQ(decoder.BackgroundColor(), clWhite);
    EXPECT_EQ(decoder.Header().BitDepth, 8);
    EXPECT_EQ(decoder.ImageProperties().ColorScheme, TColorScheme::csRGBA);
}

TEST(PngReader, CanLoadRestoresThePosition) {
    const Bytes sig = Signature();
    TBytesStream exact(sig);
    EXPECT_FALSE(TPNGGraphic::CanLoad(exact));
    EXPECT_EQ(exact.Position(), 0);
    Bytes nine = sig;
    nine.push_back(0);
    TBytesStream more(nine);
    EXPECT_TRUE(TPNGGraphic::CanLoad(more));
    EXPECT_EQ(more.Position(), 0);
    Bytes other = nine;
    other[1] = 'X';
    TBytesStream wrong(other);
    EXPECT_FALSE(TPNGGraphic::CanLoad(wrong));
    EXPECT_EQ(wrong.Position(), 0);
}

TEST(PngReader, DecodesFromTheMiddleOfAStream) {
    const Bytes file = Concat({Bytes{1, 2, 3}, Head(), Data(), Chunk("IEND", {})});
    TBytesStream s(file);
    s.SetPosition(3);
    TBitmap b;
    PngStreamToBitmap32(b, s);
    ExpectRgbaImage(b);
}

TEST(PngReader, DrawBlendsOntoTheCanvas) {
    const Bytes file = SimplePng(1, 1, 8, 6, RgbaRows({{0xFFFFFF80}}));
    TPNGGraphic png;
    TBytesStream s(file);
    png.LoadFromStream(s);
    TBitmap canvas = NewBitmap32(3, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) WritePixel32(canvas, x, y, 0xFF000000);
    png.Draw(canvas, Rect(1, 1, 2, 2));
    EXPECT_EQ(ReadPixel32(canvas, 1, 1), 0xFF7F7F7Fu);  // 255 * 128 >> 8
    EXPECT_EQ(ReadPixel32(canvas, 0, 0), 0xFF000000u);
    png.Draw(canvas, Rect(0, 0, 3, 3));  // stretched over the whole canvas
    EXPECT_EQ(ReadPixel32(canvas, 2, 2), 0xFF7F7F7Fu);
    EXPECT_EQ(ReadPixel32(canvas, 1, 1), 0xFFBFBFBFu);  // (255 * 128 + 127 * 128) >> 8
}

TEST(PngReader, FilesThatCannotBeOpenedRaiseTheOpenError) {
    TBitmap b;
    EXPECT_THROW(PngFileToBitmap32(b, "/nonexistent/none.png"), EFOpenError);
    EXPECT_THROW(TPNGGraphic::CanLoad(std::string("/nonexistent/none.png")), EFOpenError);
}

TEST(LZ77Decoder, StreamEndIsStickyUntilReset) {
    const Bytes plain = {1, 2, 3, 4, 5, 6, 7, 8};
    const Bytes packed = Deflate(plain);
    TLZ77Decoder decoder(Z_PARTIAL_FLUSH, false);
    decoder.DecodeInit();
    Bytes out(16, 0);
    const uint8_t* src = packed.data();
    uint8_t* dst = out.data();
    decoder.Decode(src, dst, uint32_t(packed.size()), uint32_t(out.size()));
    EXPECT_EQ(decoder.ZLibResult(), Z_STREAM_END);
    EXPECT_EQ(dst - out.data(), 8);
    EXPECT_EQ(src, packed.data() + packed.size());
    // A later call neither decodes nor moves the pointers; the unread input stays visible.
    const uint8_t* again = packed.data();
    uint8_t* dst2 = out.data();
    decoder.Decode(again, dst2, 4, 16);
    EXPECT_EQ(again, packed.data());
    EXPECT_EQ(dst2, out.data());
    EXPECT_EQ(decoder.AvailableInput(), 4u);
    EXPECT_EQ(decoder.ZLibResult(), Z_STREAM_END);
    decoder.DecodeEnd();

    TLZ77Decoder resetting(Z_PARTIAL_FLUSH, true);  // resets before every call
    resetting.DecodeInit();
    for (int round = 0; round < 2; ++round) {
        src = packed.data();
        dst = out.data();
        resetting.Decode(src, dst, uint32_t(packed.size()), uint32_t(out.size()));
        EXPECT_EQ(resetting.ZLibResult(), Z_STREAM_END) << round;
        EXPECT_EQ(dst - out.data(), 8) << round;
    }
    resetting.DecodeEnd();
}
