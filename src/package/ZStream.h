// The zlib readers. TCustomZStream holds the source stream, where this stream left the source, a
// 64 KiB input buffer and the zlib state. TZDecompressionStream reads zlib-format data (RFC 1950),
// TInflateStream raw DEFLATE (RFC 1951) with a declared size. Both are forward decoders: seeking
// forward decodes and discards, seeking backwards starts again from the beginning.
#pragma once

#include "package/Stream.h"

#include <vector>
#include <zlib.h>

namespace kiv {

class TCustomZStream : public TStream {
public:
    static constexpr std::int32_t kInputBufferSize = 65536;

    TCustomZStream(const TCustomZStream&) = delete;
    TCustomZStream& operator=(const TCustomZStream&) = delete;

protected:
    // With `ownsSource` the stream takes over the caller's reference to `source`.
    TCustomZStream(TStream* source, bool ownsSource);
    ~TCustomZStream() override;

    TStream* source_;
    bool ownsSource_;
    std::int64_t sourcePosition_;
    std::vector<std::uint8_t> input_;
    z_stream zstream_{};
};

class TZDecompressionStream : public TCustomZStream {
public:
    // Decodes zlib-format data starting at the source's current position.
    explicit TZDecompressionStream(TStream* source, bool ownsSource = false);

    // Bytes produced so far.
    std::int64_t GetPosition() override;
    // 0 starts again from the beginning; forward positions decode and discard (a stream that ends
    // first raises EStreamReadError); a backward position starts again and decodes up to it;
    // a negative one raises EZDecompressionError "Invalid ZStream operation!".
    void SetPosition(std::int64_t position) override;
    // Unknown: -1.
    std::int64_t GetSize() override { return -1; }
    // Raises EZDecompressionError "Invalid ZStream operation!".
    void SetSize(std::int64_t size) override;
    // Short at the end of the data or of the source; corrupt data raises EZDecompressionError
    // with zlib's message.
    std::int32_t Read(void* buffer, std::int32_t count) override;
    // Raises EZDecompressionError "Invalid ZStream operation!".
    std::int32_t Write(const void* buffer, std::int32_t count) override;

protected:
    TZDecompressionStream(TStream* source, bool ownsSource, int windowBits);
    ~TZDecompressionStream() override;
    void Restart();
    void Skip(std::int64_t count);

private:
    std::int64_t start_;
    bool ended_ = false;
};

class TInflateStream : public TZDecompressionStream {
public:
    // Raw DEFLATE from the source's current position; `declaredSize` is the decoded size when
    // known, else -1.
    TInflateStream(TStream* source, std::int64_t declaredSize, bool ownsSource = false);

    std::int64_t GetSize() override { return declaredSize_; }
    // The current position does nothing; otherwise as for the zlib-format reader.
    void SetPosition(std::int64_t position) override;

protected:
    ~TInflateStream() override = default;

private:
    std::int64_t declaredSize_;
};

} // namespace kiv
