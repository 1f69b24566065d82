#include "package/StringStream.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace kiv {

namespace {
constexpr std::int64_t kMaxTextSize = INT32_MAX;
}

void TStringStream::SetPosition(std::int64_t position) { position_ = std::clamp<std::int64_t>(position, 0, GetSize()); }

void TStringStream::SetSize(std::int64_t size) {
    if (size < 0 || size > kMaxTextSize) throw EStreamError("Stream Cannot be resized");
    text_.resize(static_cast<std::size_t>(size));
    position_ = std::min(position_, size);
}

std::int32_t TStringStream::Read(void* buffer, std::int32_t count) {
    const auto n = static_cast<std::int32_t>(std::clamp<std::int64_t>(GetSize() - position_, 0, std::max(count, 0)));
    if (n == 0) return 0;
    std::memcpy(buffer, text_.data() + position_, static_cast<std::size_t>(n));
    position_ += n;
    return n;
}

std::int32_t TStringStream::Write(const void* buffer, std::int32_t count) {
    if (count <= 0 || position_ + count > kMaxTextSize) return 0;
    const auto end = static_cast<std::size_t>(position_ + count);
    if (end > text_.size()) text_.resize(end);
    std::memcpy(text_.data() + position_, buffer, static_cast<std::size_t>(count));
    position_ += count;
    return count;
}

} // namespace kiv
