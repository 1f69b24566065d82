#include "package/Inflator.h"

#include <algorithm>
#include <zlib.h>

namespace kiv {

namespace {

constexpr const char* kTooLarge = "Decompressed data too large";

// Ends the inflater however the decoding ends.
struct TInflateGuard {
    z_stream& stream;
    ~TInflateGuard() { inflateEnd(&stream); }
};

[[noreturn]] void RaiseZlib(const z_stream& stream, int result) {
    throw EZDecompressionError(stream.msg ? stream.msg : zError(result));
}

} // namespace

TInflator::TInflator() : input_(kBufferSize) {}

std::int64_t TInflator::Inflate(TStream& source, TMemoryStream& target, std::int64_t limit, TLoadCallback callback) {
    z_stream stream{};
    const int init = inflateInit2(&stream, -MAX_WBITS);
    if (init != Z_OK) RaiseZlib(stream, init);
    TInflateGuard guard{stream};
    std::int64_t produced = 0;
    for (;;) {
        if (stream.avail_in == 0) {
            const std::int32_t got = source.Read(input_.data(), kBufferSize);
            callback();
            // The data ended before the DEFLATE stream did.
            if (got <= 0) throw EZDecompressionError(zError(Z_BUF_ERROR));
            stream.next_in = input_.data();
            stream.avail_in = static_cast<uInt>(got);
        }
        // Decode straight into the target's buffer, at most one byte past the limit so that a
        // stream that exceeds it is seen without producing more.
        const std::int64_t position = target.position_;
        if (target.capacity_ - position < kBufferSize && !target.Reserve(position + kBufferSize) &&
            target.capacity_ == position)
            throw EZDecompressionError(kTooLarge);
        const std::int64_t room = std::min(target.capacity_ - position, limit - produced + 1);
        stream.next_out = target.data_ + position;
        stream.avail_out = static_cast<uInt>(room);
        const int result = inflate(&stream, Z_NO_FLUSH);
        const std::int64_t written = room - static_cast<std::int64_t>(stream.avail_out);
        target.position_ += written;
        target.size_ = std::max(target.size_, target.position_);
        produced += written;
        if (produced > limit) {
            // Keep no more than the limit of what was decoded.
            target.size_ -= produced - limit;
            target.position_ = std::min(target.position_, target.size_);
            throw EZDecompressionError(kTooLarge);
        }
        if (result == Z_STREAM_END) return produced;
        if (result != Z_OK) RaiseZlib(stream, result);
    }
}

} // namespace kiv
