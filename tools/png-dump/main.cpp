// png-dump IN.png OUT.pam: decodes a PNG with the library's reader and writes
// the 32-bit result as a PAM file (RGB_ALPHA, straight alpha, rows top to
// bottom), so the reader can be compared with other decoders.

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "graphics/png_graphic.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: png-dump IN.png OUT.pam\n");
        return 2;
    }
    graphics::TBitmap bitmap;
    try {
        graphics::PngFileToBitmap32(bitmap, argv[1]);
    } catch (const graphics::Exception& e) {
        std::fprintf(stderr, "%s: %s\n", e.ClassName(), e.what());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Exception: %s\n", e.what());
        return 1;
    }

    std::FILE* out = std::fopen(argv[2], "wb");
    if (!out) {
        std::perror(argv[2]);
        return 2;
    }
    std::fprintf(out, "P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n", bitmap.Width(),
                 bitmap.Height());
    std::vector<unsigned char> row(std::size_t(bitmap.Width()) * 4);
    bool ok = true;
    for (int y = 0; y < bitmap.Height() && ok; ++y) {
        const unsigned char* p = bitmap.ScanLine(y);
        for (int x = 0; x < bitmap.Width(); ++x) {
            row[4 * x] = p[4 * x + 2];
            row[4 * x + 1] = p[4 * x + 1];
            row[4 * x + 2] = p[4 * x];
            row[4 * x + 3] = p[4 * x + 3];
        }
        ok = std::fwrite(row.data(), 1, row.size(), out) == row.size();
    }
    if (std::fclose(out) != 0) ok = false;
    if (!ok) {
        std::fprintf(stderr, "png-dump: cannot write %s\n", argv[2]);
        return 2;
    }
    return 0;
}
