#include "package/CryptStream.h"

#include "base/Assert.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace kiv {

TCryptStream::TCryptStream(TStream* source, std::string key, bool ownsSource)
    : source_(source), key_(std::move(key)), ownsSource_(ownsSource) {
    if (key_.empty()) {
        if (ownsSource_) source_->Release();
        KIV_FAIL("TCryptStream: empty key");
    }
}

TCryptStream::~TCryptStream() {
    if (ownsSource_) source_->Release();
}

void TCryptStream::Apply(std::uint8_t* bytes, std::int32_t count, std::int64_t position) const {
    const auto keyLength = static_cast<std::int64_t>(key_.size());
    std::size_t k = static_cast<std::size_t>(((position % keyLength) + keyLength) % keyLength);
    for (std::int32_t i = 0; i < count; ++i) {
        bytes[i] ^= static_cast<std::uint8_t>(key_[k]);
        if (++k == key_.size()) k = 0;
    }
}

std::int32_t TCryptStream::Read(void* buffer, std::int32_t count) {
    const std::int64_t position = source_->GetPosition();
    const std::int32_t got = source_->Read(buffer, count);
    if (got > 0) Apply(static_cast<std::uint8_t*>(buffer), got, position);
    return got;
}

std::int32_t TCryptStream::Write(const void* buffer, std::int32_t count) {
    if (count <= 0) return 0;
    std::vector<std::uint8_t> copy(static_cast<const std::uint8_t*>(buffer),
                                   static_cast<const std::uint8_t*>(buffer) + count);
    Apply(copy.data(), count, source_->GetPosition());
    return source_->Write(copy.data(), count);
}

} // namespace kiv
