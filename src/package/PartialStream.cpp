#include "package/PartialStream.h"

#include <algorithm>
#include <vector>

namespace kiv {

TPartialStream::TPartialStream(TStream* source, bool ownsSource, std::int64_t offset, std::int64_t length)
    : source_(source), ownsSource_(ownsSource), offset_(offset), length_(length) {
    try {
        const std::int64_t size = source_->GetSize();
        if (offset < 0 || length < 0 || offset > size || length > size - offset)
            throw EStreamError("Insufficient Source Size");
        source_->SetPosition(offset);
    } catch (...) {
        if (ownsSource_) source_->Release();
        throw;
    }
}

TPartialStream::~TPartialStream() {
    if (ownsSource_) source_->Release();
}

void TPartialStream::SetCallback(TLoadCallback callback, std::int32_t chunkSize) {
    callback_ = callback;
    chunk_ = callback ? std::clamp(chunkSize, 1, kCallbackChunkLimit) : kDefaultChunk;
}

std::int64_t TPartialStream::GetPosition() { return source_->GetPosition() - offset_; }

void TPartialStream::SetPosition(std::int64_t position) {
    if (position < 0 || position > INT64_MAX - offset_) throw EStreamError("Incorrect Position");
    source_->SetPosition(offset_ + position);
}

void TPartialStream::SetSize(std::int64_t) { throw EStreamError("Stream Cannot be resized"); }

std::int64_t TPartialStream::WindowLeft() { return std::max<std::int64_t>(0, length_ - GetPosition()); }

std::int32_t TPartialStream::Read(void* buffer, std::int32_t count) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::int32_t done = 0;
    std::int64_t left = std::min<std::int64_t>(std::max(count, 0), WindowLeft());
    while (left > 0) {
        const auto piece = static_cast<std::int32_t>(std::min<std::int64_t>(left, chunk_));
        const std::int32_t got = source_->Read(out + done, piece);
        if (got > 0) {
            done += got;
            left -= got;
        }
        callback_();
        if (got <= 0) break;
    }
    return done;
}

std::int32_t TPartialStream::Write(const void* buffer, std::int32_t count) {
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    std::int32_t done = 0;
    std::int64_t left = std::min<std::int64_t>(std::max(count, 0), WindowLeft());
    while (left > 0) {
        const auto piece = static_cast<std::int32_t>(std::min<std::int64_t>(left, chunk_));
        const std::int32_t put = source_->Write(in + done, piece);
        if (put > 0) {
            done += put;
            left -= put;
        }
        callback_();
        if (put <= 0) break;
    }
    return done;
}

std::int64_t TPartialStream::CopyFrom(TStream& source, std::int64_t count) {
    std::vector<std::uint8_t> chunk(static_cast<std::size_t>(chunk_));
    std::int64_t copied = 0;
    std::int64_t left = std::min(count, WindowLeft());
    while (left > 0) {
        const auto piece = static_cast<std::int32_t>(std::min<std::int64_t>(left, chunk_));
        const std::int32_t got = source.Read(chunk.data(), piece);
        callback_();
        if (got <= 0) break;
        const std::int32_t put = source_->Write(chunk.data(), got);
        callback_();
        if (put != got) throw EStreamWriteError("Stream write error");
        copied += got;
        left -= got;
    }
    return copied;
}

} // namespace kiv
