// TInflator: decodes one raw DEFLATE stream (32 KiB window) from a source stream into a memory
// stream at once, reading the source in 256 KiB blocks and decoding straight into the memory
// stream's buffer. The package reader inflates its directory and its compressed entries with it.
#pragma once

#include "base/RefObject.h"
#include "package/LoadCallback.h"
#include "package/MemoryStream.h"

#include <vector>

namespace kiv {

class TInflator : public TRefObject {
public:
    static constexpr std::int32_t kBufferSize = 262144;

    TInflator();
    TInflator(const TInflator&) = delete;
    TInflator& operator=(const TInflator&) = delete;

    // Decodes from the source's position until the DEFLATE stream ends, writing at the target's
    // position. Raises EZDecompressionError with zlib's text for corrupt or truncated data, and
    // "Decompressed data too large" once the output would pass `limit` bytes (a DEFLATE bomb
    // stops there). Errors of the streams themselves propagate. `callback` runs after every
    // block read from the source. Returns the bytes produced.
    std::int64_t Inflate(TStream& source, TMemoryStream& target, std::int64_t limit = TMemoryStream::kMaxSize,
                         TLoadCallback callback = {});

protected:
    ~TInflator() override = default;

private:
    std::vector<unsigned char> input_;
};

} // namespace kiv
