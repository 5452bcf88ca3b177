#pragma once
// The library's own PNG reader: a bitmap class that decodes a PNG stream into
// itself, and the two functions the rest of the library calls to get a 32-bit
// bitmap with straight alpha out of a PNG.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "graphics/bitmap32.h"
#include "graphics/color_manager.h"
#include "graphics/errors.h"
#include "graphics/lz77_decoder.h"
#include "graphics/stream.h"

namespace graphics {

enum TImageOption : uint8_t { ioBigEndian = 1 << 0, ioUseGamma = 1 << 1 };
using TImageOptions = uint8_t;  // set of TImageOption

enum class TCompressionType { ctUnknown, ctNone, ctLZ77 };

struct TImageProperties {
    TImageOptions Options = 0;
    uint32_t Width = 0;
    TColorScheme ColorScheme = TColorScheme::csUnknown;
    uint8_t BitsPerSample = 0;
    uint8_t SamplesPerPixel = 0;
    TCompressionType Compression = TCompressionType::ctUnknown;
};

struct TPNGChunkHeader {
    uint32_t Length = 0;   // host order
    char ChunkType[4]{};   // as stored
};

enum class TProgressStage { psStarting, psRunning, psEnding };

// CRC-32 of the PNG format (reflected 0xEDB88320, register inverted before and after).
uint32_t UpdateCrc32(uint32_t crc, const void* data, std::size_t length);

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
    struct IHDRFields {
        uint32_t Width = 0, Height = 0;
        uint8_t BitDepth = 0, ColorType = 0, Compression = 0, Filter = 0, Interlace = 0;
    };

    uint32_t ReadChunkHead();
    void ReadChunkBody();
    bool MatchesChunk(const char* type) const;
    void SkipChunk();
    void ReadIHDRFields(IHDRFields& fields) const;
    int SelectPixelLayout(uint8_t colorType, uint8_t bitDepth);
    void ReadImageData();
    // False when the image data ran out before the buffer was full.
    bool InflateBytes(uint8_t* buffer, uint32_t count);
    void ReadBackground();
    void ReadTransparency();
    void Progress(TProgressStage stage, const char* message);
    void CheckImageLimits() const;

    std::unique_ptr<TColorManager> FColorManager;
    TRect FProgressRect{};
    int64_t FBasePosition = 0;
    TStream* FStream = nullptr;
    TImageProperties FImageProperties{};
    std::unique_ptr<TLZ77Decoder> FDecoder;
    int32_t FIDATSize = 0;
    std::vector<uint8_t> FRawBuffer;
    const uint8_t* FCurrentSource = nullptr;
    TPNGChunkHeader FHeader{};
    uint32_t FCurrentCRC = 0;
    int32_t FSourceBPP = 0;
    TPaletteHandle FPalette;
    std::vector<uint8_t> FTransparency;
    TColor FTransparentColor = clNone;
    TColor FBackgroundColor = clWhite;
    IHDRFields FIHDR{};
    bool FLayoutSelected = false;
    bool FSawImageData = false;
    uint32_t FImageHeight = 0;
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

// Messages of the reader ("%s" filled with "PNG").
inline constexpr const char* gesInvalidImage = "Cannot load image. Invalid or unexpected PNG image format.";
inline constexpr const char* gesCompressionScheme =
    "Cannot load image. The compression scheme is not supported for PNG files.";
inline constexpr const char* gesInvalidPalette = "Cannot load image. Palette in PNG file is invalid.";
inline constexpr const char* gesInvalidCRC = "Cannot load image. CRC error found in PNG file.";
inline constexpr const char* gesCompression = "Cannot load image. Compression error found in PNG file.";
inline constexpr const char* gesExtraCompressedData = "Cannot load image. Extra compressed data found in PNG file.";
inline constexpr const char* gesInvalidColorFormat = "Invalid color format in PNG file.";
inline constexpr const char* gesUnknownCriticalChunk = "Cannot load PNG image. Unexpected but critical chunk detected.";
inline constexpr const char* gesLZ77Error = "LZ77 decompression error.";

}  // namespace graphics
