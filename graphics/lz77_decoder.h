#pragma once
// Thin wrapper over zlib's inflate as the PNG reader drives it: one call per
// stretch of input, a sticky result once the stream has ended.

#include <cstdint>

#include <zlib.h>

namespace graphics {

// The message of the EGraphicCompression a broken stream raises.
inline constexpr const char* gesLZ77Error = "LZ77 decompression error.";

class TLZ77Decoder {
public:
    TLZ77Decoder(int flushMode, bool autoReset);
    ~TLZ77Decoder();
    TLZ77Decoder(const TLZ77Decoder&) = delete;
    TLZ77Decoder& operator=(const TLZ77Decoder&) = delete;

    void DecodeInit();
    // Inflates from source into dest and advances both pointers; does nothing
    // while an earlier call left a non-zero result (e.g. Z_STREAM_END).
    void Decode(const uint8_t*& source, uint8_t*& dest, uint32_t packedSize, uint32_t unpackedSize);
    void DecodeEnd();

    uint32_t AvailableInput() const { return FStream.avail_in; }
    uint32_t AvailableOutput() const { return FStream.avail_out; }
    int ZLibResult() const { return FZLibResult; }

private:
    z_stream FStream{};
    int FZLibResult = 0;
    int FFlushMode;
    bool FAutoReset;
    bool FInitialized = false;
};

}  // namespace graphics
