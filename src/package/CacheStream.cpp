#include "package/CacheStream.h"

#include <algorithm>
#include <cstring>

namespace kiv {

TCacheStream::TCacheStream(TStream* window) : window_(window), size_(std::max<std::int64_t>(0, window->GetSize())) {
    window_->AddRef();
}

TCacheStream::~TCacheStream() { window_->Release(); }

void TCacheStream::SetPosition(std::int64_t position) { position_ = std::clamp<std::int64_t>(position, 0, size_); }

void TCacheStream::SetSize(std::int64_t) { throw EStreamError("Stream Cannot be resized"); }

std::int32_t TCacheStream::Read(void* buffer, std::int32_t count) {
    if (count <= 0) return 0;
    const std::int64_t end = std::min(size_, position_ + count);
    std::uint8_t block[kBlockSize];
    while (Cached() < end) {
        const std::int64_t filled = Cached();
        window_->SetPosition(filled);
        const auto want = static_cast<std::int32_t>(std::min<std::int64_t>(kBlockSize, size_ - filled));
        const std::int32_t got = window_->Read(block, want);
        if (got <= 0) break;
        TMemoryStream::SetPosition(filled);
        if (TMemoryStream::Write(block, got) != got) break;
        if (got < want) break;
    }
    const auto n = static_cast<std::int32_t>(std::clamp<std::int64_t>(Cached() - position_, 0, count));
    if (n > 0) std::memcpy(buffer, Memory() + position_, static_cast<std::size_t>(n));
    position_ += n;
    return n;
}

} // namespace kiv
