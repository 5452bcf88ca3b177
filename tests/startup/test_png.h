#pragma once
// Builds small RGBA PNG files for fixtures.

#include <cstdint>
#include <vector>

namespace testpng {

// pixels: width * height values 0xAARRGGBB, row by row.
std::vector<uint8_t> Encode(int width, int height, const std::vector<uint32_t>& pixels);

}  // namespace testpng
