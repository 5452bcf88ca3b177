#include "graphics/png_decoder.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace graphics {

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

// ---------------------------------------------------------------- TPngDecoder

TPngDecoder::TPngDecoder() : FOwnColorManager(std::make_unique<TColorManager>()), FColorManager(*FOwnColorManager) {}

TPngDecoder::TPngDecoder(TColorManager& colorManager) : FColorManager(colorManager) {}

TPngDecoder::~TPngDecoder() = default;

uint32_t TPngDecoder::ReadChunkHead() {
    uint8_t head[8];
    FStream->ReadBuffer(head, 8);
    FHeader.Length = BigEndian32(head);
    std::memcpy(FHeader.ChunkType, head + 4, 4);
    return UpdateCrc32(0, FHeader.ChunkType, 4);
}

void TPngDecoder::ReadChunkBody() {
    // A length beyond the end of the stream cannot be read: fail before allocating it.
    if (int64_t(FHeader.Length) + 4 > FStream->Remaining()) throw EReadError(SReadError);
    FRawBuffer.resize(FHeader.Length);
    FStream->ReadBuffer(FRawBuffer.data(), FHeader.Length);
    uint8_t stored[4];
    FStream->ReadBuffer(stored, 4);
    FCurrentCRC = UpdateCrc32(FCurrentCRC, FRawBuffer.data(), FHeader.Length);
    if (FCurrentCRC != BigEndian32(stored)) throw EInvalidGraphic(gesInvalidCRC);
}

bool TPngDecoder::MatchesChunk(const char* type) const {
    for (int i = 0; i < 4; ++i)
        if (((uint8_t(FHeader.ChunkType[i]) ^ uint8_t(type[i])) & ~0x20u) != 0) return false;
    return true;
}

void TPngDecoder::SkipChunk() { FStream->Seek(int64_t(FHeader.Length) + 4); }

void TPngDecoder::ReadIHDRFields(TPngHeaderFields& f) const {
    const uint8_t* p = FRawBuffer.data();
    f.Width = BigEndian32(p);
    f.Height = BigEndian32(p + 4);
    f.BitDepth = p[8];
    f.ColorType = p[9];
    f.Compression = p[10];
    f.Filter = p[11];
    f.Interlace = p[12];
}

bool TPngDecoder::ReadImageProperties(TStream& stream) {
    FImageProperties = {};
    FStream = &stream;
    uint8_t signature[8];
    if (stream.Read(signature, 8) != 8 || std::memcmp(signature, kSignature, 8) != 0) return false;

    FCurrentCRC = ReadChunkHead();
    if (!MatchesChunk("IHDR")) return false;
    FImageProperties.Options |= ioBigEndian;
    ReadChunkBody();
    if (FRawBuffer.size() < 13) return false;
    TPngHeaderFields f;
    ReadIHDRFields(f);
    // Zero sizes, and sizes beyond the format's 2^31 - 1, describe no image.
    if (f.Width == 0 || f.Height == 0 || f.Width > 0x7FFFFFFFu || f.Height > 0x7FFFFFFFu) return false;

    FImageProperties.Width = f.Width;
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

void TPngDecoder::Progress(TProgressStage stage, const char* message) {
    if (OnProgress) OnProgress(stage, 0, FProgressRect, message);
}

void TPngDecoder::CheckImageLimits() const {
    // The image ends up as a 32-bit bitmap: refuse one whose pixels would not fit the limit.
    const uint64_t bytes = uint64_t(FIHDR.Width) * uint64_t(FIHDR.Height) * 4u;
    if (bytes > MaxPixelBufferBytes) throw EInvalidGraphic(gesInvalidImage);
}

void TPngDecoder::Decode(TStream& stream, TBitmap& target) {
    FTarget = &target;
    target.ReleaseImage();
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
    FColorManager.SetSourceOptions(coNeedByteSwap);

    auto finish = [this](bool mayThrow) {
        FTarget = nullptr;
        std::unique_ptr<TLZ77Decoder> decoder = std::move(FDecoder);
        FRawBuffer.clear();
        FRawBuffer.shrink_to_fit();
        Progress(TProgressStage::psEnding, "");
        if (decoder) {
            if (mayThrow) decoder->DecodeEnd();
            else try {
                    decoder->DecodeEnd();
                } catch (...) {
                }
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
                    FPalette = FColorManager.CreateColorPalette(FRawBuffer.data(),
                                                                TRawPaletteFormat::pfInterlaced8Triple,
                                                                FHeader.Length / 3, false);
                }
                continue;
            } else if (MatchesChunk("gAMA")) {
                ReadChunkBody();
                if (FRawBuffer.size() >= 4) {  // a shorter body carries no value
                    const float gamma = float(BigEndian32(FRawBuffer.data()) / 100000.0);
                    FColorManager.SetGamma(gamma, 2.2f);
                    FColorManager.SetTargetOptions(FColorManager.TargetOptions() | coApplyGamma);
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

int TPngDecoder::SelectPixelLayout(uint8_t colorType, uint8_t bitDepth) {
    TColorManager& cm = FColorManager;
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
    FTarget->SetPixelFormat(format);
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

void TPngDecoder::ReadBackground() {
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
        if (n >= 6) FBackgroundColor = rgbOf(p, FIHDR.BitDepth);
        break;
    default:
        if (n >= 1) FBackgroundColor = p[0];
        break;
    }
}

void TPngDecoder::ReadTransparency() {
    ReadChunkBody();
    const uint8_t* p = FRawBuffer.data();
    const std::size_t n = FRawBuffer.size();
    switch (FIHDR.ColorType) {
    case 0:
        if (n >= 2) FTransparentColor = grayLevel(BigEndian16(p), FIHDR.BitDepth) * 0x010101u;
        break;
    case 2:
        if (n >= 6) FTransparentColor = rgbOf(p, FIHDR.BitDepth);
        break;
    case 4:
    case 6: break;
    default:
        FTransparency.assign(256, 255);
        std::memcpy(FTransparency.data(), p, std::min<std::size_t>(n, 256));
        break;
    }
}

bool TPngDecoder::InflateBytes(uint8_t* buffer, uint32_t count) {
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

void TPngDecoder::ReadImageData() {
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

    TBitmap& target = *FTarget;
    if (!FPalette.empty()) target.SetPalette(FPalette);
    target.SetSize(int(width), int(height));
    target.FillRect({0, 0, int32_t(width), int32_t(height)}, FBackgroundColor);
    if (FTransparentColor != clNone) {
        target.SetTransparentColor(FTransparentColor);
        target.SetTransparent(true);
    }

    std::vector<uint8_t> buffers[2] = {std::vector<uint8_t>(rowSize, 0), std::vector<uint8_t>(rowSize, 0)};
    int current = 1;
    TRowAccess rows;
    if (GetRowAccess(target, rows)) {
        const std::size_t distance = std::size_t(std::max(FSourceBPP, 1));
        if (FIHDR.Interlace != 1) {
            for (uint32_t y = 0; y < height; ++y) {
                uint8_t* line = buffers[current].data();
                // Data that ends early leaves the rest of the image in the background colour.
                if (!InflateBytes(line, uint32_t(rowSize))) break;
                UnfilterRow(line[0], line + 1, buffers[1 - current].data() + 1, distance, rowSize - 1);
                FColorManager.ConvertRow(line + 1, rows.Row(int(y)), width, 0xFF);
                current = 1 - current;
                FProgressRect.Top += 1;
                FProgressRect.Bottom += 1;
            }
        } else {
            bool complete = true;
            for (int pass = 0; pass < 7 && complete; ++pass) {
                if (uint32_t(kColumnStart[pass]) >= width) continue;
                const uint64_t passWidth = (uint64_t(width) + kColumnIncrement[pass] - kColumnStart[pass] - 1) /
                                           kColumnIncrement[pass];
                const uint64_t passRowSize = (depth * passWidth + 7) / 8 * samples + 1;
                std::fill(buffers[1 - current].begin(), buffers[1 - current].end(), 0);
                for (uint64_t y = kRowStart[pass]; y < height; y += kRowIncrement[pass]) {
                    uint8_t* line = buffers[current].data();
                    if (!InflateBytes(line, uint32_t(passRowSize))) {
                        complete = false;
                        break;
                    }
                    UnfilterRow(line[0], line + 1, buffers[1 - current].data() + 1, distance, passRowSize - 1);
                    FColorManager.ConvertRow(line + 1, rows.Row(int(y)), width, kPassMask[pass]);
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

}  // namespace graphics
