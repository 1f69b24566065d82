#include "package/MemoryStream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace kiv {

TMemoryStream::~TMemoryStream() { std::free(data_); }

void TMemoryStream::SetPosition(std::int64_t position) { position_ = std::clamp<std::int64_t>(position, 0, size_); }

bool TMemoryStream::Reserve(std::int64_t wanted) {
    if (wanted > kMaxSize) return false;
    std::int64_t capacity = capacity_;
    while (capacity < wanted) {
        if (capacity < 33)
            capacity += 16;
        else if (capacity < 257)
            capacity += 64;
        else
            capacity = std::min(capacity * 2, kMaxSize);
    }
    if (capacity != capacity_) {
        void* grown = std::realloc(data_, static_cast<std::size_t>(capacity));
        if (!grown) return false;
        data_ = static_cast<std::uint8_t*>(grown);
        capacity_ = capacity;
    }
    return true;
}

void TMemoryStream::ShrinkToSize() {
    if (capacity_ <= size_) return;
    if (size_ == 0) {
        std::free(data_);
        data_ = nullptr;
        capacity_ = 0;
        return;
    }
    // A failed shrink keeps the larger block, which is still valid.
    if (void* shrunk = std::realloc(data_, static_cast<std::size_t>(size_))) {
        data_ = static_cast<std::uint8_t*>(shrunk);
        capacity_ = size_;
    }
}

bool TMemoryStream::Grow(std::int64_t size) {
    if (!Reserve(size)) return false;
    if (size > size_) size_ = size;
    return true;
}

void TMemoryStream::SetSize(std::int64_t size) {
    if (size < 0 || size > kMaxSize) throw EStreamError("Stream Cannot be resized");
    if (size == 0) {
        std::free(data_);
        data_ = nullptr;
        size_ = position_ = capacity_ = 0;
        return;
    }
    if (size > capacity_) {
        void* grown = std::realloc(data_, static_cast<std::size_t>(size));
        if (!grown) throw EStreamError("Stream Cannot be resized");
        data_ = static_cast<std::uint8_t*>(grown);
        capacity_ = size;
    }
    if (size > size_) std::memset(data_ + size_, 0, static_cast<std::size_t>(size - size_));
    size_ = size;
    position_ = std::min(position_, size_);
}

std::int64_t TMemoryStream::CopyFrom(TStream& source, std::int64_t count) {
    const std::int64_t sourceSize = source.GetSize();
    if (sourceSize < 0) return TStream::CopyFrom(source, count);
    const std::int64_t n = std::min(count, std::max<std::int64_t>(0, sourceSize - source.GetPosition()));
    if (n <= 0) return 0;
    if (n > kMaxSize - position_ || !Grow(position_ + n)) throw EStreamWriteError("Stream write error");
    if (source.Read(data_ + position_, static_cast<std::int32_t>(n)) != n) throw EStreamReadError("Stream read error");
    position_ += n;
    return n;
}

std::int32_t TMemoryStream::Read(void* buffer, std::int32_t count) {
    const auto n = static_cast<std::int32_t>(std::clamp<std::int64_t>(size_ - position_, 0, std::max(count, 0)));
    if (n == 0) return 0;
    std::memcpy(buffer, data_ + position_, static_cast<std::size_t>(n));
    position_ += n;
    return n;
}

std::int32_t TMemoryStream::Write(const void* buffer, std::int32_t count) {
    if (count <= 0) return 0;
    if (!Grow(position_ + count)) return 0;
    std::memcpy(data_ + position_, buffer, static_cast<std::size_t>(count));
    position_ += count;
    return count;
}

} // namespace kiv
