#pragma once
// The PNG decoding pipeline: chunks, inflate, unfilter, convert. A decoder
// holds the state of one decode and writes the picture into a bitmap it is
// handed, so it works without the image class; TPNGGraphic drives one.

#include <cstdint>
#include <functional>
#include <memory>
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
    uint32_t Length = 0;  // host order
    char ChunkType[4]{};  // as stored
};

enum class TProgressStage { psStarting, psRunning, psEnding };

// CRC-32 of the PNG format (reflected 0xEDB88320, register inverted before and after).
uint32_t UpdateCrc32(uint32_t crc, const void* data, std::size_t length);

// Fields of the IHDR chunk as stored.
struct TPngHeaderFields {
    uint32_t Width = 0, Height = 0;
    uint8_t BitDepth = 0, ColorType = 0, Compression = 0, Filter = 0, Interlace = 0;
};

class TPngDecoder {
public:
    // Converts rows with its own colour manager, or with the one given (the
    // image class keeps its own so that it can be read after the load).
    TPngDecoder();
    explicit TPngDecoder(TColorManager& colorManager);
    ~TPngDecoder();
    TPngDecoder(const TPngDecoder&) = delete;
    TPngDecoder& operator=(const TPngDecoder&) = delete;

    // Reads the signature, IHDR and up to the first gAMA; false when the
    // stream holds no PNG image. Leaves the stream after what it read.
    bool ReadImageProperties(TStream& stream);
    // Decodes the PNG at the stream's position into target (pixel format,
    // palette, size, transparency and pixels). Raises the reader's errors.
    void Decode(TStream& stream, TBitmap& target);

    const TImageProperties& ImageProperties() const { return FImageProperties; }
    const TPngHeaderFields& Header() const { return FIHDR; }
    TColor BackgroundColor() const { return FBackgroundColor; }
    const std::vector<uint8_t>& Transparency() const { return FTransparency; }
    const TRect& ProgressRect() const { return FProgressRect; }
    TColorManager& ColorManager() { return FColorManager; }

    std::function<void(TProgressStage, int, const TRect&, const char*)> OnProgress;

private:
    uint32_t ReadChunkHead();
    void ReadChunkBody();
    bool MatchesChunk(const char* type) const;
    void SkipChunk();
    void ReadIHDRFields(TPngHeaderFields& fields) const;
    int SelectPixelLayout(uint8_t colorType, uint8_t bitDepth);
    void ReadImageData();
    // False when the image data ran out before the buffer was full.
    bool InflateBytes(uint8_t* buffer, uint32_t count);
    void ReadBackground();
    void ReadTransparency();
    void Progress(TProgressStage stage, const char* message);
    void CheckImageLimits() const;

    std::unique_ptr<TColorManager> FOwnColorManager;
    TColorManager& FColorManager;
    TBitmap* FTarget = nullptr;
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
    TPngHeaderFields FIHDR{};
    bool FLayoutSelected = false;
};

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

}  // namespace graphics
