#pragma once
// The library's own PNG reader: a bitmap class that decodes a PNG stream into
// itself (through a TPngDecoder), and the two functions the rest of the
// library calls to get a 32-bit bitmap with straight alpha out of a PNG.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "graphics/png_decoder.h"

namespace graphics {

class TPNGGraphic : public TBitmap {
public:
    TPNGGraphic();
    ~TPNGGraphic() override;

    static bool CanLoad(const std::string& fileName);
    static bool CanLoad(TStream& stream);

    bool ReadImageProperties(TStream& stream, uint32_t imageIndex = 0);
    void LoadFromStream(TStream& stream);
    void LoadFromFile(const std::string& fileName);
    void Assign(const TBitmap& source) override;
    // Draws onto a 32-bit canvas bitmap at rect (blended when the image is 32-bit).
    void Draw(TBitmap& canvas, const TRect& rect);

    TColor BackgroundColor() const { return FBackgroundColor; }
    const std::vector<uint8_t>& Transparency() const { return FTransparency; }
    TColorManager& ColorManager() { return *FColorManager; }
    const TColorManager& ColorManager() const { return *FColorManager; }
    const TImageProperties& ImageProperties() const { return FImageProperties; }
    // Bit depth of the IHDR of the last load.
    uint8_t SourceBitDepth() const { return FIHDR.BitDepth; }
    uint8_t SourceColorType() const { return FIHDR.ColorType; }
    const TRect& ProgressRect() const { return FProgressRect; }

    // Progress notifications (stage, percent, area, message); nothing needs them by default.
    std::function<void(TProgressStage, int, const TRect&, const char*)> OnProgress;

    // Non-zero makes Draw add a mirrored half-height reflection below the image.
    uint8_t Reflected = 0;

private:
    // What the last load found; the decoding state itself lives in the decoder.
    std::unique_ptr<TColorManager> FColorManager;
    TRect FProgressRect{};
    TImageProperties FImageProperties{};
    std::vector<uint8_t> FTransparency;
    TColor FBackgroundColor = clWhite;
    TPngHeaderFields FIHDR{};
};

// Decodes the PNG at the stream's position and leaves a 32-bit bitmap with
// straight alpha in bitmap.
void PngStreamToBitmap32(TBitmap& bitmap, TStream& stream);
void PngStreamToBitmap32(TBitmap& bitmap, const void* data, std::size_t size);
void PngFileToBitmap32(TBitmap& bitmap, const std::string& fileName);
void TransferPngAlpha(TBitmap& bitmap, TPNGGraphic& png);

// Whether the class may be used to load (true from the start).
extern bool PngLoadingEnabled;
inline constexpr const char* PngFileExtension = "png";
inline constexpr const char* PngFileDescription = "Portable network graphics (Vesperine)";

}  // namespace graphics
