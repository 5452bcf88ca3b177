// libFuzzer entry: any byte string through PngStreamToBitmap32. Errors raised
// by the reader are the expected outcome for most inputs; crashes, sanitizer
// reports and leaks are what the run is looking for.
//
// Each input is decoded twice: as given, and with every chunk CRC repaired, so
// that mutations reach the pixel pipeline instead of stopping at the CRC check.

#include <cstddef>
#include <cstdint>
#include <vector>

#include <zlib.h>

#include "graphics/png_graphic.h"

namespace {

void DecodeOnce(const uint8_t* data, size_t size) {
    graphics::TBitmap bitmap;
    try {
        graphics::PngStreamToBitmap32(bitmap, data, size);
    } catch (const graphics::Exception&) {
    }
}

std::vector<uint8_t> WithRepairedCrcs(const uint8_t* data, size_t size) {
    std::vector<uint8_t> out(data, data + size);
    size_t pos = 8;
    while (pos + 12 <= out.size()) {
        const uint32_t len = uint32_t(out[pos]) << 24 | uint32_t(out[pos + 1]) << 16 | uint32_t(out[pos + 2]) << 8 |
                             out[pos + 3];
        if (len > out.size() - pos - 12) break;
        const uint32_t crc = uint32_t(crc32(0, out.data() + pos + 4, uInt(len + 4)));
        uint8_t* c = out.data() + pos + 8 + len;
        c[0] = uint8_t(crc >> 24);
        c[1] = uint8_t(crc >> 16);
        c[2] = uint8_t(crc >> 8);
        c[3] = uint8_t(crc);
        pos += 12 + size_t(len);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DecodeOnce(data, size);
    const std::vector<uint8_t> repaired = WithRepairedCrcs(data, size);
    DecodeOnce(repaired.data(), repaired.size());
    return 0;
}
