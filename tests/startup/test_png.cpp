#include "tests/startup/test_png.h"

#include <zlib.h>

#include <string>

namespace testpng {
namespace {

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(v >> s));
}

void Chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    Put32(out, uint32_t(data.size()));
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    Put32(out, uint32_t(crc32(0, body.data(), uInt(body.size()))));
}

}  // namespace

std::vector<uint8_t> Encode(int width, int height, const std::vector<uint32_t>& pixels) {
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::vector<uint8_t> ihdr;
    Put32(ihdr, uint32_t(width));
    Put32(ihdr, uint32_t(height));
    ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});
    Chunk(out, "IHDR", ihdr);
    std::vector<uint8_t> raw;
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        for (int x = 0; x < width; ++x) {
            uint32_t p = pixels[std::size_t(y) * width + x];
            raw.insert(raw.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p), uint8_t(p >> 24)});
        }
    }
    uLongf size = compressBound(uLong(raw.size()));
    std::vector<uint8_t> z(size);
    compress(z.data(), &size, raw.data(), uLong(raw.size()));
    z.resize(size);
    Chunk(out, "IDAT", z);
    Chunk(out, "IEND", {});
    return out;
}

}  // namespace testpng
