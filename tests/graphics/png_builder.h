#pragma once
// Builds small PNG files for tests, with zlib's own CRC and deflate so the
// fixtures do not depend on the code under test.

#include <cstdint>
#include <string>
#include <vector>

#include <zlib.h>

namespace pngtest {

using Bytes = std::vector<uint8_t>;

inline void Put32(Bytes& out, uint32_t v) {
    out.push_back(uint8_t(v >> 24));
    out.push_back(uint8_t(v >> 16));
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

inline Bytes Signature() { return {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A}; }

// One chunk; badCrc flips the stored CRC.
inline Bytes Chunk(const std::string& type, const Bytes& data, bool badCrc = false) {
    Bytes out;
    Put32(out, uint32_t(data.size()));
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), data.begin(), data.end());
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type.data()), 4);
    if (!data.empty()) crc = crc32(crc, data.data(), uInt(data.size()));  // a null buffer would reset it
    Put32(out, uint32_t(crc) ^ (badCrc ? 1u : 0u));
    return out;
}

inline Bytes IHDR(uint32_t w, uint32_t h, uint8_t depth, uint8_t colorType, uint8_t interlace = 0,
                  uint8_t compression = 0) {
    Bytes d;
    Put32(d, w);
    Put32(d, h);
    d.push_back(depth);
    d.push_back(colorType);
    d.push_back(compression);
    d.push_back(0);
    d.push_back(interlace);
    return Chunk("IHDR", d);
}

inline Bytes Deflate(const Bytes& raw) {
    uLongf size = compressBound(uLong(raw.size()));
    Bytes out(size);
    compress2(out.data(), &size, raw.data(), uLong(raw.size()), 9);
    out.resize(size);
    return out;
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Filtered rows (each starting with its filter byte) into a whole file.
inline Bytes SimplePng(uint32_t w, uint32_t h, uint8_t depth, uint8_t colorType, const Bytes& filteredRows,
                       const Bytes& beforeData = {}, const Bytes& afterData = {}) {
    return Concat({Signature(), IHDR(w, h, depth, colorType), beforeData, Chunk("IDAT", Deflate(filteredRows)),
                   afterData, Chunk("IEND", {})});
}

}  // namespace pngtest
