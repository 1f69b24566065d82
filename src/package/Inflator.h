// TInflator: decodes one raw DEFLATE stream from a source stream into a memory stream at once,
// through zlib's call-back interface (32 KiB window, 32 KiB input buffer). The package reader
// inflates its directory and its compressed entries with it.
#pragma once

#include "base/RefObject.h"
#include "package/MemoryStream.h"

#include <vector>

namespace kiv {

class TInflator : public TRefObject {
public:
    static constexpr std::int32_t kBufferSize = 32768;

    TInflator();
    TInflator(const TInflator&) = delete;
    TInflator& operator=(const TInflator&) = delete;

    // Decodes from the source's position until the DEFLATE stream ends, writing at the target's
    // position. Raises EZDecompressionError with zlib's text for corrupt or truncated data, and
    // "Decompressed data too large" once the output would pass `limit` bytes (a DEFLATE bomb
    // stops there). Errors of the streams themselves propagate. Returns the bytes produced.
    std::int64_t Inflate(TStream& source, TMemoryStream& target, std::int64_t limit = TMemoryStream::kMaxSize);

protected:
    ~TInflator() override = default;

private:
    std::vector<unsigned char> input_;
    std::vector<unsigned char> window_;
};

} // namespace kiv
