// libFuzzer entry: any byte string through PngStreamToBitmap32. Errors raised
// by the reader are the expected outcome for most inputs; crashes, sanitizer
// reports and leaks are what the run is looking for.

#include <cstddef>
#include <cstdint>

#include "graphics/png_graphic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    graphics::TBitmap bitmap;
    try {
        graphics::PngStreamToBitmap32(bitmap, data, size);
    } catch (const graphics::Exception&) {
    }
    return 0;
}
