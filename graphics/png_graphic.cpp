#include "graphics/png_graphic.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace graphics {

bool PngLoadingEnabled = true;

namespace {

constexpr uint8_t kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

// Adam7 passes.
constexpr int kRowStart[7] = {0, 0, 4, 0, 2, 0, 1};
constexpr int kColumnStart[7] = {0, 4, 0, 2, 0, 1, 0};
constexpr int kRowIncrement[7] = {8, 8, 8, 4, 4, 2, 2};
constexpr int kColumnIncrement[7] = {8, 8, 4, 4, 2, 2, 1};
constexpr uint8_t kPassMask[7] = {0x80, 0x08, 0x88, 0x22, 0xAA, 0x55, 0xFF};

inline uint32_t BigEndian32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline uint16_t BigEndian16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

// CRC tables: the first from the polynomial's exponents, the other seven let
// the main loop take eight bytes per step.
struct CrcTables {
    uint32_t t[8][256];
    CrcTables() {
        static constexpr int kExponents[] = {0, 1, 2, 4, 5, 7, 8, 10, 11, 12, 16, 22, 23, 26};
        uint32_t poly = 0;
        for (int e : kExponents) poly |= 1u << (31 - e);  // reflected: 0xEDB88320
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? poly ^ (c >> 1) : c >> 1;
            t[0][n] = c;
        }
        for (uint32_t n = 0; n < 256; ++n)
            for (int k = 1; k < 8; ++k) t[k][n] = t[0][t[k - 1][n] & 0xFF] ^ (t[k - 1][n] >> 8);
    }
};

const CrcTables& Tables() {
    static const CrcTables tables;  // built once, on first use
    return tables;
}

}  // namespace

uint32_t UpdateCrc32(uint32_t crc, const void* data, std::size_t length) {
    const CrcTables& T = Tables();
    const uint8_t* p = static_cast<const uint8_t*>(data);
    uint32_t c = ~crc;
    while (length >= 8) {
        const uint32_t lo = c ^ (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
        const uint32_t hi = uint32_t(p[4]) | uint32_t(p[5]) << 8 | uint32_t(p[6]) << 16 | uint32_t(p[7]) << 24;
        c = T.t[7][lo & 0xFF] ^ T.t[6][(lo >> 8) & 0xFF] ^ T.t[5][(lo >> 16) & 0xFF] ^ T.t[4][lo >> 24] ^
            T.t[3][hi & 0xFF] ^ T.t[2][(hi >> 8) & 0xFF] ^ T.t[1][(hi >> 16) & 0xFF] ^ T.t[0][hi >> 24];
        p += 8;
        length -= 8;
    }
    while (length--) c = T.t[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
    return ~c;
}

// ---------------------------------------------------------------- unfiltering

namespace {

inline uint8_t Paeth(int a, int b, int c) {
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    if (pa <= pb && pa <= pc) return uint8_t(a);
    return uint8_t(pb <= pc ? b : c);
}

// Reverses one row's filter in place; line and prior point past the filter byte.
void UnfilterRow(uint8_t filter, uint8_t* line, const uint8_t* prior, std::size_t distance, std::size_t length) {
    const std::size_t lead = std::min(distance, length);
    switch (filter) {
    case 1:
        for (std::size_t i = distance; i < length; ++i) line[i] = uint8_t(line[i] + line[i - distance]);
        break;
    case 2:
        for (std::size_t i = 0; i < length; ++i) line[i] = uint8_t(line[i] + prior[i]);
        break;
    case 3:
        for (std::size_t i = 0; i < lead; ++i) line[i] = uint8_t(line[i] + (prior[i] >> 1));
        for (std::size_t i = distance; i < length; ++i)
            line[i] = uint8_t(line[i] + ((unsigned(line[i - distance]) + prior[i]) >> 1));
        break;
    case 4:
        for (std::size_t i = 0; i < lead; ++i) line[i] = uint8_t(line[i] + prior[i]);  // a = c = 0: predictor is b
        if (distance == 4 && length % 4 == 0) {
            // Per pixel, so the four channels' work can overlap.
            int a[4] = {line[0], line[1], line[2], line[3]}, c[4] = {prior[0], prior[1], prior[2], prior[3]};
            for (std::size_t i = 4; i + 4 <= length; i += 4) {
                for (int k = 0; k < 4; ++k) {
                    const int b = prior[i + k];
                    a[k] = uint8_t(line[i + k] + Paeth(a[k], b, c[k]));
                    line[i + k] = uint8_t(a[k]);
                    c[k] = b;
                }
            }
        } else if (distance == 3 && length % 3 == 0) {
            int a[3] = {line[0], line[1], line[2]}, c[3] = {prior[0], prior[1], prior[2]};
            for (std::size_t i = 3; i + 3 <= length; i += 3) {
                for (int k = 0; k < 3; ++k) {
                    const int b = prior[i + k];
                    a[k] = uint8_t(line[i + k] + Paeth(a[k], b, c[k]));
                    line[i + k] = uint8_t(a[k]);
                    c[k] = b;
                }
            }
        } else {
            for (std::size_t i = distance; i < length; ++i)
                line[i] = uint8_t(line[i] + Paeth(line[i - distance], prior[i], prior[i - distance]));
        }
        break;
    default: break;  // 0 and unknown filters leave the row as stored
    }
}

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

uint32_t TPNGGraphic::ReadChunkHead() {
    uint8_t head[8];
    FStream->ReadBuffer(head, 8);
    FHeader.Length = BigEndian32(head);
    std::memcpy(FHeader.ChunkType, head + 4, 4);
    return UpdateCrc32(0, FHeader.ChunkType, 4);
}

void TPNGGraphic::ReadChunkBody() {
    // A length beyond the end of the stream cannot be read: fail before allocating it.
    if (int64_t(FHeader.Length) + 4 > FStream->Remaining()) throw EReadError(SReadError);
    FRawBuffer.resize(FHeader.Length);
    FStream->ReadBuffer(FRawBuffer.data(), FHeader.Length);
    uint8_t stored[4];
    FStream->ReadBuffer(stored, 4);
    FCurrentCRC = UpdateCrc32(FCurrentCRC, FRawBuffer.data(), FHeader.Length);
    if (FCurrentCRC != BigEndian32(stored)) throw EInvalidGraphic(gesInvalidCRC);
}

bool TPNGGraphic::MatchesChunk(const char* type) const {
    for (int i = 0; i < 4; ++i)
        if (((uint8_t(FHeader.ChunkType[i]) ^ uint8_t(type[i])) & ~0x20u) != 0) return false;
    return true;
}

void TPNGGraphic::SkipChunk() { FStream->Seek(int64_t(FHeader.Length) + 4); }

void TPNGGraphic::ReadIHDRFields(IHDRFields& f) const {
    const uint8_t* p = FRawBuffer.data();
    f.Width = BigEndian32(p);
    f.Height = BigEndian32(p + 4);
    f.BitDepth = p[8];
    f.ColorType = p[9];
    f.Compression = p[10];
    f.Filter = p[11];
    f.Interlace = p[12];
}

bool TPNGGraphic::ReadImageProperties(TStream& stream, uint32_t /*imageIndex*/) {
    FImageProperties = {};
    FStream = &stream;
    uint8_t signature[8];
    if (stream.Read(signature, 8) != 8 || std::memcmp(signature, kSignature, 8) != 0) return false;

    FCurrentCRC = ReadChunkHead();
    if (!MatchesChunk("IHDR")) return false;
    FImageProperties.Options |= ioBigEndian;
    ReadChunkBody();
    if (FRawBuffer.size() < 13) return false;
    IHDRFields f;
    ReadIHDRFields(f);
    // Zero sizes, and sizes beyond the format's 2^31 - 1, describe no image.
    if (f.Width == 0 || f.Height == 0 || f.Width > 0x7FFFFFFFu || f.Height > 0x7FFFFFFFu) return false;

    FImageProperties.Width = f.Width;
    FImageHeight = f.Height;
    FImageProperties.Compression = f.Compression == 0 ? TCompressionType::ctLZ77 : TCompressionType::ctUnknown;
    FImageProperties.BitsPerSample = f.BitDepth;
    FImageProperties.SamplesPerPixel = 1;
    switch (f.ColorType) {
    case 0: FImageProperties.ColorScheme = TColorScheme::csG; break;
    case 2:
        FImageProperties.ColorScheme = TColorScheme::csRGB;
        FImageProperties.SamplesPerPixel = 3;
        break;
    case 3: FImageProperties.ColorScheme = TColorScheme::csIndexed; break;
    case 4: FImageProperties.ColorScheme = TColorScheme::csGA; break;
    case 6:
        FImageProperties.ColorScheme = TColorScheme::csRGBA;
        FImageProperties.SamplesPerPixel = 4;
        break;
    default: FImageProperties.ColorScheme = TColorScheme::csUnknown; break;
    }

    for (;;) {
        FCurrentCRC = ReadChunkHead();
        if (MatchesChunk("gAMA")) {
            ReadChunkBody();
            break;
        }
        SkipChunk();
        if (MatchesChunk("IEND")) break;
    }
    FRawBuffer.clear();
    FRawBuffer.shrink_to_fit();
    return true;
}

void TPNGGraphic::Progress(TProgressStage stage, const char* message) {
    if (OnProgress) OnProgress(stage, 0, FProgressRect, message);
}

void TPNGGraphic::CheckImageLimits() const {
    // The image ends up as a 32-bit bitmap: refuse one whose pixels would not fit the limit.
    const uint64_t bytes = uint64_t(FIHDR.Width) * uint64_t(FIHDR.Height) * 4u;
    if (bytes > MaxPixelBufferBytes) throw EInvalidGraphic(gesInvalidImage);
}

void TPNGGraphic::LoadFromStream(TStream& stream) {
    ReleaseImage();
    FBasePosition = stream.Position();
    FDecoder.reset();
    FStream = &stream;
    FLayoutSelected = false;
    if (!ReadImageProperties(stream)) throw EInvalidGraphic(gesInvalidImage);

    stream.SetPosition(FBasePosition + 8);
    FProgressRect = {0, 0, int32_t(FImageProperties.Width), 1};
    Progress(TProgressStage::psStarting, "Preparing...");

    FPalette.clear();
    FTransparency.clear();
    FBackgroundColor = clWhite;
    FTransparentColor = clNone;
    FCurrentCRC = ReadChunkHead();
    FRawBuffer.clear();
    FColorManager->SetSourceOptions(coNeedByteSwap);

    auto finish = [this](bool mayThrow) {
        std::unique_ptr<TLZ77Decoder> decoder = std::move(FDecoder);
        FRawBuffer.clear();
        FRawBuffer.shrink_to_fit();
        Progress(TProgressStage::psEnding, "");
        if (decoder) {
            if (mayThrow) decoder->DecodeEnd();
            else try { decoder->DecodeEnd(); } catch (...) {}
        }
    };

    try {
        ReadChunkBody();
        ReadIHDRFields(FIHDR);
        if (FImageProperties.Compression != TCompressionType::ctLZ77) throw EInvalidGraphic(gesCompressionScheme);
        CheckImageLimits();
        FDecoder = std::make_unique<TLZ77Decoder>(Z_PARTIAL_FLUSH, false);
        FDecoder->DecodeInit();

        bool sawImageData = false;
        for (;;) {
            FCurrentCRC = ReadChunkHead();
            if (MatchesChunk("IDAT")) {
                Progress(TProgressStage::psEnding, "");
                ReadImageData();  // leaves the head of the chunk after the image data
                sawImageData = true;
            } else if (MatchesChunk("PLTE")) {
                if (FHeader.Length % 3 != 0) throw EInvalidGraphic(gesInvalidPalette);
                ReadChunkBody();
                if (FIHDR.ColorType == 3) {
                    FSourceBPP = SelectPixelLayout(FIHDR.ColorType, FIHDR.BitDepth);
                    FPalette = FColorManager->CreateColorPalette(FRawBuffer.data(), TRawPaletteFormat::pfInterlaced8Triple,
                                                                 FHeader.Length / 3, false);
                }
                continue;
            } else if (MatchesChunk("gAMA")) {
                ReadChunkBody();
                if (FRawBuffer.size() >= 4) {  // a shorter body carries no value
                    const float gamma = float(BigEndian32(FRawBuffer.data()) / 100000.0);
                    FColorManager->SetGamma(gamma, 2.2f);
                    FColorManager->SetTargetOptions(FColorManager->TargetOptions() | coApplyGamma);
                    FImageProperties.Options |= ioUseGamma;
                }
                continue;
            } else if (MatchesChunk("bKGD")) {
                ReadBackground();
                continue;
            } else if (MatchesChunk("tRNS")) {
                ReadTransparency();
                continue;
            }
            // Skip step: every other chunk, and the one that follows the image data.
            SkipChunk();
            if (MatchesChunk("IEND")) break;
            if ((uint8_t(FHeader.ChunkType[0]) & 0x20) == 0) throw EInvalidGraphic(gesUnknownCriticalChunk);
        }
        // A file without image data holds no picture; refuse it instead of
        // handing back an image that was never decoded.
        if (!sawImageData) throw EInvalidGraphic(gesInvalidImage);
    } catch (...) {
        finish(false);
        throw;
    }
    finish(true);
}

void TPNGGraphic::LoadFromFile(const std::string& fileName) {
    TFileStream stream(fileName);
    LoadFromStream(stream);
}

int TPNGGraphic::SelectPixelLayout(uint8_t colorType, uint8_t bitDepth) {
    TColorManager& cm = *FColorManager;
    int distance = 0;
    TPixelFormat format = TPixelFormat::pfDevice;
    auto setLayout = [&](TColorScheme source, TColorScheme target, uint8_t samples, uint8_t targetBits) {
        cm.SetSourceColorScheme(source);
        cm.SetTargetColorScheme(target);
        cm.SetSourceSamplesPerPixel(samples);
        cm.SetTargetSamplesPerPixel(samples);
        cm.SetSourceBitsPerSample(bitDepth);
        cm.SetTargetBitsPerSample(targetBits);
    };
    const bool d8or16 = bitDepth == 8 || bitDepth == 16;
    switch (colorType) {
    case 0:
        if (bitDepth != 1 && bitDepth != 2 && bitDepth != 4 && !d8or16) throw EInvalidGraphic(gesInvalidColorFormat);
        setLayout(TColorScheme::csG, TColorScheme::csG, 1, bitDepth == 2 ? 4 : bitDepth == 16 ? 8 : bitDepth);
        format = cm.TargetPixelFormat();
        FPalette = cm.CreateGrayscalePalette(false);
        distance = (bitDepth + 7) / 8;
        break;
    case 2:
        if (!d8or16) throw EInvalidGraphic(gesInvalidColorFormat);
        setLayout(TColorScheme::csRGB, TColorScheme::csBGR, 3, 8);
        format = TPixelFormat::pf24bit;
        distance = bitDepth * 3 / 8;
        break;
    case 3:
        if (bitDepth != 1 && bitDepth != 2 && bitDepth != 4 && bitDepth != 8)
            throw EInvalidGraphic(gesInvalidColorFormat);
        setLayout(TColorScheme::csIndexed, TColorScheme::csIndexed, 1, bitDepth == 2 ? 4 : bitDepth);
        format = cm.TargetPixelFormat();
        distance = 1;
        break;
    case 4:
        if (!d8or16) throw EInvalidGraphic(gesInvalidColorFormat);
        setLayout(TColorScheme::csGA, TColorScheme::csIndexed, 1, 8);
        format = TPixelFormat::pf8bit;
        FPalette = cm.CreateGrayscalePalette(false);
        distance = bitDepth * 2 / 8;
        break;
    case 6:
        if (!d8or16) throw EInvalidGraphic(gesInvalidColorFormat);
        setLayout(TColorScheme::csRGBA, TColorScheme::csBGRA, 4, 8);
        format = TPixelFormat::pf32bit;
        distance = bitDepth * 4 / 8;
        break;
    default: throw EInvalidGraphic(gesInvalidColorFormat);
    }
    SetPixelFormat(format);
    FLayoutSelected = true;
    return distance;
}

namespace {
// The samples of bKGD and tRNS, brought to the 8-bit levels of the bitmap.
uint32_t grayLevel(uint16_t v, int bitDepth) {
    if (bitDepth == 2) return ScaleSample(v, 15, 3);
    if (bitDepth == 16) return ScaleSample(v, 255, 65535);
    return v & 0xFFu;
}
uint32_t channelLevel(uint16_t v, int bitDepth) { return bitDepth == 16 ? ScaleSample(v, 255, 65535) : v & 0xFFu; }
uint32_t rgbOf(const uint8_t* p, int bitDepth) {
    return channelLevel(BigEndian16(p), bitDepth) | channelLevel(BigEndian16(p + 2), bitDepth) << 8 |
           channelLevel(BigEndian16(p + 4), bitDepth) << 16;
}
}  // namespace

void TPNGGraphic::ReadBackground() {
    ReadChunkBody();
    const uint8_t* p = FRawBuffer.data();
    const std::size_t n = FRawBuffer.size();
    // Bodies too short for their colour type are passed over.
    switch (FIHDR.ColorType) {
    case 0:
    case 4:
        if (n >= 2) FBackgroundColor = grayLevel(BigEndian16(p), FIHDR.BitDepth);
        break;
    case 2:
    case 6:
        if (n >= 6)
            FBackgroundColor = rgbOf(p, FIHDR.BitDepth);
        break;
    default:
        if (n >= 1) FBackgroundColor = p[0];
        break;
    }
}

void TPNGGraphic::ReadTransparency() {
    ReadChunkBody();
    const uint8_t* p = FRawBuffer.data();
    const std::size_t n = FRawBuffer.size();
    switch (FIHDR.ColorType) {
    case 0:
        if (n >= 2) FTransparentColor = grayLevel(BigEndian16(p), FIHDR.BitDepth) * 0x010101u;
        break;
    case 2:
        if (n >= 6)
            FTransparentColor = rgbOf(p, FIHDR.BitDepth);
        break;
    case 4:
    case 6: break;
    default:
        FTransparency.assign(256, 255);
        std::memcpy(FTransparency.data(), p, std::min<std::size_t>(n, 256));
        break;
    }
}

bool TPNGGraphic::InflateBytes(uint8_t* buffer, uint32_t count) {
    uint8_t* dest = buffer;
    uint32_t left = count;
    while (left > 0) {
        if (FDecoder->AvailableInput() == 0) {
            FIDATSize = 0;
            while (FIDATSize == 0) {
                if (!MatchesChunk("IDAT")) return false;
                ReadChunkBody();
                FCurrentSource = FRawBuffer.data();
                FIDATSize = int32_t(FHeader.Length);
                FCurrentCRC = ReadChunkHead();
            }
        }
        const uint32_t unread = uint32_t(FIDATSize - (FCurrentSource - FRawBuffer.data()));
        uint8_t* before = dest;
        FDecoder->Decode(FCurrentSource, dest, unread, left);
        left -= uint32_t(dest - before);
        const int result = FDecoder->ZLibResult();
        if (result == Z_STREAM_END) {
            if (FDecoder->AvailableOutput() > 0 || FDecoder->AvailableInput() > 0)
                throw EInvalidGraphic(gesExtraCompressedData);
            return true;
        }
        if (result != Z_OK) throw EInvalidGraphic(gesCompression);
    }
    return true;
}

void TPNGGraphic::ReadImageData() {
    Progress(TProgressStage::psStarting, "Transfering...");
    if (!FLayoutSelected) {
        // An indexed image needs its palette before the data.
        if (FIHDR.ColorType == 3 &&
            (FIHDR.BitDepth == 1 || FIHDR.BitDepth == 2 || FIHDR.BitDepth == 4 || FIHDR.BitDepth == 8))
            throw EInvalidGraphic(gesInvalidPalette);
        FSourceBPP = SelectPixelLayout(FIHDR.ColorType, FIHDR.BitDepth);
    }
    const uint32_t width = FIHDR.Width, height = FIHDR.Height, depth = FIHDR.BitDepth;
    const uint64_t samples = depth == 16 ? uint64_t(FSourceBPP) / 2 : uint64_t(FSourceBPP);
    const uint64_t rowSize = (uint64_t(width) * depth + 7) / 8 * samples + 1;
    if (rowSize > MaxPixelBufferBytes) throw EInvalidGraphic(gesInvalidImage);

    if (!FPalette.empty()) SetPalette(FPalette);
    SetSize(int(width), int(height));
    FillRect({0, 0, int32_t(width), int32_t(height)}, FBackgroundColor);
    if (FTransparentColor != clNone) {
        SetTransparentColor(FTransparentColor);
        SetTransparent(true);
    }

    std::vector<uint8_t> buffers[2] = {std::vector<uint8_t>(rowSize, 0), std::vector<uint8_t>(rowSize, 0)};
    int current = 1;
    TRowAccess rows;
    if (GetRowAccess(*this, rows)) {
        const std::size_t distance = std::size_t(std::max(FSourceBPP, 1));
        if (FIHDR.Interlace != 1) {
            for (uint32_t y = 0; y < height; ++y) {
                uint8_t* line = buffers[current].data();
                // Data that ends early leaves the rest of the image in the background colour.
                if (!InflateBytes(line, uint32_t(rowSize))) break;
                UnfilterRow(line[0], line + 1, buffers[1 - current].data() + 1, distance, rowSize - 1);
                FColorManager->ConvertRow(line + 1, rows.Row(int(y)), width, 0xFF);
                current = 1 - current;
                FProgressRect.Top += 1;
                FProgressRect.Bottom += 1;
            }
        } else {
            bool complete = true;
            for (int pass = 0; pass < 7 && complete; ++pass) {
                if (uint32_t(kColumnStart[pass]) >= width) continue;
                const uint64_t passWidth =
                    (uint64_t(width) + kColumnIncrement[pass] - kColumnStart[pass] - 1) / kColumnIncrement[pass];
                const uint64_t passRowSize = (depth * passWidth + 7) / 8 * samples + 1;
                std::fill(buffers[1 - current].begin(), buffers[1 - current].end(), 0);
                for (uint64_t y = kRowStart[pass]; y < height; y += kRowIncrement[pass]) {
                    uint8_t* line = buffers[current].data();
                    if (!InflateBytes(line, uint32_t(passRowSize))) {
                        complete = false;
                        break;
                    }
                    UnfilterRow(line[0], line + 1, buffers[1 - current].data() + 1, distance, passRowSize - 1);
                    FColorManager->ConvertRow(line + 1, rows.Row(int(y)), width, kPassMask[pass]);
                    current = 1 - current;
                    if (pass == 6) {
                        FProgressRect.Top += 1;
                        FProgressRect.Bottom += 1;
                    }
                }
            }
        }
    }
    while (MatchesChunk("IDAT")) {
        ReadChunkBody();
        FCurrentCRC = ReadChunkHead();
    }
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
