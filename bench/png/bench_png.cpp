// Decodes large PNG images with the library's reader and with libpng (both to
// a 32-bit B, G, R, A result) and prints the times and their ratio.
// Usage: bench_png [size] [repetitions]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <png.h>

#include "graphics/png_graphic.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Image {
    std::string name;
    std::vector<uint8_t> file;
};

void WriteToVector(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

// Photograph-like content: smooth gradients, a few shapes and mild noise.
std::vector<uint8_t> Pixels(int size, int channels, uint32_t seed) {
    std::vector<uint8_t> px(std::size_t(size) * size * channels);
    std::mt19937 rng(seed);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            uint8_t* p = &px[(std::size_t(y) * size + x) * channels];
            const int noise = int(rng() % 7) - 3;
            const int cx = x - size / 2, cy = y - size / 3;
            const bool disc = cx * cx + cy * cy < (size / 4) * (size / 4);
            p[0] = uint8_t(std::clamp((x * 255) / size + noise + (disc ? 60 : 0), 0, 255));
            if (channels > 1) {
                p[1] = uint8_t(std::clamp((y * 255) / size + noise, 0, 255));
                p[2] = uint8_t(std::clamp(((x + y) * 127) / size - noise, 0, 255));
            }
            if (channels > 3) p[3] = uint8_t(disc ? 255 : std::clamp(128 + (x % 256) / 2 + noise, 0, 255));
        }
    return px;
}

std::vector<uint8_t> Encode(int size, int colorType, int interlace) {
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        std::fprintf(stderr, "encoding failed\n");
        std::exit(1);
    }
    png_set_write_fn(png, &out, WriteToVector, nullptr);
    png_set_IHDR(png, info, size, size, 8, colorType, interlace, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<uint8_t> px;
    int channels = 4;
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        channels = 1;
        std::vector<png_color> palette(256);
        for (int i = 0; i < 256; ++i) palette[i] = {uint8_t(i), uint8_t(255 - i), uint8_t((i * 7) & 255)};
        png_set_PLTE(png, info, palette.data(), 256);
    }
    px = Pixels(size, channels, 1);
    std::vector<png_bytep> rows(size);
    for (int y = 0; y < size; ++y) rows[y] = &px[std::size_t(y) * size * channels];
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

double LibpngDecode(const std::vector<uint8_t>& file, std::vector<uint8_t>& buffer) {
    const auto start = Clock::now();
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) std::exit(1);
    image.format = PNG_FORMAT_BGRA;
    buffer.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, buffer.data(), 0, nullptr)) std::exit(1);
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double OwnDecode(const std::vector<uint8_t>& file, graphics::TBitmap& bitmap) {
    const auto start = Clock::now();
    graphics::PngStreamToBitmap32(bitmap, file.data(), file.size());
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int size = argc > 1 ? std::atoi(argv[1]) : 4096;
    const int reps = argc > 2 ? std::atoi(argv[2]) : 5;
    const Image images[] = {
        {"RGBA 8-bit", Encode(size, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE)},
        {"RGBA 8-bit Adam7", Encode(size, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_ADAM7)},
        {"palette 8-bit", Encode(size, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE)},
    };
    std::printf("%d x %d, best of %d runs\n", size, size, reps);
    std::printf("%-18s %10s %12s %12s %8s\n", "image", "file KiB", "libpng ms", "reader ms", "ratio");
    for (const Image& img : images) {
        std::vector<uint8_t> buffer;
        graphics::TBitmap bitmap;
        double best[2] = {1e30, 1e30};
        for (int r = 0; r < reps; ++r) {
            best[0] = std::min(best[0], LibpngDecode(img.file, buffer));
            best[1] = std::min(best[1], OwnDecode(img.file, bitmap));
        }
        // Both results must agree before the times mean anything.
        bool same = bitmap.Width() == size && bitmap.Height() == size;
        for (int y = 0; same && y < size; ++y)
            same = std::memcmp(bitmap.ScanLine(y), &buffer[std::size_t(y) * size * 4], std::size_t(size) * 4) == 0;
        std::printf("%-18s %10zu %12.1f %12.1f %8.2f%s\n", img.name.c_str(), img.file.size() / 1024, best[0], best[1],
                    best[1] / best[0], same ? "" : "  (results differ!)");
    }
    return 0;
}
