#include "package/ZStream.h"

#include <algorithm>

namespace kiv {

namespace {

constexpr const char* kInvalidOperation = "Invalid ZStream operation!";
constexpr std::int64_t kSkipBlock = 8192;

[[noreturn]] void RaiseZlib(const z_stream& stream, int result) {
    throw EZDecompressionError(stream.msg ? stream.msg : zError(result));
}

} // namespace

TCustomZStream::TCustomZStream(TStream* source, bool ownsSource)
    : source_(source), ownsSource_(ownsSource), sourcePosition_(0) {
    try {
        sourcePosition_ = source_->GetPosition();
        input_.resize(kInputBufferSize);
    } catch (...) {
        if (ownsSource_) source_->Release();
        throw;
    }
}

TCustomZStream::~TCustomZStream() {
    if (ownsSource_) source_->Release();
}

TZDecompressionStream::TZDecompressionStream(TStream* source, bool ownsSource)
    : TZDecompressionStream(source, ownsSource, MAX_WBITS) {}

TZDecompressionStream::TZDecompressionStream(TStream* source, bool ownsSource, int windowBits)
    : TCustomZStream(source, ownsSource), start_(sourcePosition_) {
    const int result = inflateInit2(&zstream_, windowBits);
    if (result != Z_OK) {
        // The base destructor still runs and releases an owned source.
        RaiseZlib(zstream_, result);
    }
}

TZDecompressionStream::~TZDecompressionStream() { inflateEnd(&zstream_); }

std::int64_t TZDecompressionStream::GetPosition() { return static_cast<std::int64_t>(zstream_.total_out); }

void TZDecompressionStream::Restart() {
    inflateReset(&zstream_);
    zstream_.avail_in = 0;
    zstream_.next_in = nullptr;
    source_->SetPosition(start_);
    sourcePosition_ = start_;
    ended_ = false;
}

void TZDecompressionStream::Skip(std::int64_t count) {
    std::uint8_t block[kSkipBlock];
    while (count > 0) {
        const auto n = static_cast<std::int32_t>(std::min(count, kSkipBlock));
        if (Read(block, n) != n) throw EStreamReadError("Stream read error");
        count -= n;
    }
}

void TZDecompressionStream::SetPosition(std::int64_t position) {
    if (position < 0) throw EZDecompressionError(kInvalidOperation);
    const std::int64_t current = GetPosition();
    if (position == 0 || position < current) {
        Restart();
        Skip(position);
    } else {
        Skip(position - current);
    }
}

void TZDecompressionStream::SetSize(std::int64_t) { throw EZDecompressionError(kInvalidOperation); }

std::int32_t TZDecompressionStream::Write(const void*, std::int32_t) { throw EZDecompressionError(kInvalidOperation); }

std::int32_t TZDecompressionStream::Read(void* buffer, std::int32_t count) {
    if (count <= 0 || ended_) return 0;
    zstream_.next_out = static_cast<Bytef*>(buffer);
    zstream_.avail_out = static_cast<uInt>(count);
    if (source_->GetPosition() != sourcePosition_) source_->SetPosition(sourcePosition_);
    while (zstream_.avail_out > 0) {
        if (zstream_.avail_in == 0) {
            const std::int32_t got = source_->Read(input_.data(), kInputBufferSize);
            if (got <= 0) break;
            sourcePosition_ = source_->GetPosition();
            zstream_.next_in = input_.data();
            zstream_.avail_in = static_cast<uInt>(got);
        }
        const int result = inflate(&zstream_, Z_NO_FLUSH);
        if (result == Z_STREAM_END) {
            ended_ = true;
            if (zstream_.avail_in > 0) {
                // Leave the source just after the compressed data.
                sourcePosition_ -= zstream_.avail_in;
                source_->SetPosition(sourcePosition_);
                zstream_.avail_in = 0;
            }
            break;
        }
        // Anything but progress (a preset dictionary included) is an error: looping on it would
        // never end.
        if (result != Z_OK) RaiseZlib(zstream_, result);
    }
    return count - static_cast<std::int32_t>(zstream_.avail_out);
}

TInflateStream::TInflateStream(TStream* source, std::int64_t declaredSize, bool ownsSource)
    : TZDecompressionStream(source, ownsSource, -MAX_WBITS), declaredSize_(declaredSize) {}

void TInflateStream::SetPosition(std::int64_t position) {
    if (position == GetPosition()) return;
    TZDecompressionStream::SetPosition(position);
}

} // namespace kiv
