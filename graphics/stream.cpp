#include "graphics/stream.h"

#include <algorithm>
#include <cstring>

namespace graphics {

void TStream::ReadBuffer(void* buffer, std::size_t count) {
    if (count != 0 && Read(buffer, count) != count) throw EReadError(SReadError);
}

int64_t TStream::Remaining() const {
    const int64_t left = Size() - Position();
    return left > 0 ? left : 0;
}

std::size_t TBytesStream::Read(void* buffer, std::size_t count) {
    if (pos_ >= static_cast<int64_t>(size_)) return 0;
    const std::size_t n = std::min<std::size_t>(count, size_ - static_cast<std::size_t>(pos_));
    if (n) std::memcpy(buffer, data_ + pos_, n);
    pos_ += static_cast<int64_t>(n);
    return n;
}

std::size_t TMemoryStream::Read(void* buffer, std::size_t count) {
    if (pos_ >= static_cast<int64_t>(bytes_.size())) return 0;
    const std::size_t n = std::min<std::size_t>(count, bytes_.size() - static_cast<std::size_t>(pos_));
    if (n) std::memcpy(buffer, bytes_.data() + pos_, n);
    pos_ += static_cast<int64_t>(n);
    return n;
}

TFileStream::TFileStream(const std::string& fileName) {
    file_ = std::fopen(fileName.c_str(), "rb");
    if (!file_) throw EFOpenError("Cannot open file \"" + fileName + "\".");
    if (std::fseek(file_, 0, SEEK_END) == 0) {
        const long end = std::ftell(file_);
        size_ = end > 0 ? end : 0;
    }
    std::fseek(file_, 0, SEEK_SET);
}

TFileStream::~TFileStream() {
    if (file_) std::fclose(file_);
}

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
    if (pos_ >= size_) return 0;
    if (std::fseek(file_, static_cast<long>(pos_), SEEK_SET) != 0) return 0;
    const std::size_t n = std::fread(buffer, 1, count, file_);
    pos_ += static_cast<int64_t>(n);
    return n;
}

void TFileStream::SetPosition(int64_t pos) { pos_ = pos < 0 ? 0 : pos; }

}  // namespace graphics
