// TPartialStream: a window [offset, offset + length) onto another stream. Its position is the
// source's position minus the offset; its size is the fixed length. Reads and writes are cut into
// chunks (32 768 bytes, or at most 256 bytes when a chunk callback is set) and the callback runs
// after every chunk, so that long reads can yield the processor.
#pragma once

#include "package/LoadCallback.h"
#include "package/Stream.h"

namespace kiv {

class TPartialStream : public TStream {
public:
    static constexpr std::int32_t kDefaultChunk = 32768;
    static constexpr std::int32_t kCallbackChunkLimit = 256;

    // Moves the source to `offset`. Raises EStreamError "Insufficient Source Size" when the
    // window does not lie inside the source (negative values and overflowing extents included).
    // With `ownsSource` the window takes over the caller's reference to `source` and releases it
    // when destroyed, or at once when the construction fails.
    TPartialStream(TStream* source, bool ownsSource, std::int64_t offset, std::int64_t length);
    TPartialStream(const TPartialStream&) = delete;
    TPartialStream& operator=(const TPartialStream&) = delete;

    // Sets the callback that runs after every chunk; the chunk size becomes `chunkSize` capped at
    // 256 bytes (at least 1). An empty callback restores 32 768-byte chunks and no callback.
    void SetCallback(TLoadCallback callback, std::int32_t chunkSize);
    std::int32_t ChunkSize() const { return chunk_; }

    std::int64_t GetPosition() override;
    // A negative position raises EStreamError "Incorrect Position"; a position past the length is
    // allowed and reads there give 0 bytes.
    void SetPosition(std::int64_t position) override;
    std::int64_t GetSize() override { return length_; }
    // Raises EStreamError "Stream Cannot be resized".
    void SetSize(std::int64_t size) override;
    // Reads from `source` into the window in chunks; a short write raises EStreamWriteError.
    std::int64_t CopyFrom(TStream& source, std::int64_t count) override;
    std::int32_t Read(void* buffer, std::int32_t count) override;
    std::int32_t Write(const void* buffer, std::int32_t count) override;

    TStream& Source() { return *source_; }
    std::int64_t Offset() const { return offset_; }

protected:
    ~TPartialStream() override;

private:
    std::int64_t WindowLeft();

    TStream* source_;
    bool ownsSource_;
    std::int64_t offset_;
    std::int64_t length_;
    std::int32_t chunk_ = kDefaultChunk;
    TLoadCallback callback_;
};

} // namespace kiv
