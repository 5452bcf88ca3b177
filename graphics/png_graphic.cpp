#include "graphics/png_graphic.h"

#include <algorithm>
#include <cstring>

namespace graphics {

bool PngLoadingEnabled = true;

namespace {
constexpr uint8_t kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
}  // namespace

// ---------------------------------------------------------------- TPNGGraphic

TPNGGraphic::TPNGGraphic() : FColorManager(std::make_unique<TColorManager>()) { Reflected = 0; }

TPNGGraphic::~TPNGGraphic() = default;

bool TPNGGraphic::CanLoad(const std::string& fileName) {
    if (!PngLoadingEnabled) return false;
    TFileStream stream(fileName);
    return CanLoad(stream);
}

bool TPNGGraphic::CanLoad(TStream& stream) {
    if (!PngLoadingEnabled) return false;
    const int64_t position = stream.Position();
    bool result = false;
    if (stream.Size() - position > 8) {
        uint8_t head[8];
        result = stream.Read(head, 8) == 8 && std::memcmp(head, kSignature, 8) == 0;
    }
    stream.SetPosition(position);
    return result;
}

bool TPNGGraphic::ReadImageProperties(TStream& stream, uint32_t /*imageIndex*/) {
    TPngDecoder decoder(*FColorManager);
    const bool found = decoder.ReadImageProperties(stream);
    FImageProperties = decoder.ImageProperties();
    return found;
}

void TPNGGraphic::LoadFromStream(TStream& stream) {
    TPngDecoder decoder(*FColorManager);
    decoder.OnProgress = OnProgress;
    // What the decoder found stays readable, also after a failed load.
    auto keepFindings = [&] {
        FImageProperties = decoder.ImageProperties();
        FIHDR = decoder.Header();
        FBackgroundColor = decoder.BackgroundColor();
        FTransparency = decoder.Transparency();
        FProgressRect = decoder.ProgressRect();
    };
    try {
        decoder.Decode(stream, *this);
    } catch (...) {
        keepFindings();
        throw;
    }
    keepFindings();
}

void TPNGGraphic::LoadFromFile(const std::string& fileName) {
    TFileStream stream(fileName);
    LoadFromStream(stream);
}

void TPNGGraphic::Assign(const TBitmap& source) {
    if (const auto* png = dynamic_cast<const TPNGGraphic*>(&source)) FImageProperties = png->FImageProperties;
    TBitmap::Assign(source);
}

void TPNGGraphic::Draw(TBitmap& canvas, const TRect& rect) {
    const int w = rect.Width(), h = rect.Height();
    if (w <= 0 || h <= 0 || Empty() || canvas.BitsPerPixel() != 32) return;
    if (BitsPerPixel() != 32) {
        // Plain bitmap drawing, stretched to the rectangle.
        for (int y = 0; y < h; ++y) {
            const int64_t cy = int64_t(rect.Top) + y;
            if (cy < 0 || cy >= canvas.Height()) continue;
            const int sy = int(int64_t(y) * Height() / h);
            for (int x = 0; x < w; ++x) {
                const int64_t cx = int64_t(rect.Left) + x;
                if (cx < 0 || cx >= canvas.Width()) continue;
                const TColor c = PixelColor(int(int64_t(x) * Width() / w), sy);
                WritePixel32(canvas, int(cx), int(cy), ExchangeRedBlue(c) | 0xFF000000u);
            }
        }
        return;
    }
    const int bufferHeight = Reflected ? h + h / 2 : h;
    TBitmap buffer = NewBitmap32(w, bufferHeight);
    if (buffer.Empty()) return;
    for (int y = 0; y < bufferHeight; ++y)
        for (int x = 0; x < w; ++x)
            WritePixel32(buffer, x, y, ReadPixel32(canvas, int(int64_t(rect.Left) + x), int(int64_t(rect.Top) + y)));
    const TBitmap* image = this;
    TBitmap stretched;
    if (w != Width() || h != Height()) {
        stretched = NewBitmap32(w, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                WritePixel32(stretched, x, y,
                             ReadPixel32(*this, int(int64_t(x) * Width() / w), int(int64_t(y) * Height() / h)));
        image = &stretched;
    }
    ComposeBitmap32({0, 0, w, h}, {0, 0, w, h}, buffer, Reflected != 0, 0, clNone, false, NoBackground, *image);
    for (int y = 0; y < bufferHeight; ++y)
        for (int x = 0; x < w; ++x)
            WritePixel32(canvas, int(int64_t(rect.Left) + x), int(int64_t(rect.Top) + y), ReadPixel32(buffer, x, y));
}

// ---------------------------------------------------------------- library functions

void TransferPngAlpha(TBitmap& bitmap, TPNGGraphic& png) {
    if (png.BitsPerPixel() == 32 &&
        !(png.ImageProperties().ColorScheme == TColorScheme::csIndexed && !png.Transparency().empty())) {
        bitmap.Assign(png);  // colour type 6: straight colour, alpha as stored
        return;
    }
    TBitmap out;
    out.SetPixelFormat(TPixelFormat::pf32bit);
    out.SetSize(png.Width(), png.Height());
    out.SetTransparent(png.Transparent());
    out.SetTransparentColor(png.TransparentColor());
    const TImageProperties& props = png.ImageProperties();
    const bool gamma = (props.Options & ioUseGamma) != 0;

    if (png.PixelFormat() == TPixelFormat::pf24bit) {
        // Colour is already gamma-corrected by the row conversion; the pixels stay opaque.
        for (int y = 0; y < png.Height(); ++y) {
            const uint8_t* s = png.ScanLine(y);
            uint8_t* d = out.ScanLine(y);
            for (int x = 0; x < png.Width(); ++x, s += 3, d += 4) {
                d[0] = s[0];
                d[1] = s[1];
                d[2] = s[2];
                d[3] = 255;
            }
        }
        bitmap = std::move(out);
        return;
    }

    // Indexed and gray bitmaps: one 32-bit value per stored pixel value.
    uint32_t lut[256];
    const auto& palette = png.Palette();
    const unsigned bits = unsigned(std::min(png.BitsPerPixel(), 8));
    const unsigned targetMax = (1u << bits) - 1;
    const unsigned sourceMax = (1u << std::min<unsigned>(png.SourceBitDepth(), 8)) - 1;
    const auto& alpha = png.Transparency();
    const auto& table = png.ColorManager().GammaTable();
    for (unsigned v = 0; v < 256; ++v) {
        const uint32_t colour = v < palette.size() ? ExchangeRedBlue(palette[v] & 0xFFFFFFu) : 0;
        if (props.ColorScheme == TColorScheme::csIndexed && !alpha.empty()) {
            // A widened sample (2-bit data in a 4-bit bitmap) maps back to its file index.
            const unsigned index = (sourceMax != targetMax && v <= targetMax)
                                       ? ScaleSample(uint16_t(v), uint16_t(sourceMax), uint16_t(targetMax))
                                       : v;
            lut[v] = colour | uint32_t(alpha[index & 0xFF]) << 24;
        } else if (gamma && bits == 8) {
            lut[v] = uint32_t(255 - table[v]) << 24;  // black, alpha from the gamma table
        } else {
            lut[v] = colour | 0xFF000000u;
        }
    }
    for (int y = 0; y < png.Height(); ++y) {
        uint8_t* d = out.ScanLine(y);
        if (bits == 8) {
            const uint8_t* s = png.ScanLine(y);
            for (int x = 0; x < png.Width(); ++x) std::memcpy(d + 4 * std::size_t(x), &lut[s[x]], 4);
        } else {
            for (int x = 0; x < png.Width(); ++x) std::memcpy(d + 4 * std::size_t(x), &lut[png.PixelIndex(x, y)], 4);
        }
    }
    bitmap = std::move(out);
}

// Hands the decoded image over; a 32-bit image is moved, not copied.
static void TakeResult(TBitmap& bitmap, TPNGGraphic& png) {
    if (png.BitsPerPixel() == 32 &&
        !(png.ImageProperties().ColorScheme == TColorScheme::csIndexed && !png.Transparency().empty())) {
        bitmap.TakeImage(std::move(png));
        return;
    }
    TransferPngAlpha(bitmap, png);
}

void PngStreamToBitmap32(TBitmap& bitmap, TStream& stream) {
    TPNGGraphic png;
    png.LoadFromStream(stream);
    TakeResult(bitmap, png);
}

void PngStreamToBitmap32(TBitmap& bitmap, const void* data, std::size_t size) {
    TBytesStream stream(data, size);
    PngStreamToBitmap32(bitmap, stream);
}

void PngFileToBitmap32(TBitmap& bitmap, const std::string& fileName) {
    TPNGGraphic png;
    png.LoadFromFile(fileName);
    TakeResult(bitmap, png);
}

}  // namespace graphics
