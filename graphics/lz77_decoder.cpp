#include "graphics/lz77_decoder.h"

#include "graphics/errors.h"

namespace graphics {

TLZ77Decoder::TLZ77Decoder(int flushMode, bool autoReset) : FFlushMode(flushMode), FAutoReset(autoReset) {}

TLZ77Decoder::~TLZ77Decoder() {
    if (FInitialized) inflateEnd(&FStream);
}

void TLZ77Decoder::DecodeInit() {
    // The record size is that of this build's zlib, so the library accepts it.
    const int result = inflateInit(&FStream);
    if (result < 0) throw EGraphicCompression(gesLZ77Error);
    FInitialized = true;
    FZLibResult = 0;
}

void TLZ77Decoder::Decode(const uint8_t*& source, uint8_t*& dest, uint32_t packedSize, uint32_t unpackedSize) {
    FStream.next_in = const_cast<Bytef*>(source);
    FStream.avail_in = packedSize;
    if (FAutoReset) FZLibResult = inflateReset(&FStream);
    if (FZLibResult != 0) return;
    FStream.next_out = dest;
    FStream.avail_out = unpackedSize;
    FZLibResult = inflate(&FStream, FFlushMode);
    source = FStream.next_in;
    dest = FStream.next_out;
}

void TLZ77Decoder::DecodeEnd() {
    if (!FInitialized) return;
    FInitialized = false;
    if (inflateEnd(&FStream) < 0) throw EGraphicCompression(gesLZ77Error);
}

}  // namespace graphics
