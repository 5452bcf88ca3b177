#pragma once
// The system's 8-bit code page (Windows-1252) against UTF-8, for showing
// stored bytes on screen and storing typed text. Every byte value has a code
// point (the five bytes Windows-1252 leaves undefined map to U+0081, U+008D,
// U+008F, U+0090, U+009D), so bytes -> UTF-8 -> bytes gives the bytes back.

#include <string>

namespace platform {

std::string ansiToUtf8(const std::string& bytes);
// Characters the code page cannot hold become '?'; malformed UTF-8 bytes too.
std::string utf8ToAnsi(const std::string& utf8);

}  // namespace platform
