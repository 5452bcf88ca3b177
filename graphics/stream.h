#pragma once
// Minimal seekable byte streams: a view over caller memory, an owning memory
// stream and a read-only file stream. Reading past the end raises EReadError;
// seeking past the end is allowed (the next read then fails).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "graphics/errors.h"

namespace graphics {

class TStream {
public:
    virtual ~TStream() = default;
    // Reads up to count bytes, returns how many were read.
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    virtual int64_t Size() const = 0;
    virtual int64_t Position() const = 0;
    virtual void SetPosition(int64_t pos) = 0;

    // Reads exactly count bytes or raises EReadError.
    void ReadBuffer(void* buffer, std::size_t count);
    void Seek(int64_t offset) { SetPosition(Position() + offset); }
    int64_t Remaining() const;
};

// Non-owning view over a byte range.
class TBytesStream : public TStream {
public:
    TBytesStream(const void* data, std::size_t size) : data_(static_cast<const uint8_t*>(data)), size_(size) {}
    explicit TBytesStream(const std::vector<uint8_t>& bytes) : TBytesStream(bytes.data(), bytes.size()) {}
    std::size_t Read(void* buffer, std::size_t count) override;
    int64_t Size() const override { return static_cast<int64_t>(size_); }
    int64_t Position() const override { return pos_; }
    void SetPosition(int64_t pos) override { pos_ = pos < 0 ? 0 : pos; }

private:
    const uint8_t* data_;
    std::size_t size_;
    int64_t pos_ = 0;
};

// Owns its bytes.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    std::size_t Read(void* buffer, std::size_t count) override;
    int64_t Size() const override { return static_cast<int64_t>(bytes_.size()); }
    int64_t Position() const override { return pos_; }
    void SetPosition(int64_t pos) override { pos_ = pos < 0 ? 0 : pos; }
    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    std::vector<uint8_t>& Bytes() { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    int64_t pos_ = 0;
};

// Read-only file; raises EFOpenError when the file cannot be opened.
class TFileStream : public TStream {
public:
    explicit TFileStream(const std::string& fileName);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;
    std::size_t Read(void* buffer, std::size_t count) override;
    int64_t Size() const override { return size_; }
    int64_t Position() const override { return pos_; }
    void SetPosition(int64_t pos) override;

private:
    std::FILE* file_ = nullptr;
    int64_t size_ = 0;
    int64_t pos_ = 0;
};

}  // namespace graphics
